// Driving the mail dialogs from tests: a stand-in console that records every
// status text, and a step runner that acts as a user would, one step at a
// time, whenever the dialog a step needs is the one in front and ready.
//
// Steps run from a deadline of the one event loop, so they run inside the
// program's own modal loops and pauses; a step that is not possible yet
// (its dialog is busy, behind a box or not open) is tried again 50 ms later
// in virtual time. Boxes are scripted by the step that causes them.
#pragma once
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "accounts/contacts.h"
#include "accounts/mailbox.h"
#include "accounts/reader.h"
#include "accounts/writer.h"
#include "console/console.h"
#include "console/prompt.h"
#include "resources/resources.h"
#include "tests/accounts/mail_fixture.h"
#include "toolkit/dialog.h"
#include "winapi/headless/driver.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace mailtest {

struct StatusLog {
  std::vector<std::string> texts;
  WNDPROC previous = nullptr;
};

inline StatusLog& Statuses() {
  static StatusLog log;
  return log;
}

inline LRESULT RecordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam != 0) {
    std::string text(reinterpret_cast<const char*>(lParam));
    if (!text.empty()) Statuses().texts.push_back(text);
  }
  return tkCallWindowProc(Statuses().previous, window, message, wParam, lParam);
}

inline LRESULT StandInConsole(HWND, UINT, WPARAM, LPARAM) { return 0; }

inline bool Shown(const std::string& text) {
  for (const std::string& t : Statuses().texts)
    if (t == text) return true;
  return false;
}

inline bool ShownStarting(const std::string& start) {
  for (const std::string& t : Statuses().texts)
    if (t.rfind(start, 0) == 0) return true;
  return false;
}

// The newest open dialog of a template when it is in front, shown and
// enabled (no box over it, not busy), else 0.
inline HWND Ready(int32_t templateId) {
  std::vector<HWND> all = headless::openDialogs();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    const WaWindow* w = waWindow(*it);
    if (w == nullptr || w->ended || !w->visible) continue;
    if (w->templateId != templateId || !w->enabled) {
      return 0;
    }
    return *it;
  }
  return 0;
}

class Steps {
 public:
  using Step = std::function<bool()>;

  Steps& Then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
  }
  // Acts on dialog templateId once it is ready.
  Steps& In(int32_t templateId, std::function<void(HWND)> act) {
    return Then([templateId, act] {
      HWND d = Ready(templateId);
      if (d == 0) return false;
      act(d);
      return true;
    });
  }
  Steps& Click(int32_t templateId, int32_t id) {
    return In(templateId, [id](HWND d) { EXPECT_TRUE(headless::click(d, id)) << "control " << id; });
  }
  // Scripts the boxes the next click causes, then clicks.
  Steps& ClickAnswering(int32_t templateId, int32_t id, std::vector<int32_t> buttons) {
    return In(templateId, [id, buttons](HWND d) {
      for (int32_t b : buttons) headless::answerBox(b);
      EXPECT_TRUE(headless::click(d, id)) << "control " << id;
    });
  }
  // Answers the prompt in front: the text into its visible edit, then Enter
  // (the first key release only arms the prompt's filter).
  Steps& Prompt(const std::string& answer, const std::string& caption = "") {
    return In(kPromptDialogId, [answer, caption](HWND d) {
      if (!caption.empty()) {
        EXPECT_EQ(headless::text(d, 0), caption);
      }
      for (int32_t id : {kPromptTextEditId, kPromptDigitEditId, kPromptKeyEditId}) {
        if (!headless::visible(d, id)) continue;
        headless::type(d, id, answer);
        headless::keyUp(d, id, VK_RETURN);
        headless::keyUp(d, id, VK_RETURN);
        return;
      }
      ADD_FAILURE() << "no edit shown in the prompt";
    });
  }
  // Answers the prompt in front and scripts the boxes its answer causes.
  Steps& PromptAnswering(const std::string& answer, std::vector<int32_t> buttons) {
    return In(kPromptDialogId, [answer, buttons](HWND d) {
      for (int32_t b : buttons) headless::answerBox(b);
      for (int32_t id : {kPromptTextEditId, kPromptDigitEditId, kPromptKeyEditId}) {
        if (!headless::visible(d, id)) continue;
        headless::type(d, id, answer);
        headless::keyUp(d, id, VK_RETURN);
        headless::keyUp(d, id, VK_RETURN);
        return;
      }
    });
  }
  Steps& Until(std::function<bool()> condition) { return Then(condition); }
  Steps& Do(std::function<void()> act) {
    return Then([act] {
      act();
      return true;
    });
  }

  void Start() { Arm(); }
  bool Finished() const { return steps_.empty(); }
  size_t Left() const { return steps_.size(); }

 private:
  void Arm() { waAddDeadline(50, &Steps::Tick, this); }
  static void Tick(void* context) {
    Steps* self = static_cast<Steps*>(context);
    if (!self->steps_.empty() && self->steps_.front()()) {
      self->steps_.pop_front();
      self->tries_ = 0;
    } else if (++self->tries_ > kMaxTries) {
      // A step that never becomes possible: give up, so the dialogs are
      // left with nothing to drive them and the run ends as a failure.
      ADD_FAILURE() << "a step waited " << kMaxTries * 50 / 1000 << " s; " << self->steps_.size() << " left";
      self->steps_.clear();
    }
    if (!self->steps_.empty()) self->Arm();
  }
  static constexpr int kMaxTries = 20000;
  std::deque<Step> steps_;
  int tries_ = 0;
};

// One machine with its dialogs: headless presenter on the virtual clock,
// the program's resources, and a stand-in console whose status line is
// recorded.
class MailDesk {
 public:
  explicit MailDesk(const std::string& machId = "0211234567") : machine(machId) {
    headless::reset(true, 1000);
    ResetConsole();
    ResetMailbox();
    ResetReader();
    ResetWriter();
    ResetCompose();
    ResetContacts();
    ResetPrompt();
    Statuses() = StatusLog{};
    instance = tkModuleHandle(&VelloranResources());
    pClrMem(&context, sizeof context);
    context.instance = instance;
    context.screenWidth = 1280;
    context.screenHeight = 1024;
    console = tkCreateDialog(instance, 2000, 0, StandInConsole, 0);
    Console().record.handle = console;
    Console().record.height = 200;
    Console().context = context;
    Console().statusLine = tkGetDlgItem(console, kStatusLineId);
    Statuses().previous = reinterpret_cast<WNDPROC>(pWndProcAddr(1, console, kStatusLineId, RecordStatus));
  }
  ~MailDesk() {
    tkDestroyWindow(console);
    ResetConsole();
    ResetMailbox();
    ResetReader();
    ResetWriter();
    ResetCompose();
    ResetContacts();
  }

  // Logs in as id (its account must exist) and runs the mailbox until the
  // steps log out.
  void RunMailbox(const std::string& id, Steps& steps) {
    machine.OpenAs(id);
    steps.Start();
    OpenMailbox(console, &context);
    ResetActiveAccount();
  }

  void ExpectCleanRun(const Steps& steps) const {
    EXPECT_TRUE(steps.Finished()) << steps.Left() << " steps were not reached";
    for (const std::string& f : headless::failures()) ADD_FAILURE() << f;
    EXPECT_EQ(headless::unusedAnswers(), 0u);
  }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const headless::ShownBox& b : headless::boxes())
      if (b.kind == WaBox::Message) texts.push_back(b.text);
    return texts;
  }

  MailMachine machine;
  HINSTANCE instance = 0;
  WindowContext context{};
  HWND console = 0;
};

}  // namespace mailtest
