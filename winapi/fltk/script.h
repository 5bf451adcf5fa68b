// winapi/fltk/script.h -- user actions played from a file (VL_SCRIPT).
//
// A desktop run can be driven without a person: the file named by VL_SCRIPT
// lists actions, one a line, that the player performs through the same
// waUser* calls a click or a key press makes. Dialogs are named by their
// window text (exact, or a prefix ending in '*'), controls by their id, boxes
// by their caption. Words are separated by blanks; "..." quotes a word.
//
//   wait TITLE                 until such a dialog is shown (not minimised)
//   gone TITLE                 until no such dialog exists
//   restore TITLE              un-minimise it
//   click TITLE ID             press a button or check box
//   type TITLE ID TEXT         replace an edit's text
//   key TITLE ID VK down|up    a key (decimal virtual-key code)
//   select TITLE ID ROW [double]
//   pick TITLE ID TEXT         choose a combo box row by its text
//   text TITLE ID PATTERN      until a control's text matches (a trailing
//                              '*' matches any rest), e.g. a status line
//   close TITLE                the caption's close box
//   mouseup TITLE X Y          release the left button in the client area
//   uistate TITLE              keyboard cues shown
//   answer CAPTION RESULT [PATH]   wait for a box with that caption, answer it
//   sleep MS
//   snap NAME TITLE            tell the watcher (VL_SCRIPT_LOG) that a window
//                              is ready to be photographed, and wait until it
//                              has been (the file LOG.NAME.done appears)
//   snapbox NAME CAPTION       the same for a message box or chooser, once
//                              one with that caption is shown
//
// Waits give up after 60 s; a failed step is written to the log as
// "fail LINE: why" and ends the script. Every step leaves a line in the log.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "winapi/presenter.h"
#include "winapi/types.h"

namespace vlfl {

enum class Op { Wait, Gone, Restore, Click, Type, Key, Select, Pick, Text, Close, MouseUp, UiState, Answer, Sleep, Snap, SnapBox };

struct Step {
  Op op = Op::Sleep;
  int line = 0;
  std::string title;  // dialog title pattern, box caption, or snap name
  int32_t id = 0;     // control id
  int32_t a = 0;      // key: VK; select: row; mouseup: x; answer: result; sleep: ms
  int32_t b = 0;      // key: 1 down, 0 up; select: 1 double-click; mouseup: y
  std::string text;   // typed text, combo row, awaited text, answer path, snap window title
};

// Parses a whole script. On a malformed line returns false with the line's
// number and the reason in error; blank lines and "#" comments are skipped.
bool parseScript(const std::string& source, std::vector<Step>& steps, std::string& error);

// Splits a line into words; "..." quotes (with \" and \\ inside).
bool splitWords(const std::string& line, std::vector<std::string>& words);

// Whether a window text matches a title pattern ("Velloran :: Login*").
bool titleMatches(const std::string& pattern, const std::string& text);

// Starts playing the file named by VL_SCRIPT, when it is set, on the event
// loop; the log goes to VL_SCRIPT_LOG (or stderr). Returns false when the
// script cannot be read or parsed (the reason is logged).
bool startScriptFromEnvironment();
// Plays steps on the event loop (for tests: the log goes to logPath).
void startScript(const std::vector<Step>& steps, const std::string& logPath);
// The boxes the presenter shows, as the player sees them.
void noteBoxShown(const WaBox& box);
void noteBoxHidden(uint32_t boxId);
// Called before a snap is announced, so the picture is complete.
void setSnapFlush(void (*flush)());
// Where the presenter shows a box (screen pixels) and the title of its
// window; false while it has no window.
void setBoxPlace(bool (*place)(uint32_t boxId, RECT& rect, std::string& title));
// True while a started script has steps left.
bool scriptRunning();
// The steps done so far and whether one failed, for tests.
int scriptStepsDone();
bool scriptFailed();
void resetScript();

}  // namespace vlfl
