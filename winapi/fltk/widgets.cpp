// Drawing of the classic controls and of our own window frame.
#include "winapi/fltk/widgets.h"

#include <FL/Fl.H>
#include <FL/fl_draw.H>

#include <cstring>

#include "winapi/fltk/convert.h"
#include "winapi/winapi.h"

namespace vlfl {

Fl_Color faceColour() { return fl_rgb_color(212, 208, 200); }
Fl_Color captionColour(bool active) { return active ? fl_rgb_color(10, 36, 106) : fl_rgb_color(128, 128, 128); }
Fl_Color captionEndColour(bool active) {
  return active ? fl_rgb_color(166, 202, 240) : fl_rgb_color(192, 192, 192);
}

namespace {

constexpr int kCloseBoxSize = 14;
// The caption's text starts this far into the bar and is clipped this far
// before its right end (the close box and its margin).
constexpr int kCaptionLead = 4, kCaptionTail = kCloseBoxSize + 6;

void captionFont(bool tool) { fl_font(FL_HELVETICA_BOLD, tool ? 11 : 12); }

Fl_Color blend(Fl_Color a, Fl_Color b, int step, int steps) {
  return fl_color_average(b, a, steps <= 1 ? 0.0f : float(step) / float(steps - 1));
}

// The classic caption: a left-to-right gradient under white bold text.
void drawCaptionBar(int x, int y, int w, int h, const std::string& text, bool active, bool tool) {
  Fl_Color from = captionColour(active), to = captionEndColour(active);
  for (int i = 0; i < w; i++) {
    fl_color(blend(from, to, i, w));
    fl_yxline(x + i, y, y + h - 1);
  }
  fl_color(FL_WHITE);
  captionFont(tool);
  fl_push_clip(x + kCaptionLead, y, w - kCaptionLead - kCaptionTail, h);
  fl_draw(text.c_str(), x + kCaptionLead, y, w - 2 * kCaptionLead, h, Fl_Align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE),
          nullptr, 0);
  fl_pop_clip();
}

void drawCloseBox(int x, int y, int size) {
  fl_draw_box(FL_UP_BOX, x, y, size, size - 2, faceColour());
  fl_color(FL_BLACK);
  fl_line_style(FL_SOLID, 2);
  int m = 4;
  fl_line(x + m, y + m - 1, x + size - m - 1, y + size - m - 3);
  fl_line(x + size - m - 1, y + m - 1, x + m, y + size - m - 3);
  fl_line_style(0);
}

}  // namespace

// --- FrameWindow ----------------------------------------------------------------

FrameWindow::FrameWindow(int x, int y, int w, int h, bool captioned, bool toolWindow, bool closeBox)
    : Fl_Double_Window(x, y, w, h), captioned_(captioned), toolWindow_(toolWindow), closeBox_(closeBox) {
  border(0);
  color(faceColour());
  box(FL_FLAT_BOX);
  end();
}

void FrameWindow::caption(const std::string& utf8) {
  caption_ = utf8;
  copy_label(utf8.c_str());  // the X window's name: task bars and screenshots find it by this
  redraw();
}

int FrameWindow::widthForCaption(const std::string& utf8, bool toolWindow) {
  captionFont(toolWindow);
  const int text = int(fl_width(utf8.c_str()) + 0.999);
  return 2 * WA_BORDER + kCaptionLead + text + kCaptionRoom + kCaptionTail;
}

void FrameWindow::etched(bool on) {
  if (etched_ == on) return;
  etched_ = on;
  damage(FL_DAMAGE_ALL);
}

void FrameWindow::active(bool on) {
  if (active_ == on) return;
  active_ = on;
  damage(FL_DAMAGE_ALL);
}

bool FrameWindow::inCaption(int x, int y) const {
  return captioned_ && x >= WA_BORDER && x < w() - WA_BORDER && y >= WA_BORDER && y < WA_BORDER + WA_CAPTION;
}

bool FrameWindow::inCloseBox(int x, int y) const {
  if (!closeBox_ || !inCaption(x, y)) return false;
  int left = w() - WA_BORDER - kCloseBoxSize - 2;
  return x >= left && x < left + kCloseBoxSize;
}

void FrameWindow::draw() {
  // The background and the etched edge go under the controls, which are
  // drawn over them as the classic platform's child windows are.
  if (damage() & ~FL_DAMAGE_CHILD) {
    draw_box(box(), 0, 0, w(), h(), color());
    if (etched_) {
      Frame client = clientArea(RECT{0, 0, w(), h()}, captioned_);
      fl_draw_box(FL_ENGRAVED_FRAME, client.left, client.top, client.width, client.height, color());
    }
  }
  draw_children();
  fl_draw_box(FL_UP_FRAME, 0, 0, w(), h(), faceColour());
  fl_color(faceColour());
  fl_rect(1, 1, w() - 2, h() - 2);
  if (!captioned_) return;
  drawCaptionBar(WA_BORDER, WA_BORDER, w() - 2 * WA_BORDER, WA_CAPTION - 1, caption_, active_, toolWindow_);
  if (closeBox_) drawCloseBox(w() - WA_BORDER - kCloseBoxSize - 2, WA_BORDER + 2, kCloseBoxSize);
}

