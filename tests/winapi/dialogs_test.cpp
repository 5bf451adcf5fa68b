// Scenarios through the headless presenter: nested modal loops with timers,
// a replaced window procedure, Enter and Esc, close boxes, stuck dialogs.
#include <cstring>
#include <string>

#include "fixtures.h"

using namespace fixtures;

namespace {

class Dialogs : public Manager {};

// --- a modal dialog inside a modal dialog, a timer in each ---------------------

struct Nest {
  HINSTANCE instance = 0;
  int outerTicks = 0, outerTicksWhileInner = 0, innerTicks = 0;
  bool innerOpen = false;
  int outerEnabledDuringInner = -1, outerEnabledAfterInner = -1;
  LRESULT innerResult = 0;
};
Nest nest;

LRESULT innerProc(HWND h, UINT m, WPARAM w, LPARAM) {
  if (m == WM_INITDIALOG) return pTimer(h, 8, 250, nullptr) == 8;
  if (m == WM_TIMER && w == 8) nest.innerTicks++;
  if (m == WM_COMMAND && (w & 0xFFFF) == kInnerEnd) tkEndDialog(h, 22);
  return m == WM_TIMER || m == WM_COMMAND;
}

LRESULT outerProc(HWND h, UINT m, WPARAM w, LPARAM) {
  if (m == WM_INITDIALOG) return pTimer(h, 7, 1000, nullptr) == 7;
  if (m == WM_TIMER && w == 7) {
    nest.outerTicks++;
    if (nest.innerOpen) nest.outerTicksWhileInner++;
  }
  if (m == WM_COMMAND && (w & 0xFFFF) == kOpen) {
    nest.innerOpen = true;
    nest.innerResult = tkDialogBox(nest.instance, kInner, h, innerProc, 0);
    nest.innerOpen = false;
    nest.outerEnabledAfterInner = tkIsEnabled(h, 0);
  }
  if (m == WM_COMMAND && (w & 0xFFFF) == kEnd) {
    pTimer(h, 7, 0, nullptr);
    tkEndDialog(h, 11);
  }
  return m == WM_TIMER || m == WM_COMMAND;
}

TEST_F(Dialogs, TimersFireInBothNestedModalLoops) {
  nest = Nest{};
  nest.instance = instance;
  HWND outer = 0;
  headless::onDialog(kOuter, [&](HWND h) {
    outer = h;
    pDoEvent(3500);  // three outer ticks while the outer loop runs
    EXPECT_TRUE(headless::click(h, kOpen));
  });
  headless::onDialog(kInner, [&](HWND inner) {
    EXPECT_EQ(tkGetParent(inner), outer);
    nest.outerEnabledDuringInner = tkIsEnabled(outer, 0);
    EXPECT_FALSE(headless::click(outer, kEnd)) << "the owner is disabled while its modal child runs";
    pDoEvent(2000);
    EXPECT_TRUE(headless::click(inner, kInnerEnd));
    tkPostMessage(outer, WM_COMMAND, kEnd, 0);
  });
  uint32_t start = waNow();
  EXPECT_EQ(tkDialogBox(instance, kOuter, 0, outerProc, 0), 11);
  EXPECT_EQ(nest.innerResult, 22);
  EXPECT_EQ(nest.outerTicks, 5);
  EXPECT_EQ(nest.outerTicksWhileInner, 2);
  // The pause ends as its last tick falls due; the click queued before it
  // closes the dialog, so seven of eight ticks arrive.
  EXPECT_EQ(nest.innerTicks, 7);
  EXPECT_EQ(nest.outerEnabledDuringInner, 0);
  EXPECT_EQ(nest.outerEnabledAfterInner, 1);
  EXPECT_EQ(waNow() - start, 5500u);
  EXPECT_TRUE(headless::openDialogs().empty());
  EXPECT_EQ(waHasWork(), 0) << "the dialogs' timers died with them";
}

// --- a replaced window procedure that sees key releases --------------------------

struct Filter {
  WNDPROC previous = nullptr;
  int armed = 0;
  HWND prompt = 0;
  std::string answer;
  int swallowed = 0;
};
Filter filter;

LRESULT enterFilter(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_KEYUP:
      if (!filter.armed) {
        filter.armed = 1;
        return 0;
      }
      if (w == VK_RETURN) {
        tkSendMessage(filter.prompt, WM_COMMAND, 10004, 0);
        return 0;
      }
      return tkCallWindowProc(filter.previous, h, m, w, l);
    case WM_UPDATEUISTATE: filter.armed = 1; return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED: filter.swallowed++; return 0;
    default: return tkCallWindowProc(filter.previous, h, m, w, l);
  }
}

