// The process entry: chooses the presenter and runs the program.
//
// With VL_HEADLESS=1 the program runs on the headless presenter: no window is
// shown, the console runs with its timer, and with no one to press Close it
// keeps running until it is stopped (scripted runs and the two-machine test
// stop it). Otherwise it needs a display.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console/startup.h"
#include "resources/resources.h"
#include "toolkit/dialog.h"

int main() {
  const char* headless = std::getenv("VL_HEADLESS");
  const bool wantHeadless = headless != nullptr && std::strcmp(headless, "1") == 0;
  if (!wantHeadless && tkUseDesktop() == 0) {
    std::fprintf(stderr,
                 "velloran: no display found.\n"
                 "Run it on a desktop, under a virtual X server (xvfb-run ./velloran),\n"
                 "or without windows with VL_HEADLESS=1 (it then runs until stopped).\n");
    return 2;
  }
  const int32_t code = RunProgram(&VelloranResources());
  tkExitProcess(code);
  return code;
}
