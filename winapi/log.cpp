// The machine's log (see log.h for what it writes and when).
#include "winapi/log.h"

#include <string>

#include "winapi/logout.h"
#include "winapi/presenter.h"

namespace {

// The whole state of the log.
struct LogState {
  bool open = false;
  WaLogStreams streams;
  std::function<void(const WaLogLine&)> catcher;
  bool statusWaits = false;  // a status text not yet written
  std::string status;
};

LogState logState;

bool Active() { return logState.open || logState.catcher; }

// UTF-8 without line breaks or other control characters.
std::string Printable(const char* cp1252) {
  std::string text = cp1252 ? cp1252 : "";
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return waToUtf8(text);
}

void Emit(int32_t level, const char* topic, const std::string& utf8) {
  if (logState.catcher) {
    logState.catcher(WaLogLine{level, topic, utf8});
    return;
  }
  std::string word = topic;
  if (word.size() < 6) word.resize(6, ' ');
  std::string line = word + " " + utf8 + "\n";
  if (logState.streams.journal)
    line = (level == WA_LOG_ERROR ? "<3>" : "<6>") + line;
  else
    line = waLogStamp() + " " + line;
  waLogWrite(false, line);
  if (level == WA_LOG_ERROR && logState.streams.errorsApart) waLogWrite(true, line);
}

}  // namespace

void waLogOpen(int32_t on) {
  waLogFlush();
  logState.open = on == 1;
  if (!logState.open) return;
  logState.streams = waLogStreams();
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
