// vlpictures -- writes the program's pictures as image files, so that a person
// can look at them without starting the program.
//
//   vlpictures OUTDIR
//       writes OUTDIR/bitmap110.ppm, OUTDIR/bitmap120.ppm (binary PPM) and
//       OUTDIR/icon100.pam (RGBA PAM); prints each file with its size and the
//       number of distinct colours.
//
// Exit code 0 on success, 1 when a file cannot be written.
#include <cstdio>
#include <set>
#include <string>

#include "resources/resources.h"

namespace {

int CountColours(const uint8_t* px, int count, int channels) {
  std::set<uint32_t> seen;
  for (int i = 0; i < count; ++i) {
    const uint8_t* p = px + size_t(i) * channels;
    seen.insert(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
  }
  return int(seen.size());
}

bool WriteImage(const std::string& path, const char* header, const uint8_t* px, size_t bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fputs(header, f) >= 0 && std::fwrite(px, 1, bytes, f) == bytes;
  return std::fclose(f) == 0 && ok;
}

bool WriteBitmap(const std::string& folder, int32_t id) {
  const BitmapResource* b = res::Bitmap(id);
  if (!b) return false;
  std::string path = folder + "/bitmap" + std::to_string(id) + ".ppm";
  char header[64];
  std::snprintf(header, sizeof header, "P6\n%d %d\n255\n", b->width, b->height);
  if (!WriteImage(path, header, b->rgb, size_t(b->width) * b->height * 3)) return false;
  std::printf("%s %dx%d %d-bit %d colours\n", path.c_str(), b->width, b->height, b->bitsPerPixel,
              CountColours(b->rgb, b->width * b->height, 3));
  return true;
}

bool WriteIcon(const std::string& folder, int32_t id) {
  const IconResource* icon = res::Icon(id);
  if (!icon) return false;
  std::string path = folder + "/icon" + std::to_string(id) + ".pam";
  char header[128];
  std::snprintf(header, sizeof header, "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n",
                icon->width, icon->height);
  if (!WriteImage(path, header, icon->rgba, size_t(icon->width) * icon->height * 4)) return false;
  std::printf("%s %dx%d RGBA\n", path.c_str(), icon->width, icon->height);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vlpictures OUTDIR\n");
    return 1;
  }
  std::string folder = argv[1];
  if (!WriteBitmap(folder, res::kLogoBitmap) || !WriteBitmap(folder, res::kPictureBitmap) ||
      !WriteIcon(folder, res::kProgramIcon)) {
    std::fprintf(stderr, "vlpictures: cannot write into %s\n", folder.c_str());
    return 1;
  }
  return 0;
}
