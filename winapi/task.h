// winapi/task.h -- background work on a stack of its own.
//
// Principles of operation. The machine's periodic work (local delivery, a
// posting pass) pauses often: before every block, while it waits for a
// carrier or an "[OK]". Run on the interface's stack, each pause pumps the
// loop, and a dialog a user opens meanwhile runs its modal loop on top of the
// work: the work cannot go on until that dialog is closed. So the work runs
// as a task on a stack of its own. A pause inside the task does not pump:
// it hands the interface back to whichever loop runs now (the console's, a
// mailbox's, a reader's, a message box's) and asks that loop, through a
// deadline, to carry the task on once the pause is over. Dialogs, timers and
// the line's events go on meanwhile, and no dialog ever sits on the task.
//
// Only one thing runs at a time, on the interface thread: the task runs
// between the loop's dispatches exactly as a handler would, so nothing needs
// a lock. A message box or dialog that the task itself opens runs its loop on
// the task's stack as usual; pauses inside it pump as they always did.
//
// A task is ended early with waTaskCancel: its next pause (at once, when it
// is paused) unwinds its stack, running no more of its code. Work that
// keeps the store whole at every instant (as a kill would find it) loses
// nothing by that.
//
// All calls are made on the interface thread.
#pragma once
#include <stdint.h>
#include "toolkit/export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*waTaskBody)(void* context);

// Starts body(context) as the task and runs it until its first pause or its
// end. 0 when a task exists already (nothing is started). Without a stack
// for it the body runs here and now, pausing as on the interface's stack.
VL_EXPORT int32_t waTaskStart(waTaskBody body, void* context);
// 1 while a task exists (started, not yet ended).
VL_EXPORT int32_t waTaskExists(void);
// A pause of the running task: the loop runs for ms, then the task goes on.
// 0 (and no pause) when not called from the task's own steps; the caller
// then pumps as usual.
VL_EXPORT int32_t waTaskPause(uint32_t ms);
// Ends the task at its next pause, or now when it is paused.
VL_EXPORT void waTaskCancel(void);
// For the dialog manager: 1 while the task's own steps run. A library that
// pumps the loop inside a step (a serial modem waiting for its "OK") must
// not hand user input to dialogs then: a dialog opened there would sit on
// the task. Posted messages wait for the task's next pause meanwhile.
VL_EXPORT int32_t waTaskHoldsInput(void);
// For the dialog manager: a modal loop begins or ends; one begun on the
// task's stack keeps the task running, so its pauses pump.
VL_EXPORT void waTaskLoopBegins(void);
VL_EXPORT void waTaskLoopEnds(void);

#ifdef __cplusplus
}
#endif
