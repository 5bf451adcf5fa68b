// toolkit/hostpath.h -- the toolkit's private helpers (not part of the
// exported runtime): classic paths on the host, and the reset of the
// toolkit's private state for tests.
//
// The program writes paths the classic way: "\" between names and an optional
// drive prefix. On Windows that is the host's own form (hostpath_win32.cpp).
// On a POSIX host (hostpath_posix.cpp) drive "C:" is the root of the host's
// file system; every other letter names no drive, so a path on it reaches
// nothing. A path without a drive prefix is relative to the current folder,
// as on the classic platform. Going the other way, a host folder "/a/b" reads
// "C:\a\b".
#pragma once
#include <string>

#include "toolkit/export.h"

namespace hostpath {

// The host form of a classic path; false when it names no reachable place
// (a null path, a drive other than C:, or a path longer than the host allows).
bool ToHost(const char* classic, std::string& host);
// The classic form ("C:\...") of an absolute host path.
std::string ToClassic(const std::string& host);
// The current folder in classic form; empty when it cannot be read.
std::string CurrentFolder();

}  // namespace hostpath

// Forget the open file search and the drive buffers (files.cpp), and the
// static result buffers of the text operations (text.cpp).
VL_EXPORT void tkResetFileState(void);
VL_EXPORT void tkResetTextState(void);
