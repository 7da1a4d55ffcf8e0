// Small text operations on 8-bit texts, the same on every platform. None keeps
// state; all are safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The text without blanks at either end. Blanks are the white space that
// settings, headers and configuration lines carry around their words: space,
// tab, line feed, carriage return, vertical tab and form feed.
std::string TrimBlanks(const std::string& text);

// The text with A to Z turned into a to z; every other byte (also those of
// multi-byte characters) stays.
std::string AsciiLower(std::string text);

// True when a and b are equal once A to Z are folded to a to z.
bool EqualsIgnoringAsciiCase(const std::string& a, const std::string& b);

// The lines of a text: a line ends at "\n", and a "\r" just before that (or
// at the very end) belongs to the line end. Nothing follows the last line
// end, so "A\n" is one line and the empty text has none. Lines are not
// trimmed; empty lines between two line ends stay.
std::vector<std::string> SplitLines(const std::string& text);

// The leading decimal integer of text: blanks (as above), an optional sign, digits; what
// follows the digits is ignored, and no digits give 0. A value outside 32
// bits is held at the nearest limit (INT32_MIN or INT32_MAX), as the C
// library's conversion does.
int32_t ParseLeadingIntegerSaturating(const std::string& text);

// The leading decimal integer as the Windows profile functions read it: every
// byte up to the space (control bytes included) is skipped, then an optional
// sign and digits, computed in unsigned 32-bit arithmetic that wraps, so
// "4294967297" reads as 1 and "-1" as -1.
int32_t ParseLeadingIntegerWrapping(const std::string& text);

// text as one line for the console or the log: control bytes (a terminal
// would obey an escape sequence) become '?', and a text longer than most is
// cut there and ends in "...".
std::string ShownOnOneLine(const std::string& text, std::size_t most);
