// The task: background work on a stack of its own (see task.h).
#include "winapi/task.h"

#include "winapi/fiber.h"
#include "winapi/log.h"
#include "winapi/loop.h"

namespace {

// Room for the deepest pass with its buffers, and for a message box the
// task opens (its loop and whatever that loop dispatches run here too).
constexpr size_t kTaskStackBytes = size_t(8) << 20;

// What unwinds a cancelled task; nothing but the task's entry catches it.
struct TaskCancelled {};

// The whole state of the one task.
struct TaskState {
  wa::Fiber* fiber = nullptr;
  waTaskBody body = nullptr;
  void* context = nullptr;
  bool onItsStack = false;  // the task's steps run now
  bool finished = false;
  bool cancelled = false;
  int32_t loops = 0;        // modal loops running on the task's stack
  uint32_t wake = 0;        // the deadline that carries the task on
};

TaskState task;

void RunBody() {
  try {
    task.body(task.context);
  } catch (const TaskCancelled&) {
  } catch (...) {
    waLog(WA_LOG_ERROR, "error", "background work ended by an unexpected exception");
  }
  task.finished = true;
  wa::fiberLeave(task.fiber, true);
}

// Runs the task's steps until its next pause or its end.
void Enter() {
  task.onItsStack = true;
  wa::fiberEnter(task.fiber);
  task.onItsStack = false;
  if (!task.finished) return;
  wa::fiberDestroy(task.fiber);
  task = TaskState{};
}

void Wake(void*) {
  task.wake = 0;
  if (task.fiber != nullptr && !task.onItsStack) Enter();
}

bool InTaskSteps() { return task.fiber != nullptr && task.onItsStack && task.loops == 0; }

}  // namespace

int32_t waTaskStart(waTaskBody body, void* context) {
  if (body == nullptr || task.fiber != nullptr) return 0;
  task.fiber = wa::fiberCreate(RunBody, kTaskStackBytes);
  if (task.fiber == nullptr) {
    body(context);
    return 1;
  }
  task.body = body;
  task.context = context;
  Enter();
  return 1;
}

int32_t waTaskExists(void) { return task.fiber != nullptr ? 1 : 0; }

int32_t waTaskHoldsInput(void) { return InTaskSteps() ? 1 : 0; }

int32_t waTaskPause(uint32_t ms) {
  if (!InTaskSteps()) return 0;
  if (task.cancelled) throw TaskCancelled{};
  task.wake = waAddDeadline(ms, Wake, nullptr);
  wa::fiberLeave(task.fiber, false);
  if (task.cancelled) throw TaskCancelled{};
  return 1;
}

void waTaskCancel(void) {
  if (task.fiber == nullptr) return;
  task.cancelled = true;
  if (task.onItsStack) return;  // asked from inside: its next pause ends it
  waCancelDeadline(task.wake);
  task.wake = 0;
  Enter();
}

void waTaskLoopBegins(void) {
  if (task.onItsStack) ++task.loops;
}

void waTaskLoopEnds(void) {
  if (task.onItsStack && task.loops > 0) --task.loops;
}
