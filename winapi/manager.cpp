// The dialog manager core: window records, dialogs from templates, sending
// and posting, focus, placement, modal loops (see winapi.h for the rules).
#include <algorithm>
#include <cstring>

#include "winapi/handles.h"
#include "winapi/internal.h"
#include "winapi/loop.h"
#include "winapi/task.h"

namespace wa {

namespace {
Manager manager;

HWND newHandle() {
  Manager& m = manager;
  while (m.windows.count(m.nextHandle) || m.nextHandle == 0) m.nextHandle++;
  return m.nextHandle++;
}

int32_t captionHeight(const WaWindow& w) { return (w.style & DS_CAPTION) ? WA_CAPTION : 0; }

struct CharCell {
  int32_t width, height;
};

// Courier New cells by pixel height (measured), a proportional guess otherwise.
CharCell cellFor(int32_t pointSize) {
  int32_t px = (pointSize * 96 + 36) / 72;
  if (px <= 0) px = 12;
  switch (px) {
    case 12: return {7, 14};
    case 13: return {8, 15};
    case 16: return {10, 19};
    default: return {(px * 6 + 5) / 10, (px * 117 + 50) / 100};
  }
}

}  // namespace

Manager& state() { return manager; }

HWND ownerDialog(HWND window) {
  const WaWindow* w = find(window);
  if (w == nullptr) return 0;
  return w->isDialog ? window : (find(w->parent) ? w->parent : 0);
}

WaWindow* find(HWND window) {
  auto it = manager.windows.find(window);
  return it == manager.windows.end() ? nullptr : it->second.get();
}

std::shared_ptr<WaWindow> hold(HWND window) {
  auto it = manager.windows.find(window);
  return it == manager.windows.end() ? nullptr : it->second;
}

WaPresenter& presenter() { return manager.presenter ? *manager.presenter : headlessPresenter(); }

void changed(WaWindow& window, uint32_t what) { presenter().changed(window, what); }

void notifyParent(const WaWindow& control, int32_t code, bool post) {
  if (control.isDialog || control.parent == 0) return;
  WPARAM wParam = (WPARAM(uint16_t(code)) << 16) | uint16_t(control.controlId);
  if (post)
    waPostMessage(control.parent, WM_COMMAND, wParam, LPARAM(control.handle));
  else
    waSendMessage(control.parent, WM_COMMAND, wParam, LPARAM(control.handle));
}

int32_t unitsToPixelsX(int32_t units, int32_t pointSize) { return (units * cellFor(pointSize).width + 2) / 4; }
int32_t unitsToPixelsY(int32_t units, int32_t pointSize) { return (units * cellFor(pointSize).height + 4) / 8; }

static unsigned char foldByte(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  return c;
}

int compareFolded(const std::string& a, const std::string& b) {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; i++) {
    unsigned char x = foldByte(a[i]), y = foldByte(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// --- dialogs -----------------------------------------------------------------

namespace {

const DialogTemplate* findTemplate(HINSTANCE instance, int32_t templateId) {
  const ResourceSet* set = waResources(instance);
  if (set == nullptr || set->dialogs == nullptr) return nullptr;
  for (int32_t i = 0; i < set->dialogCount; i++)
    if (set->dialogs[i] && set->dialogs[i]->id == templateId) return set->dialogs[i];
  return nullptr;
}

// Where the platform puts a new dialog: the template's origin is the owner's
// client origin (the screen's without an owner), or the screen centre.
void placeNewDialog(WaWindow& w, int32_t width, int32_t height) {
  int32_t left = 0, top = 0;
  if (w.style & DS_CENTER) {
    left = (waScreenWidth() - width) / 2;
    top = (waScreenHeight() - height) / 2;
  } else if (w.parent != 0) {
    RECT owner;
    if (waGetWindowRect(w.parent, &owner)) {
      const WaWindow* o = find(w.parent);
      left = owner.left + WA_BORDER;
      top = owner.top + WA_BORDER + (o ? captionHeight(*o) : 0);
    }
  }
  w.rect = RECT{left, top, left + width, top + height};
}

void createControl(WaWindow& dialog, const ControlTemplate& c) {
  auto w = std::make_shared<WaWindow>();
  w->handle = newHandle();
  w->parent = dialog.handle;
  w->controlId = c.id;
  w->kind = c.kind;
  w->style = c.style;
  w->instance = dialog.instance;
  w->text = c.text ? c.text : "";
  int32_t x = unitsToPixelsX(c.x, dialog.pointSize), y = unitsToPixelsY(c.y, dialog.pointSize);
  w->rect = RECT{x, y, x + unitsToPixelsX(c.cx, dialog.pointSize), y + unitsToPixelsY(c.cy, dialog.pointSize)};
  w->visible = (c.style & CS_HIDDEN) == 0;
  w->enabled = (c.style & CS_DISABLED) == 0;
  w->proc = defaultProcedure(c.kind);
  if (c.kind == CTL_BITMAP && c.bitmap != 0) {
    w->imageId = c.bitmap;
    w->imageInstance = dialog.instance;
  }
  dialog.children.push_back(w->handle);
  manager.windows[w->handle] = w;
  presenter().created(*w);
}

HWND firstTabStop(const WaWindow& dialog) {
  for (HWND h : dialog.children) {
    const WaWindow* c = find(h);
    if (c && (c->style & CS_TABSTOP) && c->visible && c->enabled) return h;
  }
  return 0;
}

bool focusInside(HWND dialog) {
  const WaWindow* f = find(manager.focus);
  return f && (f->handle == dialog || f->parent == dialog);
}

HWND createDialog(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param,
                  bool modal) {
  owner = ownerDialog(owner);
  const DialogTemplate* t = findTemplate(instance, templateId);
  if (t == nullptr) return 0;
  installQueue();
  auto w = std::make_shared<WaWindow>();
  w->handle = newHandle();
  w->isDialog = true;
  w->parent = owner;
  w->templateId = templateId;
  w->instance = instance;
  w->style = t->style;
  w->pointSize = t->pointSize > 0 ? t->pointSize : 9;
  w->text = t->caption ? t->caption : "";
  w->dialogProc = procedure;
  w->modal = modal;
  w->minimized = (t->style & DS_MINIMIZED) != 0;
  int32_t width = unitsToPixelsX(t->cx, w->pointSize) + 2 * WA_BORDER;
  int32_t height = unitsToPixelsY(t->cy, w->pointSize) + 2 * WA_BORDER + captionHeight(*w);
  placeNewDialog(*w, width, height);
  HWND handle = w->handle;
  manager.windows[handle] = w;
  manager.dialogOrder.push_back(handle);
  presenter().created(*w);
  for (int32_t i = 0; i < t->controlCount && t->controls; i++) createControl(*w, t->controls[i]);

  HWND first = firstTabStop(*w);
  LRESULT initResult = procedure ? procedure(handle, WM_INITDIALOG, WPARAM(first), param) : 1;
  if (!find(handle)) return 0;  // the procedure destroyed its own dialog
  if (initResult != 0 && first != 0 && !focusInside(handle)) waSetFocus(first);
  if (modal || (t->style & DS_VISIBLE)) waShowWindow(handle, 1);
  if (!w->ended && w->visible) manager.active = handle;
  return handle;
}

bool anythingCanHappen() {
  return !manager.queue.empty() || waHasWork() != 0 ||
         std::any_of(manager.timers.begin(), manager.timers.end(), [](const Timer& t) { return t.due; });
}

}  // namespace

// Pumps until done() holds. When nothing can ever happen, or the virtual
// budget is spent, the presenter is asked to end the wait; if it does not,
// the wait ends anyway so that nothing hangs.
template <typename Done>
void runModalLoop(HWND dialog, uint32_t boxId, Done done) {
  // A loop the background task opens keeps the task on its own stack: the
  // task's pauses inside it pump instead of handing the interface back.
  struct TaskLoop {
    TaskLoop() { waTaskLoopBegins(); }
    ~TaskLoop() { waTaskLoopEnds(); }
  } taskLoop;
  uint32_t start = waNow();
  while (!done() && !manager.quit) {
    if (waPump(-1)) continue;
    if (done()) break;
    bool overBudget = waIsVirtualClock() && uint32_t(waNow() - start) > manager.modalBudget;
    if (anythingCanHappen() && !overBudget) continue;
    presenter().stuck(dialog, boxId);
    if (!done()) {
      if (boxId) {
        auto it = manager.boxes.find(boxId);
        if (it != manager.boxes.end()) it->second.done = true;
      } else if (WaWindow* w = find(dialog)) {
        w->ended = true;
      }
    }
  }
}

void runModalLoopForBox(HWND owner, uint32_t boxId) {
  runModalLoop(owner, boxId, [&] {
    auto it = manager.boxes.find(boxId);
    return it == manager.boxes.end() || it->second.done;
  });
}

void returnToOwner(HWND owner, bool ownerWasEnabled) {
  WaWindow* o = find(owner);
  if (o == nullptr) return;
  if (ownerWasEnabled) waEnableWindow(owner, 1);
  manager.active = owner;
  o->paintPending = o->visible && !o->minimized;  // uncovered by the closed window
  HWND back = find(o->lastFocus) ? o->lastFocus : owner;
  waSetFocus(back);
}

}  // namespace wa

using namespace wa;

HINSTANCE waRegisterResources(const ResourceSet* resources) {
  if (resources == nullptr) return 0;
  auto& v = manager.instances;
  auto it = std::find(v.begin(), v.end(), resources);
  if (it != v.end()) return HINSTANCE(it - v.begin() + 1);
  v.push_back(resources);
  return HINSTANCE(v.size());
}

HINSTANCE waProgramInstance(const ResourceSet* resources) {
  HINSTANCE number = waRegisterResources(resources);
  HINSTANCE module = waHostModule();
  if (number == 0 || module == 0) return number;
  manager.module = module;
  manager.moduleResources = resources;
  return module;
}

const ResourceSet* waResources(HINSTANCE instance) {
  if (instance != 0 && instance == manager.module) return manager.moduleResources;
  if (instance == 0 || instance > manager.instances.size()) return nullptr;
  return manager.instances[instance - 1];
}

HWND waCreateDialog(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param) {
  HWND h = createDialog(instance, templateId, owner, procedure, param, false);
  if (h) presenter().dialogReady(h);
  return h;
}

LRESULT waDialogBox(HINSTANCE instance, int32_t templateId, HWND owner, DLGPROC procedure, LPARAM param) {
  owner = ownerDialog(owner);
  bool ownerWasEnabled = find(owner) && find(owner)->enabled;
  HWND h = createDialog(instance, templateId, owner, procedure, param, true);
  if (h == 0) return findTemplate(instance, templateId) ? 0 : -1;
  auto keep = hold(h);
  if (find(owner)) waEnableWindow(owner, 0);
  if (!keep->ended) presenter().dialogReady(h);
  runModalLoop(h, 0, [&] { return keep->ended || !find(h); });
  LRESULT result = keep->result;
  if (find(h)) waDestroyWindow(h);
  returnToOwner(owner, ownerWasEnabled);
  return result;
}

int32_t waEndDialog(HWND dialog, LRESULT result) {
  WaWindow* w = find(dialog);
  if (w == nullptr || !w->isDialog) return 0;
  w->result = result;
  w->ended = true;
  if (!w->modal) waShowWindow(dialog, 0);
  return 1;
}

int32_t waDestroyWindow(HWND window) {
  auto w = hold(window);
  if (!w) return 0;
  if (w->isDialog) {
    // Owned dialogs go first, as on the classic platform.
    for (HWND d : waDialogs())
      if (d != window && find(d) && find(d)->parent == window) waDestroyWindow(d);
    for (HWND c : std::vector<HWND>(w->children)) waDestroyWindow(c);
    std::erase_if(manager.timers, [&](const Timer& t) {
      if (t.window != window) return false;
      waCancelDeadline(t.deadline);
      return true;
    });
    std::erase(manager.dialogOrder, window);
    w->ended = true;
  } else if (WaWindow* parent = find(w->parent)) {
    std::erase(parent->children, window);
  }
  if (manager.focus == window) manager.focus = 0;
  if (manager.active == window) manager.active = w->isDialog ? w->parent : manager.active;
  manager.windows.erase(window);
  presenter().destroyed(window);
  return 1;
}

int32_t waIsWindow(HWND window) { return find(window) ? 1 : 0; }

// --- messages ------------------------------------------------------------------

// What a dialog does with a message its procedure left alone: its caption
// answers the text messages, and a dialog given the focus hands it on.
static LRESULT defaultDialogProcedure(WaWindow& dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS: {
      HWND back = find(dialog.lastFocus) ? dialog.lastFocus : firstTabStop(dialog);
      if (back) waSetFocus(back);
      return 0;
    }
    case WM_SETTEXT:
      dialog.text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      changed(dialog, WA_TEXT);
      return 1;
    case WM_GETTEXT: {
      if (lParam == 0 || wParam == 0) return 0;
      size_t n = std::min<size_t>(dialog.text.size(), wParam - 1);
      std::memcpy(reinterpret_cast<char*>(lParam), dialog.text.data(), n);
      reinterpret_cast<char*>(lParam)[n] = 0;
      return LRESULT(n);
    }
    case WM_GETTEXTLENGTH: return LRESULT(dialog.text.size());
    case WM_SETFONT:
      dialog.font = HFONT(wParam);
      return 0;
    case WM_GETFONT: return LRESULT(dialog.font);
    case WM_SETICON: {
      LRESULT previous = LRESULT(dialog.icon);
      dialog.icon = HICON(lParam);
      changed(dialog, WA_ICON);
      return previous;
    }
    default: return 0;
  }
}

LRESULT waSendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto w = hold(window);
  if (!w) return 0;
  if (!w->isDialog) return w->proc ? w->proc(window, message, wParam, lParam) : 0;
  LRESULT r = w->dialogProc ? w->dialogProc(window, message, wParam, lParam) : 0;
  if (r == 0 && find(window)) return defaultDialogProcedure(*w, message, wParam, lParam);
  return r;
}

