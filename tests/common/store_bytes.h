// Raw file work shared by the store and mail tests: files read and written
// with the host's own calls, slots of raw bytes, headers and index entries
// unscrambled, classic paths, temporary folders and reproducible bytes.
// Only the names come from the unit library's encoding.
#pragma once
#include <stdint.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/unit.h"
#include "tests/common/temp_folder.h"
#include "store/format.h"

namespace storebytes {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// The encoded file name of a text: scrambled over twice its length in a
// zero-filled 256-byte buffer.
inline std::string Encoded(const std::string& text) {
  char buffer[256] = {};
  text.copy(buffer, text.size());
  vlData(1, buffer, static_cast<int32_t>(2 * text.size()));
  return std::string(buffer);
}

inline Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The text stored in a slot of raw bytes.
inline std::string TextAt(const Bytes& bytes, size_t offset, size_t width) {
  std::string text;
  for (size_t i = 0; i < width && offset + i < bytes.size() && bytes[offset + i] != 0; ++i)
    text += static_cast<char>(bytes[offset + i]);
  return text;
}

inline void PutText(Bytes& bytes, size_t offset, const std::string& text) {
  for (size_t i = 0; i < text.size(); ++i) bytes[offset + i] = static_cast<unsigned char>(text[i]);
}

// The classic form of a host path: "C:" and "\" between names (a Windows
// path has its drive already).
inline std::string Classic(const fs::path& host) {
  std::string text = (host.has_root_name() ? "" : "C:") + host.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

// The header of block k of raw file bytes, unscrambled.
inline Bytes HeaderOf(const Bytes& file, int k) {
  Bytes header(file.begin() + (k - 1) * kBlockSize + kPayloadSize, file.begin() + k * kBlockSize);
  vlData(-1, header.data(), kHeaderSize);
  return header;
}

// Entry i (from 1) of a mailbox index, unscrambled.
inline Bytes IndexEntry(const Bytes& index, int i) {
  Bytes entry(index.begin() + (i - 1) * kHeaderSize, index.begin() + i * kHeaderSize);
  vlData(-1, entry.data(), kHeaderSize);
  return entry;
}

// An account file as creation leaves it (name "test user", no mails yet),
// scrambled.
inline Bytes AccountFileBytes(const std::string& id, const std::string& key) {
  Bytes record(kAccountRecordSize, 0);
  PutText(record, 0, id);
  PutText(record, 24, key);
  PutText(record, 40, "test user");
  PutText(record, 72, "0");
  PutText(record, 78, Encoded(id));
  PutText(record, 126, "[-]");
  vlData(1, record.data(), kAccountRecordSize);
  return record;
}


// Incompressible bytes of a given length, the same for the same seed.
inline Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 generator(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<unsigned char>(generator());
  return bytes;
}

}  // namespace storebytes
