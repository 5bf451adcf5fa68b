// Window and dialog helpers on the dialog manager. Targets follow the
// addressing rule: control id 0 is the window itself, any other id the
// window's child control with that id.
#include "toolkit/window.h"

#include <cstring>

#include "toolkit/dialog.h"
#include "toolkit/text.h"
#include "winapi/log.h"
#include "winapi/winapi.h"

namespace {

constexpr int32_t kAccumulatorSize = 256;

// The helpers' private state: the status-line accumulator, the paint in
// progress and the picture drawn last.
struct WindowHelpers {
  char accumulator[kAccumulatorSize];
  bool paintPending;
  HDC paintDC;
  HWND paintWindow;
  int32_t bitmapId;
  HINSTANCE bitmapInstance;
  RECT pictureClient;
};

WindowHelpers helpers;

HWND addressed(HWND window, int32_t controlId) { return controlId == 0 ? window : waGetDlgItem(window, controlId); }

LRESULT send(HWND h, UINT message, WPARAM wParam, LPARAM lParam) { return waSendMessage(h, message, wParam, lParam); }
LPARAM textParam(const char* text) { return reinterpret_cast<LPARAM>(text); }

// Appends text, cut so that the accumulated text stays below 256 bytes: what
// does not fit is dropped, the terminator always stays inside the buffer.
void accumulate(const char* text) {
  size_t used = strnlen(helpers.accumulator, kAccumulatorSize - 1);
  size_t room = size_t(kAccumulatorSize - 1) - used;
  size_t n = strnlen(text, room);
  std::memcpy(helpers.accumulator + used, text, n);
  helpers.accumulator[used + n] = 0;
}

// The list and combo operations differ only in message numbers and in where
// a search starts.
struct ListKind {
  UINT add, insert, remove, setSelection, getSelection, getText, getData, setData, findExact;
  WPARAM searchAfter;  // 0: after row 0, wrapping round; -1: from the top
};
constexpr ListKind kList{LB_ADDSTRING,  LB_INSERTSTRING, LB_DELETESTRING, LB_SETCURSEL,       LB_GETCURSEL,
                         LB_GETTEXT,    LB_GETITEMDATA,  LB_SETITEMDATA,  LB_FINDSTRINGEXACT, 0};
constexpr ListKind kCombo{CB_ADDSTRING, CB_INSERTSTRING, CB_DELETESTRING, CB_SETCURSEL,       CB_GETCURSEL,
                          CB_GETLBTEXT, CB_GETITEMDATA,  CB_SETITEMDATA,  CB_FINDSTRINGEXACT, WPARAM(-1)};

int32_t writeRow(const ListKind& k, HWND box, const char* text, int32_t data) {
  if (text == nullptr) return 0;
  LRESULT index = send(box, k.add, 0, textParam(text));
  if (data != 0) send(box, k.setData, WPARAM(index), data);
  waSetFocus(box);
  return int32_t(index);
}

int32_t readRow(const ListKind& k, HWND box, char* dest) {
  LRESULT selected = send(box, k.getSelection, 0, 0);
  if (selected == -1) return -1;
  if (dest) send(box, k.getText, WPARAM(selected), textParam(dest));
  return int32_t(send(box, k.getData, WPARAM(selected), 0));
}

int32_t setRow(const ListKind& k, HWND box, const char* text) {
  if (text == nullptr) return 0;
  LRESULT index = send(box, k.findExact, k.searchAfter, textParam(text));
  if (index != -1) send(box, k.setSelection, WPARAM(index), 0);
  waSetFocus(box);
  return int32_t(index);
}

int32_t deleteRow(const ListKind& k, HWND box) {
  LRESULT selected = send(box, k.getSelection, 0, 0);
  if (selected == -1) return -1;
  LRESULT left = send(box, k.remove, WPARAM(selected), 0);
  return left < 0 ? 0 : int32_t(left);
}

int32_t insertRow(const ListKind& k, HWND box, const char* text, int32_t data) {
  if (text == nullptr) return 0;
  LRESULT selected = send(box, k.getSelection, 0, 0);
  if (selected != -1) {
    send(box, k.insert, WPARAM(selected), textParam(text));
    if (data != 0) send(box, k.setData, WPARAM(selected), data);
  }
  waSetFocus(box);
  return int32_t(selected);
}

int32_t weightFor(int32_t weightClass) {
  static const int32_t weights[] = {0, 100, 300, 400, 500, 700, 900};
  return weightClass >= 1 && weightClass <= 6 ? weights[weightClass] : 0;
}

int32_t charsetFor(int32_t kind) { return kind == 1 ? 0 : kind == 2 ? 255 : 1; }

// A bitmap is named by a small number, or by text "#110" or "110".
int32_t bitmapNumber(intptr_t name) {
  if (name >= 0 && name < 0x10000) return int32_t(name);
  const char* text = reinterpret_cast<const char*>(name);
  if (*text == '#') text++;
  int32_t n = 0;
  for (; *text; text++) {
    if (*text < '0' || *text > '9' || n > 0xFFFF) return 0;
    n = n * 10 + (*text - '0');
  }
  return n;
}

}  // namespace

