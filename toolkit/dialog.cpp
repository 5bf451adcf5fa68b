// Process entry helpers, dialogs and the one dialog pattern, on the dialog
// manager (winapi/winapi.h).
#include "toolkit/dialog.h"

#include <stdio.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "toolkit/hostfiles.h"
#include "toolkit/hostpath.h"
#include "toolkit/text.h"
#include "winapi/log.h"
#include "winapi/winapi.h"

HINSTANCE tkModuleHandle(const ResourceSet* resources) { return waRegisterResources(resources); }
HINSTANCE tkProgramInstance(const ResourceSet* resources) { return waProgramInstance(resources); }

const char* tkCommandLine(void) { return hostfs::CommandLine(); }

HCURSOR tkArrowCursor(void) { return waArrowCursor(); }

// A file the system has an icon for gives that icon (Windows); otherwise the
// program's own icon group 100 stands for the file's (a Linux file carries no
// icons). The index word records 100 when the file is not there, and is left
// as it was, or as the system wrote it, when it is.
HICON tkExtractIcon(HINSTANCE instance, const char* fileName, uint16_t* index) {
  std::string host;
  bool present = fileName && *fileName && hostpath::ToHost(fileName, host) && hostfs::EntryExists(host);
  if (present) {
    if (HICON icon = waFileIcon(instance, host.c_str(), index)) return icon;
  } else if (index) {
    *index = 100;
  }
  return waLoadIcon(instance, 100);
}

int32_t tkScreenWidth(void) { return waScreenWidth(); }
int32_t tkScreenHeight(void) { return waScreenHeight(); }

void tkExitProcess(int32_t code) {
  waLogFlush();
  fflush(nullptr);
  exit(code);
}

int32_t tkUseDesktop(void) { return waUseDesktop(); }

void tkLogOpen(int32_t on) { waLogOpen(on); }

void tkLog(int32_t error, const char* topic, const char* text) {
  waLog(error == 1 ? WA_LOG_ERROR : WA_LOG_NOTE, topic, text);
}

LRESULT tkDialogBox(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param) {
  return waDialogBox(instance, templateId, owner, procedure, param);
}

HWND tkCreateDialog(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param) {
  return waCreateDialog(instance, templateId, owner, procedure, param);
}

int32_t tkEndDialog(HWND dialog, LRESULT result) { return waEndDialog(dialog, result); }
int32_t tkDestroyWindow(HWND window) { return waDestroyWindow(window); }

LRESULT tkSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return waSendMessage(window, message, wParam, lParam);
}

int32_t tkPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return waPostMessage(window, message, wParam, lParam);
}

LRESULT tkCallWindowProc(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return previous ? previous(window, message, wParam, lParam) : 0;
}

HWND tkGetDlgItem(HWND dialog, int32_t controlId) { return waGetDlgItem(dialog, controlId); }
int32_t tkGetDlgCtrlID(HWND control) { return waGetDlgCtrlID(control); }
HWND tkGetParent(HWND control) { return waGetParent(control); }
HWND tkActiveWindow(void) { return waActiveWindow(); }
int32_t tkGetWindowRect(HWND window, RECT* rect) { return waGetWindowRect(window, rect); }

int32_t tkMoveWindow(HWND window, int32_t left, int32_t top, int32_t width, int32_t height, int32_t repaint) {
  return waMoveWindow(window, left, top, width, height, repaint);
}

int32_t tkSetWindowIcon(HWND window, HICON icon) { return waSetIcon(window, icon); }

int32_t tkIsChecked(HWND dialog, int32_t controlId) {
  HWND h = waGetDlgItem(dialog, controlId);
  return h && waSendMessage(h, BM_GETCHECK, 0, 0) ? 1 : 0;
}

int32_t tkSetCheck(HWND dialog, int32_t controlId, int32_t checked) {
  HWND h = waGetDlgItem(dialog, controlId);
  if (h == 0) return 0;
  waSendMessage(h, BM_SETCHECK, checked ? 1 : 0, 0);
  return 1;
}

static HWND addressed(HWND dialog, int32_t controlId) {
  return controlId == 0 ? dialog : waGetDlgItem(dialog, controlId);
}

int32_t tkIsEnabled(HWND dialog, int32_t controlId) { return waIsEnabled(addressed(dialog, controlId)); }
int32_t tkIsVisible(HWND dialog, int32_t controlId) { return waIsVisible(addressed(dialog, controlId)); }

// --- the dialog pattern ------------------------------------------------------

void tkDialogOpen(WindowRecord* record, WindowContext* ownCopy, const WindowContext* context) {
  if (record) pClrMem(record->title, int32_t(sizeof record->title));
  if (ownCopy && context) pCopyMem(context, ownCopy, int32_t(sizeof *ownCopy));
}

void tkDialogInit(WindowRecord* record, HWND dialog, DLGPROC procedure, const char* title) {
  if (record == nullptr) return;
  record->handle = dialog;
  record->procedure = procedure;
  if (title) {
    // The title is built by appending into the cleared 128-byte field; a
    // longer title is cut so the terminator stays inside it.
    pClrMem(record->title, int32_t(sizeof record->title));
    size_t n = strnlen(title, sizeof record->title - 1);
    pCopyMem(title, record->title, int32_t(n));
  }
  pWriteWndStr(dialog, 0, record->title);
}

void tkDialogPaint(const WindowRecord* record, int32_t pictureId, int32_t bitmapId, HINSTANCE instance) {
  if (record == nullptr) return;
  pPaint(1, record->handle);
  waMoveWindow(record->handle, record->left, record->top, record->width, record->height, 1);
  if (pictureId != 0) pWriteImage(record->handle, pictureId, bitmapId, instance);
  pPaint(0, record->handle);
}

void tkInstallEnterFilter(TkEnterFilter* filter, HWND dialog, int32_t controlId, WPARAM command, WNDPROC procedure) {
  if (filter == nullptr) return;
  filter->dialog = dialog;
  filter->controlId = controlId;
  filter->command = command;
  filter->armed = 0;
  filter->previous = reinterpret_cast<WNDPROC>(pWndProcAddr(1, dialog, controlId, procedure));
}

LRESULT tkRunEnterFilter(TkEnterFilter* filter, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (filter == nullptr) return 0;
  switch (message) {
    case WM_KEYUP:
      if (filter->armed == 0) {
        filter->armed = 1;
        return 0;
      }
      if (wParam == VK_RETURN) {
        tkSendMessage(filter->dialog, WM_COMMAND, filter->command, static_cast<LPARAM>(window));
        return 0;
      }
      break;
    case WM_UPDATEUISTATE:
      filter->armed = 1;
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_WINDOWPOSCHANGING:
    case WM_WINDOWPOSCHANGED:
      return 0;
    default:
      break;
  }
  if (filter->previous == nullptr) return 0;
  return tkCallWindowProc(filter->previous, window, message, wParam, lParam);
}
