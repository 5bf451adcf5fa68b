// winapi/headless/driver.h -- driving dialogs from tests and scripted runs.
//
// The headless presenter has no screen: every window's state lives in the
// dialog manager and is read here. Actions act as a user would (a click on a
// disabled button does nothing and returns false) and post the same
// notifications; they are dispatched by the next pump, so act from inside a
// modal loop (onDialog hooks run as a dialog becomes ready, with its handle)
// or call settle() afterwards.
//
// Boxes are answered from scripts, one queue per kind. A box that appears with
// nothing scripted is a failure (recorded in failures()) and gets the default
// answer, so a test fails instead of hanging; so does a modal dialog that
// waits with nothing left to happen, or one still open after the modal budget
// of virtual time. Control id 0 means the dialog itself.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "winapi/presenter.h"

namespace headless {

struct Row {
  std::string text;
  LPARAM data;
  bool operator==(const Row&) const = default;
};

struct ShownBox {
  WaBox::Kind kind;
  HWND owner;
  std::string caption;
  std::string text;
  int32_t style;
  std::vector<std::string> filter;
  int32_t answer;    // the button, or 1 chosen / 0 cancelled
  std::string path;  // choosers: the path answered
};

// A fresh world: dialog manager, event loop and driver state; the clock
// virtual (starting at start) or real; headless presenter; screen 1280 x 1024.
WA_API void reset(bool virtualClock = true, uint32_t start = 0);
WA_API void setScreen(int32_t width, int32_t height);

// Scripts (answered afterMs milliseconds after the box opens; timers run meanwhile).
WA_API void answerBox(int32_t button, uint32_t afterMs = 0);
WA_API void answerFile(const std::string& path, uint32_t afterMs = 0);    // "" cancels
WA_API void answerFolder(const std::string& path, uint32_t afterMs = 0);  // "" cancels
WA_API size_t unusedAnswers();
// Runs hook once, the next time a dialog made from templateId is ready.
WA_API void onDialog(int32_t templateId, std::function<void(HWND)> hook);

WA_API const std::vector<ShownBox>& boxes();
WA_API const std::vector<std::string>& failures();

// Actions.
WA_API bool click(HWND dialog, int32_t id);
WA_API bool type(HWND dialog, int32_t id, const std::string& text);
WA_API bool keyUp(HWND dialog, int32_t id, int32_t vk);
WA_API bool keyPress(HWND dialog, int32_t id, int32_t vk);  // down, then up
WA_API bool selectRow(HWND dialog, int32_t id, int32_t row);
WA_API bool doubleClick(HWND dialog, int32_t id, int32_t row);
WA_API bool pickCombo(HWND dialog, int32_t id, const std::string& text);
WA_API bool tick(HWND dialog, int32_t id, bool on);
WA_API bool pressCloseBox(HWND dialog);
WA_API bool mouseUp(HWND dialog, int32_t x = 10, int32_t y = 10);
WA_API bool restore(HWND dialog);
WA_API bool focus(HWND dialog, int32_t id);
WA_API void updateUiState(HWND dialog);
WA_API void uncover(HWND dialog);  // asks for a repaint
// Dispatches everything ready now, without moving the clock.
WA_API void settle();

// Reads.
WA_API HWND dialog(int32_t templateId);  // the newest open one, 0 if none
WA_API std::vector<HWND> openDialogs();
WA_API HWND control(HWND dialog, int32_t id);
WA_API std::string text(HWND dialog, int32_t id);
WA_API bool enabled(HWND dialog, int32_t id);
WA_API bool visible(HWND dialog, int32_t id);  // the window's own flag
WA_API std::vector<Row> rows(HWND dialog, int32_t id);
WA_API int32_t selection(HWND dialog, int32_t id);
WA_API int32_t progress(HWND dialog, int32_t id);
WA_API bool checked(HWND dialog, int32_t id);
WA_API int32_t image(HWND dialog, int32_t id);  // bitmap drawn last, 0 none
WA_API RECT rect(HWND dialog, int32_t id);      // screen pixels
WA_API HWND focused();
WA_API int32_t focusedId();  // control id of the focus, 0 for none or a dialog
WA_API int32_t paints(HWND dialog);
WA_API int32_t frames(HWND dialog);

}  // namespace headless
