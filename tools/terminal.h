// tools/terminal.h -- what the tools ask of the terminal they run in:
// terminal_posix.cpp, terminal_win32.cpp.
#pragma once
#include <string>

// Reads one line from the terminal without showing it; false when standard
// input is no terminal (a script must give the key as an option).
bool AskHidden(const std::string& question, std::string& answer);
