// winapi/fltk/boxes.h -- message boxes and choosers as windows of our own.
//
// A message box is a small captioned window with the information or question
// symbol, the text and its buttons; a chooser is FLTK's file chooser, shown
// without its blocking loop. Either answers through a queued waAnswerBox, so
// the manager's modal loop, and the program's timers, run while it is open.
#pragma once
#include <FL/Fl_Window.H>

#include <string>

#include "winapi/presenter.h"

namespace vlfl {

void openBox(const WaBox& box);
void closeBox(uint32_t boxId);
// The screen rectangle and title of a shown box's window; false when it has none.
bool boxPlace(uint32_t boxId, RECT& rect, std::string& title);
// Keys and clicks for windows that are not dialogs (the boxes' own).
int boxDispatch(int event, Fl_Window* window);

}  // namespace vlfl
