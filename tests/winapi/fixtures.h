// Small templates of our own and a fixture that gives every test a fresh
// dialog manager on the virtual clock.
#pragma once
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"
#include "toolkit/window.h"
#include "winapi/headless/driver.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace fixtures {

// 100: an outer dialog (9 pt, 200 x 100 units) with an edit, a list, a combo,
// buttons, a check box, a progress bar and a picture.
enum { kOuter = 100, kEdit = 101, kList = 102, kCombo = 103, kOpen = 104, kEnd = 105, kCheck = 106, kBar = 107,
       kPicture = 108, kSorted = 109, kDigits = 110, kMemo = 111, kHidden = 112 };
// 200: an inner dialog with one want-return edit and a button.
enum { kInner = 200, kInnerEdit = 201, kInnerEnd = 202 };
// 300: a minimised, visible, close-box dialog with a default push button.
enum { kConsole = 300, kConsoleGo = 301 };
enum { kPictureId = 120, kIconId = 100 };

inline const ControlTemplate outerControls[] = {
    {kEdit, CTL_EDIT, 4, 4, 80, 10, CS_TABSTOP, "start", 0},
    {kList, CTL_LISTBOX, 4, 18, 80, 40, CS_TABSTOP, nullptr, 0},
    {kCombo, CTL_COMBOBOX, 90, 4, 40, 40, CS_TABSTOP, nullptr, 0},
    {kOpen, CTL_BUTTON, 90, 60, 30, 12, CS_TABSTOP, "Open", 0},
    {kEnd, CTL_BUTTON, 124, 60, 30, 12, CS_TABSTOP, "End", 0},
    {kCheck, CTL_CHECKBOX, 4, 62, 60, 8, CS_TABSTOP | CS_LEFTTEXT, "Check", 0},
    {kBar, CTL_PROGRESS, 4, 74, 100, 8, 0, nullptr, 0},
    {kPicture, CTL_BITMAP, 140, 4, 50, 20, 0, nullptr, 0},
    {kSorted, CTL_LISTBOX, 140, 30, 50, 30, CS_SORT, nullptr, 0},
    {kDigits, CTL_EDIT, 4, 86, 40, 10, CS_NUMBER, nullptr, 0},
    {kMemo, CTL_EDIT, 50, 86, 80, 10, CS_MULTILINE | CS_WANTRETURN, nullptr, 0},
    {kHidden, CTL_BUTTON, 140, 86, 30, 10, CS_HIDDEN, "Hidden", 0},
};
inline const DialogTemplate outerTemplate{kOuter, DS_CAPTION | DS_SYSMENU | DS_VISIBLE, "Outer", "Courier New", 9, 200, 100,
                                          outerControls, int32_t(std::size(outerControls))};

inline const ControlTemplate innerControls[] = {
    {kInnerEdit, CTL_EDIT, 2, 3, 152, 10, CS_WANTRETURN | CS_AUTOHSCROLL, nullptr, 0},
    {kInnerEnd, CTL_BUTTON, 2, 15, 30, 10, 0, "End", 0},
};
inline const DialogTemplate innerTemplate{kInner, DS_CAPTION | DS_SYSMENU | DS_TOOLWINDOW, "Inner", "Courier New",
                                          12, 157, 30, innerControls, int32_t(std::size(innerControls))};

inline const ControlTemplate consoleControls[] = {
    {kConsoleGo, CTL_BUTTON, 2, 2, 38, 12, CS_DEFPUSH | CS_TABSTOP, "Go", 0},
};
inline const DialogTemplate consoleTemplate{kConsole,
                                            DS_CAPTION | DS_SYSMENU | DS_MINIMIZED | DS_VISIBLE,
                                            "Console",
                                            "Courier New",
                                            9,
                                            510,
                                            89,
                                            consoleControls,
                                            1};

inline const DialogTemplate* const dialogs[] = {&outerTemplate, &innerTemplate, &consoleTemplate};

inline const uint8_t pixels[3 * 4] = {};
inline const BitmapResource picture{kPictureId, 2, 2, 24, pixels};
inline const BitmapResource* bitmapById(int32_t id) { return id == kPictureId ? &picture : nullptr; }
inline const IconResource icon{kIconId, 1, 1, pixels};
inline const IconResource* iconById(int32_t id) { return id == kIconId ? &icon : nullptr; }

inline const ResourceSet resources{"Test.exe", dialogs, int32_t(std::size(dialogs)), bitmapById, iconById};

// A dialog procedure that records what it saw, for tests to inspect.
struct Seen {
  int inits = 0, paints = 0, timers = 0, closes = 0, mouseUps = 0;
  std::vector<std::pair<int, int>> commands;  // (id, code)
  LPARAM initParam = 0;
};
inline Seen seen;

inline LRESULT recordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
  switch (m) {
    case WM_INITDIALOG: seen.inits++; seen.initParam = l; return 1;
    case WM_PAINT: seen.paints++; return 1;
    case WM_TIMER: seen.timers++; return 1;
    case WM_CLOSE: seen.closes++; return 0;
    case WM_LBUTTONUP: seen.mouseUps++; tkEndDialog(h, 77); return 1;
    case WM_COMMAND:
      seen.commands.emplace_back(int(w & 0xFFFF), int((w >> 16) & 0xFFFF));
      if ((w & 0xFFFF) == kEnd || (w & 0xFFFF) == kInnerEnd) tkEndDialog(h, 5);
      return 1;
    default: return 0;
  }
}

// A parameterised case named by its description.
inline std::string caseName(const char* what) {
  std::string name;
  for (const char* c = what; *c; c++) name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

class Manager : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::reset(true, 1000);
    tkResetWindowHelpers();
    seen = Seen{};
    instance = tkModuleHandle(&resources);
  }
  // Failures of the driver (unanswered boxes, stuck dialogs) fail the test
  // unless the test looked at them itself.
  void TearDown() override {
    if (!expectFailures) {
      EXPECT_TRUE(headless::failures().empty()) << headless::failures().front();
    }
  }
  HWND openOuter() { return tkCreateDialog(instance, kOuter, 0, recordingProc, 42); }

  HINSTANCE instance = 0;
  bool expectFailures = false;
};

}  // namespace fixtures
