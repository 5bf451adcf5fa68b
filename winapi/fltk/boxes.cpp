// Message boxes and choosers of the desktop presenter.
#include "winapi/fltk/boxes.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/fl_draw.H>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "winapi/fltk/convert.h"
#include "winapi/fltk/session.h"
#include "winapi/fltk/widgets.h"
#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace vlfl {
namespace {

constexpr int kButtonWidth = 75, kButtonHeight = 23, kGap = 12;
constexpr int kTextFont = FL_HELVETICA, kTextSize = 12;
constexpr uint32_t kChooserLookMs = 100;

struct ButtonSpec {
  const char* label;
  int32_t result;
};

OpenBox* boxOf(uint32_t id) {
  auto it = desktop().boxes.find(id);
  return it == desktop().boxes.end() ? nullptr : &it->second;
}

void answer(uint32_t id, int32_t result, const std::string& path = "") {
  Action a(Action::Answer);
  a.box = id;
  a.a = result;
  a.text = path;
  queueAction(a);
}

void onBoxButton(Fl_Widget* w, void* result) {
  auto* win = static_cast<FrameWindow*>(w->window());
  answer(win->boxId, int32_t(reinterpret_cast<intptr_t>(result)));
}

bool isYesNo(const WaBox& box) { return (box.style & 0x0F) == MB_YESNO; }

// The close box and Esc mean OK only where OK is the one answer.
void onBoxClose(FrameWindow* w) {
  OpenBox* b = boxOf(w->boxId);
  if (b && !isYesNo(b->box)) answer(w->boxId, IDOK);
}

void onBoxWindowCallback(Fl_Widget* w, void*) { onBoxClose(static_cast<FrameWindow*>(w)); }

// Centred over the owner's window, or on the screen.
void placeOver(HWND owner, int width, int height, int& left, int& top) {
  RECT area{0, 0, waScreenWidth(), waScreenHeight()};
  RECT r;
  if (owner && waIsVisible(owner) && waGetWindowRect(owner, &r) && r.left > INT_MIN / 2 && r.left >= -1000) area = r;
  left = area.left + (area.right - area.left - width) / 2;
  top = area.top + (area.bottom - area.top - height) / 2;
  left = std::max(0, left);
  top = std::max(0, top);
}

void openMessage(OpenBox& open) {
  const WaBox& box = open.box;
  std::vector<ButtonSpec> buttons =
      isYesNo(box) ? std::vector<ButtonSpec>{{"&Yes", IDYES}, {"&No", IDNO}} : std::vector<ButtonSpec>{{"OK", IDOK}};
  std::string text = toUtf8(box.text);
  fl_font(kTextFont, kTextSize);
  int tw = 0, th = 0;
  fl_measure(text.c_str(), tw, th, 0);
  if (tw > 480) {
    tw = 480;
    fl_measure(text.c_str(), tw, th, 0);
  }
  bool hasIcon = (box.style & 0xF0) != 0;
  int iconSpace = hasIcon ? 32 + kGap : 0;
  int buttonsWidth = int(buttons.size()) * kButtonWidth + int(buttons.size() - 1) * 6;
  int clientW = std::max(kGap * 2 + iconSpace + tw, kGap * 2 + buttonsWidth);
  clientW = std::max(clientW, 160);
  int bodyH = std::max(hasIcon ? 32 : 0, th);
  int clientH = kGap + bodyH + kGap + kButtonHeight + kGap;
  int width = clientW + 2 * WA_BORDER, height = clientH + 2 * WA_BORDER + WA_CAPTION;
  // The caption is often the longer text ("DCE not found on this com port"
  // over a port number): the box grows so that it shows whole.
  int captionWidth = std::min(FrameWindow::widthForCaption(toUtf8(box.caption), false), waScreenWidth());
  if (captionWidth > width) {
    clientW += captionWidth - width;
    width = captionWidth;
  }
  int left, top;
  placeOver(box.owner, width, height, left, top);

  Fl_Group::current(nullptr);
  auto* win = new FrameWindow(left, top, width, height, true, false, !isYesNo(box));
  win->boxId = box.id;
  win->caption(toUtf8(box.caption));
  win->closeBoxPressed = onBoxClose;
  win->callback(onBoxWindowCallback);
  win->xclass("Velloran");
  win->begin();
  int cx = WA_BORDER, cy = WA_BORDER + WA_CAPTION;
  if (hasIcon) new BoxIcon(cx + kGap, cy + kGap, (box.style & 0xF0) == MB_ICONQUESTION);
  auto* label = new TextStatic(cx + kGap + iconSpace, cy + kGap + std::max(0, (bodyH - th) / 2), tw + 4, th,
                               FL_NO_BOX, FL_ALIGN_LEFT, true);
  label->labelfont(kTextFont);
  label->labelsize(kTextSize);
  label->text(text);
  int bx = cx + (clientW - buttonsWidth) / 2, by = cy + kGap + bodyH + kGap;
  Fl_Button* first = nullptr;
  for (const ButtonSpec& b : buttons) {
    auto* button = new Fl_Button(bx, by, kButtonWidth, kButtonHeight, b.label);
    button->labelfont(kTextFont);
    button->labelsize(kTextSize);
    button->color(faceColour());
    button->callback(onBoxButton, reinterpret_cast<void*>(intptr_t(b.result)));
    if (first == nullptr) first = button;
    bx += kButtonWidth + 6;
  }
  win->end();
  win->set_non_modal();
  win->show();
  if (first) first->take_focus();
  open.window = win;
}

void lookAtChooser(void* context) {
  uint32_t id = uint32_t(reinterpret_cast<uintptr_t>(context));
  OpenBox* open = boxOf(id);
  if (open == nullptr || open->chooser == nullptr) return;
  open->watch = 0;
  if (open->chooser->shown()) {
    open->watch = waAddDeadline(kChooserLookMs, lookAtChooser, context);
    return;
  }
  const char* value = open->chooser->count() > 0 ? open->chooser->value() : nullptr;
  std::string path = value ? toProgramPath(fromUtf8(value)) : "";
  if (path.size() > 1 && path.back() == '\\' && open->box.kind == WaBox::Folder) path.pop_back();
  answer(id, path.empty() ? 0 : 1, path);
}

void openChooser(OpenBox& open) {
  const WaBox& box = open.box;
  int type = box.kind == WaBox::Folder ? Fl_File_Chooser::DIRECTORY
             : box.kind == WaBox::Save ? Fl_File_Chooser::CREATE
                                       : Fl_File_Chooser::SINGLE;
  std::string start = toHostPath(box.path);
  if (start.empty()) {
    char here[4096];
    start = getcwd(here, sizeof here) ? std::string(here) + "/" : std::string(".");
  }
  std::string filter = box.kind == WaBox::Folder ? std::string("*") : chooserFilter(box.filter);
  if (filter.empty()) filter.push_back('*');
  // The chooser has no place for a folder chooser's instruction but its title.
  const char* standard = box.kind == WaBox::Save ? "Save As" : box.kind == WaBox::Folder ? "Browse for Folder" : "Open";
  std::string title = box.caption.empty() ? standard : box.caption;
  if (!box.text.empty()) title += " - " + box.text;
  open.title = toUtf8(title);
  Fl_Group::current(nullptr);
  open.chooser = new Fl_File_Chooser(toUtf8(start).c_str(), filter.c_str(), type, open.title.c_str());
  open.chooser->preview(0);
  open.chooser->show();
  open.watch = waAddDeadline(kChooserLookMs, lookAtChooser, reinterpret_cast<void*>(uintptr_t(box.id)));
}

}  // namespace

