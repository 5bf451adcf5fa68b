#include "tests/windows/context_probe.h"

#include "console/startup.h"
#include "resources/resources.h"
#include "toolkit/dialog.h"

namespace {

LRESULT QuietProc(HWND, UINT, WPARAM, LPARAM) { return 1; }

}  // namespace

ContextProbe ProbeWindowContext() {
  WindowContext context{};
  FillWindowContext(&VelloranResources(), context);
  ContextProbe probe{context.instance, context.commandLine, context.cursor, context.icon, context.iconIndex, false, false};
  HWND console = tkCreateDialog(context.instance, res::kConsoleDialog, 0, QuietProc, 0);
  probe.dialogFound = console != 0;
  probe.pictureFound = console != 0 && pWriteImage(console, 2001, res::kLogoBitmap, context.instance) != 0;
  if (console != 0) tkDestroyWindow(console);
  return probe;
}

const uint8_t* ProgramIconPixels(int32_t* size) {
  const IconResource* icon = res::Icon(res::kProgramIcon);
  *size = icon->width;
  return icon->rgba;
}
