// The second stack on Windows: a fiber. The interface thread becomes a fiber
// itself the first time it enters one, and stays one.
#include "winapi/fiber.h"

#include <windows.h>

namespace wa {

struct Fiber {
  void* handle;
  void* caller;
  void (*entry)();
};

namespace {

void WINAPI FiberMain(void* parameter) { static_cast<Fiber*>(parameter)->entry(); }

}  // namespace

Fiber* fiberCreate(void (*entry)(), size_t stackBytes) {
  Fiber* fiber = new Fiber{nullptr, nullptr, entry};
  fiber->handle = CreateFiberEx(0, stackBytes, FIBER_FLAG_FLOAT_SWITCH, FiberMain, fiber);
  if (fiber->handle != nullptr) return fiber;
  delete fiber;
  return nullptr;
}

void fiberDestroy(Fiber* fiber) {
  if (fiber == nullptr) return;
  DeleteFiber(fiber->handle);
  delete fiber;
}

void fiberEnter(Fiber* fiber) {
  fiber->caller = IsThreadAFiber() ? GetCurrentFiber() : ConvertThreadToFiberEx(nullptr, FIBER_FLAG_FLOAT_SWITCH);
  if (fiber->caller == nullptr) return;
  SwitchToFiber(fiber->handle);
}

void fiberLeave(Fiber* fiber, bool) { SwitchToFiber(fiber->caller); }

}  // namespace wa