int FrameWindow::handle(int event) {
  switch (event) {
    case FL_PUSH:
      if (Fl::event_button() == FL_LEFT_MOUSE && inCaption(Fl::event_x(), Fl::event_y())) {
        if (inCloseBox(Fl::event_x(), Fl::event_y())) {
          if (closeBoxPressed) closeBoxPressed(this);
          return 1;
        }
        dragging_ = true;
        grabX_ = Fl::event_x_root() - x();
        grabY_ = Fl::event_y_root() - y();
        return 1;
      }
      break;
    case FL_DRAG:
      if (dragging_) {
        position(Fl::event_x_root() - grabX_, Fl::event_y_root() - grabY_);
        return 1;
      }
      break;
    case FL_RELEASE:
      if (dragging_) {
        dragging_ = false;
        if (moved) moved(this, x(), y());
        return 1;
      }
      if (Fl_Double_Window::handle(event)) return 1;
      if (Fl::event_button() == FL_LEFT_MOUSE && released)
        released(this, Fl::event_x() - WA_BORDER, Fl::event_y() - WA_BORDER - (captioned_ ? WA_CAPTION : 0));
      return 1;
    case FL_SHOW: {
      int r = Fl_Double_Window::handle(event);
      if (mapped) mapped(this);
      return r;
    }
    default: break;
  }
  int r = Fl_Double_Window::handle(event);
  // A push in the client area that no control took still counts as the
  // dialog's: its release is what the About box waits for.
  return event == FL_PUSH ? 1 : r;
}

// --- TextStatic -----------------------------------------------------------------

TextStatic::TextStatic(int x, int y, int w, int h, Fl_Boxtype edge, Fl_Align align, bool wrap)
    : Fl_Widget(x, y, w, h), align_(align), wrap_(wrap) {
  box(edge);
  color(faceColour());
}

void TextStatic::text(const std::string& utf8) {
  if (text_ == utf8) return;
  text_ = utf8;
  redraw();
}

void TextStatic::draw() {
  if (box() != FL_NO_BOX)
    draw_box();
  else if (parent())
    fl_rectf(x(), y(), w(), h(), parent()->color());
  int dx = Fl::box_dx(box()), dy = Fl::box_dy(box());
  int ix = x() + dx + (box() == FL_NO_BOX ? 0 : 1), iy = y() + dy;
  int iw = w() - Fl::box_dw(box()) - (box() == FL_NO_BOX ? 0 : 2), ih = h() - Fl::box_dh(box());
  fl_push_clip(x() + dx, iy, w() - Fl::box_dw(box()), ih);
  fl_font(labelfont(), labelsize());
  fl_color(active_r() ? FL_BLACK : fl_inactive(FL_BLACK));
  // A label one line tall shows its one line, cut at the edge, rather than
  // its first word alone (the wrapped rest would fall below the rectangle).
  bool wrap = wrap_ && ih >= 2 * fl_height();
  Fl_Align a = Fl_Align(align_ | FL_ALIGN_TOP | FL_ALIGN_INSIDE | FL_ALIGN_CLIP | (wrap ? FL_ALIGN_WRAP : 0));
  fl_draw(text_.c_str(), ix, iy, iw, ih, a, nullptr, 0);
  fl_pop_clip();
}

// --- GroupFrame -----------------------------------------------------------------

GroupFrame::GroupFrame(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) { box(FL_NO_BOX); }

void GroupFrame::text(const std::string& utf8) {
  text_ = utf8;
  redraw();
}

void GroupFrame::draw() {
  fl_font(labelfont(), labelsize());
  int lineY = y() + fl_height() / 2;
  fl_draw_box(FL_ENGRAVED_FRAME, x(), lineY, w(), h() - (lineY - y()), faceColour());
  if (text_.empty()) return;
  int tw = int(fl_width(text_.c_str())) + 4;
  fl_rectf(x() + 7, y(), tw, fl_height(), parent() ? parent()->color() : faceColour());
  fl_color(FL_BLACK);
  fl_draw(text_.c_str(), x() + 9, y() + fl_height() - fl_descent());
}

// --- Picture --------------------------------------------------------------------

Picture::Picture(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) { box(FL_NO_BOX); }

void Picture::pixels(const uint8_t* rgb, int width, int height) {
  rgb_ = rgb;
  width_ = width;
  height_ = height;
  redraw();
}

