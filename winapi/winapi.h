// winapi/winapi.h -- the dialog manager: windows, dialogs, controls, messages.
//
// Principles of operation. Every window is a record (WaWindow, presenter.h)
// found by a small handle. A dialog is made from a DialogTemplate of a
// registered ResourceSet: the dialog record first, then one child record per
// control, then WM_INITDIALOG to the dialog procedure, then it is shown.
// Controls behave through their window procedure: each kind has a default
// procedure (controls.cpp) that answers the control messages below (the
// classic platform's values), so a replaced procedure sees every message and
// forwards what it does not want with waCallWindowProc-style calls.
//
// Messages are sent (a direct call) or posted (the queue). The queue is polled
// first by every pump of the one event loop (loop.h); posted messages go first,
// then pending paints, then due timers, so a timer that falls due again while
// its WM_TIMER still waits is delivered once, as on the classic platform.
//
// Modal dialogs and message boxes run a nested loop of waPump calls until they
// end; the owner is disabled meanwhile and enabled again afterwards. When a
// modal loop can never make progress (nothing queued, scheduled or watched),
// or in virtual time it has run longer than the modal budget, the presenter is
// told (WaPresenter::stuck) so a scripted run fails instead of hanging.
//
// Where the classic platform leaves a choice, this manager does:
//   - WM_CLOSE that a dialog procedure does not handle does nothing (no
//     IDCANCEL is synthesised); dialogs close only by their own procedure.
//   - after WM_INITDIALOG returns nonzero, the first tab-stop control gets the
//     focus only if the procedure did not already put the focus in the dialog.
//   - WM_UPDATEUISTATE is sent only when the presenter reports keyboard cues
//     (the headless driver has an explicit call for it).
//
// Everything runs on the interface thread.
//
// Files: manager.cpp (records, dialogs, focus, placement, modal loops),
// controls.cpp (default control procedures), queue.cpp (queue and timers),
// boxes.cpp (boxes, choosers, user input), graphics.cpp (pictures, paint,
// fonts, classes, menus), loop.cpp (the event loop and clock), headless/
// (the default presenter and its test driver), presenter.h (the interface a
// presenter implements).
#pragma once
#include <stdint.h>
#include "toolkit/export.h"
#include "winapi/resource.h"
#include "winapi/types.h"

// Control messages, values as on the classic platform.
enum {
  WM_SETTEXT = 0x000C,
  WM_GETTEXT = 0x000D,
  WM_GETTEXTLENGTH = 0x000E,
  WM_SETFONT = 0x0030,
  WM_GETFONT = 0x0031,
  WM_SETICON = 0x0080,
  BM_GETCHECK = 0x00F0,
  BM_SETCHECK = 0x00F1,
  STM_SETIMAGE = 0x0172,
  LB_ADDSTRING = 0x0180,
  LB_INSERTSTRING = 0x0181,
  LB_DELETESTRING = 0x0182,
  LB_RESETCONTENT = 0x0184,
  LB_SETCURSEL = 0x0186,
  LB_GETCURSEL = 0x0188,
  LB_GETTEXT = 0x0189,
  LB_GETTEXTLEN = 0x018A,
  LB_GETCOUNT = 0x018B,
  LB_GETITEMDATA = 0x0199,
  LB_SETITEMDATA = 0x019A,
  LB_FINDSTRINGEXACT = 0x01A2,
  CB_ADDSTRING = 0x0143,
  CB_DELETESTRING = 0x0144,
  CB_GETCOUNT = 0x0146,
  CB_GETCURSEL = 0x0147,
  CB_GETLBTEXT = 0x0148,
  CB_GETLBTEXTLEN = 0x0149,
  CB_INSERTSTRING = 0x014A,
  CB_RESETCONTENT = 0x014B,
  CB_SETCURSEL = 0x014E,
  CB_GETITEMDATA = 0x0150,
  CB_SETITEMDATA = 0x0151,
  CB_FINDSTRINGEXACT = 0x0158,
  PBM_SETPOS = 0x0402,
  PBM_SETRANGE32 = 0x0406,
  PBM_GETPOS = 0x0408
};
enum { LB_ERR = -1, CB_ERR = -1 };

// Frame of a captioned dialog in pixels: its client area starts this far
// inside the outer rectangle.
enum { WA_BORDER = 3, WA_CAPTION = 18 };
// Where and how big a minimised window is said to be.
enum { WA_MINIMIZED_POS = -32000, WA_MINIMIZED_CX = 160, WA_MINIMIZED_CY = 24 };

