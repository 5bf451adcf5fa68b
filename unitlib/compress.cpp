// Attachment compression (see unitlib.h for the method and the bounds).
#include <lzma.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/unit.h"
#include "toolkit/hostpath.h"
#include "toolkit/window.h"
#include "unitlib/packfiles.h"
#include "unitlib/unitlib.h"

// The progress bar belongs to the toolkit; without it loaded, packing still
// works and shows no progress.
#pragma weak pProgressBar

namespace {

constexpr size_t kChunk = 64 * 1024;

struct OptimizeState {
  char result[4096];
};

OptimizeState state;

// ---- progress -----------------------------------------------------------

struct Progress {
  HWND console;
  int32_t barId;
  uint64_t total;
  int32_t shown = -1;

  void at(uint64_t done) {
    if (console == 0 || &pProgressBar == nullptr) return;
    int32_t percent = total == 0 ? 100 : static_cast<int32_t>(done * 100 / total);
    if (percent > 100) percent = 100;
    if (percent == shown) return;
    shown = percent;
    pProgressBar(1, console, barId, percent, 100);
  }
};

// ---- files --------------------------------------------------------------

// An open file, closed when it goes out of scope or when close() says so.
struct Held {
  packfiles::File file = packfiles::kNoFile;
  explicit Held(packfiles::File f) : file(f) {}
  ~Held() { close(); }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  bool open() const { return file != packfiles::kNoFile; }
  void close() {
    if (open()) packfiles::Close(file);
    file = packfiles::kNoFile;
  }
};

const char* answer(const std::string& path) {
  memset(state.result, 0, sizeof state.result);
  if (path.size() < sizeof state.result) memcpy(state.result, path.data(), path.size());
  return state.result;
}

// ---- the coder loop -----------------------------------------------------

// Runs stream through from input to output. Stops with false on any coder
// error. With a limit (unpacking), also on output beyond *limit and on bytes
// after the end of the stream.
bool runCoder(lzma_stream& stream, packfiles::File in, packfiles::File out, const uint64_t* limit,
              Progress& progress) {
  uint8_t inBuf[kChunk], outBuf[kChunk];
  lzma_action action = LZMA_RUN;
  stream.next_out = outBuf;
  stream.avail_out = sizeof outBuf;
  for (;;) {
    if (stream.avail_in == 0 && action == LZMA_RUN) {
      long n = packfiles::ReadSome(in, inBuf, sizeof inBuf);
      if (n < 0) return false;
      stream.next_in = inBuf;
      stream.avail_in = static_cast<size_t>(n);
      if (n == 0) action = LZMA_FINISH;
      progress.at(stream.total_in);
    }
    lzma_ret ret = lzma_code(&stream, action);
    if (limit != nullptr && stream.total_out > *limit) return false;
    if (stream.avail_out == 0 || ret == LZMA_STREAM_END) {
      if (!packfiles::WriteAll(out, outBuf, sizeof outBuf - stream.avail_out)) return false;
      stream.next_out = outBuf;
      stream.avail_out = sizeof outBuf;
    }
    if (ret == LZMA_STREAM_END) {
      if (limit == nullptr) return true;
      // One stream and nothing after it.
      uint8_t extra;
      return stream.avail_in == 0 && packfiles::ReadSome(in, &extra, 1) == 0;
    }
    if (ret != LZMA_OK) return false;
  }
}

// The unpacked size the stream declares, read from the index at its end
// before anything is decoded. False when the end of the file is no stream
// footer, the index does not decode, or the index does not account for
// exactly the bytes of the file (a second stream, padding, a torn copy).
bool declaredSize(packfiles::File fd, uint64_t fileSize, uint64_t& unpacked) {
  uint8_t footer[LZMA_STREAM_HEADER_SIZE];
  if (fileSize < 2 * LZMA_STREAM_HEADER_SIZE) return false;
  if (!packfiles::ReadAt(fd, footer, sizeof footer, fileSize - sizeof footer)) return false;
  lzma_stream_flags flags;
  if (lzma_stream_footer_decode(&flags, footer) != LZMA_OK) return false;
  const uint64_t indexSize = flags.backward_size;
  if (indexSize > unitlib::kMaxIndex || indexSize + 2 * LZMA_STREAM_HEADER_SIZE > fileSize) return false;
  std::vector<uint8_t> bytes(static_cast<size_t>(indexSize));
  if (!packfiles::ReadAt(fd, bytes.data(), bytes.size(), fileSize - sizeof footer - indexSize)) return false;
  lzma_index* index = nullptr;
  uint64_t memory = unitlib::kMaxIndex * 4;
  size_t used = 0;
  if (lzma_index_buffer_decode(&index, &memory, nullptr, bytes.data(), &used, bytes.size()) != LZMA_OK) return false;
  const bool whole = used == bytes.size() && lzma_index_file_size(index) == fileSize;
  unpacked = lzma_index_uncompressed_size(index);
  lzma_index_end(index, nullptr);
  return whole;
}

bool initEncoder(lzma_stream& stream, uint64_t inputSize) {
  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, unitlib::kPreset)) return false;
  // A dictionary larger than the file buys nothing and costs the decoder.
  uint32_t dict = LZMA_DICT_SIZE_MIN;
  while (dict < inputSize && dict < options.dict_size) dict *= 2;
  options.dict_size = dict;
  lzma_filter filters[] = {
      {LZMA_FILTER_X86, nullptr},
      {LZMA_FILTER_LZMA2, &options},
      {LZMA_VLI_UNKNOWN, nullptr},
  };
  return lzma_stream_encoder(&stream, filters, LZMA_CHECK_CRC64) == LZMA_OK;
}

