// vlpictures -- writes the program's pictures as image files, so that a person
// can look at them without starting the program.
//
//   vlpictures OUTDIR
//       writes OUTDIR/bitmap110.ppm, OUTDIR/bitmap120.ppm (binary PPM),
//       OUTDIR/icon100.pam (RGBA PAM), OUTDIR/icon100.png (the same icon
//       as PNG, which desktops take for a menu entry's icon) and
//       OUTDIR/icon100.ico (as a Windows icon file, which the Windows build
//       links into Velloran.exe); prints each file with its size and the
//       number of distinct colours.
//
// Exit code 0 on success, 1 when a file cannot be written.
#include <algorithm>
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

// --- PNG, just enough for the 32 x 32 icon ------------------------------------
// The picture data goes into the zlib stream as stored (uncompressed) deflate
// blocks: a few kilobytes, and no compression library for one icon.

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint32_t Adler32(const std::string& data) {
  uint32_t a = 1, b = 0;
  for (unsigned char c : data) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

void PutBigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += char(value >> shift & 0xFF);
}

void PutChunk(std::string& png, const char* type, const std::string& data) {
  PutBigEndian(png, uint32_t(data.size()));
  std::string typed = std::string(type, 4) + data;
  png += typed;
  PutBigEndian(png, Crc32(reinterpret_cast<const uint8_t*>(typed.data()), typed.size()));
}

std::string StoredZlib(const std::string& raw) {
  std::string out = "\x78\x01";
  size_t at = 0;
  do {
    const size_t n = std::min<size_t>(raw.size() - at, 65535);
    const bool last = at + n == raw.size();
    out += char(last ? 1 : 0);
    out += char(n & 0xFF);
    out += char(n >> 8);
    out += char(~n & 0xFF);
    out += char(~n >> 8 & 0xFF);
    out.append(raw, at, n);
    at += n;
  } while (at < raw.size());
  PutBigEndian(out, Adler32(raw));
  return out;
}

std::string PngOf(const IconResource& icon) {
  std::string header;
  PutBigEndian(header, uint32_t(icon.width));
  PutBigEndian(header, uint32_t(icon.height));
  header += std::string("\x08\x06\x00\x00\x00", 5);  // 8 bits, RGBA, deflate, no filter, no interlace
  std::string rows;
  const size_t stride = size_t(icon.width) * 4;
  for (int y = 0; y < icon.height; ++y) {
    rows += '\0';  // each row unfiltered
    rows.append(reinterpret_cast<const char*>(icon.rgba) + y * stride, stride);
  }
  std::string png = "\x89PNG\r\n\x1a\n";
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", StoredZlib(rows));
  PutChunk(png, "IEND", "");
  return png;
}

// --- ICO: one 32 x 32 image, 32-bit BGRA with its alpha, bottom row first --------
// Layout: the directory (reserved 0, type 1, count 1), one 16-byte entry
// (width, height, colours 0, reserved, planes 1, bits 32, image bytes,
// image offset 22), then the image: a 40-byte bitmap header whose height
// counts the colour rows and the mask rows, the colour rows, and the
// transparency mask (1 bit a pixel, rows padded to 32 bits, 1 = transparent).

void PutLittleEndian(std::string& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += char(value >> (8 * i) & 0xFF);
}

std::string IcoOf(const IconResource& icon) {
  const int w = icon.width, h = icon.height;
  const int maskStride = (w + 31) / 32 * 4;
  std::string image;
  for (uint32_t field : {40u, uint32_t(w), uint32_t(2 * h)}) PutLittleEndian(image, field, 4);
  PutLittleEndian(image, 1, 2);   // planes
  PutLittleEndian(image, 32, 2);  // bits per pixel
  PutLittleEndian(image, 0, 4);   // no compression
  PutLittleEndian(image, uint32_t(w * h * 4 + maskStride * h), 4);
  for (int i = 0; i < 4; ++i) PutLittleEndian(image, 0, 4);  // resolution, palette
  std::string mask;
  for (int y = h - 1; y >= 0; --y) {
    std::string row(size_t(maskStride), '\0');
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = icon.rgba + (size_t(y) * w + x) * 4;
      image += {char(p[2]), char(p[1]), char(p[0]), char(p[3])};
      if (p[3] == 0) row[size_t(x / 8)] = char(row[size_t(x / 8)] | (0x80 >> (x % 8)));
    }
    mask += row;
  }
  image += mask;
  std::string ico;
  for (uint32_t field : {0u, 1u, 1u}) PutLittleEndian(ico, field, 2);
  ico += {char(w < 256 ? w : 0), char(h < 256 ? h : 0), 0, 0};
  PutLittleEndian(ico, 1, 2);
  PutLittleEndian(ico, 32, 2);
  PutLittleEndian(ico, uint32_t(image.size()), 4);
  PutLittleEndian(ico, 22, 4);
  return ico + image;
}

bool WriteBytes(const std::string& path, const std::string& bytes) {
  return WriteImage(path, "", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
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
  const std::string base = folder + "/icon" + std::to_string(id);
  if (!WriteBytes(base + ".png", PngOf(*icon)) || !WriteBytes(base + ".ico", IcoOf(*icon))) return false;
  std::printf("%s.png, %s.ico %dx%d RGBA\n", base.c_str(), base.c_str(), icon->width, icon->height);
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
