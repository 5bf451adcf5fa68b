// Background work: its pauses go on at their time whatever dialog is open,
// posted input waits while its own steps pump the loop, and a cancel ends it
// at its pause, unwinding its stack.
#include <string>
#include <vector>

#include "fixtures.h"
#include "winapi/task.h"

using namespace fixtures;

namespace {

class Task : public Manager {
 protected:
  void TearDown() override {
    tkCancelWork();
    Manager::TearDown();
  }
};

std::vector<uint32_t> stepsAt;

void ThreeSteps(void*) {
  for (int i = 0; i < 3; ++i) {
    pDoEvent(1000);
    stepsAt.push_back(waNow());
  }
}

TEST_F(Task, PausesGoOnAtTheirTimeWhileADialogIsOpen) {
  stepsAt.clear();
  const uint32_t start = waNow();
  ASSERT_EQ(tkStartWork(ThreeSteps, nullptr), 1);
  EXPECT_TRUE(stepsAt.empty()) << "back here at its first pause";
  EXPECT_EQ(tkStartWork(ThreeSteps, nullptr), 0) << "one at a time";
  // A modal dialog opened now: the work goes on inside its loop.
  headless::onDialog(kInner, [](HWND d) {
    pDoEvent(5000);
    tkEndDialog(d, 1);
  });
  tkDialogBox(instance, kInner, openOuter(), recordingProc, 0);
  EXPECT_EQ(stepsAt, (std::vector<uint32_t>{start + 1000, start + 2000, start + 3000}));
  EXPECT_EQ(tkWorkRunning(), 0);
}

// A library that waits inside a step by pumping the loop itself.
HWND outerWindow = 0;
uint32_t OpenCommands() {
  uint32_t n = 0;
  for (const auto& [id, code] : seen.commands) n += id == kOpen ? 1 : 0;
  return n;
}
void PumpsInsideAStep(void*) {
  waPostMessage(outerWindow, WM_COMMAND, kOpen, 0);
  for (int i = 0; i < 10; ++i) waPump(100);
  stepsAt.push_back(OpenCommands());
  pDoEvent(100);
  stepsAt.push_back(OpenCommands());
}

TEST_F(Task, InputWaitsWhileItsOwnStepsPump) {
  stepsAt.clear();
  outerWindow = openOuter();
  tkStartWork(PumpsInsideAStep, nullptr);
  pDoEvent(1000);
  EXPECT_EQ(stepsAt, (std::vector<uint32_t>{0, 1})) << "the command came at the step's pause";
}

struct Unwound {
  ~Unwound() { stepsAt.push_back(1); }
};
void WaitsLong(void*) {
  Unwound unwound;
  pDoEvent(70000);
  stepsAt.push_back(2);
}

TEST_F(Task, ACancelEndsItAtItsPause) {
  stepsAt.clear();
  tkStartWork(WaitsLong, nullptr);
  const uint32_t start = waNow();
  tkCancelWork();
  EXPECT_EQ(waNow(), start);
  EXPECT_EQ(stepsAt, std::vector<uint32_t>{1}) << "unwound, and nothing after the pause ran";
  EXPECT_EQ(tkWorkRunning(), 0);
}

}  // namespace
