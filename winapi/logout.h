// winapi/logout.h -- where the machine's log goes (private to the dialog
// manager): standard output and standard error, the local time that stamps
// a line, and the stop requests it records. log_posix.cpp also knows the systemd journal; log_win32.cpp
// writes to the process's standard handles.
#pragma once
#include <string>

struct WaLogStreams {
  bool journal = false;      // standard output is the journal
  bool errorsApart = false;  // standard error is another file than standard output
};

// Looks at the standard files once, when the log opens.
WaLogStreams waLogStreams();
// "YYYY-MM-DD hh:mm:ss.mmm" in local time.
std::string waLogStamp();
// One whole line in one write; a reader that went away costs the line only.
void waLogWrite(bool toErrors, const std::string& line);
// Stop requests from outside -- SIGTERM and SIGINT on POSIX; Ctrl+C,
// Ctrl+Break and the closing of a console on Windows -- reach onStop from
// the event loop, between two of the program's steps, with a text that says
// which ("stopped by SIGTERM"); then the process ends as the request would
// have ended it. A second request ends it at once, should the loop not come
// round.
void waLogOnStop(void (*onStop)(const char* how));
