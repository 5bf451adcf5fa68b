// winapi/logout.h -- where the machine's log goes (private to the dialog
// manager): standard output and standard error, and the local time that
// stamps a line. log_posix.cpp also knows the systemd journal; log_win32.cpp
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
// Calls onStop (with "stopped by SIGTERM" or the like) from the event loop
// when the process is asked to stop, then ends the process as the request
// would have; a second request ends it at once, should the loop not come
// round. False when this host delivers no such request to the loop.
bool waLogCatchStop(void (*onStop)(const char* how));
