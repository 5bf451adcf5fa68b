// Pauses, the message loop, timers and the file and folder choosers, all on
// the dialog manager's one loop and clock.
#include <cstring>

#include "toolkit/files.h"
#include "winapi/loop.h"
#include "winapi/task.h"
#include "winapi/winapi.h"

// Keeps its length but never spins: each pass sleeps in the loop until the
// next event or the end of the pause. The unsigned difference survives the
// clock's wrap.
int32_t pDoEvent(int32_t milliseconds) {
  if (milliseconds <= 0) return 1;
  // In background work the pause belongs to the loop that runs now.
  if (waTaskPause(uint32_t(milliseconds)) == 1) return 1;
  uint32_t start = waNow();
  uint32_t length = uint32_t(milliseconds);
  for (;;) {
    uint32_t elapsed = waNow() - start;
    if (elapsed >= length) return 1;
    waPump(int32_t(length - elapsed));
  }
}

int32_t pMessage(void) { return waMessageLoop(); }

int32_t tkStartWork(void (*body)(void*), void* context) { return waTaskStart(body, context); }

int32_t tkWorkRunning(void) { return waTaskExists(); }

void tkCancelWork(void) { waTaskCancel(); }

int32_t pTimer(HWND window, int32_t id, int32_t interval, TIMERPROC handler) {
  if (id == 0) return 0;
  if (interval == 0) {
    waKillTimer(window, uintptr_t(id));
    return 0;
  }
  // A negative interval reads as a huge unsigned one, which the manager caps.
  return int32_t(waSetTimer(window, uintptr_t(id), uint32_t(interval), handler));
}

int32_t pFileName(int32_t direction, HINSTANCE, char* dest, int32_t size, const char* filter) {
  if (direction != 1 && direction != -1) return 0;
  return waFileChooser(direction == 1 ? 1 : 0, waActiveWindow(), dest, size, filter);
}

// The program's path buffers hold 256 bytes; a longer folder is refused
// rather than written past them (dest then stays as it was).
int32_t pDirName(HWND owner, char* dest) {
  waFolderChooser(owner, "Browse For Folder", "Select A Folder", dest, 256);
  return 1;
}
