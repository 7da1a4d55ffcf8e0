// Message boxes.
//
// On Windows a real MessageBoxA without owner. On POSIX the text goes to
// standard error; a question (MB_YESNO) is asked on the terminal when standard
// input is one and is otherwise taken as No. Blocks the calling thread until
// answered; safe from any thread.
#pragma once

#include <string>

namespace platform {

constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbIconStop = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbSystemModal = 0x1000;

constexpr int kIdOk = 1;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// Shows text with caption and the MB_* style; returns the button chosen.
int ShowMessageBox(const std::string& text, const std::string& caption, unsigned style);

}  // namespace platform
