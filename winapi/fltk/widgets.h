// winapi/fltk/widgets.h -- the FLTK widgets that draw the classic controls
// FLTK has no twin for: the dialog frame with its caption, text statics with
// edges, group boxes, pictures, check boxes with the text on the left, and
// digits-only edits.
#pragma once
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Widget.H>

#include <string>

#include "winapi/types.h"

namespace vlfl {

// The font of the dialogs (Liberation Mono through the name "Courier New").
constexpr Fl_Font kDialogFont = FL_FREE_FONT;
// Classic colours.
Fl_Color faceColour();      // button face, dialog background
Fl_Color captionColour(bool active);
Fl_Color captionEndColour(bool active);

// A top-level window drawn with our own frame and caption. The owner decides
// what the caption's parts do through the callbacks below.
class FrameWindow : public Fl_Double_Window {
 public:
  FrameWindow(int x, int y, int w, int h, bool captioned, bool toolWindow, bool closeBox);
  void caption(const std::string& utf8);
  const std::string& caption() const { return caption_; }
  // The outer width at which the caption shows whole, with kCaptionRoom
  // pixels of bar to spare before the close box.
  static int widthForCaption(const std::string& utf8, bool toolWindow);
  static constexpr int kCaptionRoom = 16;
  // The etched edge round the client area (the dialog's paint draws it).
  void etched(bool on);
  void active(bool on);
  bool captioned() const { return captioned_; }
  // Called with the window's new position after a drag of the caption.
  void (*moved)(FrameWindow*, int left, int top) = nullptr;
  void (*closeBoxPressed)(FrameWindow*) = nullptr;
  // A left-button release in the client area (client coordinates).
  void (*released)(FrameWindow*, int x, int y) = nullptr;
  // The window was mapped by someone else (a window manager's restore).
  void (*mapped)(FrameWindow*) = nullptr;
  HWND dialog = 0;     // the manager's window this one shows
  uint32_t boxId = 0;  // or the box

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  bool inCloseBox(int x, int y) const;
  bool inCaption(int x, int y) const;
  std::string caption_;
  bool captioned_, toolWindow_, closeBox_;
  bool active_ = true;
  bool etched_ = false;
  bool dragging_ = false;
  int grabX_ = 0, grabY_ = 0;
};

// A text static: optional edge, text aligned left, right or centred, drawn
// from the top, cut at the edge.
class TextStatic : public Fl_Widget {
 public:
  TextStatic(int x, int y, int w, int h, Fl_Boxtype edge, Fl_Align align, bool wrap);
  void text(const std::string& utf8);

 protected:
  void draw() override;

 private:
  std::string text_;
  Fl_Align align_;
  bool wrap_;
};

class GroupFrame : public Fl_Widget {
 public:
  GroupFrame(int x, int y, int w, int h);
  void text(const std::string& utf8);

 protected:
  void draw() override;

 private:
  std::string text_;
};

// Draws 24-bit pixels from the top-left corner, cut at its size (no scaling).
class Picture : public Fl_Widget {
 public:
  Picture(int x, int y, int w, int h);
  void pixels(const uint8_t* rgb, int width, int height);

 protected:
  void draw() override;

 private:
  const uint8_t* rgb_ = nullptr;
  int width_ = 0, height_ = 0;
};

// A check box whose text stands on the left of the box when textLeft.
class CheckBox : public Fl_Widget {
 public:
  CheckBox(int x, int y, int w, int h, bool textLeft);
  void text(const std::string& utf8);
  void checked(bool on);
  bool checked() const { return checked_; }

 protected:
  void draw() override;
  int handle(int event) override;

 private:
  std::string text_;
  bool textLeft_;
  bool checked_ = false;
  bool pressed_ = false;
};

// An edit that takes digits only (typed or pasted).
class DigitsInput : public Fl_Input {
 public:
  DigitsInput(int x, int y, int w, int h) : Fl_Input(x, y, w, h) {}

 protected:
  int handle(int event) override;
};

// The information and question symbols of the message boxes.
class BoxIcon : public Fl_Widget {
 public:
  BoxIcon(int x, int y, bool question);

 protected:
  void draw() override;

 private:
  bool question_;
};

}  // namespace vlfl
