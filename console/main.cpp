// The process entry: chooses the presenter and runs the program.
//
// With VL_HEADLESS=1 the program runs on the headless presenter: no window is
// shown, the console runs with its timer, and with no one to press Close it
// keeps running until it is stopped (a service manager, scripted runs and the
// two-machine test stop it). Otherwise it needs a display.
//
// Without windows the machine's log is open: status texts, message boxes
// (answered by themselves), line events and start-up failures, one stamped
// line each on standard output, errors on standard error too. On the desktop
// VL_LOG=1 opens the same log beside the windows.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/startup.h"
#include "resources/resources.h"
#include "toolkit/dialog.h"

namespace {

bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

}  // namespace

int main() {
  const bool wantHeadless = IsSet("VL_HEADLESS");
  if (wantHeadless || IsSet("VL_LOG")) tkLogOpen(1);
  if (!wantHeadless && tkUseDesktop() == 0) {
    std::fprintf(stderr,
                 "velloran: no display found.\n"
                 "Run it on a desktop, under a virtual X server (xvfb-run ./velloran),\n"
                 "or without windows with VL_HEADLESS=1 (it then runs until stopped).\n");
    tkLog(1, "error", "start-up failed: no display found");
    return 2;
  }
  const int32_t code = RunProgram(&VelloranResources());
  tkExitProcess(code);
  return code;
}
