// Attachment compression: byte-for-byte round trips, refusals that leave the
// file as it was, and progress on the console's bar.
#include <dirent.h>
#include <gtest/gtest.h>
#include <lzma.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/unit.h"
#include "toolkit/window.h"

namespace {

struct BarCall {
  HWND window;
  int32_t controlId, position, total;
};
std::vector<BarCall> barCalls;

}  // namespace

// Stands in for the console's progress bar.
int32_t pProgressBar(int32_t op, HWND window, int32_t controlId, int32_t position, int32_t total) {
  if (op == 1) barCalls.push_back({window, controlId, position, total});
  return 1;
}

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::string& data) { std::ofstream(path, std::ios::binary) << data; }

std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, 0);
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

std::string text(size_t n) {
  std::string s;
  for (int i = 0; s.size() < n; ++i) s += "Line " + std::to_string(i) + " of the attachment, some words repeat.\n";
  s.resize(n);
  return s;
}

std::string xzOf(const std::string& data, uint32_t preset) {
  std::string out(lzma_stream_buffer_bound(data.size()), 0);
  size_t used = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(preset, LZMA_CHECK_CRC64, nullptr, reinterpret_cast<const uint8_t*>(data.data()),
                                    data.size(), reinterpret_cast<uint8_t*>(out.data()), &used, out.size()),
            LZMA_OK);
  out.resize(used);
  return out;
}

class Optimize : public ::testing::Test {
 protected:
  std::string dir;
  void SetUp() override {
    barCalls.clear();
    char tmpl[] = "/tmp/vl-unit-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir = tmpl;
  }
  void TearDown() override { ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0); }

  std::vector<std::string> folderNames() const {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    while (struct dirent* e = readdir(d))
      if (e->d_name[0] != '.' || (strcmp(e->d_name, ".") && strcmp(e->d_name, ".."))) names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
  }

  // Packs 'original', carries the packed bytes to a saved file as the
  // reader does, and unpacks that file. Returns the unpacked bytes.
  std::string roundTrip(const std::string& original, std::string* packedBytes = nullptr) {
    std::string source = dir + "/source.bin";
    writeFile(source, original);
    std::string packed = vlOptimize(1, source.c_str(), 0, 2024);
    EXPECT_FALSE(packed.empty());
    std::string carried = readFile(packed);
    EXPECT_EQ(unlink(packed.c_str()), 0);
    EXPECT_EQ(readFile(source), original) << "packing changed the original";
    if (packedBytes) *packedBytes = carried;
    std::string saved = dir + "/saved.bin";
    writeFile(saved, carried);
    EXPECT_STREQ(vlOptimize(-1, saved.c_str(), 0, 2024), saved.c_str());
    return readFile(saved);
  }
};

TEST_F(Optimize, RoundTripsByteForByte) {
  std::string binary = readFile("/bin/ls");
  struct {
    const char* what;
    std::string data;
  } rows[] = {
      {"empty", ""},
      {"one byte", "x"},
      {"text", text(200000)},
      {"random", randomBytes(300000, 1)},
      {"executable", binary},
      {"mixed", text(50000) + binary + randomBytes(50000, 2) + std::string(70000, '\0')},
  };
  for (auto& r : rows) EXPECT_EQ(roundTrip(r.data), r.data) << r.what;
}

TEST_F(Optimize, PackingShrinksText) {
  std::string packed;
  std::string original = text(500000);
  roundTrip(original, &packed);
  EXPECT_LT(packed.size(), original.size() / 10);
}

TEST_F(Optimize, ClassicPathsReachTheFile) {
  std::string original = text(5000);
  std::string classic = "C:" + dir + "\\classic.txt";
  for (char& c : classic)
    if (c == '/') c = '\\';
  writeFile(dir + "/classic.txt", original);
  std::string packed = vlOptimize(1, classic.c_str(), 0, 2024);
  ASSERT_FALSE(packed.empty());
  writeFile(dir + "/classic.txt", readFile(packed));
  unlink(packed.c_str());
  EXPECT_STREQ(vlOptimize(-1, classic.c_str(), 0, 2024), classic.c_str());
  EXPECT_EQ(readFile(dir + "/classic.txt"), original);
}

