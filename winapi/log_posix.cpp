// Where the log goes on a POSIX host (see logout.h).
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "winapi/logout.h"
#include "winapi/loop.h"

namespace {

bool SameFile(int a, int b) {
  struct stat sa, sb;
  return fstat(a, &sa) == 0 && fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The journal says where it listens: JOURNAL_STREAM is "device:inode".
bool OutputIsJournal() {
  const char* stream = getenv("JOURNAL_STREAM");
  struct stat out;
  if (stream == nullptr || fstat(STDOUT_FILENO, &out) != 0) return false;
  unsigned long long device = 0, inode = 0;
  return sscanf(stream, "%llu:%llu", &device, &inode) == 2 && device == out.st_dev && inode == out.st_ino;
}

// The service stops the machine with SIGTERM: the signal only wakes the
// loop through a pipe, which writes the stop line between two of the
// program's steps and then lets the signal end the process as it always did.
struct StopState {
  volatile sig_atomic_t signals = 0;
  int pipe[2] = {-1, -1};
  void (*onStop)(const char* how) = nullptr;
};

StopState stopState;

void OnStopSignal(int number) {
  if (stopState.signals != 0) {
    signal(number, SIG_DFL);
    raise(number);
    return;
  }
  stopState.signals = 1;
  const unsigned char byte = static_cast<unsigned char>(number);
  const int saved = errno;
  (void)!write(stopState.pipe[1], &byte, 1);
  errno = saved;
}

void OnStopPipe(int fd, short, void*) {
  unsigned char number = 0;
  if (read(fd, &number, 1) != 1) return;
  stopState.onStop(number == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM");
  signal(number, SIG_DFL);
  raise(number);
}

}  // namespace

void waLogOnStop(void (*onStop)(const char* how)) {
  if (stopState.onStop || pipe2(stopState.pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  stopState.onStop = onStop;
  struct sigaction action{};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  waWatchFd(stopState.pipe[0], POLLIN, OnStopPipe, nullptr);
}

WaLogStreams waLogStreams() {
  // Lines go to pipes (a terminal's pager, the demo's prefixer); one that
  // closes must not end the machine.
  signal(SIGPIPE, SIG_IGN);
  WaLogStreams streams;
  streams.journal = OutputIsJournal();
  streams.errorsApart = !SameFile(STDOUT_FILENO, STDERR_FILENO);
  return streams;
}

std::string waLogStamp() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char text[40];
  size_t n = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  snprintf(text + n, sizeof text - n, ".%03ld", now.tv_nsec / 1000000L);
  return text;
}

void waLogWrite(bool toErrors, const std::string& line) {
  const int fd = toErrors ? STDERR_FILENO : STDOUT_FILENO;
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a reader that went away: the line is lost, the machine goes on
    done += size_t(n);
  }
}
