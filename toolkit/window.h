// toolkit/window.h -- window and dialog helpers.
//
// Addressing rule: a target is (window, control id); a control id of 0 means
// the window itself. The two records below are part of the external interface
// (vlAskLoader and vlContactLoader receive them), so their field order is fixed.
#pragma once
#include <stdint.h>
#include "toolkit/export.h"
#include "winapi/types.h"

// Filled once at process entry; every dialog opener keeps a copy.
typedef struct WindowContext {
  int32_t screenWidth;
  int32_t screenHeight;
  HINSTANCE instance;
  const char* commandLine;
  HCURSOR cursor;
  HICON icon;
  uint16_t iconIndex;
  uint16_t reserved;
} WindowContext;

// One per dialog: placement is computed into it once, every paint moves the
// dialog back to it.
typedef struct WindowRecord {
  HWND handle;
  char title[128];
  int32_t left;
  int32_t top;
  int32_t width;   // 0: pGetWinParm takes it from the window
  int32_t height;  // 0: likewise
  DLGPROC procedure;
} WindowRecord;

VL_OP int32_t pRegister(const char* className, WNDPROC procedure, HINSTANCE instance, HICON icon,
                            HCURSOR cursor, HBRUSH background, const char* menuName);
VL_OP intptr_t pWndProcAddr(int32_t op, HWND window, int32_t controlId, WNDPROC newProcedure);
VL_OP int32_t pWndShow(HWND window, int32_t controlId, int32_t show);
VL_OP int32_t pWndEnable(HWND window, int32_t controlId, int32_t enable);
VL_OP HWND pWndFocus(HWND window, int32_t controlId);
VL_OP int32_t pAlert(const char* caption, const char* text, HWND owner, int32_t focusId, int32_t style);
VL_OP int32_t pColoRGB(int32_t red, int32_t green, int32_t blue);
// faceOrFont: the face name for "[1]", the font handle (as an integer) for "[0]".
VL_OP int32_t pFont(char* command, int32_t height, int32_t width, int32_t weightClass, int32_t italic,
                        int32_t charsetKind, intptr_t faceOrFont);
VL_OP int32_t pFontCtrl(HWND window, HFONT font);
VL_OP HMENU pMenu(HINSTANCE instance, HWND window, const char* menuName);
VL_OP int32_t pMenuItem(int32_t state, HMENU menu, int32_t itemId);
VL_OP HDC pPaint(int32_t op, HWND window);
VL_OP int32_t pGetRealXX(int32_t x);
VL_OP int32_t pGetRealYY(int32_t y);
// bitmapName: a resource number such as 110 or 120, passed as an integer.
VL_OP int32_t pWriteImage(HWND window, int32_t controlId, intptr_t bitmapName, HINSTANCE instance);
VL_OP int32_t pWriteWndTxt(HWND window, int32_t controlId, const char* text, int32_t reset, int32_t newline);
VL_OP int32_t pWriteWndStr(HWND window, int32_t controlId, const char* text);
VL_OP int32_t pReadWndStr(HWND window, int32_t controlId, char* dest, int32_t max);
VL_OP int32_t pClearWndStr(HWND window, int32_t controlId);
VL_OP int32_t pWriteLst(HWND window, int32_t controlId, const char* text, int32_t data);
VL_OP int32_t pReadLst(HWND window, int32_t controlId, char* dest);
VL_OP int32_t pSetLst(HWND window, int32_t controlId, const char* text);
VL_OP int32_t pDeleteLst(HWND window, int32_t controlId);
VL_OP int32_t pInsertLst(HWND window, int32_t controlId, const char* text, int32_t data);
VL_OP int32_t pWriteCbo(HWND window, int32_t controlId, const char* text, int32_t data);
VL_OP int32_t pReadCbo(HWND window, int32_t controlId, char* dest);
VL_OP int32_t pSetCbo(HWND window, int32_t controlId, const char* text);
VL_OP int32_t pDeleteCbo(HWND window, int32_t controlId);
VL_OP int32_t pInsertCbo(HWND window, int32_t controlId, const char* text, int32_t data);
VL_OP int32_t pProgressBar(int32_t op, HWND window, int32_t controlId, int32_t position, int32_t total);
VL_OP int32_t pIsScrnValid(int32_t width, int32_t height, const char* caption);
VL_OP int32_t pGetWinParm(int32_t dx, int32_t dy, int32_t areaWidth, int32_t areaHeight, WindowRecord* record);
