// The Control Console: initialisation, commands, control login and logout,
// the close sequence and the timer tick.
#include "console/console.h"

#include "accounts/accounts.h"
#include "config/config.h"
#include "console/helpers.h"
#include "console/prompt.h"
#include "console/setting.h"
#include "console/startup.h"
#include "link/link.h"
#include "store/delivery.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

ConsoleState console;

constexpr int32_t kIdLimit = 23;   // at most 22 characters from the Id field
constexpr int32_t kKeyLimit = 15;  // at most 14 from the Key field
constexpr int32_t kStatusLimit = 255;

// --- calls out, through the services table ------------------------------------

// The service in slot, or the real operation when the slot is empty.
template <typename Result, typename... Args, typename... Given>
Result Call(Result (*slot)(Args...), Result (*real)(Args...), Given... given) {
  return (slot != nullptr ? slot : real)(given...);
}

int32_t CallDeliverLocal() { return Call(console.services.deliverLocalMails, DeliverLocalMails); }
int32_t CallDeliverRemote() { return Call(console.services.deliverRemoteMails, DeliverRemoteMails); }
int32_t CallToggleLink() { return Call(console.services.toggleLink, ToggleLink); }
int32_t CallOpenAccount() {
  return Call(console.services.openAccount, OpenAccount, console.record.handle, &console.context);
}
int32_t CallCreateAccount() { return Call(console.services.createAccount, CreateAccount); }
int32_t CallRemoveAccount() { return Call(console.services.removeAccount, RemoveAccount); }
int32_t CallClearAccountInput() { return Call(console.services.clearAccountInput, ClearAccountInput); }
int32_t CallRegisterLinkHandler(ruk_pbx_Handler handler, int32_t value) {
  return Call(console.services.registerLinkHandler, ruk_pbx_Event, handler, value);
}

// --- small pieces ---------------------------------------------------------------

HWND Window() { return console.record.handle; }
bool Online() { return Link().online == 1; }
bool SignalIsOne() { return Config().settings.Number(SettingsField::Signal) == 1; }

void FocusIdField() { pWndFocus(Window(), kIdFieldId); }

void EmptyLoginFields() {
  pClearWndStr(Window(), kIdFieldId);
  pClearWndStr(Window(), kKeyFieldId);
}

void ShowTitle(const char* title) {
  pClrMem(console.record.title, sizeof console.record.title);
  CopyBounded(title, sizeof console.record.title - 1, console.record.title);
  pWriteWndStr(Window(), 0, console.record.title);
}

void Enable(int32_t controlId, int32_t on) { pWndEnable(Window(), controlId, on); }

void ShowIndicator(int32_t controlId, int32_t value, const char* label) {
  if (value == 1) pWriteWndStr(Window(), controlId, label);
  if (value == -1) pWriteWndStr(Window(), controlId, "   ");
}

// A tick pumps messages; the user may close the console meanwhile.
bool ConsoleEnded() { return Window() == 0; }

// --- initialisation -------------------------------------------------------------

// The link's events. A call has ended while no tick work runs: what it
// left to do (mail to deliver, mail to pass on, a try of the caller) starts
// a moment later, from the message loop, rather than at the next tick.
int32_t ConsoleLinkEvent(int32_t type, int32_t state, const char* data, int32_t length) {
  const int32_t result = OnLinkEvent(type, state, data, length);
  if (type == 4 && state == 0 && Link().lineBusy == 0 && console.tickBusy == 0 && !ConsoleEnded())
    pTimer(Window(), kAfterCallTimerId, kAfterCallMs, nullptr);
  return result;
}

void InitConsole(HWND dialog) {
  if (PrepareStartup() != 1) {
    tkEndDialog(dialog, 0);
    return;
  }
  pClrMem(console.record.title, sizeof console.record.title);
  tkDialogInit(&console.record, dialog, ConsoleProc, kConsoleTitle);
  tkSetWindowIcon(dialog, console.context.icon);
  console.statusLine = tkGetDlgItem(dialog, kStatusLineId);
  console.record.width = kConsoleWidth;
  console.record.height = kConsoleHeight;
  pGetWinParm(0, -220, console.context.screenWidth, console.context.screenHeight, &console.record);
  ShowLineIndicators(-1, -1, -1, -1, -1);
  console.controlMode = 0;
  Enable(kSettingButtonId, 0);
  Enable(kCreateButtonId, 0);
  Enable(kRemoveButtonId, 0);
  pClrMem(console.savedTitle, sizeof console.savedTitle);
  if (SignalIsOne() && CallRegisterLinkHandler(ConsoleLinkEvent, kLinkEventValue) != 1) {
    LogStartupFailure("the link event handler could not be registered");
    ExitProgram(0);
    tkEndDialog(dialog, 0);
    return;
  }
  SwitchConsoleTimer(1);
  pProgressBar(0, dialog, kProgressBarId, 0, 0);
  tkSendMessage(dialog, WM_SETFOCUS, 0, 0);
  const HWND splash = OpenSplash(&console.context);
  pDoEvent(kSplashMs);
  CallToggleLink();
  CloseSplash(splash);
}