LRESULT promptProc(HWND h, UINT m, WPARAM w, LPARAM) {
  if (m == WM_INITDIALOG) {
    filter.prompt = h;
    pWndFocus(h, kInnerEdit);
    filter.previous = reinterpret_cast<WNDPROC>(pWndProcAddr(1, h, kInnerEdit, enterFilter));
    return 0;
  }
  if (m == WM_COMMAND) seen.commands.emplace_back(int(w & 0xFFFF), int(w >> 16));
  if (m == WM_COMMAND && w == 10004) {
    char buffer[64] = {};
    pReadWndStr(h, kInnerEdit, buffer, 64);
    filter.answer = buffer;
    tkEndDialog(h, 1);
  }
  return m == WM_COMMAND;
}

TEST_F(Dialogs, ReplacedProcedureArmsOnTheFirstReleaseAndSubmitsOnTheSecond) {
  filter = Filter{};
  int releasesBeforeSubmit = 0;
  headless::onDialog(kInner, [&](HWND h) {
    EXPECT_EQ(reinterpret_cast<WNDPROC>(pWndProcAddr(-1, h, kInnerEdit, nullptr)), enterFilter);
    EXPECT_NE(filter.previous, nullptr);
    EXPECT_TRUE(headless::type(h, kInnerEdit, "secret"));
    EXPECT_TRUE(headless::keyPress(h, kInnerEdit, VK_RETURN));
    headless::settle();
    releasesBeforeSubmit = filter.armed;
    EXPECT_TRUE(tkIsVisible(h, 0)) << "the first release only armed the filter";
    EXPECT_TRUE(headless::keyPress(h, kInnerEdit, VK_RETURN));
  });
  EXPECT_EQ(tkDialogBox(instance, kInner, 0, promptProc, 0), 1);
  EXPECT_EQ(releasesBeforeSubmit, 1);
  EXPECT_EQ(filter.answer, "secret");
  for (auto c : seen.commands) EXPECT_NE(c.first, IDOK) << "Enter stays in a want-return edit";
}

TEST_F(Dialogs, UiStateUpdateArmsTheFilterBeforeAnyKey) {
  filter = Filter{};
  headless::onDialog(kInner, [&](HWND h) {
    headless::type(h, kInnerEdit, "x");
    headless::updateUiState(h);
    headless::keyPress(h, kInnerEdit, VK_RETURN);
  });
  EXPECT_EQ(tkDialogBox(instance, kInner, 0, promptProc, 0), 1);
  EXPECT_EQ(filter.answer, "x");
}

TEST_F(Dialogs, ForwardedMessagesReachTheDefaultProcedure) {
  filter = Filter{};
  headless::onDialog(kInner, [&](HWND h) {
    EXPECT_EQ(pWriteWndStr(h, kInnerEdit, "through"), 1);  // WM_SETTEXT passes the filter
    char buffer[16] = {};
    EXPECT_EQ(pReadWndStr(h, kInnerEdit, buffer, 16), 7);
    EXPECT_STREQ(buffer, "through");
    int before = filter.swallowed;
    tkMoveWindow(tkGetDlgItem(h, kInnerEdit), 1, 1, 50, 10, 1);
    EXPECT_EQ(filter.swallowed, before + 2) << "both position messages seen by the replaced procedure";
    tkEndDialog(h, 3);
  });
  EXPECT_EQ(tkDialogBox(instance, kInner, 0, promptProc, 0), 3);
}