int32_t waPostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_QUIT) {
    waPostQuitMessage(int32_t(wParam));
    return 1;
  }
  if (!find(window)) return 0;
  installQueue();
  manager.queue.push_back(Posted{window, message, wParam, lParam});
  return 1;
}

void waPostQuitMessage(int32_t code) {
  manager.quit = true;
  manager.quitCode = code;
}

int32_t waMessageLoop(void) {
  installQueue();
  while (!manager.quit) {
    if (waPump(-1)) continue;
    if (!anythingCanHappen() && !manager.quit) {
      presenter().stuck(0, 0);
      if (!manager.quit) waPostQuitMessage(0);
    }
  }
  manager.quit = false;
  return manager.quitCode;
}

// --- relations, focus, placement, state --------------------------------------

HWND waGetDlgItem(HWND dialog, int32_t controlId) {
  const WaWindow* d = find(dialog);
  if (d == nullptr) return 0;
  for (HWND h : d->children)
    if (const WaWindow* c = find(h); c && c->controlId == controlId) return h;
  return 0;
}

int32_t waGetDlgCtrlID(HWND control) {
  const WaWindow* c = find(control);
  return c && !c->isDialog ? c->controlId : 0;
}

HWND waGetParent(HWND window) {
  const WaWindow* w = find(window);
  return w ? w->parent : 0;
}