#ifdef __cplusplus
extern "C" {
#endif

// Resources. The same set registered twice gives the same handle.
VL_EXPORT HINSTANCE waRegisterResources(const ResourceSet* resources);
// The program's instance: on Windows the process's module handle, which from
// then on answers for resources; on Linux, which has none, the set's number
// from waRegisterResources.
VL_EXPORT HINSTANCE waProgramInstance(const ResourceSet* resources);
VL_EXPORT const ResourceSet* waResources(HINSTANCE instance);

// Dialogs. waDialogBox returns the EndDialog result, -1 when the template is missing.
VL_EXPORT HWND waCreateDialog(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param);
VL_EXPORT LRESULT waDialogBox(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param);
VL_EXPORT int32_t waEndDialog(HWND dialog, LRESULT result);
VL_EXPORT int32_t waDestroyWindow(HWND window);
VL_EXPORT int32_t waIsWindow(HWND window);

// Messages.
VL_EXPORT LRESULT waSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
VL_EXPORT int32_t waPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Runs until WM_QUIT; returns its exit code.
VL_EXPORT int32_t waMessageLoop(void);
VL_EXPORT void waPostQuitMessage(int32_t code);

// Relations, focus, placement, state.
VL_EXPORT HWND waGetDlgItem(HWND dialog, int32_t controlId);
VL_EXPORT int32_t waGetDlgCtrlID(HWND control);
VL_EXPORT HWND waGetParent(HWND window);
VL_EXPORT HWND waActiveWindow(void);
VL_EXPORT HWND waGetFocus(void);
VL_EXPORT HWND waSetFocus(HWND window);  // returns the window that had the focus
VL_EXPORT int32_t waGetWindowRect(HWND window, RECT* rect);  // screen pixels
VL_EXPORT int32_t waGetClientRect(HWND window, RECT* rect);  // (0, 0, width, height)
VL_EXPORT int32_t waMoveWindow(HWND window, int32_t left, int32_t top, int32_t width, int32_t height, int32_t repaint);
VL_EXPORT int32_t waShowWindow(HWND window, int32_t show);      // 1 when it was visible before
VL_EXPORT int32_t waEnableWindow(HWND window, int32_t enable);  // 1 when it was disabled before
VL_EXPORT int32_t waIsVisible(HWND window);
VL_EXPORT int32_t waIsEnabled(HWND window);
VL_EXPORT WNDPROC waGetWindowProc(HWND window);
VL_EXPORT WNDPROC waSetWindowProc(HWND window, WNDPROC procedure);  // the previous one
VL_EXPORT int32_t waSetIcon(HWND window, HICON icon);

// Pictures, painting, fonts, classes, menus.
VL_EXPORT HICON waLoadIcon(HINSTANCE instance, int32_t iconId);  // 0 when absent
// The icon the system shows for the file at hostPath (its icon *index, or
// that of the program it belongs to, whose index is written to *index); 0
// where files carry no icons (Linux) or the system has none for it.
VL_EXPORT HICON waFileIcon(HINSTANCE instance, const char* hostPath, uint16_t* index);
// The system's standard arrow cursor.
VL_EXPORT HCURSOR waArrowCursor(void);
// Draws bitmap bitmapId of instance into window's client area; 0 when absent.
VL_EXPORT int32_t waDrawBitmap(HWND window, HINSTANCE instance, int32_t bitmapId);
VL_EXPORT HDC waBeginPaint(HWND window);
VL_EXPORT HDC waGetDC(HWND window);
VL_EXPORT int32_t waDrawFrame(HWND window, HDC dc);  // the etched edge round the client area
VL_EXPORT int32_t waEndPaint(HWND window, HDC dc);
VL_EXPORT HFONT waCreateFont(int32_t height, int32_t width, int32_t weight, int32_t italic, int32_t charset,
                             const char* face);
VL_EXPORT int32_t waDeleteFont(HFONT font);  // 1 when it existed
VL_EXPORT uint32_t waRegisterClass(const char* name, WNDPROC procedure, HINSTANCE instance, HICON icon,
                                   HCURSOR cursor, HBRUSH background, const char* menuName, uint32_t style);
VL_EXPORT HMENU waLoadMenu(HINSTANCE instance, HWND window, const char* menuName);  // 0: no such menu
VL_EXPORT int32_t waEnableMenuItem(HMENU menu, int32_t itemId, int32_t state);      // -1: no such item

// Boxes; each runs a modal loop until answered.
VL_EXPORT int32_t waMessageBox(HWND owner, const char* text, const char* caption, int32_t style);
// filter: pairs of zero-terminated texts ended by an extra zero. dest gets at most size - 1 characters.
VL_EXPORT int32_t waFileChooser(int32_t save, HWND owner, char* dest, int32_t size, const char* filter);
// 1 and the folder in dest (at most size - 1 characters) when one was chosen; dest untouched otherwise.
VL_EXPORT int32_t waFolderChooser(HWND owner, const char* caption, const char* instruction, char* dest, int32_t size);

// Timers: WM_TIMER to window (or handler(window, WM_TIMER, id, now)) every interval ms.
VL_EXPORT uintptr_t waSetTimer(HWND window, uintptr_t id, uint32_t interval, TIMERPROC handler);
VL_EXPORT int32_t waKillTimer(HWND window, uintptr_t id);

VL_EXPORT int32_t waScreenWidth(void);
VL_EXPORT int32_t waScreenHeight(void);
// 1 when a desktop presenter is in use (installing it on first call when one is offered).
VL_EXPORT int32_t waUseDesktop(void);
// For tests: forgets every window, message, timer, box, class, font and resource set.
VL_EXPORT void waResetDialogManager(void);

#ifdef __cplusplus
}
#endif
