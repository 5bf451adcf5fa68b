// On Windows the WindowContext that the entry fills holds the process's real
// handles: the program's module handle (under which dialogs still find their
// templates and pictures), the system's command line text, its arrow cursor,
// and the icon linked into Velloran.exe, as painted from the program's own
// icon data. The test runs in the folder of Velloran.exe, as the program does.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdint.h>

#include <vector>

#include "tests/windows/context_probe.h"

namespace {

uint32_t Handle(const void* native) { return uint32_t(uintptr_t(native)); }

// The icon's colour pixels as 32-bit BGRA rows, top first; empty when the
// handle is no icon.
std::vector<uint8_t> IconPixels(uint32_t handle, int32_t side) {
  ICONINFO info{};
  if (!GetIconInfo(reinterpret_cast<HICON>(uintptr_t(handle)), &info)) return {};
  BITMAPINFO format{};
  format.bmiHeader = {sizeof(BITMAPINFOHEADER), side, -side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<uint8_t> pixels(size_t(side) * side * 4);
  HDC screen = GetDC(nullptr);
  int rows = GetDIBits(screen, info.hbmColor, 0, UINT(side), pixels.data(), &format, DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  if (rows != side) pixels.clear();
  return pixels;
}

TEST(WindowContext, HoldsTheProcessHandlesAndTheProgramIcon) {
  const ContextProbe probe = ProbeWindowContext();
  EXPECT_EQ(probe.instance, Handle(GetModuleHandleA(nullptr)));
  EXPECT_EQ(probe.commandLine, GetCommandLineA());
  EXPECT_EQ(probe.cursor, Handle(LoadCursorA(nullptr, IDC_ARROW)));
  EXPECT_TRUE(probe.dialogFound) << "no template under the module handle";
  EXPECT_TRUE(probe.pictureFound) << "no bitmap under the module handle";
  EXPECT_EQ(probe.iconIndex, 0) << "not the file's own icon: the shell stood in with another";

  int32_t side = 0;
  const uint8_t* painted = ProgramIconPixels(&side);
  const std::vector<uint8_t> shown = IconPixels(probe.icon, side);
  ASSERT_FALSE(shown.empty()) << "the context's icon is not an icon handle";
  int32_t differing = 0;
  for (size_t i = 0; i < shown.size(); i += 4) {
    const uint8_t* rgba = painted + i;
    // Only opaque pixels: the system may keep transparent ones as it likes.
    if (rgba[3] == 255 && (shown[i] != rgba[2] || shown[i + 1] != rgba[1] || shown[i + 2] != rgba[0])) ++differing;
  }
  EXPECT_EQ(differing, 0) << "Velloran.exe's icon is not the program's own";
}

}  // namespace
