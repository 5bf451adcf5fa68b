// The tools' terminal on a POSIX host (see terminal.h).
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "tools/terminal.h"

bool AskHidden(const std::string& question, std::string& answer) {
  if (!isatty(STDIN_FILENO)) return false;
  std::fprintf(stderr, "%s: ", question.c_str());
  std::fflush(stderr);
  termios shown{};
  const bool quiet = tcgetattr(STDIN_FILENO, &shown) == 0;
  if (quiet) {
    termios hidden = shown;
    hidden.c_lflag &= tcflag_t(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  const bool read = bool(std::getline(std::cin, answer));
  if (quiet) tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
  std::fprintf(stderr, "\n");
  return read;
}
