// Console output of the agent: one stream to standard output.
//
// Every write goes out at once (never held in a buffer) so that an operator or
// a program reading a redirected stream sees each message as it is printed.
// Writes are serialised by one lock inside the platform layer, so a colour
// switch, its text and the switch back are never split by another thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Text attribute of the console's normal colours (bright white on bright blue).
constexpr uint16_t kNormalAttribute = 0x9F;

// Writes text to standard output unchanged.
void ConsoleWrite(const std::string& text);

// Writes text to standard error unchanged.
void ConsoleWriteError(const std::string& text);

// Writes text in the colours of a console text attribute (background in the
// high four bits, foreground in the low four) and restores the normal colours.
// On POSIX the colours are ANSI sequences, sent only to a terminal.
void ConsoleWriteColoured(uint16_t attribute, const std::string& text);

// Gives the whole console its normal colours ("color 9f" on Windows).
void ConsoleUseNormalColours();

// Sets the console (or terminal) title.
void ConsoleSetTitle(const std::string& title);

// From now on coloured writes go out as plain text and the title is left
// alone: for a service, whose output a supervisor keeps (a journal), where
// colour sequences would only be noise. Called before any other thread runs.
void ConsoleUsePlainText();

}  // namespace platform
