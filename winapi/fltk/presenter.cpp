// The desktop presenter: mirrors the dialog manager's windows into FLTK and
// turns FLTK input into queued waUser* actions (see desktop.h).
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/Fl_Text_Buffer.H>
#include <FL/Fl_Text_Editor.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <cstdlib>
#include <map>
#include <memory>

#include "winapi/fltk/boxes.h"
#include "winapi/fltk/convert.h"
#include "winapi/fltk/desktop.h"
#include "winapi/fltk/script.h"
#include "winapi/fltk/session.h"
#include "winapi/fltk/widgets.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace vlfl {
namespace {

Desktop desk;

void onBufferModified(int, int inserted, int deleted, int, const char*, void* tag);

HWND handleOf(const Fl_Widget* w) { return w ? HWND(reinterpret_cast<uintptr_t>(w->user_data())) : 0; }
void* tagOf(HWND h) { return reinterpret_cast<void*>(uintptr_t(h)); }

Control* controlOf(HWND h) {
  auto it = desk.controls.find(h);
  return it == desk.controls.end() ? nullptr : it->second.get();
}

FrameWindow* windowOf(HWND dialog) {
  auto it = desk.dialogs.find(dialog);
  return it == desk.dialogs.end() ? nullptr : it->second;
}

// --- the pass that keeps the screen current -------------------------------------

// Two passes of FLTK after a buffer's widget was given up, the widget is gone.
void deleteRetiredBuffers() {
  for (Fl_Text_Buffer* b : desk.retired) delete b;
  desk.retired.swap(desk.retiring);
  desk.retiring.clear();
}

void afterFltk() {
  deleteRetiredBuffers();
  Fl::flush();
  // Replies read while drawing can leave events in Xlib's queue, where poll()
  // on the connection no longer sees them: take another turn for those.
  if (desk.display && XEventsQueued(desk.display, QueuedAlready) > 0) requestFlush();
}

void onFlush(void*) {
  desk.flushDeadline = 0;
  Fl::check();
  afterFltk();
}

void onConnection(int, short, void*) {
  Fl::check();
  afterFltk();
}

// --- actions: input on its way to the manager ------------------------------------

void runActions(void*) {
  desk.actionDeadline = 0;
  while (!desk.actions.empty()) {
    Action a = desk.actions.front();
    desk.actions.pop_front();
    switch (a.kind) {
      case Action::Click: waUserClick(a.target); break;
      case Action::Type: {
        bool ok = waUserType(a.target, a.text);
        if (Control* c = controlOf(a.target)) {
          if (c->typing > 0) c->typing--;
          // Refused (or cut to digits): show what the manager holds.
          if (c->typing == 0 && (!ok || waWindow(a.target)->text != a.text)) showText(*c, *waWindow(a.target));
        }
        break;
      }
      case Action::Select:
        if (!waUserSelect(a.target, a.a, a.b != 0))
          if (Control* c = controlOf(a.target)) showSelection(*c, *waWindow(a.target));
        break;
      case Action::Key: waUserKey(a.target, a.a, a.b != 0); break;
      case Action::Close: waUserClose(a.target); break;
      case Action::MouseUp: waUserMouseUp(a.target, a.a, a.b); break;
      case Action::Focus: waUserFocus(a.target); break;
      case Action::Restore: waUserRestore(a.target); break;
      case Action::Move:
        if (!waUserMove(a.target, a.a, a.b))
          if (FrameWindow* w = windowOf(a.target)) placeDialog(a.target, *w);
        break;
      case Action::Answer: waAnswerBox(a.box, a.a, a.text); break;
      case Action::Invalidate: waInvalidate(a.target); break;
    }
  }
  requestFlush();
}

// --- keyboard and mouse, seen before FLTK delivers them ----------------------------

HWND dialogOfWindow(Fl_Window* w) {
  while (w && w->window()) w = w->window();
  auto* frame = dynamic_cast<FrameWindow*>(w);
  return frame && frame->boxId == 0 ? frame->dialog : 0;
}

// The control (or dialog) FLTK's focus stands for, 0 when it is none of ours.
HWND focusedHandle(HWND dialog) {
  HWND h = handleOf(Fl::focus());
  if (Control* c = controlOf(h); c && c->dialog == dialog) return h;
  return dialog;
}

// The next (or previous) tab stop after the focused control, in template order.
HWND nextTabStop(HWND dialog, HWND from, bool backwards) {
  const WaWindow* d = waWindow(dialog);
  if (d == nullptr) return 0;
  std::vector<HWND> stops;
  for (HWND h : d->children) {
    const WaWindow* c = waWindow(h);
    if (c && (c->style & CS_TABSTOP) && c->visible && c->enabled) stops.push_back(h);
  }
  if (stops.empty()) return 0;
  size_t at = stops.size();
  for (size_t i = 0; i < stops.size(); i++)
    if (stops[i] == from) at = i;
  if (at == stops.size()) return backwards ? stops.back() : stops.front();
  return stops[(at + (backwards ? stops.size() - 1 : 1)) % stops.size()];
}

bool isInputEvent(int event) {
  switch (event) {
    case FL_PUSH:
    case FL_RELEASE:
    case FL_DRAG:
    case FL_MOUSEWHEEL:
    case FL_KEYBOARD:
    case FL_KEYUP:
    case FL_PASTE:
    case FL_DND_ENTER:
    case FL_DND_DRAG:
    case FL_DND_RELEASE: return true;
    default: return false;
  }
}

// Keys: Enter and Esc go to the manager (which makes them the dialog's
// commands); Tab walks the tab stops; every release reaches the control's
// window procedure; the rest FLTK edits with.
int handleKey(int event, Fl_Window* window, HWND dialog) {
  HWND target = focusedHandle(dialog);
  int32_t vk = virtualKey(Fl::event_key());
  Control* c = controlOf(target);
  bool lineEditor = c && c->kind == CTL_EDIT && (c->style & CS_MULTILINE) && (c->style & CS_WANTRETURN);
  if (event == FL_KEYUP) {
    if (vk != 0) queueAction(Action(Action::Key, target, vk, 0));
    return Fl::handle_(event, window);
  }
  if (vk == VK_TAB && !(Fl::event_state() & (FL_CTRL | FL_ALT))) {
    if (HWND next = nextTabStop(dialog, target, Fl::event_state() & FL_SHIFT)) queueAction(Action(Action::Focus, next));
    return 1;
  }
  if ((vk == VK_RETURN && !lineEditor) || vk == VK_ESCAPE) {
    queueAction(Action(Action::Key, target, vk, 1));
    return 1;
  }
  return Fl::handle_(event, window);
}

int dispatch(int event, Fl_Window* window) {
  HWND dialog = dialogOfWindow(window ? window : Fl::first_window());
  if (event == FL_KEYBOARD || event == FL_KEYUP) {
    Fl_Window* focusWindow = Fl::focus() ? Fl::focus()->window() : nullptr;
    if (focusWindow) dialog = dialogOfWindow(focusWindow);
  }
  if (dialog == 0) return boxDispatch(event, window);
  const WaWindow* d = waWindow(dialog);
  // A disabled dialog (the owner of a modal one) takes no input at all.
  if (d && !d->enabled && isInputEvent(event)) return 1;
  if (event == FL_KEYBOARD || event == FL_KEYUP) return handleKey(event, window, dialog);
  Fl_Widget* before = Fl::focus();
  int used = Fl::handle_(event, window);
  if (event == FL_PUSH && Fl::focus() != before) {
    HWND now = handleOf(Fl::focus());
    if (controlOf(now) && waGetFocus() != now) queueAction(Action(Action::Focus, now));
  }
  return used;
}

// --- widget callbacks --------------------------------------------------------------

void onButton(Fl_Widget* w, void*) { queueAction(Action(Action::Click, handleOf(w))); }

void onInput(Fl_Widget* w, void*) {
  Control* c = controlOf(handleOf(w));
  if (c == nullptr || c->settingText) return;
  c->typing++;
  queueAction(Action(Action::Type, c->handle, 0, 0, fromUtf8(static_cast<Fl_Input*>(w)->value())));
}

void onBufferModified(int, int inserted, int deleted, int, const char*, void* tag) {
  Control* c = controlOf(HWND(reinterpret_cast<uintptr_t>(tag)));
  if (c == nullptr || c->settingText || (inserted == 0 && deleted == 0)) return;
  char* text = c->buffer->text();
  std::string typed = toCrLf(fromUtf8(text));
  std::free(text);
  c->typing++;
  queueAction(Action(Action::Type, c->handle, 0, 0, typed));
}

void onBrowser(Fl_Widget* w, void*) {
  auto* b = static_cast<Fl_Hold_Browser*>(w);
  Control* c = controlOf(handleOf(w));
  if (c == nullptr || c->settingText || b->value() <= 0) return;
  bool twice = Fl::event() == FL_RELEASE || Fl::event() == FL_PUSH ? Fl::event_clicks() > 0 : false;
  queueAction(Action(Action::Select, c->handle, b->value() - 1, twice ? 1 : 0));
}

void onChoice(Fl_Widget* w, void*) {
  Control* c = controlOf(handleOf(w));
  if (c == nullptr || c->settingText) return;
  queueAction(Action(Action::Select, c->handle, static_cast<Fl_Choice*>(w)->value(), 0));
}

void onMoved(FrameWindow* w, int left, int top) { queueAction(Action(Action::Move, w->dialog, left, top)); }
void onCloseBox(FrameWindow* w) { queueAction(Action(Action::Close, w->dialog)); }
void onReleased(FrameWindow* w, int x, int y) { queueAction(Action(Action::MouseUp, w->dialog, x, y)); }
void onMapped(FrameWindow* w) {
  if (desk.placing || !w->shown()) return;  // FLTK also says "show" to windows not yet on the screen
  const WaWindow* d = waWindow(w->dialog);
  if (d && d->minimized) queueAction(Action(Action::Restore, w->dialog));
}

// The window manager's close (and FLTK's Esc, which never gets this far).
void onWindowCallback(Fl_Widget* w, void*) {
  if (Fl::event() == FL_SHORTCUT && Fl::event_key() == FL_Escape) return;
  queueAction(Action(Action::Close, static_cast<FrameWindow*>(w)->dialog));
}

// --- building widgets ---------------------------------------------------------------

Fl_Boxtype edgeOf(uint32_t style) {
  if (style & CS_CLIENTEDGE) return FL_DOWN_BOX;
  if (style & CS_MODALFRAME) return FL_UP_BOX;
  if (style & (CS_SUNKEN | CS_STATICEDGE)) return FL_THIN_DOWN_BOX;
  if (style & CS_BORDER) return FL_BORDER_BOX;
  if (style & CS_GREYPANEL) return FL_FLAT_BOX;
  return FL_NO_BOX;
}

Fl_Align alignOf(uint32_t style) {
  if (style & CS_RIGHT) return FL_ALIGN_RIGHT;
  if (style & CS_CENTER) return FL_ALIGN_CENTER;
  return FL_ALIGN_LEFT;
}

int lineHeight(int pixels) {
  fl_font(kDialogFont, pixels);
  return fl_height();
}

Fl_Widget* makeEdit(Control& c, const WaWindow& w, int x, int y, int cw, int ch, int px) {
  bool readOnly = (w.style & CS_READONLY) != 0;
  Fl_Color paper = readOnly ? faceColour() : FL_WHITE;
  Fl_Boxtype edge = (w.style & CS_CLIENTEDGE) ? FL_DOWN_BOX : (w.style & CS_BORDER) ? FL_BORDER_BOX : FL_THIN_DOWN_BOX;
  if (w.style & CS_MULTILINE) {
    auto* e = new Fl_Text_Editor(x, y, cw, ch);
    c.buffer = new Fl_Text_Buffer();
    e->buffer(c.buffer);
    e->textfont(kDialogFont);
    e->textsize(px);
    e->wrap_mode(Fl_Text_Display::WRAP_AT_BOUNDS, 0);
    e->scrollbar_align(FL_ALIGN_RIGHT);
    e->scrollbar_width(16);
    e->box(edge);
    e->color(paper);
    if (readOnly) e->cursor_style(Fl_Text_Display::DIM_CURSOR);
    c.buffer->add_modify_callback(onBufferModified, tagOf(c.handle));
    return e;
  }
  Fl_Input* in = (w.style & CS_PASSWORD) ? new Fl_Secret_Input(x, y, cw, ch)
                 : (w.style & CS_NUMBER) ? new DigitsInput(x, y, cw, ch)
                                          : new Fl_Input(x, y, cw, ch);
  in->textfont(kDialogFont);
  in->textsize(px);
  in->box(edge);
  in->color(paper);
  in->readonly(readOnly ? 1 : 0);
  in->when(FL_WHEN_CHANGED);
  in->callback(onInput);
  return in;
}

Fl_Widget* makeWidget(Control& c, const WaWindow& w, const Frame& client, int px) {
  int x = client.left + w.rect.left, y = client.top + w.rect.top;
  int cw = w.rect.right - w.rect.left, ch = w.rect.bottom - w.rect.top;
  switch (w.kind) {
    case CTL_BITMAP: return new Picture(x, y, cw, ch);
    case CTL_GROUPBOX: return new GroupFrame(x, y, cw, ch);
    case CTL_BUTTON: {
      auto* b = new Fl_Button(x, y, cw, ch);
      b->box((w.style & CS_STATICEDGE) ? FL_THIN_UP_BOX : FL_UP_BOX);
      b->down_box(FL_THIN_DOWN_BOX);
      b->color(faceColour());
      b->callback(onButton);
      return b;
    }
    case CTL_CHECKBOX: {
      auto* b = new CheckBox(x, y, cw, ch, (w.style & CS_LEFTTEXT) != 0);
      b->callback(onButton);
      return b;
    }
    case CTL_EDIT: return makeEdit(c, w, x, y, cw, ch, px);
    case CTL_LISTBOX: {
      auto* b = new Fl_Hold_Browser(x, y, cw, ch);
      b->format_char(0);
      b->column_char(0);
      b->textfont(kDialogFont);
      b->textsize(px);
      b->box((w.style & CS_BORDER) ? FL_BORDER_BOX : FL_DOWN_BOX);
      b->color(FL_WHITE);
      b->selection_color(captionColour(true));
      b->has_scrollbar((w.style & CS_VSCROLL) ? Fl_Browser_::VERTICAL : 0);
      b->scrollbar_width(16);
      b->when(FL_WHEN_CHANGED | FL_WHEN_NOT_CHANGED);
      b->callback(onBrowser);
      return b;
    }
    case CTL_COMBOBOX: {
      // The template's height is the dropped list's; the closed box is one line.
      auto* b = new Fl_Choice(x, y, cw, std::min(ch, lineHeight(px) + 6));
      b->textfont(kDialogFont);
      b->textsize(px);
      b->box(FL_DOWN_BOX);
      b->down_box(FL_BORDER_BOX);
      b->color(FL_WHITE);
      b->callback(onChoice);
      return b;
    }
    case CTL_PROGRESS: {
      auto* p = new Fl_Progress(x, y, cw, ch);
      p->box(FL_THIN_DOWN_BOX);
      p->color(faceColour());
      p->selection_color(captionColour(true));
      return p;
    }
    default: {
      Fl_Boxtype edge = edgeOf(w.style);
      auto* s = new TextStatic(x, y, cw, ch, edge, alignOf(w.style), !(w.style & CS_NOWRAP));
      if (w.style & CS_GREYPANEL) s->color(fl_rgb_color(160, 160, 160));
      return s;
    }
  }
}

void showPicture(Control& c, const WaWindow& w) {
  const ResourceSet* set = waResources(w.imageInstance);
  const BitmapResource* b = set && set->bitmap && w.imageId ? set->bitmap(w.imageId) : nullptr;
  if (b) static_cast<Picture*>(c.widget)->pixels(b->rgb, b->width, b->height);
}

void showItems(Control& c, const WaWindow& w) {
  c.settingText = true;
  if (c.kind == CTL_LISTBOX) {
    auto* b = static_cast<Fl_Hold_Browser*>(c.widget);
    b->clear();
    for (const WaItem& item : w.items) b->add(toUtf8(item.text).c_str());
  } else if (c.kind == CTL_COMBOBOX) {
    auto* b = static_cast<Fl_Choice*>(c.widget);
    c.labels.clear();
    for (const WaItem& item : w.items) c.labels.push_back(labelText(toUtf8(item.text)));
    c.menu.assign(c.labels.size() + 1, Fl_Menu_Item{});
    for (size_t i = 0; i < c.labels.size(); i++) {
      c.menu[i].text = c.labels[i].c_str();
      c.menu[i].labelfont_ = kDialogFont;
      c.menu[i].labelsize_ = b->textsize();
    }
    b->menu(c.menu.data());
  }
  c.settingText = false;
  showSelection(c, w);
}

// FLTK maps a window that is given the focus: only a shown window takes it.
void takeFocus(Control& c) {
  FrameWindow* win = windowOf(c.dialog);
  if (win && win->shown() && win->visible() && waGetFocus() == c.handle && Fl::focus() != c.widget &&
      c.widget->visible_r())
    c.widget->take_focus();
}

void syncControl(Control& c, const WaWindow& w, uint32_t what) {
  Fl_Widget* widget = c.widget;
  if (what & WA_TEXT) showText(c, w);
  if (what & WA_ITEMS) showItems(c, w);
  if (what & WA_SELECTION) showSelection(c, w);
  if (what & WA_VISIBLE) w.visible ? widget->show() : widget->hide();
  if (what & WA_ENABLED) w.enabled ? widget->activate() : widget->deactivate();
  if ((what & WA_PROGRESS) && c.kind == CTL_PROGRESS) {
    auto* p = static_cast<Fl_Progress*>(widget);
    p->minimum(float(w.rangeLow));
    p->maximum(float(w.rangeHigh == w.rangeLow ? w.rangeLow + 1 : w.rangeHigh));
    p->value(float(w.position));
  }
  if ((what & WA_CHECK) && c.kind == CTL_CHECKBOX) static_cast<CheckBox*>(widget)->checked(w.checked != 0);
  if ((what & WA_IMAGE) && c.kind == CTL_BITMAP) showPicture(c, w);
  if (what & WA_RECT) {
    FrameWindow* win = windowOf(c.dialog);
    if (win) {
      Frame client = clientArea(waWindow(c.dialog)->rect, win->captioned());
      int h = w.rect.bottom - w.rect.top;
      if (c.kind == CTL_COMBOBOX) h = std::min(h, lineHeight(widget->labelsize()) + 6);
      widget->resize(client.left + w.rect.left, client.top + w.rect.top, w.rect.right - w.rect.left, h);
      win->redraw();
    }
  }
  if (what & WA_FOCUS) takeFocus(c);
  widget->redraw();
}

void showActiveCaptions() {
  HWND active = waActiveWindow();
  for (auto& [h, w] : desk.dialogs) w->active(h == active);
}

class FlPresenter : public WaPresenter {
 public:
  bool isDesktop() const override { return true; }
  int32_t screenWidth() const override { return DisplayWidth(desk.display, DefaultScreen(desk.display)); }
  int32_t screenHeight() const override { return DisplayHeight(desk.display, DefaultScreen(desk.display)); }