// --- keys, commands, close box, mouse ------------------------------------------

TEST_F(Dialogs, EnterAndEscBecomeCommandsOfTheDialog) {
  HWND outer = openOuter();
  HWND console = tkCreateDialog(instance, kConsole, 0, recordingProc, 0);
  headless::keyPress(outer, kList, VK_RETURN);
  headless::keyPress(outer, kList, VK_ESCAPE);
  headless::keyPress(console, kConsoleGo, VK_RETURN);
  headless::keyPress(outer, kMemo, VK_RETURN);
  headless::settle();
  std::vector<std::pair<int, int>> commands;
  for (auto c : seen.commands)
    if (c.second == BN_CLICKED) commands.push_back(c);
  EXPECT_EQ(commands, (std::vector<std::pair<int, int>>{{IDOK, 0}, {IDCANCEL, 0}, {kConsoleGo, 0}}));
  EXPECT_EQ(headless::text(outer, kMemo), "\r\n") << "a multi-line want-return edit takes the line end";
}

TEST_F(Dialogs, UnhandledCloseDoesNothing) {
  HWND outer = openOuter();
  EXPECT_TRUE(headless::pressCloseBox(outer));
  headless::settle();
  EXPECT_EQ(seen.closes, 1);
  EXPECT_TRUE(waIsWindow(outer));
  EXPECT_TRUE(tkIsVisible(outer, 0));
  waEnableWindow(outer, 0);
  EXPECT_FALSE(headless::pressCloseBox(outer)) << "a disabled dialog takes no clicks";
}

TEST_F(Dialogs, ModalDialogEndsWithItsResultAndGetsItsParameter) {
  headless::onDialog(kOuter, [](HWND h) { EXPECT_TRUE(headless::mouseUp(h)); });
  EXPECT_EQ(tkDialogBox(instance, kOuter, 0, recordingProc, 1234), 77);
  EXPECT_EQ(seen.initParam, 1234);
  EXPECT_EQ(seen.inits, 1);
  EXPECT_EQ(seen.mouseUps, 1);
  EXPECT_EQ(tkDialogBox(instance, 999, 0, recordingProc, 0), -1) << "missing template";
}

TEST_F(Dialogs, ControlsAreFoundByIdAndKnowTheirDialog) {
  HWND outer = openOuter();
  HWND edit = tkGetDlgItem(outer, kEdit);
  ASSERT_NE(edit, 0u);
  EXPECT_EQ(tkGetDlgCtrlID(edit), kEdit);
  EXPECT_EQ(tkGetParent(edit), outer);
  EXPECT_EQ(tkGetDlgItem(outer, 4242), 0u);
  EXPECT_EQ(headless::focusedId(), kEdit) << "first tab stop after an init that returned 1";
  EXPECT_EQ(headless::text(outer, kEdit), "start");
  EXPECT_EQ(tkIsVisible(outer, kHidden), 0);
  EXPECT_EQ(tkActiveWindow(), outer);
  EXPECT_EQ(tkDestroyWindow(outer), 1);
  EXPECT_EQ(waIsWindow(edit), 0);
  EXPECT_EQ(tkGetDlgItem(outer, kEdit), 0u);
}

TEST_F(Dialogs, CheckBoxesAndButtonsFollowTheUser) {
  HWND outer = openOuter();
  EXPECT_TRUE(headless::tick(outer, kCheck, true));
  EXPECT_EQ(tkIsChecked(outer, kCheck), 1);
  tkSetCheck(outer, kCheck, 0);
  EXPECT_FALSE(headless::checked(outer, kCheck));
  pWndEnable(outer, kOpen, 0);
  EXPECT_FALSE(headless::click(outer, kOpen));
  EXPECT_FALSE(headless::click(outer, kHidden)) << "hidden";
  EXPECT_FALSE(headless::type(outer, kList, "x")) << "not an edit";
  EXPECT_TRUE(headless::type(outer, kDigits, "a1b2"));
  EXPECT_EQ(headless::text(outer, kDigits), "12") << "a digits-only field drops other characters";
  headless::settle();
  EXPECT_EQ(std::count(seen.commands.begin(), seen.commands.end(), std::make_pair(int(kCheck), 0)), 1);
  EXPECT_EQ(std::count(seen.commands.begin(), seen.commands.end(), std::make_pair(int(kDigits), int(EN_CHANGE))), 1);
}