void tkResetWindowHelpers(void) { helpers = WindowHelpers{}; }

int32_t pRegister(const char* className, WNDPROC procedure, HINSTANCE instance, HICON icon, HCURSOR cursor,
                  HBRUSH background, const char* menuName) {
  // Redraw on size changes, byte-aligned window and client area.
  return int32_t(waRegisterClass(className, procedure, instance, icon, cursor, background, menuName, 0x3003));
}

intptr_t pWndProcAddr(int32_t op, HWND window, int32_t controlId, WNDPROC newProcedure) {
  HWND target = addressed(window, controlId);
  if (op == -1) return reinterpret_cast<intptr_t>(waGetWindowProc(target));
  if (op == 1 && newProcedure != nullptr) return reinterpret_cast<intptr_t>(waSetWindowProc(target, newProcedure));
  return intptr_t(target);
}

int32_t pWndShow(HWND window, int32_t controlId, int32_t show) {
  HWND target = addressed(window, controlId);
  if (show != 0 && show != 1) return int32_t(target);
  return waShowWindow(target, show);
}

int32_t pWndEnable(HWND window, int32_t controlId, int32_t enable) {
  HWND target = addressed(window, controlId);
  if (enable != 0 && enable != 1) return int32_t(target);
  return waEnableWindow(target, enable);
}

HWND pWndFocus(HWND window, int32_t controlId) { return waSetFocus(addressed(window, controlId)); }

int32_t pAlert(const char* caption, const char* text, HWND owner, int32_t focusId, int32_t style) {
  int32_t pressed = waMessageBox(owner, text, caption, style);
  waSetFocus(addressed(owner, focusId));
  return pressed;
}

int32_t pColoRGB(int32_t red, int32_t green, int32_t blue) {
  return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}

int32_t pFont(char* command, int32_t height, int32_t width, int32_t weightClass, int32_t italic, int32_t charsetKind,
              intptr_t faceOrFont) {
  if (command == nullptr) return 0;
  LowerCaseInPlace(command);
  if (std::strcmp(command, "[1]") == 0)
    return int32_t(waCreateFont(height, width, weightFor(weightClass), italic, charsetFor(charsetKind),
                                reinterpret_cast<const char*>(faceOrFont)));
  if (std::strcmp(command, "[0]") == 0) return waDeleteFont(HFONT(faceOrFont));
  return 0;
}

int32_t pFontCtrl(HWND window, HFONT font) { return int32_t(send(window, WM_SETFONT, font, 0)); }

HMENU pMenu(HINSTANCE instance, HWND window, const char* menuName) { return waLoadMenu(instance, window, menuName); }

int32_t pMenuItem(int32_t state, HMENU menu, int32_t itemId) {
  if (state != 1 && state != 0 && state != -1) return 0;
  return waEnableMenuItem(menu, itemId, state);
}

HDC pPaint(int32_t op, HWND window) {
  if (op == 1 && !helpers.paintPending) {
    helpers.paintDC = waBeginPaint(window);
    helpers.paintWindow = window;
    helpers.paintPending = true;
    return helpers.paintDC;
  }
  if (op == 0 && helpers.paintPending) {
    if (helpers.paintDC == 0) helpers.paintDC = waGetDC(window);
    waDrawFrame(window, helpers.paintDC);  // etched edge on all four sides of the client area
    waEndPaint(window, helpers.paintDC);
    helpers.paintPending = false;
    return helpers.paintDC;
  }
  return helpers.paintDC;
}

int32_t pGetRealXX(int32_t x) {
  while (x < 0) x += 32000;
  return x;
}

int32_t pGetRealYY(int32_t y) { return pGetRealXX(y); }

int32_t pWriteImage(HWND window, int32_t controlId, intptr_t bitmapName, HINSTANCE instance) {
  HWND target = addressed(window, controlId);
  if (!waIsWindow(target)) return 0;
  helpers.bitmapId = 0;  // the previous picture is released
  helpers.bitmapInstance = 0;
  int32_t number = bitmapNumber(bitmapName);
  helpers.pictureClient = RECT{};
  waGetClientRect(target, &helpers.pictureClient);
  if (!waDrawBitmap(target, instance, number)) return 0;
  helpers.bitmapId = number;
  helpers.bitmapInstance = instance;
  return 1;
}