  void created(const WaWindow& w) override {
    Fl_Group::current(nullptr);
    if (w.isDialog)
      createDialog(w);
    else
      createControl(w);
    requestFlush();
  }

  void changed(const WaWindow& w, uint32_t what) override {
    if (w.isDialog) {
      FrameWindow* win = windowOf(w.handle);
      if (win == nullptr) return;
      if (what & WA_TEXT) win->caption(toUtf8(w.text));
      if (what & WA_ICON) showIcon(*win, w);
      if (what & WA_PAINTED) win->etched(w.frames > 0);
      if (what & (WA_RECT | WA_VISIBLE)) placeDialog(w.handle, *win);
      if (what & WA_FOCUS) {
        if (waGetFocus() == w.handle && win->shown()) Fl::focus(win);
      }
      if (what & (WA_FOCUS | WA_ENABLED | WA_VISIBLE)) showActiveCaptions();
    } else if (Control* c = controlOf(w.handle)) {
      syncControl(*c, w, what);
      if (what & WA_FOCUS) showActiveCaptions();
    }
    requestFlush();
  }

  void destroyed(HWND window) override {
    if (FrameWindow* win = windowOf(window)) {
      desk.dialogs.erase(window);
      for (auto it = desk.controls.begin(); it != desk.controls.end();)
        it = it->second->dialog == window ? desk.controls.erase(it) : std::next(it);
      win->hide();
      Fl::delete_widget(win);  // after FLTK has left any handler of its widgets
    } else if (Control* c = controlOf(window)) {
      Fl_Widget* widget = c->widget;
      desk.controls.erase(window);
      widget->hide();
      if (widget->parent()) widget->parent()->remove(widget);
      Fl::delete_widget(widget);
    }
    requestFlush();
  }

