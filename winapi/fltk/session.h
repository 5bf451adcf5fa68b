// winapi/fltk/session.h -- the desktop presenter's state, shared by its files.
#pragma once
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Widget.H>
#include <X11/Xlib.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "winapi/presenter.h"

class Fl_Text_Buffer;
class Fl_File_Chooser;
class Fl_Window;

namespace vlfl {

class FrameWindow;

// One control's widget and what keeps it in step with the manager.
struct Control {
  HWND handle = 0, dialog = 0;
  ControlKind kind = CTL_STATIC;
  uint32_t style = 0;
  Fl_Widget* widget = nullptr;
  Fl_Text_Buffer* buffer = nullptr;  // multi-line edits (the widget does not own it)
  int typing = 0;                    // edits of the person not yet taken by the manager
  bool settingText = false;          // our own change: no echo back as input
  std::vector<std::string> labels;   // combo rows, escaped for FLTK
  std::vector<Fl_Menu_Item> menu;
  ~Control();
};

// Input on its way to the manager, played from a loop deadline.
struct Action {
  enum Kind { Click, Type, Select, Key, Close, MouseUp, Focus, Restore, Move, Answer, Invalidate };
  Action(Kind k, HWND t = 0, int32_t a_ = 0, int32_t b_ = 0, std::string text_ = {})
      : kind(k), target(t), a(a_), b(b_), text(std::move(text_)) {}
  Kind kind;
  HWND target;
  int32_t a, b;
  std::string text;
  uint32_t box = 0;
};

// An open message box or chooser.
struct OpenBox {
  WaBox box;
  FrameWindow* window = nullptr;      // message boxes
  Fl_File_Chooser* chooser = nullptr;  // file and folder choosers
  std::string title;                   // the chooser's window title (FLTK keeps only the pointer)
  uint32_t watch = 0;                  // deadline that looks whether the chooser was closed
};

// The whole state of the desktop presenter.
struct Desktop {
  Display* display = nullptr;
  bool windowManager = false;
  bool placing = false;  // our own show or iconify (not a restore by someone else)
  std::map<HWND, FrameWindow*> dialogs;
  std::map<HWND, std::unique_ptr<Control>> controls;
  std::map<uint32_t, OpenBox> boxes;
  std::deque<Action> actions;
  uint32_t actionDeadline = 0, flushDeadline = 0;
  // Buffers of deleted multi-line edits: FLTK deletes the widgets later, and
  // a widget still holds its buffer until then.
  std::vector<Fl_Text_Buffer*> retiring, retired;
};

Desktop& desktop();
void requestFlush();
void queueAction(const Action& action);
void showText(Control& c, const WaWindow& w);
void showSelection(Control& c, const WaWindow& w);
void placeDialog(HWND dialog, FrameWindow& window);

}  // namespace vlfl
