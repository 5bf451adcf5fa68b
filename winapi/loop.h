// winapi/loop.h -- the one clock and the one event loop.
//
// Everything that waits in this system waits here: dialog loops, pDoEvent
// pauses, timers, and the communication library's file descriptors. One pass
// of the loop (waPump) dispatches whatever is ready -- posted messages, due
// timers and deadlines, readable or writable descriptors -- and otherwise
// sleeps until the next of them (winapi/wait.h: poll() on POSIX, the
// platform's wait for objects on Windows). Nothing ever spins.
//
// The clock is real (monotonic milliseconds) in normal runs. In virtual mode
// (tests) time stands still while anything is ready and, when nothing is,
// jumps straight to the next due timer or deadline; so a test of the 120th
// 15-second tick runs in microseconds and always the same way. Descriptors are
// still polled (with a zero time-out) in virtual mode, so loopback sockets work.
//
// All calls are made on the interface thread.
#pragma once
#include <stdint.h>
#include "toolkit/export.h"

#ifdef __cplusplus
extern "C" {
#endif

// Milliseconds; wraps after 2^32 like the classic tick count.
VL_EXPORT uint32_t waNow(void);
// 1 switches to the virtual clock (starting at 'start'), 0 back to the real one.
VL_EXPORT void waSetVirtualClock(int on, uint32_t start);
VL_EXPORT int waIsVirtualClock(void);

// Descriptor watches. events: WA_IN and/or WA_OUT (the values of poll()'s
// POLLIN and POLLOUT, which POSIX callers may pass as well); revents adds
// WA_ERR and WA_HUP. On Windows an fd is a socket, or with WA_EVENT an event
// handle that reports WA_IN once it is signalled (overlapped device I/O).
// The callback runs on the interface thread from inside a pump, one event at
// a time. Watching an fd again replaces its callback and events.
enum { WA_IN = 0x001, WA_OUT = 0x004, WA_ERR = 0x008, WA_HUP = 0x010, WA_EVENT = 0x4000 };
typedef void (*waFdCallback)(int fd, short revents, void* context);
VL_EXPORT int waWatchFd(int fd, short events, waFdCallback callback, void* context);
VL_EXPORT void waUnwatchFd(int fd);

// One-shot deadlines (the communication library's time limits, pacing).
// Returns an id > 0; waCancelDeadline of a fired or unknown id does nothing.
typedef void (*waDeadlineCallback)(void* context);
VL_EXPORT uint32_t waAddDeadline(uint32_t delayMs, waDeadlineCallback callback, void* context);
VL_EXPORT void waCancelDeadline(uint32_t id);

// One pass: dispatch one ready thing (a queued message first, then a due
// deadline, then ready descriptors); if nothing was ready, wait until
// something is, for at most timeoutMs (0: do not wait; < 0: no limit). In
// virtual mode the wait is a jump of the clock to the next deadline or to the
// end of the time-out. Returns 1 when it dispatched something, else 0.
VL_EXPORT int waPump(int32_t timeoutMs);

// For the dialog manager: its message queue is polled first by every pump.
// pending() tells whether a message waits; dispatchOne() takes and dispatches one.
VL_EXPORT void waSetMessageQueue(int (*pending)(void), int (*dispatchOne)(void));
// For a presenter that draws lazily: hook runs each time a pump is about to
// sleep (0 removes it).
VL_EXPORT void waSetBeforeWait(void (*hook)(void));
// 1 when a deadline or a descriptor watch exists, that is when a pump could
// still find something to do without a new message being posted.
VL_EXPORT int waHasWork(void);
// For tests: forget every watch and deadline (the clock mode stays).
VL_EXPORT void waResetLoop(void);

#ifdef __cplusplus
}
#endif