  void dialogReady(HWND dialog) override {
    if (FrameWindow* win = windowOf(dialog)) placeDialog(dialog, *win);
    showActiveCaptions();
    requestFlush();
  }

  void showBox(const WaBox& box) override {
    noteBoxShown(box);
    openBox(box);
    requestFlush();
  }

  void hideBox(uint32_t boxId) override {
    noteBoxHidden(boxId);
    closeBox(boxId);
    requestFlush();
  }

  // The X connection is always watched, so a loop here is never without hope;
  // the manager ends the wait on its own if it decides otherwise.
  void stuck(HWND, uint32_t) override {}

 private:
  void createDialog(const WaWindow& w) {
    bool captioned = (w.style & DS_CAPTION) != 0;
    auto* win = new FrameWindow(w.rect.left, w.rect.top, std::max(1, int(w.rect.right - w.rect.left)),
                                std::max(1, int(w.rect.bottom - w.rect.top)), captioned,
                                (w.style & DS_TOOLWINDOW) != 0, (w.style & DS_SYSMENU) != 0);
    win->dialog = w.handle;
    win->user_data(tagOf(w.handle));
    win->resizable(nullptr);
    win->moved = onMoved;
    win->closeBoxPressed = onCloseBox;
    win->released = onReleased;
    win->mapped = onMapped;
    win->callback(onWindowCallback);
    win->caption(toUtf8(w.text));
    win->labelfont(kDialogFont);
    win->labelsize(fontPixels(w.pointSize));
    win->xclass("Velloran");
    if (w.parent) win->set_non_modal();
    desk.dialogs[w.handle] = win;
  }

