// winapi/fltk/desktop.h -- the desktop presenter: real windows with FLTK.
//
// Principles of operation. The dialog manager keeps every window's state; this
// presenter mirrors it into FLTK windows and widgets and turns what a person
// does back into waUser* calls.
//
//   - Every dialog is one borderless FLTK window at exactly the outer
//     rectangle the manager keeps; the frame, the caption (a thin one for tool
//     windows) and the close box (only with a system menu) are drawn here, so
//     windows look and sit the same with or without a window manager. Controls
//     are widgets at their pixel rectangles inside the client area, in the
//     template's font: Liberation Mono, metric twin of Courier New.
//   - Text is code page 1252 in the manager and UTF-8 in FLTK (convert.h).
//   - Input is never handed to the manager from inside FLTK's event handling:
//     a click or a key becomes an action in a queue, played from a loop
//     deadline. A click that closes a dialog therefore never deletes the
//     widget whose callback is still running, and the manager's nested modal
//     loops never run inside FLTK's.
//   - The one event loop (winapi/loop.h) watches the X connection; its callback
//     lets FLTK read and handle what arrived. Every change from the manager
//     schedules one flush, so the screen follows within a pass and the loop
//     sleeps in poll() in between.
//   - Message boxes and choosers are small windows of our own that answer with
//     waAnswerBox; the manager's modal loop keeps pumping meanwhile.
//   - A minimised window is iconified when a window manager runs; without one
//     it is simply not mapped until it is restored. A window without an owner
//     that starts minimised (the console) is restored at once: a desktop need
//     not have a task bar to restore it from.
//
// No FLTK call is made before a display has been opened: without one FLTK
// ends the process. desktopPresenter() opens it or returns 0.
#pragma once
#include "winapi/presenter.h"

namespace vlfl {

// The presenter, created once when a display can be opened (DISPLAY set and
// the X server answers); 0 otherwise. Also starts a VL_SCRIPT when one is set.
WaPresenter* desktopPresenter();

}  // namespace vlfl
