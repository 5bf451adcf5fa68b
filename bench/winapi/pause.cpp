// A real 5-second pDoEvent with a 15-second timer running, as the console
// pauses during a transfer: processor time used, as a share of one core.
#include <stdio.h>
#include <sys/resource.h>
#include <time.h>

#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "winapi/headless/driver.h"

namespace {

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double wallSeconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

}  // namespace

int main() {
  headless::reset(false);
  pTimer(0, 200, 15000, [](HWND, UINT, uintptr_t, uint32_t) {});
  double cpu = cpuSeconds(), wall = wallSeconds();
  pDoEvent(5000);
  cpu = cpuSeconds() - cpu;
  wall = wallSeconds() - wall;
  printf("pause: %.3f s, processor: %.4f s, %.3f %% of a core\n", wall, cpu, 100.0 * cpu / wall);
  return cpu / wall < 0.05 ? 0 : 1;
}
