// lrzsz's sz and rz move 1 MiB of seeded random bytes over a line paced at
// 56000 baud; prints the figures of the link benchmark's reference column.
//
//   bench_zmodem                     a clean line (about 3 minutes)
//   bench_zmodem ONE_IN [SEED]       one byte in ONE_IN corrupted, both ways
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

#include "bench/link/zmodem_reference.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  constexpr int kBaud = 56000;
  constexpr size_t kBytes = 1 << 20;
  const uint32_t corruptOneIn = argc > 1 ? uint32_t(strtoul(argv[1], nullptr, 10)) : 0;
  const uint64_t seed = argc > 2 ? strtoull(argv[2], nullptr, 10) : 1;

  std::string pattern = (fs::temp_directory_path() / "vlbenchzmodemXXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const fs::path file = fs::path(pattern) / "random.bin";
  std::vector<char> data(kBytes);
  std::mt19937 random(7);
  for (char& b : data) b = char(random());
  std::ofstream(file, std::ios::binary).write(data.data(), std::streamsize(data.size()));

  const ZmodemFigures figures = RunZmodemReference(file.string(), kBaud, corruptOneIn, seed);
  std::error_code ignored;
  fs::remove_all(pattern, ignored);

  printf("file                       %zu random bytes\n", kBytes);
  printf("line                       %d baud, %.0f bytes/s each way\n", kBaud, kBaud / 10.0);
  if (corruptOneIn > 0)
    printf("corruption                 one byte in %u, both ways (seed %llu)\n", corruptOneIn, (unsigned long long)seed);
  else
    printf("corruption                 none\n");
  printf("ran                        %s\n", figures.ran ? "yes" : "no");
  printf("received file              %s\n", figures.identical ? "identical" : "NOT identical");
  printf("seconds                    %.3f\n", figures.seconds);
  printf("line bytes sz -> rz        %llu\n", (unsigned long long)figures.lineBytesForward);
  printf("line bytes rz -> sz        %llu\n", (unsigned long long)figures.lineBytesBack);
  printf("line efficiency            %.4f\n", figures.efficiency);
  if (!figures.note.empty()) printf("note                       %s\n", figures.note.c_str());
  return figures.ran && figures.identical ? 0 : 1;
}
