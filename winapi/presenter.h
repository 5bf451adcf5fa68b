// winapi/presenter.h -- what a presenter shows, and how user input comes back.
//
// The dialog manager keeps every window's whole state in a WaWindow record;
// a presenter only mirrors it. The manager tells the presenter when a window
// is created, changed (a bit set of what changed) or destroyed, when a dialog
// is ready for the user, and when a box (message box, file or folder chooser)
// opens or closes. Boxes are answered asynchronously with waAnswerBox: the
// manager's modal loop keeps pumping until then, so timers keep running while
// a box is up.
//
// User input goes the other way through the waUser* calls below, which change
// the state as a user would and post the notifications a user action causes.
// Two presenters exist: the headless one (headless/, the default) and the
// desktop one (fltk/). A desktop presenter watches its display connection
// with waWatchFd (so a modal loop always has something to wait for and sleeps
// in poll) and may draw in the waSetBeforeWait hook; it then is never told
// that a loop is stuck. It offers itself with waOfferDesktop from a static
// initialiser; tkUseDesktop installs it on the first call.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "toolkit/export.h"
#include "winapi/resource.h"
#include "winapi/types.h"

#define WA_API VL_VISIBLE

struct WaItem {
  std::string text;
  LPARAM data = 0;
};

struct WaWindow {
  HWND handle = 0;
  HWND parent = 0;  // controls: their dialog; dialogs: their owner (0: none)
  bool isDialog = false;
  int32_t controlId = 0;     // controls
  ControlKind kind = CTL_STATIC;
  uint32_t style = 0;        // CS_* for controls, DS_* for dialogs
  int32_t templateId = 0;    // dialogs
  HINSTANCE instance = 0;
  int32_t pointSize = 0;     // dialogs: template font size
  std::string text;          // caption or control text (code page 1252)
  RECT rect{};               // dialogs: normal outer rectangle on the screen; controls: in the client area
  bool visible = false;
  bool enabled = true;
  bool minimized = false;
  // list and combo boxes
  std::vector<WaItem> items;
  int32_t selection = -1;
  // progress bar
  int32_t rangeLow = 0, rangeHigh = 100, position = 0;
  // check box
  int32_t checked = 0;
  // picture drawn last (pWriteImage) and its instance; draws counts them
  int32_t imageId = 0;
  HINSTANCE imageInstance = 0;
  int32_t imageDraws = 0;
  HICON icon = 0;
  HFONT font = 0;
  int32_t paints = 0;  // completed paints
  int32_t frames = 0;  // etched frames drawn
  // behaviour (owned by the manager)
  WNDPROC proc = nullptr;        // controls: current window procedure
  DLGPROC dialogProc = nullptr;  // dialogs
  std::vector<HWND> children;
  HWND lastFocus = 0;
  bool paintPending = false;
  bool modal = false;
  bool ended = false;
  LRESULT result = 0;
};

// What changed, for WaPresenter::changed.
enum : uint32_t {
  WA_TEXT = 1u << 0,
  WA_VISIBLE = 1u << 1,
  WA_ENABLED = 1u << 2,
  WA_RECT = 1u << 3,
  WA_ITEMS = 1u << 4,
  WA_SELECTION = 1u << 5,
  WA_PROGRESS = 1u << 6,
  WA_CHECK = 1u << 7,
  WA_IMAGE = 1u << 8,
  WA_FOCUS = 1u << 9,
  WA_ICON = 1u << 10,
  WA_PAINTED = 1u << 11,
  WA_FONT = 1u << 12
};

struct WaBox {
  enum Kind { Message, Open, Save, Folder };
  uint32_t id = 0;
  Kind kind = Message;
  HWND owner = 0;
  std::string caption;
  std::string text;                  // message, or folder chooser instruction
  int32_t style = 0;                 // message boxes
  std::vector<std::string> filter;   // choosers: description, pattern, description, ...
  std::string path;                  // choosers: initial name in, chosen path out
  int32_t result = 0;                // message: button; choosers: 1 chosen, 0 cancelled
  bool done = false;
};

class WaPresenter {
 public:
  virtual ~WaPresenter() = default;
  virtual bool isDesktop() const = 0;
  virtual int32_t screenWidth() const = 0;
  virtual int32_t screenHeight() const = 0;
  virtual void created(const WaWindow& window) = 0;
  virtual void changed(const WaWindow& window, uint32_t what) = 0;
  virtual void destroyed(HWND window) = 0;
  // A dialog finished its initialisation and is shown (modal: its loop starts now).
  virtual void dialogReady(HWND dialog) = 0;
  virtual void showBox(const WaBox& box) = 0;  // answer with waAnswerBox
  virtual void hideBox(uint32_t boxId) = 0;
  // A loop can make no more progress: dialog is the modal dialog (0 for the
  // message loop), boxId the open box (0 for none). The presenter ends it.
  virtual void stuck(HWND dialog, uint32_t boxId) = 0;
};

WA_API void waSetPresenter(WaPresenter* presenter);  // 0: back to the headless one
WA_API WaPresenter* waPresenter();
// A desktop presenter offers itself here; waUseDesktop calls the factory once.
WA_API void waOfferDesktop(WaPresenter* (*factory)());
WA_API const WaWindow* waWindow(HWND window);
WA_API std::vector<HWND> waDialogs();  // every dialog, oldest first
// Virtual milliseconds a modal loop may run before it counts as stuck.
WA_API void waSetModalBudget(uint32_t ms);

// Code page 1252 (the manager's text) to UTF-8 (the host's) and back. The five
// bytes the code page leaves undefined travel as the C1 code points of the
// same value, so a round trip gives back every byte; characters outside the
// code page and malformed sequences come back as '?'.
WA_API std::string waToUtf8(const std::string& cp1252);
WA_API std::string waFromUtf8(const std::string& utf8);

// User input.
WA_API bool waAnswerBox(uint32_t boxId, int32_t result, const std::string& path);
WA_API bool waUserClick(HWND control);                     // button or check box
WA_API bool waUserType(HWND control, const std::string& text);  // replaces an edit's text
WA_API bool waUserSelect(HWND control, int32_t row, bool doubleClick);
WA_API bool waUserKey(HWND control, int32_t vk, bool down);
WA_API bool waUserClose(HWND dialog);                      // the caption's close box
WA_API bool waUserMouseUp(HWND dialog, int32_t x, int32_t y);
WA_API bool waUserFocus(HWND window);
WA_API bool waUserRestore(HWND dialog);                    // un-minimise
WA_API bool waUserMove(HWND dialog, int32_t left, int32_t top);
WA_API void waUserUpdateUiState(HWND dialog);              // keyboard cues shown
WA_API void waInvalidate(HWND dialog);                     // uncovered: needs a paint
