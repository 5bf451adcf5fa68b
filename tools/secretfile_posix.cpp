// A new secret file on a POSIX host (see secretfile.h).
#include <fcntl.h>
#include <termios.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/secretfile.h"

#include <iostream>

bool WriteNewSecretFile(const std::string& path, const void* bytes, size_t length) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && fchmod(fd, 0600) == 0 && write(fd, bytes, length) == ssize_t(length) && fsync(fd) == 0;
  if (fd >= 0) ok = close(fd) == 0 && ok;
  return ok;
}

void MakeNewFilesPrivate() { umask(077); }

bool InputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

bool ReadHiddenLine(std::string& line) {
  termios shown{};
  const bool quiet = tcgetattr(STDIN_FILENO, &shown) == 0;
  if (quiet) {
    termios hidden = shown;
    hidden.c_lflag &= tcflag_t(~ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
  }
  const bool read = bool(std::getline(std::cin, line));
  if (quiet) tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
  return read;
}