TEST_F(Dialogs, DialogWithNothingToDriveItFailsInsteadOfHanging) {
  expectFailures = true;
  EXPECT_EQ(tkDialogBox(instance, kInner, 0, recordingProc, 0), 0);
  ASSERT_EQ(headless::failures().size(), 1u);
  EXPECT_NE(headless::failures()[0].find("200"), std::string::npos);
}

TEST_F(Dialogs, EndlessTimerLoopEndsAtTheModalBudget) {
  expectFailures = true;
  waSetModalBudget(60000);
  headless::onDialog(kInner, [](HWND h) { pTimer(h, 1, 15000, nullptr); });
  uint32_t start = waNow();
  EXPECT_EQ(tkDialogBox(instance, kInner, 0, recordingProc, 0), 0);
  EXPECT_EQ(headless::failures().size(), 1u);
  EXPECT_GE(waNow() - start, 60000u);
  EXPECT_LE(waNow() - start, 75000u);
  EXPECT_EQ(seen.timers, 4);
}

// --- painting and the dialog pattern -------------------------------------------

WindowRecord patternRecord;
WindowContext patternContext;

LRESULT patternProc(HWND h, UINT m, WPARAM, LPARAM) {
  if (m == WM_INITDIALOG) {
    tkDialogInit(&patternRecord, h, patternProc, "Velloran :: Test");
    patternRecord.width = 900;
    patternRecord.height = 200;
    pGetWinParm(0, -220, patternContext.screenWidth, patternContext.screenHeight, &patternRecord);
    return 1;
  }
  if (m == WM_PAINT) {
    seen.paints++;
    tkDialogPaint(&patternRecord, kConsoleGo, kPictureId, patternContext.instance);
    return 1;
  }
  return 0;
}

TEST_F(Dialogs, PatternPlacesOnFirstPaintAfterRestoreAndPaintsOnce) {
  WindowContext context{1024, 768, instance, "prog", tkArrowCursor(), 0, 0, 0};
  std::strcpy(patternRecord.title, "old title");
  tkDialogOpen(&patternRecord, &patternContext, &context);
  EXPECT_EQ(patternRecord.title[0], 0);
  EXPECT_EQ(std::memcmp(&patternContext, &context, sizeof context), 0);
  HWND h = tkCreateDialog(instance, kConsole, 0, patternProc, 0);
  EXPECT_EQ(patternRecord.handle, h);
  EXPECT_EQ(patternRecord.procedure, patternProc);
  EXPECT_EQ(headless::text(h, 0), "Velloran :: Test");
  EXPECT_EQ(patternRecord.left, 62);
  EXPECT_EQ(patternRecord.top, 64);
  headless::settle();
  EXPECT_EQ(seen.paints, 0) << "a minimised dialog is not painted";
  EXPECT_TRUE(headless::restore(h));
  headless::settle();
  EXPECT_EQ(seen.paints, 1) << "moving back to the same place does not ask for another paint";
  RECT r = headless::rect(h, 0);
  EXPECT_EQ(r.left, 62);
  EXPECT_EQ(r.top, 64);
  EXPECT_EQ(r.right - r.left, 900);
  EXPECT_EQ(headless::image(h, kConsoleGo), kPictureId);
  EXPECT_EQ(headless::frames(h), 1);
  EXPECT_EQ(headless::paints(h), 1);
  // A user move lasts until the next paint.
  waUserMove(h, 300, 300);
  headless::uncover(h);
  headless::settle();
  EXPECT_EQ(headless::rect(h, 0).left, 62);
  EXPECT_EQ(seen.paints, 2);
}

}  // namespace

