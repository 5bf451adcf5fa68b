// winapi/fiber.h -- a second stack on the interface thread, for the task
// (task.h) only. One file per platform: fiber_posix.cpp, fiber_win32.cpp.
#pragma once
#include <stddef.h>

namespace wa {

struct Fiber;

// A fiber that will run entry() on a stack of stackBytes; nullptr when the
// host gives none. entry() must never return: it ends with fiberLeave(...,
// true).
Fiber* fiberCreate(void (*entry)(), size_t stackBytes);
// Frees a fiber that is not running.
void fiberDestroy(Fiber* fiber);
// From the interface's stack: runs the fiber until it leaves.
void fiberEnter(Fiber* fiber);
// From the fiber: back to where it was entered. finished: it is never
// entered again.
void fiberLeave(Fiber* fiber, bool finished);

}  // namespace wa
