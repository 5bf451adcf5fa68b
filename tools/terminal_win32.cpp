// The tools' terminal on Windows (see terminal.h): the console's echo is
// switched off while the key is typed.
#include <windows.h>

#include <cstdio>
#include <iostream>

#include "tools/terminal.h"

bool AskHidden(const std::string& question, std::string& answer) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD shown = 0;
  if (input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_CHAR || !GetConsoleMode(input, &shown))
    return false;
  std::fprintf(stderr, "%s: ", question.c_str());
  std::fflush(stderr);
  SetConsoleMode(input, shown & ~DWORD(ENABLE_ECHO_INPUT));
  const bool read = bool(std::getline(std::cin, answer));
  SetConsoleMode(input, shown);
  std::fprintf(stderr, "\n");
  return read;
}