// --- control login and logout ---------------------------------------------------

void LoginFailed(const char* text) {
  EmptyLoginFields();
  pAlert(console.record.title, text, Window(), kIdFieldId, 64);
}

void EnterControlMode() {
  if (Online()) CallToggleLink();
  SwitchConsoleTimer(0);
  EmptyLoginFields();
  pClrMem(console.savedTitle, sizeof console.savedTitle);
  CopyBounded(console.record.title, sizeof console.savedTitle - 1, console.savedTitle);
  ShowTitle(kControlTitle);
  console.controlMode = 1;
  Enable(kCloseButtonId, 0);
  Enable(kAccountButtonId, 0);
  if (!Online()) Enable(kSettingButtonId, 1);
  Enable(kCreateButtonId, 1);
  Enable(kRemoveButtonId, 1);
}

void ControlLogin() {
  ConfigRecord& unit = Config().unit;
  pClrMem(console.loginId, sizeof console.loginId);
  pClrMem(console.loginKey, sizeof console.loginKey);
  pReadWndStr(Window(), kIdFieldId, console.loginId, kIdLimit);
  pReadWndStr(Window(), kKeyFieldId, console.loginKey, kKeyLimit);
  LowerCaseInPlace(console.loginId);
  LowerCaseInPlace(console.loginKey);
  FoldSlot(unit, UnitField::ControlID);
  FoldSlot(unit, UnitField::ControlKey);

  char stored[32];
  SlotText(unit, UnitField::ControlID, stored);
  if (pCmp(stored, console.loginId) != 1) {
    LoginFailed("Wrong entry in ControlID. Re-enter.");
    return;
  }
  SlotText(unit, UnitField::ControlKey, stored);
  pClrMem(console.savedTitle, sizeof console.savedTitle);
  // The prompt may store into the slot: keep it a terminated text.
  unit.Text(UnitField::ControlKey)[UnitField::ControlKey.width - 1] = 0;
  if (pCmp(stored, console.loginKey) != 1 ||
      vlAskLoader(kPromptKey, "Confirm Control Key", unit.Text(UnitField::ControlKey), kKeyLimit,
                  &console.context, &console.record) != 1) {
    LoginFailed("Wrong entry in Control key. Re-enter.");
    return;
  }
  EnterControlMode();
}

void ControlLogout() {
  ShowTitle(console.savedTitle);
  console.controlMode = 0;
  Enable(kCloseButtonId, 1);
  Enable(kAccountButtonId, 1);
  if (!Online()) Enable(kSettingButtonId, 0);
  Enable(kCreateButtonId, 0);
  Enable(kRemoveButtonId, 0);
  pClrMem(console.savedTitle, sizeof console.savedTitle);
  SwitchConsoleTimer(1);
  if (!Online()) CallToggleLink();
}

void ControlCommand() {
  if (console.controlMode == 1)
    ControlLogout();
  else
    ControlLogin();
  CallClearAccountInput();
  pClrMem(console.loginId, sizeof console.loginId);
  pClrMem(console.loginKey, sizeof console.loginKey);
}

// --- close ------------------------------------------------------------------------

void ZeroWorkingMemory() {
  const WindowContext context = console.context;
  const ConsoleServices services = console.services;
  pClrMem(&console, sizeof console);
  console.context = context;
  console.services = services;
  ConfigState& config = Config();
  pClrMem(config.programFolder, sizeof config.programFolder);
  pClrMem(config.unitPath, sizeof config.unitPath);
  pClrMem(config.settingsPath, sizeof config.settingsPath);
  pClrMem(config.spoolPath, sizeof config.spoolPath);
  ResetLink();
  ResetSetting();
  ResetPrompt();
}

void CloseSequence() {
  if (console.controlMode != 0) return;
  if (pAlert(console.record.title, "Close Velloran", Window(), 0, 36) != IDYES) return;
  // A pass still under way ends here, before the link goes down under it.
  tkCancelWork();
  if (Online()) CallToggleLink();
  if (SignalIsOne()) CallRegisterLinkHandler(nullptr, 0);
  SwitchConsoleTimer(0);
  CallClearAccountInput();  // the account work buffers, before the window goes
  tkEndDialog(Window(), 0);
  ZeroWorkingMemory();
}

