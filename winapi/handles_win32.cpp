// The process's own handles on Windows (see handles.h). A handle is a
// 32-bit value in a 32-bit program, so it fits the manager's slots as it is.
#include "winapi/handles.h"

#include <windows.h>
#include <shellapi.h>

#include <string.h>

namespace {

uint32_t Handle(const void* native) { return uint32_t(uintptr_t(native)); }
HMODULE Module(uint32_t module) { return reinterpret_cast<HMODULE>(uintptr_t(module)); }

}  // namespace

uint32_t waHostModule() { return Handle(GetModuleHandleA(nullptr)); }

uint32_t waHostArrowCursor() { return Handle(LoadCursorA(nullptr, IDC_ARROW)); }

uint32_t waHostFileIcon(uint32_t module, const char* path, uint16_t* index) {
  // The shell may write the path of the program a file belongs to back into
  // the buffer, so it gets one of the size it expects.
  char buffer[MAX_PATH] = {};
  if (path == nullptr || strlen(path) >= sizeof buffer) return 0;
  strcpy(buffer, path);
  WORD at = index ? *index : 0;
  HICON icon = ExtractAssociatedIconA(Module(module), buffer, &at);
  if (icon == nullptr) return 0;
  if (index) *index = at;
  return Handle(icon);
}

uint32_t waHostModuleIcon(uint32_t module, int32_t iconId) {
  return Handle(LoadIconA(Module(module), MAKEINTRESOURCEA(iconId)));
}
