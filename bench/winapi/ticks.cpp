// 120 ticks of a 15000 ms timer in a modal dialog on the virtual clock: the
// half hour of virtual time a console scenario covers, and what it costs in
// real time.
#include <stdio.h>
#include <time.h>

#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "winapi/headless/driver.h"

namespace {

const ControlTemplate controls[] = {{1, CTL_STATIC, 2, 2, 100, 10, 0, "clock", 0}};
const DialogTemplate console{2000, DS_CAPTION | DS_VISIBLE, "Bench", "Courier New", 9, 510, 89, controls, 1};
const DialogTemplate* const dialogs[] = {&console};
const ResourceSet resources{"Bench.exe", dialogs, 1, nullptr, nullptr};

int ticks = 0;

LRESULT consoleProc(HWND h, UINT m, WPARAM w, LPARAM) {
  if (m == WM_INITDIALOG) pTimer(h, 200, 15000, nullptr);
  if (m == WM_TIMER && w == 200) {
    char text[32];
    snprintf(text, sizeof text, "tick %d", ++ticks);
    pWriteWndStr(h, 1, text);
    if (ticks == 120) {
      pTimer(h, 200, 0, nullptr);
      tkEndDialog(h, 0);
    }
  }
  return 1;
}

double seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

}  // namespace

int main() {
  headless::reset(true, 0);
  HINSTANCE instance = tkModuleHandle(&resources);
  double start = seconds();
  uint32_t virtualStart = uint32_t(pTiming());
  tkDialogBox(instance, 2000, 0, consoleProc, 0);
  double took = seconds() - start;
  printf("ticks: %d, virtual time: %u ms, real time: %.3f ms\n", ticks, uint32_t(pTiming()) - virtualStart,
         took * 1000.0);
  return ticks == 120 ? 0 : 1;
}
