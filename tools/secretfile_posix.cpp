// A new secret file on a POSIX host (see secretfile.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/secretfile.h"

bool WriteNewSecretFile(const std::string& path, const void* bytes, size_t length) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  bool ok = fd >= 0 && fchmod(fd, 0600) == 0 && write(fd, bytes, length) == ssize_t(length) && fsync(fd) == 0;
  if (fd >= 0) ok = close(fd) == 0 && ok;
  return ok;
}

void KeepNewFilesPrivate() { umask(077); }
