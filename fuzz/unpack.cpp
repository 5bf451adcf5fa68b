// The attachment unpacker (vlOptimize -1) on any bytes saved as an attachment.
//
// Invariants after every input:
//  - refused (empty answer): the file is byte for byte and mode for mode what
//    it was, and liblzma's own decoder refuses it too or it breaks a bound;
//  - accepted: the file holds exactly what liblzma's own decoder makes of the
//    input, and no more than the largest attachment;
//  - the folder holds that one file only (no temporary left behind), and
//    nothing was written outside it.
#include <lzma.h>
#include <sys/stat.h>

#include "fuzz/harness.h"
#include "platform/unit.h"
#include "tests/common/store_bytes.h"
#include "unitlib/unitlib.h"

using namespace fuzz;

namespace {

fs::path folder;

// liblzma's own stream decoder under the unpacker's memory limit; false
// when it refuses the input, bytes follow the stream, or the output would
// be larger than the largest attachment.
bool ReferenceDecode(const uint8_t* data, size_t size, Bytes& out) {
  out.clear();
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, unitlib::kDecoderMemory, 0) != LZMA_OK) return false;
  stream.next_in = data;
  stream.avail_in = size;
  uint8_t chunk[1 << 16];
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    stream.next_out = chunk;
    stream.avail_out = sizeof chunk;
    ret = lzma_code(&stream, LZMA_FINISH);
    out.insert(out.end(), chunk, chunk + (sizeof chunk - stream.avail_out));
    if (out.size() > unitlib::kMaxOutput) ret = LZMA_MEMLIMIT_ERROR;
  }
  const bool whole = ret == LZMA_STREAM_END && stream.avail_in == 0;
  lzma_end(&stream);
  return whole;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterScratch();
  folder = MakeTempFolder("vlunpack");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path file = folder / "report.txt";
  WriteFile(file, data, size);
  // An odd mode, so that a replacement that forgets it shows.
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const Bytes before = ReadFile(file);

  const char* answer = vlOptimize(-1, storebytes::Classic(file).c_str(), 0, 0);
  FUZZ_CHECK(answer != nullptr, "no answer");

  Bytes expected;
  const bool decodable = ReferenceDecode(data, size, expected);
  const Bytes after = ReadFile(file);
  Trace(std::string(answer[0] == 0 ? "refused" : "unpacked") + ", " + std::to_string(after.size()) + " bytes");
  if (answer[0] == 0) {
    FUZZ_CHECK(after == before, "a refused file was changed");
    FUZZ_CHECK(!decodable, "a sound stream was refused");
  } else {
    FUZZ_CHECK(std::string(answer) == storebytes::Classic(file), answer);
    FUZZ_CHECK(decodable, "a stream liblzma refuses was taken");
    FUZZ_CHECK(after == expected, "unpacked bytes differ from liblzma's");
  }
  struct stat st {};
  FUZZ_CHECK(stat(file.c_str(), &st) == 0 && (st.st_mode & 07777) == 0640, "mode changed");
  const Tree tree = Snapshot(folder);
  FUZZ_CHECK(tree.size() == 1, "left behind:" + Difference({{"report.txt", {}}}, tree));
  CheckOutside({folder});
  fs::remove(file);
  return 0;
}
