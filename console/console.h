// console/console.h -- the Control Console: the program's main dialog (2000),
// owner of every other dialog, of the status line and progress bar, and of the
// 15-second timer that drives local delivery and remote posting.
//
// Principles of operation
//
// The console is a modal dialog whose result is the process exit code. Its
// initialisation runs the start-up preparation (console/startup.h), places
// itself, registers the link event handler when Signal is 1, starts timer 200,
// shows the splash for 1200 ms while the link comes up, and then waits for
// commands:
//
//   2014 Account  OpenAccount                 2018 Setting  Setting dialog (control mode)
//   2015 Control  control login / logout      2019 Close    close sequence (normal mode)
//   2016 Create   CreateAccount               2020 About    About box
//   2017 Remove   RemoveAccount
//
// Control mode (entered with the ControlID and the Control Key) stops the
// timer and takes the link down; logout restarts both.
//
// The timer tick is the program's one periodic driver. Every tick the three
// counters grow by 15000 ms and the clock is refreshed; then, unless a tick is
// already running (its work still under way) or a call is
// connected, one of these runs: a courier pass (courier counter at least
// ECourier interval x 59999 ms, or the writer's send-now flag, or
// `vlpost --call`); a posting pass for a destination whose next try falls
// due before the next tick could start it (link/link.h, RetryTable),
// whatever the courier setting: the tick's work waits for that moment, and
// the passes go on in the same way while further tries fall due, so tries
// keep their random times; or local delivery,
// every 30000 ms and at the first tick after a call filed a received mail.
// A posting pass is followed in the same tick by local delivery when a
// received mail waits, or when posting took local delivery's turn in an
// earlier tick as well, so a courier due at every tick never starves it.
// A courier pass posts only while online, and only when ECourier is enabled
// or a mail was just sent (which tries every destination now, retry times
// aside); offline it says "Velloran Not ONLINE". The status line is given
// back as the tick found it, unless the pass kept mails and said so
// (keepStatus): that stays in sight.
// The pass or delivery runs as background work (toolkit/files.h): its pauses
// hand the interface to whatever loop runs, so a dialog opened meanwhile
// never holds it up, and the next ticks, calls and commands go on beside it.
//
// The online and line-busy flags are the link's (Link().online,
// Link().lineBusy); the send-now flag and the repeat request live here.
//
// The calls out of the console go through ConsoleServices; a slot left 0 is
// the real operation, so tests can watch or replace any of them.
#pragma once
#include <stdint.h>

#include "platform/comm.h"
#include "toolkit/window.h"
#include "winapi/types.h"

constexpr int32_t kConsoleTimerId = 200;
constexpr int32_t kConsoleTickMs = 15000;
// One-shot, at the end of a call while no tick work runs: the work the call
// left (local delivery, a try that fell due) starts at once.
constexpr int32_t kAfterCallTimerId = 201;
constexpr int32_t kAfterCallMs = 100;
constexpr int32_t kStatusLineId = 2023;
constexpr int32_t kProgressBarId = 2024;
constexpr int32_t kSettingButtonId = 2018;

enum ConsoleControl : int32_t {
  kLogoId = 2001,
  kClockLineId = 2002,
  kIndicatorOnId = 2004,
  kIndicatorDsrId = 2005,
  kIndicatorCtsId = 2006,
  kIndicatorRngId = 2007,
  kIndicatorCdId = 2008,
  kIdFieldId = 2011,
  kKeyFieldId = 2013,
  kAccountButtonId = 2014,
  kControlButtonId = 2015,
  kCreateButtonId = 2016,
  kRemoveButtonId = 2017,
  kCloseButtonId = 2019,
  kAboutButtonId = 2020
};

constexpr int32_t kConsoleWidth = 900;
constexpr int32_t kConsoleHeight = 200;
constexpr int32_t kLogoBitmapId = 110;
constexpr int32_t kLocalDeliveryMs = 30000;
constexpr int32_t kCourierMinuteMs = 59999;
constexpr int32_t kPostingPumpMs = 5000;
constexpr int32_t kDeliveryPumpMs = 1500;
constexpr int32_t kRetryLookMs = 1000;  // how often a wait for a next try looks at the clock
constexpr int32_t kLinkEventValue = 250;

constexpr const char* kConsoleTitle = "Velloran";
constexpr const char* kControlTitle = "Velloran :: Control";

// What a working tick does, as background work (tkStartWork).
enum TickWork : int32_t { kNoTickWork = 0, kCourierTickWork = 1, kLocalTickWork = 2, kRetryTickWork = 3 };

// Every operation the console calls in other modules; 0 means the real one.
struct ConsoleServices {
  int32_t (*deliverLocalMails)();
  int32_t (*deliverRemoteMails)();
  int32_t (*toggleLink)();
  int32_t (*openAccount)(HWND console, const WindowContext* context);
  int32_t (*createAccount)();
  int32_t (*removeAccount)();
  int32_t (*clearAccountInput)();
  int32_t (*registerLinkHandler)(ruk_pbx_Handler handler, int32_t value);
};

// The console's whole state: one instance, zeroed by the close sequence
// (all but the program-wide context and the services).
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
  int32_t tickWork;        // TickWork of the tick under way
  int32_t localHeldBack;   // a posting pass took local delivery's turn
  int32_t keepStatus;      // set by a pass that kept mails: its end message stays on the line
  int32_t offlineBoxOpen;  // "Velloran Not ONLINE" waits for its answer
  char statusSave[256];
  char clockText[64];
  ConsoleServices services;
};

ConsoleState& Console();
void ResetConsole();

// 1 writes the indicator's label, -1 three spaces, any other value leaves it.
void ShowLineIndicators(int32_t on, int32_t dsr, int32_t cts, int32_t rng, int32_t cd);
// 1 starts timer 200 (15000 ms) on the console, 0 stops it.
void SwitchConsoleTimer(int32_t on);
void RefreshClock();

// The console's dialog procedure (dialog 2000, run by the process entry).
LRESULT ConsoleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// One timer tick, as WM_TIMER 200 runs it.
void ConsoleTick();