namespace {

// --- lifetimes, owners and focus -------------------------------------------------

class Lifetimes : public Manager {};

std::vector<UINT> positionMessages;
LRESULT positionProc(HWND, UINT m, WPARAM, LPARAM) {
  if (m == WM_WINDOWPOSCHANGING || m == WM_WINDOWPOSCHANGED) positionMessages.push_back(m);
  return m == WM_INITDIALOG;
}

TEST_F(Lifetimes, MovesTellTheDialogBeforeAndAfter) {
  positionMessages.clear();
  HWND h = tkCreateDialog(instance, kOuter, 0, positionProc, 0);
  tkMoveWindow(h, 10, 20, 300, 200, 1);
  EXPECT_EQ(positionMessages, (std::vector<UINT>{WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED}));
  RECT r{};
  tkGetWindowRect(h, &r);
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.bottom, 220);
}

TEST_F(Lifetimes, DestroyingAModalDialogEndsItsLoop) {
  headless::onDialog(kInner, [](HWND h) { tkPostMessage(h, WM_USER, 0, 0); });
  EXPECT_EQ(tkDialogBox(instance, kInner, 0,
                        [](HWND h, UINT m, WPARAM, LPARAM) -> LRESULT {
                          if (m == WM_USER) tkDestroyWindow(h);
                          return m == WM_INITDIALOG;
                        },
                        0),
            0);
  EXPECT_TRUE(headless::openDialogs().empty());
}

TEST_F(Lifetimes, OwnedDialogsGoWithTheirOwner) {
  HWND outer = openOuter();
  HWND console = tkCreateDialog(instance, kConsole, tkGetDlgItem(outer, kEdit), recordingProc, 0);
  ASSERT_NE(console, 0u);
  EXPECT_EQ(tkGetParent(console), outer) << "a control named as owner stands for its dialog";
  tkDestroyWindow(outer);
  EXPECT_EQ(waIsWindow(console), 0);
}

TEST_F(Lifetimes, FocusComesBackToTheOwnersControlAfterAModalChild) {
  HWND outer = openOuter();
  pWndFocus(outer, kList);
  headless::onDialog(kInner, [](HWND h) {
    pWndFocus(h, kInnerEdit);
    tkEndDialog(h, 0);
  });
  tkDialogBox(instance, kInner, outer, recordingProc, 0);
  EXPECT_EQ(headless::focused(), tkGetDlgItem(outer, kList));
  EXPECT_EQ(tkActiveWindow(), outer);
}

int enabledDuringBox = -1;
TEST_F(Lifetimes, BoxOwnedThroughAControlDisablesItsDialog) {
  HWND outer = openOuter();
  enabledDuringBox = -1;
  headless::answerBox(IDOK, 100);
  pTimer(outer, 4, 50, [](HWND h, UINT, uintptr_t, uint32_t) { enabledDuringBox = tkIsEnabled(h, 0); });
  EXPECT_EQ(pAlert("c", "t", tkGetDlgItem(outer, kEdit), 0, 64), IDOK);
  EXPECT_EQ(enabledDuringBox, 0);
  EXPECT_EQ(headless::boxes().back().owner, outer);
  EXPECT_EQ(tkIsEnabled(outer, 0), 1);
}

TEST_F(Lifetimes, ProgrammaticTextChangesNotifyLikeTyping) {
  HWND outer = openOuter();
  headless::settle();
  seen.commands.clear();
  pWriteWndStr(outer, kEdit, "set");
  EXPECT_EQ(std::count(seen.commands.begin(), seen.commands.end(), std::make_pair(int(kEdit), int(EN_CHANGE))), 2)
      << "emptied, then set";
}

int beforeWaits = 0;
TEST_F(Lifetimes, PresenterHookRunsBeforeEachSleep) {
  beforeWaits = 0;
  waSetBeforeWait([] { beforeWaits++; });
  HWND outer = openOuter();
  pTimer(outer, 1, 100, nullptr);
  pDoEvent(1000);
  waSetBeforeWait(nullptr);
  EXPECT_GE(beforeWaits, 10);
  int after = beforeWaits;
  pDoEvent(1000);
  EXPECT_EQ(beforeWaits, after);
}

}  // namespace