void Picture::draw() {
  fl_rectf(x(), y(), w(), h(), parent() ? parent()->color() : faceColour());
  if (rgb_ == nullptr || width_ <= 0 || height_ <= 0) return;
  int cw = std::min(w(), width_), ch = std::min(h(), height_);
  // The line delta keeps whole source rows while only cw pixels of each show.
  fl_draw_image(rgb_, x(), y(), cw, ch, 3, width_ * 3);
}

// --- CheckBox -------------------------------------------------------------------

CheckBox::CheckBox(int x, int y, int w, int h, bool textLeft) : Fl_Widget(x, y, w, h), textLeft_(textLeft) {
  box(FL_NO_BOX);
}

void CheckBox::text(const std::string& utf8) {
  text_ = utf8;
  redraw();
}

void CheckBox::checked(bool on) {
  if (checked_ == on) return;
  checked_ = on;
  redraw();
}

void CheckBox::draw() {
  fl_rectf(x(), y(), w(), h(), parent() ? parent()->color() : faceColour());
  int size = std::min(13, h());
  int bx = textLeft_ ? x() + w() - size - 1 : x() + 1;
  int by = y() + (h() - size) / 2;
  fl_draw_box(FL_DOWN_BOX, bx, by, size, size, active_r() ? FL_WHITE : faceColour());
  if (checked_) {
    fl_color(active_r() ? FL_BLACK : fl_inactive(FL_BLACK));
    fl_line_style(FL_SOLID, 2);
    fl_line(bx + 3, by + size / 2, bx + size / 2 - 1, by + size - 4, bx + size - 3, by + 3);
    fl_line_style(0);
  }
  fl_font(labelfont(), labelsize());
  fl_color(active_r() ? FL_BLACK : fl_inactive(FL_BLACK));
  int tx = textLeft_ ? x() : bx + size + 4;
  int tw = textLeft_ ? bx - x() - 2 : x() + w() - tx;
  fl_push_clip(tx, y(), tw, h());
  fl_draw(text_.c_str(), tx, y(), tw, h(), Fl_Align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE), nullptr, 0);
  if (Fl::focus() == this) {
    fl_color(FL_BLACK);
    fl_line_style(FL_DOT);
    fl_rect(tx, y(), std::min(tw, int(fl_width(text_.c_str())) + 2), h());
    fl_line_style(0);
  }
  fl_pop_clip();
}

int CheckBox::handle(int event) {
  switch (event) {
    case FL_PUSH:
      if (Fl::visible_focus()) take_focus();
      pressed_ = true;
      return 1;
    case FL_DRAG: return 1;
    case FL_RELEASE:
      if (pressed_ && Fl::event_inside(this)) do_callback();
      pressed_ = false;
      return 1;
    case FL_FOCUS:
    case FL_UNFOCUS: redraw(); return 1;
    case FL_KEYBOARD:
      if (Fl::event_key() == ' ') {
        do_callback();
        return 1;
      }
      return 0;
    default: return Fl_Widget::handle(event);
  }
}

// --- DigitsInput ----------------------------------------------------------------

int DigitsInput::handle(int event) {
  if (event == FL_KEYBOARD || event == FL_PASTE) {
    const char* text = Fl::event_text();
    int n = Fl::event_length();
    bool printable = false;
    for (int i = 0; i < n; i++) {
      unsigned char c = static_cast<unsigned char>(text[i]);
      if (c >= 32 && c != 127) printable = true;
      if (printable && (c < '0' || c > '9')) return event == FL_KEYBOARD ? 1 : 0;  // refused, as the classic edit
    }
  }
  return Fl_Input::handle(event);
}

// --- BoxIcon --------------------------------------------------------------------

BoxIcon::BoxIcon(int x, int y, bool question) : Fl_Widget(x, y, 32, 32), question_(question) { box(FL_NO_BOX); }

void BoxIcon::draw() {
  fl_rectf(x(), y(), w(), h(), parent() ? parent()->color() : faceColour());
  Fl_Color disc = question_ ? fl_rgb_color(0, 64, 192) : fl_rgb_color(255, 255, 255);
  fl_color(question_ ? fl_rgb_color(0, 0, 96) : fl_rgb_color(0, 0, 160));
  fl_pie(x() + 1, y() + 1, 30, 30, 0, 360);
  fl_color(disc);
  fl_pie(x() + 2, y() + 2, 28, 28, 0, 360);
  fl_color(question_ ? FL_WHITE : fl_rgb_color(0, 0, 160));
  fl_font(question_ ? FL_HELVETICA_BOLD : FL_TIMES_BOLD, 22);
  fl_draw(question_ ? "?" : "i", x(), y(), 32, 32, FL_ALIGN_CENTER, nullptr, 0);
}

}  // namespace vlfl
