// The machine's log (see log.h for what it writes and when).
#include "winapi/log.h"

#include <stdlib.h>

#include <deque>
#include <string>

#include "winapi/logout.h"
#include "winapi/loop.h"
#include "winapi/presenter.h"

namespace {

// A count that goes on (the bytes of a transfer) is held this long after
// its last change before it is written, unless something else comes first.
constexpr uint32_t kHoldMs = 2000;
// A status written again within this time, with no other line between, is
// the machine idling through the same round: it is not written again.
constexpr uint32_t kRepeatMs = 3600u * 1000u;
constexpr size_t kRecentTexts = 16;

struct Written {
  std::string text;
  uint32_t at;
};

// The whole state of the log.
struct LogState {
  bool open = false;
  WaLogStreams streams;
  std::function<void(const WaLogLine&)> catcher;
  bool statusWaits = false;  // a status text not yet written
  std::string status;
  std::string statusStamp;      // when it was shown
  std::string held, heldStamp;  // a count that may still go on
  uint32_t holdDeadline = 0;
  std::deque<Written> recent;   // status texts written since the last other line
  bool stopHandled = false;     // stop requests come through the loop
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

void Emit(int32_t level, const char* topic, const std::string& utf8, const std::string& stamp) {
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
    line = stamp + " " + line;
  waLogWrite(false, line);
  if (level == WA_LOG_ERROR && logState.streams.errorsApart) waLogWrite(true, line);
}

// --- status texts: counts held, idle rounds not repeated -------------------

// The words before a text's first digit; empty when it has no digit. Two
// status texts with the same words before their numbers are one count going
// on ("Bytes Received - 4096", "... - 8192 (extended)").
std::string CountWords(const std::string& text) {
  const size_t digit = text.find_first_of("0123456789");
  return digit == std::string::npos ? std::string() : text.substr(0, digit);
}

bool WrittenLately(const std::string& text) {
  const uint32_t now = waNow();
  while (!logState.recent.empty() && now - logState.recent.front().at >= kRepeatMs) logState.recent.pop_front();
  for (const Written& w : logState.recent)
    if (w.text == text) return true;
  return false;
}

void WriteStatus(const std::string& text, const std::string& stamp) {
  if (WrittenLately(text)) return;
  if (logState.recent.size() >= kRecentTexts) logState.recent.pop_front();
  logState.recent.push_back(Written{text, waNow()});
  Emit(WA_LOG_NOTE, "status", text, stamp);
}

void WriteHeld() {
  waCancelDeadline(logState.holdDeadline);
  logState.holdDeadline = 0;
  if (logState.held.empty()) return;
  std::string text, stamp;
  text.swap(logState.held);
  stamp.swap(logState.heldStamp);
  WriteStatus(text, stamp);
}

void OnHoldOver(void*) {
  logState.holdDeadline = 0;
  WriteHeld();
}

// A count is held (a newer one of the same words replaces it); any other
// status text is written, after the count it ends.
void TakeStatus(const std::string& text, const std::string& stamp) {
  const std::string words = CountWords(text);
  if (!logState.held.empty() && words != CountWords(logState.held)) WriteHeld();
  if (words.empty()) {
    WriteStatus(text, stamp);
    return;
  }
  logState.held = text;
  logState.heldStamp = stamp;
  waCancelDeadline(logState.holdDeadline);
  logState.holdDeadline = waAddDeadline(kHoldMs, OnHoldOver, nullptr);
}

// Any other line: what the status line said came first. A line that names a
// mail belongs to the count going on and leaves it held. Every other line
// ends the round, so the same status texts are news again after it.
void BeforeOtherLine(const char* topic) {
  waLogFlush();
  if (std::string(topic) != "mail") WriteHeld();
  logState.recent.clear();
}

// --- start and stop -----------------------------------------------------------

void OnExit() {
  if (!logState.open) return;
  BeforeOtherLine("stop");
  Emit(WA_LOG_NOTE, "stop", "ended", waLogStamp());
}

// A stop request from outside (logout.h: SIGTERM, Ctrl+C ...), on its way
// through the loop: the stop line, between two of the program's steps.
void OnStopRequest(const char* how) {
  BeforeOtherLine("stop");
  Emit(WA_LOG_NOTE, "stop", how, waLogStamp());
}

void HandleStopRequests() {
  if (logState.stopHandled) return;
  logState.stopHandled = true;
  waLogOnStop(OnStopRequest);
  atexit(OnExit);
}

}  // namespace

void waLogOpen(int32_t on) {
  waLogFlush();
  WriteHeld();
  logState.open = on == 1;
  if (!logState.open) return;
  logState.streams = waLogStreams();
  HandleStopRequests();
}

int32_t waLogIsOpen(void) { return Active() ? 1 : 0; }

void waLog(int32_t level, const char* topic, const char* text) {
  if (!Active()) return;
  if (topic == nullptr) topic = "";
  BeforeOtherLine(topic);
  Emit(level, topic, Printable(text), waLogStamp());
}

void waLogStatus(const char* text, int32_t newMessage) {
  if (!Active()) return;
  if (newMessage == 1) waLogFlush();
  logState.status = Printable(text);
  logState.statusStamp = waLogStamp();
  logState.statusWaits = !logState.status.empty();
}

void waLogFlush(void) {
  if (!logState.statusWaits) return;
  logState.statusWaits = false;
  TakeStatus(logState.status, logState.statusStamp);
}

void waLogCatch(std::function<void(const WaLogLine&)> catcher) {
  waCancelDeadline(logState.holdDeadline);
  logState.holdDeadline = 0;
  logState.statusWaits = false;
  logState.held.clear();
  logState.recent.clear();
  logState.catcher = std::move(catcher);
}
