// The second stack on POSIX hosts: ucontext switches on an mmap'd stack whose
// lowest page is a guard, so an overflow stops the process instead of
// writing over the heap. AddressSanitizer is told of every switch, or it
// would take the other stack for a wild pointer.
#include "winapi/fiber.h"

#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VL_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VL_FIBER_ASAN 1
#endif
#endif
#ifdef VL_FIBER_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

namespace wa {

struct Fiber {
  ucontext_t self;
  ucontext_t caller;
  void (*entry)();
  bool started;
  char* mapping;
  size_t mappingBytes;
  char* stack;            // above the guard page
  size_t stackBytes;
  void* fiberFakeStack;   // sanitizer bookkeeping of each side
  void* callerFakeStack;
  const void* callerBottom;
  size_t callerBytes;
};

namespace {

Fiber* starting = nullptr;  // the fiber whose entry runs next

// The sanitizer's view of a switch: announced before, completed after.
void SwitchBegins(void** fake, const void* bottom, size_t bytes) {
#ifdef VL_FIBER_ASAN
  __sanitizer_start_switch_fiber(fake, bottom, bytes);
#else
  (void)fake, (void)bottom, (void)bytes;
#endif
}

void SwitchEnded(void* fake, const void** bottom, size_t* bytes) {
#ifdef VL_FIBER_ASAN
  __sanitizer_finish_switch_fiber(fake, bottom, bytes);
#else
  (void)fake, (void)bottom, (void)bytes;
#endif
}

void Trampoline() {
  Fiber* fiber = starting;
  starting = nullptr;
  SwitchEnded(nullptr, &fiber->callerBottom, &fiber->callerBytes);
  fiber->entry();
}

}  // namespace

Fiber* fiberCreate(void (*entry)(), size_t requested) {
  const size_t page = size_t(sysconf(_SC_PAGESIZE));
  const size_t stackBytes = (requested + page - 1) / page * page;
  void* mapping = mmap(nullptr, stackBytes + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  if (mprotect(mapping, page, PROT_NONE) != 0) {
    munmap(mapping, stackBytes + page);
    return nullptr;
  }
  Fiber* fiber = new Fiber{};
  fiber->entry = entry;
  fiber->mapping = static_cast<char*>(mapping);
  fiber->mappingBytes = stackBytes + page;
  fiber->stack = fiber->mapping + page;
  fiber->stackBytes = stackBytes;
  if (getcontext(&fiber->self) != 0) {
    fiberDestroy(fiber);
    return nullptr;
  }
  fiber->self.uc_stack.ss_sp = fiber->stack;
  fiber->self.uc_stack.ss_size = fiber->stackBytes;
  fiber->self.uc_link = nullptr;
  makecontext(&fiber->self, Trampoline, 0);
  return fiber;
}

void fiberDestroy(Fiber* fiber) {
  if (fiber == nullptr) return;
  munmap(fiber->mapping, fiber->mappingBytes);
  delete fiber;
}

void fiberEnter(Fiber* fiber) {
  if (!fiber->started) {
    fiber->started = true;
    starting = fiber;
  }
  SwitchBegins(&fiber->callerFakeStack, fiber->stack, fiber->stackBytes);
  swapcontext(&fiber->caller, &fiber->self);
  SwitchEnded(fiber->callerFakeStack, nullptr, nullptr);
}

void fiberLeave(Fiber* fiber, bool finished) {
  SwitchBegins(finished ? nullptr : &fiber->fiberFakeStack, fiber->callerBottom, fiber->callerBytes);
  swapcontext(&fiber->self, &fiber->caller);
  SwitchEnded(fiber->fiberFakeStack, &fiber->callerBottom, &fiber->callerBytes);
}

}  // namespace wa
