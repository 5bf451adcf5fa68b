// Pictures, painting, icons, fonts, window classes and menus. Nothing is
// rasterised here: the records say what is drawn, the presenter draws it.
#include "winapi/handles.h"
#include "winapi/internal.h"

using namespace wa;

// The program's module (Windows) gives the icon linked into the executable.
// Otherwise the handle names the icon of the resource set: the set's number
// in the high half, the icon's in the low.
HICON waLoadIcon(HINSTANCE instance, int32_t iconId) {
  const ResourceSet* set = waResources(instance);
  if (set == nullptr) return 0;
  if (instance == state().module) {
    if (HICON linked = waHostModuleIcon(instance, iconId)) return linked;
  }
  if (set->icon == nullptr || set->icon(iconId) == nullptr) return 0;
  return HICON((waRegisterResources(set) << 16) | (uint32_t(iconId) & 0xFFFF));
}

HICON waFileIcon(HINSTANCE instance, const char* hostPath, uint16_t* index) {
  return waHostFileIcon(instance, hostPath, index);
}

HCURSOR waArrowCursor(void) { return waHostArrowCursor(); }

int32_t waDrawBitmap(HWND window, HINSTANCE instance, int32_t bitmapId) {
  WaWindow* w = find(window);
  const ResourceSet* set = waResources(instance);
  if (w == nullptr || set == nullptr || set->bitmap == nullptr || set->bitmap(bitmapId) == nullptr) return 0;
  w->imageId = bitmapId;
  w->imageInstance = instance;
  w->imageDraws++;
  changed(*w, WA_IMAGE);
  return 1;
}

HDC waBeginPaint(HWND window) {
  WaWindow* w = find(window);
  if (w == nullptr) return 0;
  w->paintPending = false;
  return state().nextDC++;
}

HDC waGetDC(HWND window) { return find(window) ? state().nextDC++ : 0; }

int32_t waDrawFrame(HWND window, HDC dc) {
  WaWindow* w = find(window);
  if (w == nullptr || dc == 0) return 0;
  w->frames++;
  return 1;
}

int32_t waEndPaint(HWND window, HDC) {
  WaWindow* w = find(window);
  if (w == nullptr) return 0;
  w->paintPending = false;
  w->paints++;
  changed(*w, WA_PAINTED);
  return 1;
}

HFONT waCreateFont(int32_t height, int32_t width, int32_t weight, int32_t italic, int32_t charset, const char* face) {
  Manager& m = state();
  HFONT h = m.nextFont++;
  m.fonts[h] = Font{height, width, weight, italic, charset, face ? face : ""};
  return h;
}

int32_t waDeleteFont(HFONT font) { return state().fonts.erase(font) ? 1 : 0; }

uint32_t waRegisterClass(const char* name, WNDPROC procedure, HINSTANCE instance, HICON, HCURSOR, HBRUSH,
                         const char*, uint32_t style) {
  if (name == nullptr || *name == 0) return 0;
  auto& classes = state().classes;
  for (const WindowClass& c : classes)
    if (c.instance == instance && compareFolded(c.name, name) == 0) return 0;  // already registered
  classes.push_back(WindowClass{name, procedure, instance, style});
  return uint32_t(0xC000 + classes.size() - 1);
}

// The program's resource sets carry no menus.
HMENU waLoadMenu(HINSTANCE, HWND, const char*) { return 0; }
int32_t waEnableMenuItem(HMENU, int32_t, int32_t) { return -1; }