void openBox(const WaBox& box) {
  OpenBox& open = desktop().boxes[box.id];
  open.box = box;
  if (box.kind == WaBox::Message)
    openMessage(open);
  else
    openChooser(open);
}

void closeBox(uint32_t boxId) {
  OpenBox* open = boxOf(boxId);
  if (open == nullptr) return;
  if (open->watch) waCancelDeadline(open->watch);
  if (open->window) {
    open->window->hide();
    Fl::delete_widget(open->window);
  }
  if (open->chooser) {
    open->chooser->hide();
    delete open->chooser;  // not a widget: its window goes with it
  }
  desktop().boxes.erase(boxId);
}

bool boxPlace(uint32_t boxId, RECT& rect, std::string& title) {
  OpenBox* open = boxOf(boxId);
  Fl_Window* w = nullptr;
  if (open && open->window)
    w = open->window;
  else if (open && open->chooser)  // its window is the one holding its public buttons
    w = open->chooser->newButton->top_window();
  if (w == nullptr || !w->shown() || !w->visible()) return false;
  rect = RECT{w->x(), w->y(), w->x() + w->w(), w->y() + w->h()};
  auto* frame = dynamic_cast<FrameWindow*>(w);
  title = frame ? frame->caption() : std::string(w->label() ? w->label() : "");
  return true;
}

int boxDispatch(int event, Fl_Window* window) {
  Fl_Window* top = window;
  while (top && top->window()) top = top->window();
  auto* frame = dynamic_cast<FrameWindow*>(top);
  if (frame == nullptr || frame->boxId == 0 || event != FL_KEYBOARD) return Fl::handle_(event, window);
  OpenBox* open = boxOf(frame->boxId);
  if (open == nullptr) return Fl::handle_(event, window);
  int key = Fl::event_key();
  if (key == FL_Enter || key == FL_KP_Enter) {
    // Enter presses the focused button, the first one when none has the focus.
    auto* button = dynamic_cast<Fl_Button*>(Fl::focus());
    if (button && button->window() == frame)
      button->do_callback();
    else
      answer(frame->boxId, isYesNo(open->box) ? IDYES : IDOK);
    return 1;
  }
  if (key == FL_Escape) {
    onBoxClose(frame);
    return 1;
  }
  if (!isYesNo(open->box) || (key != 'y' && key != 'n')) return Fl::handle_(event, window);
  answer(frame->boxId, key == 'y' ? IDYES : IDNO);
  return 1;
}

}  // namespace vlfl
