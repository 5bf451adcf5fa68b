// The headless presenter and its driver (driver.h): no screen, every state
// in the dialog manager's records, boxes answered from scripts.
#include <deque>
#include <map>
#include <type_traits>
#include <utility>

#include "winapi/headless/driver.h"
#include "winapi/internal.h"
#include "winapi/loop.h"

namespace {

struct Answer {
  int32_t result;
  std::string path;
  uint32_t afterMs;
};

struct PendingAnswer {
  uint32_t boxId;
  Answer answer;
};

// The whole state of the headless side.
struct Headless {
  int32_t screenWidth = 1280, screenHeight = 1024;
  std::deque<Answer> messageAnswers, fileAnswers, folderAnswers;
  std::multimap<int32_t, std::function<void(HWND)>> hooks;
  std::vector<headless::ShownBox> shown;
  std::vector<std::string> failures;
  std::deque<PendingAnswer> pending;
};

Headless hs;

// A machine run without windows answers boxes for weeks: what is kept for a
// test to read back is the latest stretch, not the whole life.
constexpr size_t kKeptRecords = 1000;

template <typename T>
void remember(std::vector<T>& records, std::type_identity_t<T> record) {
  if (records.size() >= kKeptRecords) records.erase(records.begin(), records.begin() + kKeptRecords / 2);
  records.push_back(std::move(record));
}

void deliverAnswer(void* context) {
  uint32_t boxId = uint32_t(uintptr_t(context));
  for (auto it = hs.pending.begin(); it != hs.pending.end(); ++it) {
    if (it->boxId != boxId) continue;
    PendingAnswer p = *it;
    hs.pending.erase(it);
    waAnswerBox(boxId, p.answer.result, p.answer.path);
    return;
  }
}

std::deque<Answer>& scriptFor(WaBox::Kind kind) {
  if (kind == WaBox::Message) return hs.messageAnswers;
  if (kind == WaBox::Folder) return hs.folderAnswers;
  return hs.fileAnswers;
}

int32_t defaultButton(int32_t style) { return (style & 0x0F) == MB_YESNO ? IDYES : IDOK; }

class HeadlessPresenter : public WaPresenter {
 public:
  bool isDesktop() const override { return false; }
  int32_t screenWidth() const override { return hs.screenWidth; }
  int32_t screenHeight() const override { return hs.screenHeight; }
  void created(const WaWindow&) override {}
  void changed(const WaWindow&, uint32_t) override {}
  void destroyed(HWND) override {}

  void dialogReady(HWND dialog) override {
    const WaWindow* w = waWindow(dialog);
    if (w == nullptr) return;
    auto it = hs.hooks.find(w->templateId);
    if (it == hs.hooks.end()) return;
    auto hook = std::move(it->second);
    hs.hooks.erase(it);
    hook(dialog);
  }

  void showBox(const WaBox& box) override {
    headless::ShownBox s{box.kind, box.owner, box.caption, box.text, box.style, box.filter, 0, ""};
    std::deque<Answer>& script = scriptFor(box.kind);
    Answer a{box.kind == WaBox::Message ? defaultButton(box.style) : 0, "", 0};
    if (script.empty()) {
      remember(hs.failures, "no answer scripted for box \"" + box.caption + "\": \"" + box.text + "\"");
    } else {
      a = script.front();
      script.pop_front();
    }
    s.answer = a.result;
    s.path = a.path;
    remember(hs.shown, s);
    hs.pending.push_back(PendingAnswer{box.id, a});
    waAddDeadline(a.afterMs, deliverAnswer, reinterpret_cast<void*>(uintptr_t(box.id)));
  }

  void hideBox(uint32_t) override {}

  void stuck(HWND dialog, uint32_t boxId) override {
    if (boxId) {
      remember(hs.failures, "a box waited with nothing left to happen");
      auto it = wa::state().boxes.find(boxId);
      bool message = it != wa::state().boxes.end() && it->second.kind == WaBox::Message;
      waAnswerBox(boxId, message ? defaultButton(it->second.style) : 0, "");
      return;
    }
    const WaWindow* w = waWindow(dialog);
    if (w) {
      remember(hs.failures,
               "dialog " + std::to_string(w->templateId) + " stayed open with nothing left to drive it");
      waEndDialog(dialog, 0);
      return;
    }
    remember(hs.failures, "the message loop waited with nothing left to happen");
    waPostQuitMessage(0);
  }
};

HeadlessPresenter presenterInstance;

HWND target(HWND dialog, int32_t id) { return id == 0 ? dialog : waGetDlgItem(dialog, id); }
const WaWindow* targetWindow(HWND dialog, int32_t id) { return waWindow(target(dialog, id)); }

}  // namespace

namespace wa {
WaPresenter& headlessPresenter() { return presenterInstance; }
}  // namespace wa