HWND waActiveWindow(void) { return find(manager.active) ? manager.active : 0; }
HWND waGetFocus(void) { return find(manager.focus) ? manager.focus : 0; }

HWND waSetFocus(HWND window) {
  HWND previous = waGetFocus();
  if (window != 0 && !find(window)) return 0;
  if (window == previous) return previous;
  manager.focus = window;
  if (previous) waSendMessage(previous, WM_KILLFOCUS, WPARAM(window), 0);
  if (WaWindow* w = find(window)) {
    HWND dialog = w->isDialog ? window : w->parent;
    if (!w->isDialog)
      if (WaWindow* d = find(dialog)) d->lastFocus = window;
    if (find(dialog)) manager.active = dialog;
    changed(*w, WA_FOCUS);
    waSendMessage(window, WM_SETFOCUS, WPARAM(previous), 0);
  }
  return previous;
}

int32_t waGetWindowRect(HWND window, RECT* rect) {
  const WaWindow* w = find(window);
  if (w == nullptr || rect == nullptr) return 0;
  if (w->isDialog && w->minimized) {
    *rect = RECT{WA_MINIMIZED_POS, WA_MINIMIZED_POS, WA_MINIMIZED_POS + WA_MINIMIZED_CX,
                 WA_MINIMIZED_POS + WA_MINIMIZED_CY};
    return 1;
  }
  *rect = w->rect;
  if (!w->isDialog) {
    // Controls are kept in client coordinates; the screen rectangle adds the dialog's client origin.
    if (const WaWindow* d = find(w->parent)) {
      RECT dr;
      waGetWindowRect(d->handle, &dr);
      int32_t dx = dr.left + WA_BORDER, dy = dr.top + WA_BORDER + captionHeight(*d);
      *rect = RECT{rect->left + dx, rect->top + dy, rect->right + dx, rect->bottom + dy};
    }
  }
  return 1;
}

