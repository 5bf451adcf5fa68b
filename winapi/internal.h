// winapi/internal.h -- the dialog manager's state, shared by its own files only.
#pragma once
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winapi/presenter.h"
#include "winapi/winapi.h"

namespace wa {

struct Posted {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

struct Timer {
  HWND window;
  uintptr_t id;
  uint32_t interval;
  TIMERPROC handler;
  uint32_t deadline;  // loop deadline of the next firing
  bool due;           // a WM_TIMER waits to be delivered
  uint64_t order;     // firing order, so due timers go out oldest first
};

struct WindowClass {
  std::string name;
  WNDPROC procedure;
  HINSTANCE instance;
  uint32_t style;
};

struct Font {
  int32_t height, width, weight, italic, charset;
  std::string face;
};

// The whole state of the dialog manager; reset() gives a fresh process.
struct Manager {
  std::map<HWND, std::shared_ptr<WaWindow>> windows;
  std::vector<HWND> dialogOrder;
  HWND nextHandle = 16;
  std::deque<Posted> queue;
  std::vector<Timer> timers;
  uint64_t timerOrder = 0;
  std::vector<const ResourceSet*> instances;  // HINSTANCE = index + 1
  // The program's module handle (Windows), answering for its resource set.
  HINSTANCE module = 0;
  const ResourceSet* moduleResources = nullptr;
  HWND focus = 0;
  HWND active = 0;
  bool quit = false;
  int32_t quitCode = 0;
  std::map<uint32_t, WaBox> boxes;
  uint32_t nextBox = 1;
  std::vector<WindowClass> classes;
  std::map<HFONT, Font> fonts;
  HFONT nextFont = 1;
  HDC nextDC = 1;
  uint32_t modalBudget = 2u * 24 * 3600 * 1000;
  WaPresenter* presenter = nullptr;
  WaPresenter* (*desktopFactory)() = nullptr;
  bool desktopTried = false;
};

Manager& state();
WaWindow* find(HWND window);
// The dialog a window belongs to (a control's dialog, a dialog itself), 0 for none.
HWND ownerDialog(HWND window);
std::shared_ptr<WaWindow> hold(HWND window);
WaPresenter& presenter();
void changed(WaWindow& window, uint32_t what);
// WM_COMMAND from a control to its dialog, sent at once or posted.
void notifyParent(const WaWindow& control, int32_t code, bool post);
WNDPROC defaultProcedure(ControlKind kind);
WaPresenter& headlessPresenter();
// Makes the event loop poll this manager's queue (idempotent).
void installQueue();
// Case-insensitive comparison of code page 1252 text (letters of both halves).
int compareFolded(const std::string& a, const std::string& b);
// Pixels of a dialog unit at the template's point size.
int32_t unitsToPixelsX(int32_t units, int32_t pointSize);
int32_t unitsToPixelsY(int32_t units, int32_t pointSize);

}  // namespace wa
