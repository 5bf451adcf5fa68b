// The machine's log (see log.h for what it writes and when).
#include "winapi/log.h"

#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "winapi/presenter.h"

namespace {

// The whole state of the log.
struct LogState {
  bool open = false;
  bool journal = false;      // standard output is the journal
  bool errorsApart = false;  // standard error is another file than standard output
  std::function<void(const WaLogLine&)> catcher;
  bool statusWaits = false;  // a status text not yet written
  std::string status;
};

LogState logState;

bool Active() { return logState.open || logState.catcher; }

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

std::string Stamp() {
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char text[40];
  size_t n = strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  snprintf(text + n, sizeof text - n, ".%03ld", now.tv_nsec / 1000000L);
  return text;
}

// UTF-8 without line breaks or other control characters.
std::string Printable(const char* cp1252) {
  std::string text = cp1252 ? cp1252 : "";
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return waToUtf8(text);
}

void WriteAll(int fd, const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a reader that went away: the line is lost, the machine goes on
    done += size_t(n);
  }
}

void Emit(int32_t level, const char* topic, const std::string& utf8) {
  if (logState.catcher) {
    logState.catcher(WaLogLine{level, topic, utf8});
    return;
  }
  std::string word = topic;
  if (word.size() < 6) word.resize(6, ' ');
  std::string line = word + " " + utf8 + "\n";
  if (logState.journal)
    line = (level == WA_LOG_ERROR ? "<3>" : "<6>") + line;
  else
    line = Stamp() + " " + line;
  WriteAll(STDOUT_FILENO, line);
  if (level == WA_LOG_ERROR && logState.errorsApart) WriteAll(STDERR_FILENO, line);
}

}  // namespace

void waLogOpen(int32_t on) {
  waLogFlush();
  logState.open = on == 1;
  if (!logState.open) return;
  logState.journal = OutputIsJournal();
  logState.errorsApart = !SameFile(STDOUT_FILENO, STDERR_FILENO);
  // Lines go to pipes (a terminal's pager, the demo's prefixer); one that
  // closes must not end the machine.
  signal(SIGPIPE, SIG_IGN);
}

int32_t waLogIsOpen(void) { return Active() ? 1 : 0; }

void waLog(int32_t level, const char* topic, const char* text) {
  if (!Active()) return;
  waLogFlush();  // what the status line said came first
  Emit(level, topic ? topic : "", Printable(text));
}

void waLogStatus(const char* text, int32_t newMessage) {
  if (!Active()) return;
  if (newMessage == 1) waLogFlush();
  logState.status = Printable(text);
  logState.statusWaits = !logState.status.empty();
}

void waLogFlush(void) {
  if (!logState.statusWaits) return;
  logState.statusWaits = false;
  Emit(WA_LOG_NOTE, "status", logState.status);
}

void waLogCatch(std::function<void(const WaLogLine&)> catcher) {
  logState.statusWaits = false;
  logState.catcher = std::move(catcher);
}