int32_t waGetClientRect(HWND window, RECT* rect) {
  const WaWindow* w = find(window);
  if (w == nullptr || rect == nullptr) return 0;
  int32_t width = w->rect.right - w->rect.left, height = w->rect.bottom - w->rect.top;
  if (w->isDialog) {
    width -= 2 * WA_BORDER;
    height -= 2 * WA_BORDER + captionHeight(*w);
  }
  *rect = RECT{0, 0, std::max(width, 0), std::max(height, 0)};
  return 1;
}

int32_t waMoveWindow(HWND window, int32_t left, int32_t top, int32_t width, int32_t height, int32_t repaint) {
  auto w = hold(window);
  if (!w) return 0;
  waSendMessage(window, WM_WINDOWPOSCHANGING, 0, 0);
  if (!find(window)) return 0;
  RECT next{left, top, left + std::max(width, 0), top + std::max(height, 0)};
  bool moved = std::memcmp(&next, &w->rect, sizeof next) != 0;
  w->rect = next;
  if (moved) {
    changed(*w, WA_RECT);
    if (repaint && w->isDialog && w->visible && !w->minimized) w->paintPending = true;
  }
  waSendMessage(window, WM_WINDOWPOSCHANGED, 0, 0);
  return 1;
}

int32_t waShowWindow(HWND window, int32_t show) {
  WaWindow* w = find(window);
  if (w == nullptr) return 0;
  int32_t was = w->visible ? 1 : 0;
  if (w->visible != (show != 0)) {
    w->visible = show != 0;
    if (w->isDialog && w->visible && !w->minimized) w->paintPending = true;
    if (!w->visible && focusInside(window) && (w->isDialog || manager.focus == window)) manager.focus = 0;
    changed(*w, WA_VISIBLE);
  }
  return was;
}

