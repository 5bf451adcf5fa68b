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

// An .xz stream of n MiB of zeros: one block of 1 MiB packed once and
// written n times, so that a stream declaring hundreds of MiB costs nothing
// to make.
std::string zerosXz(uint32_t mebibytes) {
  lzma_stream_flags flags{};
  flags.check = LZMA_CHECK_CRC32;
  uint8_t edge[LZMA_STREAM_HEADER_SIZE];
  EXPECT_EQ(lzma_stream_header_encode(&flags, edge), LZMA_OK);
  std::string xz(reinterpret_cast<char*>(edge), sizeof edge);
  lzma_options_lzma options;
  EXPECT_FALSE(lzma_lzma_preset(&options, 0));
  lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_block block{};
  block.check = LZMA_CHECK_CRC32;
  block.filters = filters;
  std::vector<uint8_t> zeros(1u << 20, 0), packed(lzma_block_buffer_bound(zeros.size()));
  size_t used = 0;
  EXPECT_EQ(lzma_block_buffer_encode(&block, nullptr, zeros.data(), zeros.size(), packed.data(), &used, packed.size()),
            LZMA_OK);
  lzma_index* index = lzma_index_init(nullptr);
  for (uint32_t i = 0; i < mebibytes; i++) {
    xz.append(reinterpret_cast<char*>(packed.data()), used);
    EXPECT_EQ(lzma_index_append(index, nullptr, lzma_block_unpadded_size(&block), block.uncompressed_size), LZMA_OK);
  }
  std::string encoded(lzma_index_size(index), 0);
  size_t at = 0;
  EXPECT_EQ(lzma_index_buffer_encode(index, reinterpret_cast<uint8_t*>(encoded.data()), &at, encoded.size()), LZMA_OK);
  xz += encoded;
  flags.backward_size = lzma_index_size(index);
  lzma_index_end(index, nullptr);
  EXPECT_EQ(lzma_stream_footer_encode(&flags, edge), LZMA_OK);
  xz.append(reinterpret_cast<char*>(edge), sizeof edge);
  return xz;
}

// A one-block stream whose index says its block unpacks to 'size' bytes, a
// number of the same encoded length as the true one; the index's check sum
// is made right again, so only the sizes disagree.
std::string withDeclaredSize(std::string xz, uint64_t size) {
  lzma_stream_flags flags;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(xz.data());
  EXPECT_EQ(lzma_stream_footer_decode(&flags, bytes + xz.size() - LZMA_STREAM_HEADER_SIZE), LZMA_OK);
  const size_t index = xz.size() - LZMA_STREAM_HEADER_SIZE - flags.backward_size;
  // indicator, number of records, then the record: unpadded size, unpacked size
  size_t at = index + 1;
  lzma_vli value = 0;
  for (int field = 0; field < 2; field++) {
    EXPECT_EQ(lzma_vli_decode(&value, nullptr, bytes, &at, xz.size()), LZMA_OK);
    value = 0;
  }
  size_t start = at;
  EXPECT_EQ(lzma_vli_decode(&value, nullptr, bytes, &at, xz.size()), LZMA_OK);
  uint8_t encoded[LZMA_VLI_BYTES_MAX];
  size_t length = 0;
  EXPECT_EQ(lzma_vli_encode(size, nullptr, encoded, &length, sizeof encoded), LZMA_OK);
  EXPECT_EQ(length, at - start) << "pick a size of the same encoded length";
  std::copy(encoded, encoded + length, xz.begin() + static_cast<long>(start));
  const size_t crcAt = index + flags.backward_size - 4;
  uint32_t crc = lzma_crc32(reinterpret_cast<const uint8_t*>(xz.data()) + index, crcAt - index, 0);
  for (int i = 0; i < 4; i++) xz[crcAt + i] = static_cast<char>(crc >> (8 * i));
  return xz;
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

TEST_F(Optimize, FilesOfAnyRatioTravelAndOutputStaysWithinWhatTheStreamDeclares) {
  // Over 16 MiB and packing far better than 1000 to 1: honest attachments.
  std::string line = "12:00:01 service ready, nothing to report\n";
  std::string log;
  while (log.size() < (20u << 20)) log += line;
  for (const std::string& original : {std::string(20u << 20, '\0'), log}) {
    std::string packed;
    EXPECT_EQ(roundTrip(original, &packed), original);
    EXPECT_LT(packed.size() * 1000, original.size());
  }

  // A stream declaring more than the largest attachment: refused before a
  // byte is decoded, the file kept.
  for (const char* made : {"source.bin", "saved.bin"}) unlink((dir + "/" + made).c_str());
  std::string bomb = zerosXz(300);
  std::string path = dir + "/bomb";
  writeFile(path, bomb);
  EXPECT_STREQ(vlOptimize(-1, path.c_str(), 0, 2024), "");
  EXPECT_EQ(readFile(path), bomb);
  EXPECT_EQ(folderNames(), std::vector<std::string>{"bomb"});

  // One that declares what it holds unpacks; one whose index understates
  // what its block unpacks to does not.
  std::string honest = dir + "/honest";
  writeFile(honest, zerosXz(3));
  EXPECT_STREQ(vlOptimize(-1, honest.c_str(), 0, 2024), honest.c_str());
  EXPECT_EQ(readFile(honest), std::string(3u << 20, '\0'));
  unlink(honest.c_str());
  std::string understated = withDeclaredSize(zerosXz(1), 20000);
  writeFile(path, understated);
  EXPECT_STREQ(vlOptimize(-1, path.c_str(), 0, 2024), "");
  EXPECT_EQ(readFile(path), understated);
  EXPECT_EQ(folderNames(), std::vector<std::string>{"bomb"});
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