void Command(int32_t id) {
  switch (id) {
    case kAccountButtonId: CallOpenAccount(); break;
    case kControlButtonId: ControlCommand(); break;
    case kCreateButtonId: CallCreateAccount(); break;
    case kRemoveButtonId: CallRemoveAccount(); break;
    case kSettingButtonId: OpenSetting(Window(), &console.context); break;
    case kCloseButtonId: CloseSequence(); return;
    case kAboutButtonId: RunAbout(Window(), &console.context); break;
    default: return;  // Enter, Esc and the rest
  }
  if (!ConsoleEnded()) FocusIdField();
}

// --- the tick -----------------------------------------------------------------------

uint32_t CourierLimit() {
  // pMultiply adds its first argument b times: a fixed 59999 additions.
  return static_cast<uint32_t>(pMultiply(Config().unit.Number(UnitField::ECourierInterval), kCourierMinuteMs));
}

// Local delivery's own turn: every 30 s, and at the first working tick after
// a call filed a received mail.
bool LocalDeliveryDue() {
  return console.localCounter >= static_cast<uint32_t>(kLocalDeliveryMs) || Link().mailsToDeliver != 0;
}

void LocalPass() {
  console.localCounter = 0;
  console.localHeldBack = 0;
  Link().mailsToDeliver = 0;
  pDoEvent(kDeliveryPumpMs);
  if (!ConsoleEnded()) CallDeliverLocal();
}

// A destination's next try falls due before the next tick could start a
// pass for it: the passes wait for it rather than for a tick, so that tries
// come at their own random times, not in step with every other machine's
// ticks.
bool TryDueBeforeNextTick() { return Online() && RetryDue(kConsoleTickMs + kPostingPumpMs) == 1; }

// Waits until that try falls due within the posting pause (local delivery
// first, when its turn has come). False when the wait ended otherwise: the
// console ended, the link went down, or a Send asked for a pass, which the
// next tick starts.
bool AwaitNextTry() {
  if (LocalDeliveryDue()) LocalPass();
  while (!ConsoleEnded() && Online() && console.sendNow == 0) {
    const int32_t dueIn = NextTryIn();
    if (dueIn < 0) return false;
    if (dueIn <= kPostingPumpMs) return true;
    pDoEvent(dueIn - kPostingPumpMs < kRetryLookMs ? dueIn - kPostingPumpMs : kRetryLookMs);
  }
  return false;
}

// The posting passes of one tick: again while a pass asks for it, and for a
// next try that falls due before the next tick. Mail that a call filed
// during a pass that repeats reaches its mailbox before the next pass, not
// after the last.
void PostMails() {
  for (;;) {
    console.repeatRequest = 0;
    pDoEvent(kPostingPumpMs);
    if (ConsoleEnded()) return;
    CallDeliverRemote();
    if (ConsoleEnded()) return;
    if (console.repeatRequest == 1) {
      if (Link().mailsToDeliver != 0) LocalPass();
    } else if (!TryDueBeforeNextTick() || !AwaitNextTry()) {
      return;
    }
  }
}

// After a posting pass whose tick was local delivery's turn: a received
// mail is delivered at once; otherwise local delivery follows at the next
// tick, or, when posting took that one too (a courier due at every tick, a
// run of retries and requests), right after this pass.
void DeliverLocalAfterPosting() {
  if (!LocalDeliveryDue()) return;
  if (console.localHeldBack == 1 || Link().mailsToDeliver != 0)
    LocalPass();
  else
    console.localHeldBack = 1;
}

// The end of every tick that did work: the status line as the tick found it.
void FinishTick() {
  console.tickWork = kNoTickWork;
  if (ConsoleEnded()) return;  // the close sequence has zeroed everything
  if (console.keepStatus == 0) RestoreStatus(console.statusSave);
  console.keepStatus = 0;
  pClrMem(console.statusSave, sizeof console.statusSave);
  console.tickBusy = 0;
}

// The tick's work as background work: its pauses leave the interface to
// whatever dialog is open, so neither that dialog nor the work waits for the
// other.
void RunTickWork(void*) {
  if (console.tickWork == kLocalTickWork) {
    LocalPass();
  } else if (console.tickWork == kCourierTickWork || AwaitNextTry()) {
    PostMails();
    if (!ConsoleEnded()) DeliverLocalAfterPosting();
  }
  FinishTick();
}

void StartTickWork(int32_t work) {
  console.tickWork = work;
  if (tkStartWork(RunTickWork, nullptr) != 1) FinishTick();
}

// The box waits for a person, the ticks do not wait with it (they go on
// delivering local mail meanwhile), and one such box at a time is enough.
void TellOffline() {
  if (console.offlineBoxOpen == 1) return;
  console.offlineBoxOpen = 1;
  pAlert("Mail Sending Will Start Later", "Velloran Not ONLINE", Window(), 0, 64);
  if (!ConsoleEnded()) console.offlineBoxOpen = 0;
}

