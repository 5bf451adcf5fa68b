// Attachment packing on about 10 MB of mixed input, beside the reference
// command-line packers on the same bytes. Prints sizes and times; it checks
// that unpacking gives back the input.
//
// The input is the same on every run of one machine: 4.5 MB of generated
// text, 4 MB of the executables in /usr/bin (by name order) and 2 MB of
// seeded random bytes.
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/unit.h"

namespace {

constexpr size_t kTextBytes = 4500000, kBinaryBytes = 4000000, kRandomBytes = 2000000;

std::string generatedText(std::mt19937& rng) {
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string w(2 + rng() % 8, ' ');
    for (char& c : w) c = static_cast<char>('a' + rng() % 26);
    words.push_back(w);
  }
  std::string out;
  while (out.size() < kTextBytes) {
    std::string line;
    for (unsigned n = 4 + rng() % 11; n > 0; --n) {
      if (!line.empty()) line += ' ';
      line += words[rng() % words.size()];
    }
    line[0] = static_cast<char>(line[0] - 32);
    out += line + ".\n";
  }
  out.resize(kTextBytes);
  return out;
}

std::string binaries() {
  std::vector<std::string> names;
  if (DIR* d = opendir("/usr/bin")) {
    while (struct dirent* e = readdir(d)) names.push_back(e->d_name);
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& name : names) {
    std::string path = "/usr/bin/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    std::ifstream in(path, std::ios::binary);
    out.append(std::istreambuf_iterator<char>(in), {});
    if (out.size() >= kBinaryBytes) break;
  }
  out.resize(std::min(out.size(), kBinaryBytes));
  return out;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

void row(const char* method, long bytes, double pack, double unpack) {
  printf("| %-26s | %10ld | %7.2f s | %7.2f s |\n", method, bytes, pack, unpack);
}

// One external packer: command to pack input into out, command to unpack.
void external(const char* method, const std::string& tool, const std::string& packArgs, const std::string& unpackArgs,
              const std::string& input, const std::string& dir) {
  if (system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
    printf("| %-26s | %10s | %9s | %9s |\n", method, "not found", "", "");
    return;
  }
  std::string out = dir + "/external.out";
  auto start = std::chrono::steady_clock::now();
  int rc = system((tool + " " + packArgs + " -c '" + input + "' > '" + out + "' 2>/dev/null").c_str());
  double pack = seconds(start);
  start = std::chrono::steady_clock::now();
  rc |= system((tool + " " + unpackArgs + " -d -c '" + out + "' > /dev/null 2>&1").c_str());
  double unpack = seconds(start);
  row(method, rc == 0 ? fileSize(out) : -1, pack, unpack);
  unlink(out.c_str());
}

}  // namespace

int main() {
  char tmpl[] = "/tmp/vl-bench-unit-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::string dir = tmpl;
  std::mt19937 rng(20261207);
  std::string input = generatedText(rng) + binaries();
  std::string noise(kRandomBytes, 0);
  for (char& c : noise) c = static_cast<char>(rng());
  input += noise;
  std::string inputPath = dir + "/input.bin";
  std::ofstream(inputPath, std::ios::binary) << input;
  printf("input: %zu bytes (%zu text, %zu executables, %zu random)\n\n", input.size(), kTextBytes,
         input.size() - kTextBytes - kRandomBytes, kRandomBytes);
  printf("| %-26s | %10s | %9s | %9s |\n|---|---|---|---|\n", "method", "bytes", "pack", "unpack");

  auto start = std::chrono::steady_clock::now();
  std::string packed = vlOptimize(1, inputPath.c_str(), 0, 2024);
  double pack = seconds(start);
  if (packed.empty()) {
    printf("vlOptimize made no packed copy\n");
    return 1;
  }
  std::string saved = dir + "/saved.bin";
  std::ofstream(saved, std::ios::binary) << readFile(packed);
  long packedSize = fileSize(packed);
  unlink(packed.c_str());
  start = std::chrono::steady_clock::now();
  std::string unpacked = vlOptimize(-1, saved.c_str(), 0, 2024);
  double unpack = seconds(start);
  bool same = !unpacked.empty() && readFile(saved) == input;
  row("vlOptimize (x86+LZMA2 -6)", packedSize, pack, unpack);
  external("xz -9e", "xz", "-9e -T1", "-T1", inputPath, dir);
  external("zstd -19 --long", "zstd", "-19 --long -q", "--long -q", inputPath, dir);
  printf("\nround trip: %s\n", same ? "identical" : "DIFFERENT");
  if (system(("rm -rf '" + dir + "'").c_str()) != 0) printf("could not remove %s\n", dir.c_str());
  return same ? 0 : 1;
}