namespace headless {

void reset(bool virtualClock, uint32_t start) {
  waSetPresenter(nullptr);
  waResetDialogManager();
  waResetLoop();
  waSetVirtualClock(virtualClock ? 1 : 0, start);
  hs = Headless{};
}

void setScreen(int32_t width, int32_t height) {
  hs.screenWidth = width;
  hs.screenHeight = height;
}

void answerBox(int32_t button, uint32_t afterMs) { hs.messageAnswers.push_back(Answer{button, "", afterMs}); }
void answerFile(const std::string& path, uint32_t afterMs) {
  hs.fileAnswers.push_back(Answer{path.empty() ? 0 : 1, path, afterMs});
}
void answerFolder(const std::string& path, uint32_t afterMs) {
  hs.folderAnswers.push_back(Answer{path.empty() ? 0 : 1, path, afterMs});
}
size_t unusedAnswers() { return hs.messageAnswers.size() + hs.fileAnswers.size() + hs.folderAnswers.size(); }
void onDialog(int32_t templateId, std::function<void(HWND)> hook) { hs.hooks.emplace(templateId, std::move(hook)); }

const std::vector<ShownBox>& boxes() { return hs.shown; }
const std::vector<std::string>& failures() { return hs.failures; }

bool click(HWND dialog, int32_t id) { return waUserClick(target(dialog, id)); }
bool type(HWND dialog, int32_t id, const std::string& text) { return waUserType(target(dialog, id), text); }
bool keyUp(HWND dialog, int32_t id, int32_t vk) { return waUserKey(target(dialog, id), vk, false); }
bool keyPress(HWND dialog, int32_t id, int32_t vk) {
  HWND h = target(dialog, id);
  return waUserKey(h, vk, true) && waUserKey(h, vk, false);
}
bool selectRow(HWND dialog, int32_t id, int32_t row) { return waUserSelect(target(dialog, id), row, false); }
bool doubleClick(HWND dialog, int32_t id, int32_t row) { return waUserSelect(target(dialog, id), row, true); }

bool pickCombo(HWND dialog, int32_t id, const std::string& text) {
  const WaWindow* w = targetWindow(dialog, id);
  if (w == nullptr || w->kind != CTL_COMBOBOX) return false;
  for (size_t i = 0; i < w->items.size(); i++)
    if (w->items[i].text == text) return waUserSelect(w->handle, int32_t(i), false);
  return false;
}

bool tick(HWND dialog, int32_t id, bool on) {
  const WaWindow* w = targetWindow(dialog, id);
  if (w == nullptr || w->kind != CTL_CHECKBOX) return false;
  if ((w->checked != 0) == on) return true;
  return waUserClick(w->handle);
}

bool pressCloseBox(HWND dialog) { return waUserClose(dialog); }
bool mouseUp(HWND dialog, int32_t x, int32_t y) { return waUserMouseUp(dialog, x, y); }
bool restore(HWND dialog) { return waUserRestore(dialog); }
bool focus(HWND dialog, int32_t id) { return waUserFocus(target(dialog, id)); }
void updateUiState(HWND dialog) { waUserUpdateUiState(dialog); }
void uncover(HWND dialog) { waInvalidate(dialog); }

void settle() {
  while (waPump(0)) {
  }
}

HWND dialog(int32_t templateId) {
  std::vector<HWND> all = waDialogs();
  for (auto it = all.rbegin(); it != all.rend(); ++it)
    if (const WaWindow* w = waWindow(*it); w && w->templateId == templateId && !w->ended) return *it;
  return 0;
}

std::vector<HWND> openDialogs() { return waDialogs(); }
HWND control(HWND dialog, int32_t id) { return target(dialog, id); }

std::string text(HWND dialog, int32_t id) {
  const WaWindow* w = targetWindow(dialog, id);
  return w ? w->text : std::string();
}
bool enabled(HWND dialog, int32_t id) {
  const WaWindow* w = targetWindow(dialog, id);
  return w && w->enabled;
}
bool visible(HWND dialog, int32_t id) {
  const WaWindow* w = targetWindow(dialog, id);
  return w && w->visible;
}
std::vector<Row> rows(HWND dialog, int32_t id) {
  std::vector<Row> out;
  if (const WaWindow* w = targetWindow(dialog, id))
    for (const WaItem& item : w->items) out.push_back(Row{item.text, item.data});
  return out;
}
int32_t selection(HWND dialog, int32_t id) {
  const WaWindow* w = targetWindow(dialog, id);
  return w ? w->selection : -1;
}
int32_t progress(HWND dialog, int32_t id) {
  const WaWindow* w = targetWindow(dialog, id);
  return w ? w->position : 0;
}
bool checked(HWND dialog, int32_t id) {
  const WaWindow* w = targetWindow(dialog, id);
  return w && w->checked;
}
int32_t image(HWND dialog, int32_t id) {
  const WaWindow* w = targetWindow(dialog, id);
  return w ? w->imageId : 0;
}
RECT rect(HWND dialog, int32_t id) {
  RECT r{};
  waGetWindowRect(target(dialog, id), &r);
  return r;
}
HWND focused() { return waGetFocus(); }
int32_t focusedId() { return waGetDlgCtrlID(waGetFocus()); }
int32_t paints(HWND dialog) {
  const WaWindow* w = waWindow(dialog);
  return w ? w->paints : 0;
}
int32_t frames(HWND dialog) {
  const WaWindow* w = waWindow(dialog);
  return w ? w->frames : 0;
}

}  // namespace headless
