// Classic paths on a POSIX host (see hostpath.h).
#include "toolkit/hostpath.h"

#include <limits.h>
#include <unistd.h>

namespace hostpath {

namespace {

bool hasDrivePrefix(const std::string& s) {
  return s.size() >= 2 && s[1] == ':' && ((s[0] >= 'a' && s[0] <= 'z') || (s[0] >= 'A' && s[0] <= 'Z'));
}

}  // namespace

bool ToHost(const char* classic, std::string& host) {
  host.clear();
  if (!classic) return false;
  std::string s(classic);
  if (s.size() >= PATH_MAX) return false;
  if (hasDrivePrefix(s)) {
    if (s[0] != 'c' && s[0] != 'C') return false;
    s = s.substr(2);
    // "C:" alone is the root; "C:name" is relative to the current folder,
    // which always lies on drive C.
    if (s.empty()) s.push_back('/');
  }
  for (char& c : s)
    if (c == '\\') c = '/';
  host = s;
  return true;
}

std::string ToClassic(const std::string& host) {
  std::string s = "C:";
  s += host.empty() || host[0] != '/' ? "\\" : "";
  for (char c : host) s += c == '/' ? '\\' : c;
  return s;
}

std::string CurrentFolder() {
  char buffer[PATH_MAX];
  if (!getcwd(buffer, sizeof buffer)) return std::string();
  return ToClassic(buffer);
}

}  // namespace hostpath