// ---- the two directions -------------------------------------------------

const char* pack(const std::string& source, Progress& progress) {
  uint64_t size = 0;
  Held in(packfiles::OpenForReading(source, size));
  if (!in.open() || size > unitlib::kMaxOutput) return answer("");
  std::string target;
  Held out(packfiles::CreatePacked(target));
  if (!out.open()) return answer("");
  progress.total = size;
  lzma_stream stream = LZMA_STREAM_INIT;
  bool ok = initEncoder(stream, progress.total) && runCoder(stream, in.file, out.file, nullptr, progress);
  ok = ok && packfiles::Finish(out.file, packfiles::kNoFile);
  lzma_end(&stream);
  out.close();
  if (!ok) {
    packfiles::Remove(target);
    return answer("");
  }
  progress.at(progress.total);
  return answer(target);
}

const char* unpack(const char* classicPath, const std::string& path, Progress& progress) {
  uint64_t size = 0;
  Held in(packfiles::OpenForReading(path, size));
  // The packed copy of the largest file is a little larger than the file.
  if (!in.open() || size > 2 * unitlib::kMaxOutput) return answer("");
  uint64_t declared = 0;
  if (!declaredSize(in.file, size, declared) || declared > unitlib::kMaxOutput) return answer("");
  std::string temporary;
  Held out(packfiles::CreateBeside(path, temporary));
  if (!out.open()) return answer("");
  progress.total = size;
  lzma_stream stream = LZMA_STREAM_INIT;
  bool ok = lzma_stream_decoder(&stream, unitlib::kDecoderMemory, 0) == LZMA_OK &&
            runCoder(stream, in.file, out.file, &declared, progress);
  lzma_end(&stream);
  ok = ok && packfiles::Finish(out.file, in.file);
  // Both are closed first: an open file cannot be replaced on every platform.
  in.close();
  out.close();
  ok = ok && packfiles::Replace(temporary, path);
  if (!ok) {
    packfiles::Remove(temporary);
    return answer("");
  }
  progress.at(progress.total);
  return answer(classicPath);
}

}  // namespace

// Direction 1 answers the packed copy's path, direction -1 the unpacked
// file's path; an empty text when nothing was made or the file was refused.
const char* vlOptimize(int32_t direction, const char* path, HWND console, int32_t barId) {
  std::string host;
  if (!hostpath::ToHost(path, host) || host.empty()) return answer("");
  Progress progress{console, barId, 0};
  if (direction == 1) return pack(host, progress);
  if (direction == -1) return unpack(path, host, progress);
  return answer("");
}