int32_t pWriteWndTxt(HWND window, int32_t controlId, const char* text, int32_t reset, int32_t newline) {
  if (text == nullptr) return 0;
  HWND target = addressed(window, controlId);
  if (reset == 1) {
    std::memset(helpers.accumulator, 0, sizeof helpers.accumulator);
    send(target, WM_SETTEXT, 0, textParam(""));
  }
  accumulate(text);
  if (newline == 1) accumulate("\r\n");
  waLogStatus(helpers.accumulator, reset == 1 ? 1 : 0);
  return int32_t(send(target, WM_SETTEXT, 0, textParam(helpers.accumulator)));
}

int32_t tkRestoreWndTxt(HWND window, int32_t controlId, const char* text) {
  if (text == nullptr) return 0;
  waLogFlush();  // the text being replaced is news; the one coming back is not
  std::memset(helpers.accumulator, 0, sizeof helpers.accumulator);
  accumulate(text);
  HWND target = addressed(window, controlId);
  send(target, WM_SETTEXT, 0, textParam(""));
  return int32_t(send(target, WM_SETTEXT, 0, textParam(helpers.accumulator)));
}

int32_t pWriteWndStr(HWND window, int32_t controlId, const char* text) {
  if (text == nullptr) return 0;
  HWND target = addressed(window, controlId);
  send(target, WM_SETTEXT, 0, textParam(""));
  return int32_t(send(target, WM_SETTEXT, 0, textParam(text)));
}

int32_t pReadWndStr(HWND window, int32_t controlId, char* dest, int32_t max) {
  if (dest == nullptr) return 0;
  if (dest[0] != 0) pClrMem(dest, pLen(dest));
  if (max <= 0) return 0;
  return int32_t(send(addressed(window, controlId), WM_GETTEXT, WPARAM(max), textParam(dest)));
}

int32_t pClearWndStr(HWND window, int32_t controlId) {
  return int32_t(send(addressed(window, controlId), WM_SETTEXT, 0, textParam("")));
}

int32_t pWriteLst(HWND window, int32_t controlId, const char* text, int32_t data) {
  return writeRow(kList, addressed(window, controlId), text, data);
}
int32_t pReadLst(HWND window, int32_t controlId, char* dest) { return readRow(kList, addressed(window, controlId), dest); }
int32_t pSetLst(HWND window, int32_t controlId, const char* text) {
  return setRow(kList, addressed(window, controlId), text);
}
int32_t pDeleteLst(HWND window, int32_t controlId) { return deleteRow(kList, addressed(window, controlId)); }
int32_t pInsertLst(HWND window, int32_t controlId, const char* text, int32_t data) {
  return insertRow(kList, addressed(window, controlId), text, data);
}

// The combo operations always address a child control of window.
int32_t pWriteCbo(HWND window, int32_t controlId, const char* text, int32_t data) {
  return writeRow(kCombo, waGetDlgItem(window, controlId), text, data);
}
int32_t pReadCbo(HWND window, int32_t controlId, char* dest) {
  return readRow(kCombo, waGetDlgItem(window, controlId), dest);
}
int32_t pSetCbo(HWND window, int32_t controlId, const char* text) {
  return setRow(kCombo, waGetDlgItem(window, controlId), text);
}
int32_t pDeleteCbo(HWND window, int32_t controlId) { return deleteRow(kCombo, waGetDlgItem(window, controlId)); }
int32_t pInsertCbo(HWND window, int32_t controlId, const char* text, int32_t data) {
  return insertRow(kCombo, waGetDlgItem(window, controlId), text, data);
}

int32_t pProgressBar(int32_t op, HWND window, int32_t controlId, int32_t position, int32_t total) {
  HWND bar = addressed(window, controlId);
  if (op == 0) send(bar, PBM_SETRANGE32, 0, 100);
  if (op == 1) send(bar, PBM_SETPOS, WPARAM(pDivide(pMultiply(position, 100), total)), 0);
  return 1;
}

int32_t pIsScrnValid(int32_t width, int32_t height, const char* caption) {
  if (uint32_t(width) >= 1024u && uint32_t(height) >= 768u) return 1;
  int32_t pressed = waMessageBox(waActiveWindow(), "Use A Higher Resolution Display", caption, 64);
  tkExitProcess(pressed);
  return 0;
}

int32_t pGetWinParm(int32_t dx, int32_t dy, int32_t areaWidth, int32_t areaHeight, WindowRecord* record) {
  if (record == nullptr) return 0;
  WindowRecord r;
  std::memcpy(&r, record, sizeof r);
  RECT now{};
  waGetWindowRect(r.handle, &now);
  if (r.width == 0) r.width = pGetRealXX(now.right) - pGetRealXX(now.left);
  if (r.height == 0) r.height = pGetRealYY(now.bottom) - pGetRealYY(now.top);
  r.left = areaWidth != 0 ? pDivide(areaWidth - r.width, 2) + dx : pGetRealXX(now.left) + dx;
  r.top = areaHeight != 0 ? pDivide(areaHeight - r.height, 2) + dy : pGetRealYY(now.top) + dy;
  std::memcpy(record, &r, sizeof r);
  return 1;
}
