// What every fuzz target shares: a scratch world to run in, snapshots of
// folder trees, and checks that stop the run as a crash.
//
// A target runs its machine in a folder of the scratch world: TMPDIR points
// at the scratch folder (the test fixtures make their machine folders under
// it) and the current folder is an empty folder "cwd" inside it, so a
// relative path or a stray temporary file would land where the checks look.
// After every input CheckOutside() insists that the scratch folder holds
// nothing but the machine folders and an empty "cwd". After a crash the
// scratch folder is kept, to look at what the input left.
//
// A broken invariant prints what broke and aborts: libFuzzer keeps the input
// as a crash artifact, exactly as for a sanitizer report.
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fuzz {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
// Every regular file under a folder: path relative to it -> bytes; folders
// are entries with a trailing "/" and no bytes.
using Tree = std::map<std::string, Bytes>;

[[noreturn]] inline void Fail(const std::string& what) {
  fprintf(stderr, "\n==fuzz== invariant broken: %s\n", what.c_str());
  fflush(stderr);
  abort();
}

#define FUZZ_CHECK(condition, what)                                        \
  do {                                                                     \
    if (!(condition)) ::fuzz::Fail(std::string(#condition) + ": " + (what)); \
  } while (0)

// With VL_FUZZ_TRACE set, a target says what one input did (to see that
// the seeds reach what the invariants are about).
inline void Trace(const std::string& text) {
  static const bool on = getenv("VL_FUZZ_TRACE") != nullptr;
  if (on) fprintf(stderr, "==fuzz== %s\n", text.c_str());
}

inline Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fs::path& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline Tree Snapshot(const fs::path& root) {
  Tree tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string name = fs::relative(it->path(), root).string();
    if (it->is_directory())
      tree[name + "/"] = {};
    else
      tree[name] = ReadFile(it->path());
  }
  return tree;
}

// The differences between two snapshots, for a failure message.
inline std::string Difference(const Tree& before, const Tree& after) {
  std::string text;
  for (const auto& [name, bytes] : before) {
    auto found = after.find(name);
    if (found == after.end())
      text += " -" + name;
    else if (found->second != bytes)
      text += " ~" + name;
  }
  for (const auto& [name, bytes] : after)
    if (!before.count(name)) text += " +" + name;
  return text;
}

struct ScratchWorld {
  fs::path folder;
  fs::path cwd;
};

inline ScratchWorld& Scratch() {
  static ScratchWorld world;
  return world;
}

inline void RemoveScratch() {
  std::error_code ignored;
  if (!Scratch().folder.empty()) fs::remove_all(Scratch().folder, ignored);
}

// Makes the scratch world (memory-backed when the host has /dev/shm, so the
// fsyncs of the code under test cost little) and moves into it. Call first,
// before any fixture makes its folder.
inline void EnterScratch() {
  std::error_code error;
  fs::path base = fs::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm")
                                                                                       : fs::temp_directory_path();
  std::string pattern = (base / "vlfuzzXXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back(0);
  if (mkdtemp(name.data()) == nullptr) Fail("no scratch folder under " + base.string());
  ScratchWorld& world = Scratch();
  world.folder = name.data();
  world.cwd = world.folder / "cwd";
  fs::create_directory(world.cwd);
  setenv("TMPDIR", world.folder.c_str(), 1);
  if (chdir(world.cwd.c_str()) != 0) Fail("cannot enter " + world.cwd.string());
  atexit(RemoveScratch);
}

// Nothing was written outside the machine folders: the scratch folder holds
// only them and an empty "cwd".
inline void CheckOutside(const std::set<fs::path>& machines) {
  const ScratchWorld& world = Scratch();
  for (const auto& entry : fs::directory_iterator(world.folder)) {
    if (entry.path() == world.cwd || machines.count(entry.path())) continue;
    Fail("written outside the machine folder: " + entry.path().string());
  }
  FUZZ_CHECK(fs::is_empty(world.cwd), "written into the current folder");
}

// Reads the input front to back; past its end every read gives zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  size_t Left() const { return at_ < size_ ? size_ - at_ : 0; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Word() {
    uint16_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  // Up to n bytes (fewer at the end of the input).
  Bytes Take(size_t n) {
    if (n > Left()) n = Left();
    Bytes bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }
  Bytes Rest() { return Take(Left()); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// Inputs that hold several files separate them with this line; each part
// is one file, in order (missing parts are absent files).
constexpr char kPartSeparator[] = "\n--vlfuzz--\n";

inline std::vector<Bytes> SplitParts(const uint8_t* data, size_t size) {
  std::vector<Bytes> parts(1);
  const std::string separator = kPartSeparator;
  size_t i = 0;
  while (i < size) {
    if (size - i >= separator.size() && std::equal(separator.begin(), separator.end(), data + i)) {
      parts.emplace_back();
      i += separator.size();
    } else {
      parts.back().push_back(data[i++]);
    }
  }
  return parts;
}

}  // namespace fuzz
