// Classic paths on Windows (see hostpath.h): the host's own form, so a path
// is only checked, never rewritten.
#include "toolkit/hostpath.h"

#include <windows.h>

namespace hostpath {

bool ToHost(const char* classic, std::string& host) {
  host.clear();
  if (!classic) return false;
  host = classic;
  if (host.size() < MAX_PATH) return true;
  host.clear();
  return false;
}

std::string ToClassic(const std::string& host) { return host; }

std::string CurrentFolder() {
  char buffer[MAX_PATH + 1] = {};
  DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

}  // namespace hostpath