int32_t waEnableWindow(HWND window, int32_t enable) {
  WaWindow* w = find(window);
  if (w == nullptr) return 0;
  int32_t wasDisabled = w->enabled ? 0 : 1;
  if (w->enabled != (enable != 0)) {
    w->enabled = enable != 0;
    changed(*w, WA_ENABLED);
  }
  return wasDisabled;
}

int32_t waIsVisible(HWND window) {
  const WaWindow* w = find(window);
  if (w == nullptr || !w->visible) return 0;
  return w->isDialog || waIsVisible(w->parent) ? 1 : 0;
}

int32_t waIsEnabled(HWND window) {
  const WaWindow* w = find(window);
  return w && w->enabled ? 1 : 0;
}

WNDPROC waGetWindowProc(HWND window) {
  const WaWindow* w = find(window);
  return w && !w->isDialog ? w->proc : nullptr;
}

WNDPROC waSetWindowProc(HWND window, WNDPROC procedure) {
  WaWindow* w = find(window);
  if (w == nullptr || w->isDialog || procedure == nullptr) return nullptr;
  WNDPROC previous = w->proc;
  w->proc = procedure;
  return previous;
}

int32_t waSetIcon(HWND window, HICON icon) {
  WaWindow* w = find(window);
  if (w == nullptr) return 0;
  HICON previous = w->icon;
  w->icon = icon;
  changed(*w, WA_ICON);
  return int32_t(previous);
}

int32_t waScreenWidth(void) { return presenter().screenWidth(); }
int32_t waScreenHeight(void) { return presenter().screenHeight(); }

int32_t waUseDesktop(void) {
  if (!manager.desktopTried && manager.desktopFactory) {
    manager.desktopTried = true;
    if (WaPresenter* p = manager.desktopFactory()) manager.presenter = p;
  }
  return presenter().isDesktop() ? 1 : 0;
}

void waResetDialogManager(void) {
  for (const Timer& t : manager.timers) waCancelDeadline(t.deadline);
  WaPresenter* keepPresenter = manager.presenter;
  auto factory = manager.desktopFactory;
  manager = Manager{};
  manager.presenter = keepPresenter;
  manager.desktopFactory = factory;
}

// --- C++ side: presenters and their view ---------------------------------------

void waSetPresenter(WaPresenter* p) { manager.presenter = p; }
WaPresenter* waPresenter() { return &presenter(); }
void waOfferDesktop(WaPresenter* (*factory)()) { manager.desktopFactory = factory; }
const WaWindow* waWindow(HWND window) { return find(window); }
std::vector<HWND> waDialogs() { return manager.dialogOrder; }
void waSetModalBudget(uint32_t ms) { manager.modalBudget = ms; }
void waInvalidate(HWND dialog) {
  WaWindow* w = find(dialog);
  if (w && w->isDialog && w->visible && !w->minimized) w->paintPending = true;
}
