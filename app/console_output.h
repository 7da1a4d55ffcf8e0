// Coloured console lines. Callable from any thread.
#pragma once

#include <string>

// Prints text plainly in the normal colours.
void PrintText(const std::string& text);

// Prints text in the error colours: bright white on red when strong, bright
// red on blue otherwise; the normal colours follow.
void PrintErrorLine(const std::string& text, bool strong);

// Prints text in the success colours: bright white on green when strong,
// bright green on blue otherwise.
void PrintGoodLine(const std::string& text, bool strong);
