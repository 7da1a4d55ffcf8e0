// Coloured console lines, each through the process's log (common/log.h) when
// there is one. Callable from any thread.
//
// Each print goes to the console of an environment: the default one writes
// to standard output, a test hands in one that records. The forms without an
// environment use platform::Env::Default().
#pragma once

#include <string>

#include "platform/env.h"

// Prints text plainly in the normal colours.
void PrintText(platform::Env* env, const std::string& text);
void PrintText(const std::string& text);

// Prints text in the error colours: bright white on red when strong, bright
// red on blue otherwise; the normal colours follow.
void PrintErrorLine(platform::Env* env, const std::string& text, bool strong);
void PrintErrorLine(const std::string& text, bool strong);

// Prints text in the success colours: bright white on green when strong,
// bright green on blue otherwise.
void PrintGoodLine(platform::Env* env, const std::string& text, bool strong);
void PrintGoodLine(const std::string& text, bool strong);
