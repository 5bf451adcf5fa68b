// winapi/log.h -- the machine's log: what a person at the console would have
// seen, one line per event on standard output.
//
// Principles of operation. Without windows nobody reads the status line or
// answers a message box, so a run without windows (or one that asks for it)
// writes each of them as one line, stamped with the local time:
//
//   2026-12-07 14:03:05.123 status Delivering remote mails...
//   2026-12-07 14:03:05.140 box    "vl.INI Missing" Velloran will shutdown -> OK
//   2026-12-07 14:03:06.002 line   carrier on
//   2026-12-07 14:03:06.002 error  start-up failed: vl.INI Missing
//
// A status text is built by appending pieces, so it is written when it is
// complete: when a new message replaces it, when the event loop next runs
// (every piece of one message is appended between two pumps), or at exit.
// A count that goes on (status texts with the same words before their first
// number, as a transfer's bytes) is held and written once, with its last
// value: when another status text or line comes, or 2 s after its last
// change; a "mail" line, which names what the count belongs to, goes before
// it. A status text written since the last line of another topic is not
// written again within the hour, so an idle machine's rounds are one line
// each. Once the log is open, SIGTERM and SIGINT reach the loop, which writes
// "stop" before the signal ends the process; a normal exit writes "stop" too.
// Each line leaves with one write(), so two machines sharing a pipe never mix
// within a line, and a reader that went away costs a line, not the process.
// Errors go to standard error as well, unless that is the file standard
// output already is (a terminal, the journal). When standard output is the
// journal (JOURNAL_STREAM names it) the journal's own time stamps the line
// and a priority prefix ("<3>" for errors, "<6>" otherwise) replaces ours.
// Text arrives in code page 1252 and leaves as UTF-8; control characters
// become blanks.
//
// The log is closed until waLogOpen(1); tests may catch its lines instead.
#pragma once
#include <stdint.h>
#include "toolkit/export.h"

enum { WA_LOG_NOTE = 0, WA_LOG_ERROR = 1 };

#ifdef __cplusplus
extern "C" {
#endif

// 1 opens the log on standard output, 0 closes it (a pending status goes first).
VL_EXPORT void waLogOpen(int32_t on);
// 1 while lines are written (or caught).
VL_EXPORT int32_t waLogIsOpen(void);
// One line now: topic is a short word ("status", "box", "line", "error").
VL_EXPORT void waLog(int32_t level, const char* topic, const char* text);
// The whole text a status line shows now. A new message (newMessage 1) first
// writes the one it replaces; a piece appended (0) only updates what waits.
VL_EXPORT void waLogStatus(const char* text, int32_t newMessage);
// Writes a status text that waits; the event loop calls it at every pump.
VL_EXPORT void waLogFlush(void);

#ifdef __cplusplus
}

#include <functional>
#include <string>

// For tests: every line goes to catcher (topic and UTF-8 text, no stamp)
// instead of the standard files; an empty catcher gives them back.
struct WaLogLine {
  int32_t level;
  std::string topic;
  std::string text;
};
VL_VISIBLE void waLogCatch(std::function<void(const WaLogLine&)> catcher);
#endif