  void createControl(const WaWindow& w) {
    FrameWindow* win = windowOf(w.parent);
    const WaWindow* d = waWindow(w.parent);
    if (win == nullptr || d == nullptr) return;
    auto c = std::make_unique<Control>();
    c->handle = w.handle;
    c->dialog = w.parent;
    c->kind = w.kind;
    c->style = w.style;
    int px = fontPixels(d->pointSize);
    c->widget = makeWidget(*c, w, clientArea(d->rect, win->captioned()), px);
    c->widget->user_data(tagOf(w.handle));
    c->widget->labelfont(kDialogFont);
    c->widget->labelsize(px);
    if (!(w.style & CS_TABSTOP) && w.kind != CTL_EDIT && w.kind != CTL_LISTBOX) c->widget->clear_visible_focus();
    win->add(c->widget);
    Control& ref = *c;
    desk.controls[w.handle] = std::move(c);
    syncControl(ref, w, WA_TEXT | WA_ITEMS | WA_VISIBLE | WA_ENABLED | WA_PROGRESS | WA_CHECK | WA_IMAGE);
  }

  void showIcon(FrameWindow& win, const WaWindow& w) {
    const ResourceSet* set = waResources(w.instance);
    const IconResource* icon = w.icon && set && set->icon ? set->icon(100) : nullptr;
    if (icon == nullptr) return;
    Fl_RGB_Image image(icon->rgba, icon->width, icon->height, 4);
    win.icon(&image);  // FLTK keeps its own copy
  }
};

FlPresenter* thePresenter = nullptr;

bool windowManagerRuns(Display* d) {
  Atom check = XInternAtom(d, "_NET_SUPPORTING_WM_CHECK", True);
  if (check == None) return false;
  Atom type;
  int format;
  unsigned long count = 0, after;
  unsigned char* data = nullptr;
  int r = XGetWindowProperty(d, DefaultRootWindow(d), check, 0, 1, False, XA_WINDOW, &type, &format, &count, &after,
                             &data);
  if (data) XFree(data);
  return r == Success && count == 1;
}

void flushForSnap() {
  Fl::check();
  Fl::flush();
  if (desk.display) XSync(desk.display, False);
  Fl::check();
  Fl::flush();
}

}  // namespace