bool CourierDue() { return console.courierCounter >= CourierLimit() || console.sendNow == 1; }

void CourierPass() {
  console.courierCounter = 0;
  // Taken now: a Send made while this pass pumps asks for the next one.
  const bool sendNow = console.sendNow == 1;
  console.sendNow = 0;
  if (Online() && (Config().unit.Number(UnitField::EnableECourier) == 1 || sendNow)) {
    // Asked for: every destination is tried now, and a new round of tries
    // begins for those that fail.
    if (sendNow) ForgetRetries();
    StartTickWork(kCourierTickWork);
    return;
  }
  FinishTick();
  if (!Online()) TellOffline();
}

}  // namespace

ConsoleState& Console() { return console; }

void ResetConsole() {
  tkCancelWork();
  pClrMem(&console, sizeof console);
}

void ShowLineIndicators(int32_t on, int32_t dsr, int32_t cts, int32_t rng, int32_t cd) {
  if (Window() == 0) return;
  LogLineIndicators(on, dsr, cts, rng, cd);
  ShowIndicator(kIndicatorOnId, on, "ON");
  ShowIndicator(kIndicatorDsrId, dsr, "DSR");
  ShowIndicator(kIndicatorCtsId, cts, "CTS");
  ShowIndicator(kIndicatorRngId, rng, "RNG");
  ShowIndicator(kIndicatorCdId, cd, "CD");
}

void SwitchConsoleTimer(int32_t on) {
  if (Window() == 0) return;
  if (on == 1) pTimer(Window(), kConsoleTimerId, kConsoleTickMs, nullptr);
  if (on == 0) pTimer(Window(), kConsoleTimerId, 0, nullptr);
}

void RefreshClock() {
  pClrMem(console.clockText, sizeof console.clockText);
  pDate(0, console.clockText);
  pBuildStr(" ", console.clockText);
  pTime(1, console.clockText);
  if (Window() != 0) pWriteWndStr(Window(), kClockLineId, console.clockText);
}

// The tick's work begins: no second one meanwhile, and the status line as
// it was, to give back at its end.
void BeginTickWork() {
  console.tickBusy = 1;
  pClrMem(console.statusSave, sizeof console.statusSave);
  pReadWndStr(Window(), kStatusLineId, console.statusSave, kStatusLimit);
}

// The timer that ConsoleLinkEvent armed: a pass for a try that falls due
// (local delivery first, when a mail waits), or local delivery alone; nothing
// when a tick's work or another call came first (the tick does it then).
void WorkAfterCall() {
  pTimer(Window(), kAfterCallTimerId, 0, nullptr);
  if (console.tickBusy != 0 || console.controlMode != 0 || Link().lineBusy != 0) return;
  if (TryDueBeforeNextTick()) {
    BeginTickWork();
    StartTickWork(kRetryTickWork);
  } else if (Link().mailsToDeliver != 0) {
    BeginTickWork();
    StartTickWork(kLocalTickWork);
  }
}

void ConsoleTick() {
  console.clockCounter += kConsoleTickMs;
  console.courierCounter += kConsoleTickMs;
  console.localCounter += kConsoleTickMs;
  if (console.clockCounter >= static_cast<uint32_t>(kConsoleTickMs)) {
    console.clockCounter = 0;
    RefreshClock();
  }
  if (TakeCallRequest() == 1) console.sendNow = 1;  // vlpost --call: as after a Send
  // Before the busy test: a call that blocks the line is what it looks at.
  WatchLine();
  if (console.tickBusy != 0 || Link().lineBusy != 0) return;
  BeginTickWork();
  if (CourierDue()) {
    CourierPass();
  } else if (TryDueBeforeNextTick()) {
    // A destination's next try, whatever the courier setting.
    StartTickWork(kRetryTickWork);
  } else if (LocalDeliveryDue()) {
    StartTickWork(kLocalTickWork);
  } else {
    FinishTick();
  }
}

LRESULT ConsoleProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      InitConsole(dialog);
      return 0;  // the focus is set already
    case WM_PAINT:
      tkDialogPaint(&console.record, kLogoId, kLogoBitmapId, console.context.instance);
      RefreshClock();
      return 1;
    case WM_SETFOCUS:
      FocusIdField();
      return 1;
    case WM_CLOSE:
      tkSendMessage(dialog, WM_COMMAND, kCloseButtonId, 0);
      return 0;
    case WM_TIMER:
      if (wParam == static_cast<WPARAM>(kConsoleTimerId)) ConsoleTick();
      if (wParam == static_cast<WPARAM>(kAfterCallTimerId)) WorkAfterCall();
      return 1;
    case WM_COMMAND:
      Command(CommandId(wParam));
      return 1;
    default:
      return 0;
  }
}
