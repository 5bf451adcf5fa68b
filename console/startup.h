// console/startup.h -- what happens before the Control Console is usable.
//
// Principles of operation
//
// The process entry fills the program-wide WindowContext (Console().context),
// tests the screen and runs the console (dialog 2000) modally; the console's
// result is the exit code. The console's initialisation begins with the
// start-up preparation: the program folder is the current folder, the three
// paths are built from it, "POST" is made, the run-time flags are zeroed and
// the two configuration files are checked and read:
//
//   test (first failure wins)              caption
//   unit file size -1 or 0                 "vl.INI Missing"
//   settings file size -1 or 0             "Velloran.INI Missing"
//   unit file size not 512                 "vl.INI Corrupt"
//
// A failure shows its caption over "Velloran will shutdown" and ends the
// process with 0 through ExitProgram, which tests replace so that they can
// watch the exit; when the replacement returns, the preparation reports the
// failure and the console ends itself with 0 instead.
//
// A program folder too long for the paths to fit their 256-byte buffers
// counts as a missing unit file: the program cannot name its files there.
//
// The machine's log (open when the program runs without windows) gets every
// start-up failure as an error line, besides the box, and a line naming the
// machine and its folder once the check has passed.
//
// The splash (1000, modeless) and the About box (4000, modal, left by a click)
// both show bitmap 120.
#pragma once
#include <stdint.h>

#include "toolkit/window.h"
#include "winapi/resource.h"

constexpr int32_t kSplashDialogId = 1000;
constexpr int32_t kSplashPictureId = 1001;
constexpr int32_t kAboutDialogId = 4000;
constexpr int32_t kAboutPictureId = 4001;
constexpr int32_t kPictureBitmapId = 120;
constexpr int32_t kConsoleDialogId = 2000;
constexpr int32_t kSplashMs = 1200;

constexpr const char* kUnitFileName = "VL.INI";
constexpr const char* kSettingsFileName = "Velloran.INI";
constexpr const char* kShutdownText = "Velloran will shutdown";
constexpr const char* kUnitMissing = "vl.INI Missing";
constexpr const char* kSettingsMissing = "Velloran.INI Missing";
constexpr const char* kUnitCorrupt = "vl.INI Corrupt";

struct StartupState {
  WindowRecord splash;
  WindowContext splashContext;
  WindowRecord about;
  WindowContext aboutContext;
  // Ends the process; tkExitProcess unless a test put its own here.
  void (*exitProgram)(int32_t code);
};

StartupState& Startup();
// Zeroes the state and puts tkExitProcess back as the way out.
void ResetStartup();
void ExitProgram(int32_t code);
// An error line in the machine's log: "start-up failed: " and why.
void LogStartupFailure(const char* why);

// The WindowContext as the entry fills it: the program's instance (its
// resources registered under it), command line, arrow cursor, the icon of
// "Velloran.exe" and the screen's size.
void FillWindowContext(const ResourceSet* resources, WindowContext& context);
// The process entry after the presenter is chosen: returns the exit code.
int32_t RunProgram(const ResourceSet* resources);

// Start-up preparation with the unit-file check: 1 when the program may go
// on; 0 after the failure was shown and ExitProgram(0) returned.
int32_t PrepareStartup();
// The unit-file check alone (paths already built).
int32_t CheckUnitFiles();

HWND OpenSplash(const WindowContext* context);
void CloseSplash(HWND splash);
int32_t RunAbout(HWND owner, const WindowContext* context);

LRESULT SplashProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