// --- shared with the box windows ----------------------------------------------------

Control::~Control() {
  if (buffer) {
    buffer->remove_modify_callback(onBufferModified, tagOf(handle));
    desk.retiring.push_back(buffer);
  }
}

Desktop& desktop() { return desk; }

void requestFlush() {
  if (desk.display && desk.flushDeadline == 0) desk.flushDeadline = waAddDeadline(0, onFlush, nullptr);
}

void queueAction(const Action& action) {
  desk.actions.push_back(action);
  if (desk.actionDeadline == 0) desk.actionDeadline = waAddDeadline(0, runActions, nullptr);
}

void showText(Control& c, const WaWindow& w) {
  if (c.typing > 0) return;  // the person is ahead of the manager: keep what is shown
  std::string utf8 = toUtf8(w.text);
  c.settingText = true;
  switch (c.kind) {
    case CTL_EDIT:
      if (c.buffer) {
        std::string lines = toNewlines(utf8);
        char* now = c.buffer->text();
        if (lines != now) c.buffer->text(lines.c_str());
        std::free(now);
      } else {
        auto* in = static_cast<Fl_Input*>(c.widget);
        if (utf8 != in->value()) in->value(utf8.c_str());
      }
      break;
    case CTL_STATIC: static_cast<TextStatic*>(c.widget)->text(utf8); break;
    case CTL_GROUPBOX: static_cast<GroupFrame*>(c.widget)->text(utf8); break;
    case CTL_CHECKBOX: static_cast<CheckBox*>(c.widget)->text(utf8); break;
    case CTL_BUTTON: c.widget->copy_label(labelText(utf8).c_str()); break;
    default: break;
  }
  c.settingText = false;
}

