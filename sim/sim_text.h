// Small text helpers of the simulation engine's parsers. Pure functions; safe
// from any thread.
#pragma once

#include <string>

namespace sim {

// The text without leading and trailing blanks, tabs and line ends.
std::string Trim(const std::string& text);

// The text with ASCII capitals turned to small letters.
std::string Lower(std::string text);

// The whole text as a finite decimal number (blanks around it allowed); false
// when it is empty or anything else is left over.
bool ParseNumber(const std::string& text, double* value);

}  // namespace sim
