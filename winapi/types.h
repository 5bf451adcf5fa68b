// winapi/types.h -- the handful of value types the dialog manager speaks in.
//
// Handles are small 32-bit numbers handed out by the dialog manager (0 is "no
// handle"), so records that hold them keep their 32-bit slots on every build.
// Procedures and text addresses are native pointers.
#pragma once
#include <stdint.h>

typedef uint32_t HWND;       // a dialog or one of its controls
typedef uint32_t HINSTANCE;  // a resource set (templates, bitmaps, icons)
typedef uint32_t HICON;
typedef uint32_t HCURSOR;
typedef uint32_t HBRUSH;
typedef uint32_t HFONT;
typedef uint32_t HMENU;
typedef uint32_t HDC;
typedef uint32_t UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

// One procedure type serves windows and dialogs: it receives every message of
// its window and returns the message's result (dialogs: nonzero = handled).
typedef LRESULT (*WNDPROC)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
typedef WNDPROC DLGPROC;
// Timer procedure: window, WM_TIMER, timer id, clock reading in milliseconds.
typedef void (*TIMERPROC)(HWND window, UINT message, uintptr_t id, uint32_t now);

typedef struct RECT { int32_t left, top, right, bottom; } RECT;

// Messages the system uses (values as on the classic platform).
enum {
  WM_SETFOCUS = 0x0007,
  WM_KILLFOCUS = 0x0008,
  WM_PAINT = 0x000F,
  WM_CLOSE = 0x0010,
  WM_QUIT = 0x0012,
  WM_WINDOWPOSCHANGING = 0x0046,
  WM_WINDOWPOSCHANGED = 0x0047,
  WM_KEYDOWN = 0x0100,
  WM_KEYUP = 0x0101,
  WM_CHAR = 0x0102,
  WM_INITDIALOG = 0x0110,
  WM_COMMAND = 0x0111,
  WM_TIMER = 0x0113,
  WM_UPDATEUISTATE = 0x0128,
  WM_LBUTTONUP = 0x0202,
  WM_USER = 0x0400
};

// Notification codes carried in the high word of WM_COMMAND's wParam.
enum {
  BN_CLICKED = 0,
  LBN_SELCHANGE = 1,
  LBN_DBLCLK = 2,
  CBN_SELCHANGE = 1,
  EN_SETFOCUS = 0x0100,
  EN_KILLFOCUS = 0x0200,
  EN_CHANGE = 0x0300
};

// Command ids of Enter and Esc as they reach a dialog.
enum { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// Virtual key codes seen in WM_KEYUP / WM_KEYDOWN.
enum { VK_TAB = 0x09, VK_RETURN = 0x0D, VK_ESCAPE = 0x1B };

// Message box styles used by the system.
enum { MB_OK = 0x00, MB_YESNO = 0x04, MB_ICONQUESTION = 0x20, MB_ICONINFORMATION = 0x40 };