TEST_F(Optimize, RefusesMalformedInputAndKeepsTheFile) {
  std::string good = xzOf(text(100000), 6);
  std::string flipped = good;
  flipped[good.size() / 2] ^= 0x40;
  struct {
    const char* what;
    std::string data;
  } rows[] = {
      {"empty", ""},
      {"noise", randomBytes(5000, 3)},
      {"truncated", good.substr(0, good.size() - 10)},
      {"header only", good.substr(0, 12)},
      {"damaged", flipped},
      {"trailing bytes", good + "x"},
      {"two streams", good + good},
      {"huge window", xzOf("small", 9)},
  };
  for (auto& r : rows) {
    std::string path = dir + "/attachment";
    writeFile(path, r.data);
    chmod(path.c_str(), 0640);
    EXPECT_STREQ(vlOptimize(-1, path.c_str(), 0, 2024), "") << r.what;
    EXPECT_EQ(readFile(path), r.data) << r.what;
    EXPECT_EQ(folderNames(), std::vector<std::string>{"attachment"}) << r.what << ": a temporary file was left";
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
  }
}

TEST_F(Optimize, RefusesAbsurdExpansion) {
  // 64 MiB of zeros packs into a few kilobytes: far beyond the ratio bound.
  std::string zeros(64u << 20, '\0');
  std::string bomb = xzOf(zeros, 0);
  ASSERT_LT(bomb.size() * 1000, zeros.size());
  std::string path = dir + "/bomb";
  writeFile(path, bomb);
  EXPECT_STREQ(vlOptimize(-1, path.c_str(), 0, 2024), "");
  EXPECT_EQ(readFile(path), bomb);
  // And no copy is made that the receiver would refuse.
  writeFile(dir + "/zeros", zeros);
  EXPECT_STREQ(vlOptimize(1, (dir + "/zeros").c_str(), 0, 2024), "");
  // A smaller file of zeros is no bomb and still travels.
  std::string few(4u << 20, '\0');
  EXPECT_EQ(roundTrip(few), few);
}

TEST_F(Optimize, MissingFilesAndFoldersGiveNothing) {
  std::string missing = dir + "/missing";
  EXPECT_STREQ(vlOptimize(1, missing.c_str(), 0, 2024), "");
  EXPECT_STREQ(vlOptimize(-1, missing.c_str(), 0, 2024), "");
  EXPECT_NE(access(missing.c_str(), F_OK), 0) << "unpacking created the file";
  EXPECT_STREQ(vlOptimize(1, dir.c_str(), 0, 2024), "");
  EXPECT_STREQ(vlOptimize(-1, dir.c_str(), 0, 2024), "");
  EXPECT_STREQ(vlOptimize(1, "D:\\file", 0, 2024), "");
  EXPECT_STREQ(vlOptimize(1, nullptr, 0, 2024), "");
  EXPECT_STREQ(vlOptimize(0, (dir + "/x").c_str(), 0, 2024), "");
}

TEST_F(Optimize, ReadOnlyAttachmentsCanBePacked) {
  std::string source = dir + "/readonly";
  writeFile(source, text(1000));
  chmod(source.c_str(), 0444);
  std::string packed = vlOptimize(1, source.c_str(), 0, 2024);
  ASSERT_FALSE(packed.empty());
  EXPECT_GT(readFile(packed).size(), 0u);
  unlink(packed.c_str());
}

TEST_F(Optimize, ProgressReachesTheConsolesBar) {
  std::string source = dir + "/big";
  writeFile(source, text(1 << 20) + randomBytes(1 << 20, 4));
  std::string packed = vlOptimize(1, source.c_str(), 77, 2024);
  ASSERT_FALSE(packed.empty());
  ASSERT_GE(barCalls.size(), 3u);
  int32_t last = -1;
  for (const BarCall& c : barCalls) {
    EXPECT_EQ(c.window, 77u);
    EXPECT_EQ(c.controlId, 2024);
    EXPECT_EQ(c.total, 100);
    EXPECT_GT(c.position, last) << "the bar went back";
    last = c.position;
  }
  EXPECT_EQ(last, 100);

  barCalls.clear();
  writeFile(dir + "/saved", readFile(packed));
  unlink(packed.c_str());
  EXPECT_STRNE(vlOptimize(-1, (dir + "/saved").c_str(), 77, 2024), "");
  ASSERT_FALSE(barCalls.empty());
  EXPECT_EQ(barCalls.back().position, 100);

  barCalls.clear();
  writeFile(source, "quiet");
  packed = vlOptimize(1, source.c_str(), 0, 2024);
  unlink(packed.c_str());
  EXPECT_TRUE(barCalls.empty()) << "no console, no progress";
}

}  // namespace