void showSelection(Control& c, const WaWindow& w) {
  c.settingText = true;
  if (c.kind == CTL_LISTBOX) {
    auto* b = static_cast<Fl_Hold_Browser*>(c.widget);
    int want = w.selection >= 0 ? w.selection + 1 : 0;
    if (b->value() != want) b->value(want);
    if (want > 0 && !b->displayed(want)) b->middleline(want);
  } else if (c.kind == CTL_COMBOBOX) {
    auto* b = static_cast<Fl_Choice*>(c.widget);
    if (w.selection >= 0 && size_t(w.selection) < c.labels.size())
      b->value(w.selection);
    else
      b->value(-1);
    b->redraw();
  }
  c.settingText = false;
}

// Puts the window where the manager says and maps or unmaps it.
void placeDialog(HWND dialog, FrameWindow& win) {
  const WaWindow* w = waWindow(dialog);
  if (w == nullptr) return;
  int width = std::max(1, int(w->rect.right - w->rect.left)), height = std::max(1, int(w->rect.bottom - w->rect.top));
  desk.placing = true;
  if (win.x() != w->rect.left || win.y() != w->rect.top || win.w() != width || win.h() != height)
    win.resize(w->rect.left, w->rect.top, width, height);
  if (w->visible && w->minimized && w->parent == 0 && !win.shown()) {
    // A window of its own that starts minimised (the console) is restored at
    // once, as its user would: a Linux desktop need not have a task bar to
    // restore it from, and a borderless window is often kept off one.
    queueAction(Action(Action::Restore, dialog));
  } else if (w->visible && w->minimized && desk.windowManager) {
    if (!win.shown() || win.visible()) win.iconize();
  } else if (w->visible && !w->minimized) {
    if (!win.shown() || !win.visible()) {
      win.show();
      if (Control* c = controlOf(waGetFocus()); c && c->dialog == dialog) takeFocus(*c);
    }
  } else if (win.shown()) {
    win.hide();
  }
  desk.placing = false;
}

WaPresenter* desktopPresenter() {
  if (thePresenter) return thePresenter;
  const char* name = std::getenv("DISPLAY");
  if (name == nullptr || *name == 0) return nullptr;
  Display* d = XOpenDisplay(nullptr);
  if (d == nullptr) return nullptr;
  fl_open_display(d);
  desk = Desktop{};
  desk.display = d;
  desk.windowManager = windowManagerRuns(d);
  Fl::set_font(kDialogFont, " Courier New");
  Fl::background(212, 208, 200);
  Fl::visible_focus(1);
  Fl::event_dispatch(dispatch);
  waWatchFd(ConnectionNumber(d), POLLIN, onConnection, nullptr);
  thePresenter = new FlPresenter();
  setSnapFlush(flushForSnap);
  setBoxPlace(boxPlace);
  startScriptFromEnvironment();
  return thePresenter;
}

}  // namespace vlfl
