// console/console.h -- the Control Console: the program's main dialog (2000),
// owner of every other dialog, of the status line and progress bar, and of the
// 15-second timer that drives local delivery and remote posting.
#pragma once
#include <stdint.h>
#include "toolkit/window.h"

constexpr int32_t kConsoleTimerId = 200;
constexpr int32_t kConsoleTickMs = 15000;
constexpr int32_t kStatusLineId = 2023;
constexpr int32_t kProgressBarId = 2024;
constexpr int32_t kSettingButtonId = 2018;

// The console's whole state: one instance, reset by the close sequence.
struct ConsoleState {
  WindowRecord record;     // the console window record, 900 x 200
  WindowContext context;   // the program-wide context filled at entry
  HWND statusLine;         // control 2023, published for every module
  int32_t controlMode;     // 0 normal, 1 control login active
  char savedTitle[128];
  char loginId[24];
  char loginKey[16];
  uint32_t clockCounter, courierCounter, localCounter;
  int32_t tickBusy;
  int32_t sendNow;         // set by the writer: post at the next tick
  int32_t repeatRequest;   // set by the posting pass: run another pass
  char statusSave[256];
  char clockText[64];
};

ConsoleState& Console();
void ResetConsole();

// 1 writes the indicator's label, -1 three spaces, any other value leaves it.
void ShowLineIndicators(int32_t on, int32_t dsr, int32_t cts, int32_t rng, int32_t cd);
// 1 starts timer 200 (15000 ms) on the console, 0 stops it.
void SwitchConsoleTimer(int32_t on);
void RefreshClock();
