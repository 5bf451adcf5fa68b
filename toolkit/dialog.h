// toolkit/dialog.h -- running dialogs, and the one dialog pattern.
//
// The program reaches the dialog manager only through these calls and the
// operations of toolkit/window.h. They are the toolkit's own, exported beside
// the classic operations but not among them.
//
// The dialog pattern every dialog follows:
//   opener:         tkDialogOpen   -- clear the record's title, copy the context
//                   tkDialogBox / tkCreateDialog with the context's instance
//   WM_INITDIALOG:  tkDialogInit   -- store handle and procedure, build and show
//                                     the title; then preset sizes, pGetWinParm
//   WM_PAINT:       tkDialogPaint  -- move back to the record, draw the picture
#pragma once
#include <stdint.h>
#include "toolkit/export.h"
#include "toolkit/window.h"
#include "winapi/resource.h"
#include "winapi/types.h"

// --- process entry ---------------------------------------------------------
// Registers a set of resources and returns the instance handle that names it.
VL_EXPORT HINSTANCE tkModuleHandle(const ResourceSet* resources);
// The program's own instance, its resources registered under it: on Windows
// the module handle of the executable, on Linux the set's handle as above.
VL_EXPORT HINSTANCE tkProgramInstance(const ResourceSet* resources);
// The process's command line as the system keeps it (alive as long as the process).
VL_EXPORT const char* tkCommandLine(void);
VL_EXPORT HCURSOR tkArrowCursor(void);
// The icon the system shows for file name (resolved against the current
// folder), as at *index; the instance's icon group 100 when the file is not
// there or carries none.
VL_EXPORT HICON tkExtractIcon(HINSTANCE instance, const char* fileName, uint16_t* index);
VL_EXPORT int32_t tkScreenWidth(void);
VL_EXPORT int32_t tkScreenHeight(void);
VL_EXPORT void tkExitProcess(int32_t code);
// Picks the presenter: 1 = desktop windows opened (a display is there),
// 0 = no display. Tests and scripted runs use the headless presenter instead.
VL_EXPORT int32_t tkUseDesktop(void);

// --- the machine's log (winapi/log.h) -------------------------------------------
// 1 opens it on standard output: status texts, message boxes and what the
// program reports with tkLog, one stamped line each.
VL_EXPORT void tkLogOpen(int32_t on);
// One line (level 1: an error, also on standard error); nothing while closed.
VL_EXPORT void tkLog(int32_t error, const char* topic, const char* text);
// pWriteWndTxt with a reset, for a text the line showed before (a status line
// given back as it was): the log does not repeat it.
VL_EXPORT int32_t tkRestoreWndTxt(HWND window, int32_t controlId, const char* text);

// --- dialogs -----------------------------------------------------------------
VL_EXPORT LRESULT tkDialogBox(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param);
VL_EXPORT HWND tkCreateDialog(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param);
VL_EXPORT int32_t tkEndDialog(HWND dialog, LRESULT result);
VL_EXPORT int32_t tkDestroyWindow(HWND window);
VL_EXPORT LRESULT tkSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
VL_EXPORT int32_t tkPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
VL_EXPORT LRESULT tkCallWindowProc(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
VL_EXPORT HWND tkGetDlgItem(HWND dialog, int32_t controlId);
VL_EXPORT int32_t tkGetDlgCtrlID(HWND control);
VL_EXPORT HWND tkGetParent(HWND control);
VL_EXPORT HWND tkActiveWindow(void);
VL_EXPORT int32_t tkGetWindowRect(HWND window, RECT* rect);
VL_EXPORT int32_t tkMoveWindow(HWND window, int32_t left, int32_t top, int32_t width, int32_t height, int32_t repaint);
VL_EXPORT int32_t tkSetWindowIcon(HWND window, HICON icon);
VL_EXPORT int32_t tkIsChecked(HWND dialog, int32_t controlId);
VL_EXPORT int32_t tkSetCheck(HWND dialog, int32_t controlId, int32_t checked);
VL_EXPORT int32_t tkIsEnabled(HWND dialog, int32_t controlId);
VL_EXPORT int32_t tkIsVisible(HWND dialog, int32_t controlId);

// --- the dialog pattern ------------------------------------------------------
VL_EXPORT void tkDialogOpen(WindowRecord* record, WindowContext* ownCopy, const WindowContext* context);
VL_EXPORT void tkDialogInit(WindowRecord* record, HWND dialog, DLGPROC procedure, const char* title);
// pictureId 0 draws no picture.
VL_EXPORT void tkDialogPaint(const WindowRecord* record, int32_t pictureId, int32_t bitmapId, HINSTANCE instance);

// The Enter-key filter: a control's replaced procedure that turns a released
// Enter into a command of its dialog. The first key release it sees (that of
// the key that opened the dialog) only arms it, as does WM_UPDATEUISTATE;
// afterwards a released Enter sends the dialog WM_COMMAND with `command` and
// the control as lParam. Focus and position messages go no further;
// everything else reaches the control's own procedure.
typedef struct TkEnterFilter {
  HWND dialog;
  int32_t controlId;
  WPARAM command;
  WNDPROC previous;  // the control's own procedure
  int32_t armed;
} TkEnterFilter;
// Replaces the control's procedure by procedure, which calls tkRunEnterFilter.
VL_EXPORT void tkInstallEnterFilter(TkEnterFilter* filter, HWND dialog, int32_t controlId, WPARAM command,
                                    WNDPROC procedure);
VL_EXPORT LRESULT tkRunEnterFilter(TkEnterFilter* filter, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// For tests: the window helpers' private state (status accumulator, paint
// state, current picture) back to zero.
VL_EXPORT void tkResetWindowHelpers(void);
