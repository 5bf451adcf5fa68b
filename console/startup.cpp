// Process entry, start-up preparation and the unit-file check, the splash and
// the About box.
#include "console/startup.h"

#include "config/config.h"
#include "console/console.h"
#include "console/helpers.h"
#include "accounts/mailbox.h"
#include "accounts/reader.h"
#include "link/link.h"
#include "store/format.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

StartupState state;

constexpr int32_t kPathBytes = 256;
constexpr int32_t kFolderLimit = 254;  // characters of the current folder taken
constexpr int32_t kRecordBytes = 512;

int32_t Fail(const char* caption) {
  LogStartupFailure(caption);
  pAlert(caption, kShutdownText, 0, 0, 64);
  ExitProgram(0);
  return 0;
}

// folder "\" name into dest; 0 when the result would not fit its buffer.
int32_t BuildPath(const char* folder, const char* name, char* dest) {
  pClrMem(dest, kPathBytes);
  if (pLen(folder) + 1 + pLen(name) > kPathBytes - 1) return 0;
  pBuildPath(folder, name, dest);
  return 1;
}

int32_t BuildProgramPaths() {
  ConfigState& config = Config();
  char command[4] = "dir";
  pClrMem(config.programFolder, kPathBytes);
  pDir(command, config.programFolder, kFolderLimit + 1);
  config.programFolder[kPathBytes - 1] = 0;
  // A folder cut at the limit would be another folder.
  if (pLen(config.programFolder) >= kFolderLimit) return 0;
  return BuildPath(config.programFolder, kUnitFileName, config.unitPath) &
         BuildPath(config.programFolder, kSettingsFileName, config.settingsPath) &
         BuildPath(config.programFolder, kSpoolFolderName, config.spoolPath);
}

// Link flags and buffers (the destination of a posting pass among them), the
// reader's reply flag, the mailbox path, and the console's counters and flags.
void ResetRunState() {
  ResetLink();
  ResetReader();
  ResetMailbox();
  ClearCommandBuffers();
  ConsoleState& console = Console();
  console.clockCounter = console.courierCounter = console.localCounter = 0;
  console.tickBusy = console.sendNow = console.repeatRequest = 0;
}

bool IsMissing(int32_t size) { return size == -1 || size == 0; }

// "machine 401 (Demo machine A) started in C:\srv\a"
void LogMachineStart() {
  char line[kPathBytes + 96] = {};
  char slot[64];
  pBuildStr("machine ", line);
  SlotText(Config().unit, UnitField::MachID, slot);
  pBuildStr(slot, line);
  SlotText(Config().unit, UnitField::Owner, slot);
  if (slot[0] != 0) {
    pBuildStr(" (", line);
    pBuildStr(slot, line);
    pBuildStr(")", line);
  }
  pBuildStr(" started in ", line);
  pBuildStr(Config().programFolder, line);
  tkLog(0, "start", line);
}

}  // namespace

StartupState& Startup() { return state; }

void ResetStartup() {
  pClrMem(&state, sizeof state);
  state.exitProgram = tkExitProcess;
}

void LogStartupFailure(const char* why) {
  char line[160] = {};
  pBuildStr("start-up failed: ", line);
  CopyBounded(why, sizeof line - 18, line + 17);
  tkLog(1, "error", line);
}

void ExitProgram(int32_t code) {
  if (state.exitProgram != nullptr)
    state.exitProgram(code);
  else
    tkExitProcess(code);
}

void FillWindowContext(const ResourceSet* resources, WindowContext& context) {
  pClrMem(&context, sizeof context);
  context.instance = tkProgramInstance(resources);
  context.commandLine = tkCommandLine();
  context.cursor = tkArrowCursor();
  context.iconIndex = 0;
  context.icon = tkExtractIcon(context.instance, "Velloran.exe", &context.iconIndex);
  context.screenWidth = tkScreenWidth();
  context.screenHeight = tkScreenHeight();
  context.reserved = 0;
}

int32_t RunProgram(const ResourceSet* resources) {
  WindowContext& context = Console().context;
  FillWindowContext(resources, context);
  // pIsScrnValid ends the process itself when the screen is too small.
  if (pIsScrnValid(context.screenWidth, context.screenHeight, "Velloran") != 1) return 1;
  return static_cast<int32_t>(tkDialogBox(context.instance, kConsoleDialogId, 0, ConsoleProc, 0));
}

int32_t PrepareStartup() {
  if (BuildProgramPaths() != 1) return Fail(kUnitMissing);
  char command[4] = "mak";
  pDir(command, Config().spoolPath, kPathBytes);  // a failure shows later, not here
  RemoveStaleParts();  // part files of receives broken off a day or more ago
  ResetRunState();
  return CheckUnitFiles();
}

int32_t CheckUnitFiles() {
  ConfigState& config = Config();
  if (IsMissing(pFileSize(config.unitPath))) return Fail(kUnitMissing);
  if (IsMissing(pFileSize(config.settingsPath))) return Fail(kSettingsMissing);
  if (pFileSize(config.unitPath) != kRecordBytes) return Fail(kUnitCorrupt);
  ReadRecord(config.unitPath, config.unit);
  ReadRecord(config.settingsPath, config.settings);
  LogMachineStart();
  return 1;
}

HWND OpenSplash(const WindowContext* context) {
  tkDialogOpen(&state.splash, &state.splashContext, context);
  tkCreateDialog(state.splashContext.instance, kSplashDialogId, 0, SplashProc, 0);
  return state.splash.handle;
}

void CloseSplash(HWND splash) {
  if (splash != 0) tkDestroyWindow(splash);
  if (state.splash.handle == splash) state.splash.handle = 0;
}

int32_t RunAbout(HWND owner, const WindowContext* context) {
  tkDialogOpen(&state.about, &state.aboutContext, context);
  tkDialogBox(state.aboutContext.instance, kAboutDialogId, owner, AboutProc, 0);
  return 1;
}

LRESULT SplashProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      tkDialogInit(&state.splash, dialog, SplashProc, "Velloran :: Welcome");
      pGetWinParm(0, -220, state.splashContext.screenWidth, state.splashContext.screenHeight, &state.splash);
      return 1;
    case WM_PAINT:
      tkDialogPaint(&state.splash, kSplashPictureId, kPictureBitmapId, state.splashContext.instance);
      return 1;
    default:
      return 0;
  }
}

LRESULT AboutProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  const WindowRecord& console = Console().record;
  switch (message) {
    case WM_INITDIALOG:
      tkDialogInit(&state.about, dialog, AboutProc, "Velloran :: About");
      pGetWinParm(console.left, console.top, console.width, console.height, &state.about);
      return 1;
    case WM_PAINT:
      tkDialogPaint(&state.about, kAboutPictureId, kPictureBitmapId, state.aboutContext.instance);
      return 1;
    case WM_LBUTTONUP:
      tkEndDialog(dialog, 0);
      return 1;
    case WM_COMMAND:  // Enter and Esc do not end it
    case WM_CLOSE:    // nor does a close request: it has no close box
      return 1;
    default:
      return 0;
  }
}
