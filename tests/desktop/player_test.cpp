// The script player on the headless presenter and the virtual clock: a "text"
// step waits for a control's text, and gives up when it never comes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "winapi/fltk/script.h"
#include "winapi/headless/driver.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace {

constexpr int32_t kDialogId = 900, kStatusId = 901;
const ControlTemplate kControls[] = {{kStatusId, CTL_STATIC, 2, 2, 100, 10, 0, "", 0}};
const DialogTemplate kDialog{kDialogId, DS_CAPTION | DS_VISIBLE, "Player", "Courier New", 9, 120, 20, kControls, 1};
const DialogTemplate* const kDialogs[] = {&kDialog};
const ResourceSet kSet{"player", kDialogs, 1, nullptr, nullptr};

LRESULT Quiet(HWND, UINT, WPARAM, LPARAM) { return 0; }

struct Setter {
  HWND control;
  std::string text;
};
void SetLater(void* p) {
  auto* s = static_cast<Setter*>(p);
  waSendMessage(s->control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s->text.c_str()));
}

// One log per process: ctest runs the two tests of this file side by side.
const std::string kLogPath = testing::TempDir() + "player-" + std::to_string(getpid()) + ".log";

// Plays steps while the clock runs for at most ms; returns the virtual
// time at which the player stopped (done or failed).
uint32_t Play(const std::vector<vlfl::Step>& steps, uint32_t ms) {
  std::remove(kLogPath.c_str());
  uint32_t start = waNow();
  vlfl::startScript(steps, kLogPath);
  while (vlfl::scriptRunning() && waNow() - start < ms) waPump(100);
  uint32_t stopped = waNow() - start;
  for (int i = 0; i < 10; i++) waPump(100);  // a last pause still has to log its end
  return stopped;
}

std::string LastLogLine() {
  vlfl::resetScript();  // closes the log
  std::ifstream in(kLogPath);
  std::string line, last;
  while (std::getline(in, line)) last = line;
  return last;
}

TEST(DesktopPlayer, TextStepWaitsForTheControlsText) {
  struct Case {
    const char* pattern;
    const char* shownAt5s;
    bool passes;
  } cases[] = {
      {"All local mails delivered*", "All local mails delivered", true},
      {"All local mails delivered*", "All local mails delivered; 1 restamped", true},
      {"Done", "Done", true},
      {"Done", "Done!", false},  // no '*': the whole text must match
      {"All local mails delivered*", "Delivering local mails...", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " / " + c.shownAt5s);
    vlfl::resetScript();
    headless::reset(true, 0);
    HINSTANCE instance = waRegisterResources(&kSet);
    HWND dialog = waCreateDialog(instance, kDialogId, 0, Quiet, 0);
    ASSERT_NE(dialog, HWND(0));
    Setter setter{waGetDlgItem(dialog, kStatusId), c.shownAt5s};
    waAddDeadline(5000, SetLater, &setter);

    std::vector<vlfl::Step> steps;
    std::string error;
    ASSERT_TRUE(vlfl::parseScript(std::string("text Player 901 \"") + c.pattern + "\"\nsleep 10\n", steps, error))
        << error;
    uint32_t stopped = Play(steps, 120000);
    EXPECT_FALSE(vlfl::scriptRunning());
    EXPECT_EQ(vlfl::scriptFailed(), !c.passes);
    if (c.passes) {
      EXPECT_EQ(vlfl::scriptStepsDone(), 2);
      EXPECT_GE(stopped, 5000u) << "not before the text was shown";
      EXPECT_LT(stopped, 6000u);
      EXPECT_EQ(LastLogLine(), "end") << "a script ending in a pause logs its end";
    } else {
      EXPECT_EQ(vlfl::scriptStepsDone(), 0);
      EXPECT_GE(stopped, 60000u) << "a wait gives up only after its full time";
      EXPECT_EQ(LastLogLine(), "fail 1: waited too long");
    }
    waDestroyWindow(dialog);
  }
  vlfl::resetScript();
}

TEST(DesktopPlayer, TextStepOnAMissingControlFailsAtOnce) {
  vlfl::resetScript();
  headless::reset(true, 0);
  HINSTANCE instance = waRegisterResources(&kSet);
  HWND dialog = waCreateDialog(instance, kDialogId, 0, Quiet, 0);
  std::vector<vlfl::Step> steps;
  std::string error;
  ASSERT_TRUE(vlfl::parseScript("text Player 999 x\n", steps, error));
  EXPECT_LT(Play(steps, 120000), 1000u);
  EXPECT_TRUE(vlfl::scriptFailed());
  waDestroyWindow(dialog);
  vlfl::resetScript();
}

}  // namespace
