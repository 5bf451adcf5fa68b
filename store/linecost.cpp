// What an attachment costs on the line (see linecost.h).
#include "store/linecost.h"

#include "config/config.h"
#include "store/format.h"
#include "toolkit/text.h"

namespace {

void Append(char* out, int32_t capacity, const char* text) { AppendBounded(text, out, capacity); }

void AppendNumber(char* out, int32_t capacity, int64_t value) {
  Append(out, capacity, pStr(int32_t(value > 0x7fffffff ? 0x7fffffff : value)));
}

// "950 bytes", "5.0 KB", "12.3 MB": one decimal from a kilobyte on.
void AppendSize(char* out, int32_t capacity, int64_t bytes) {
  if (bytes < 1024) {
    AppendNumber(out, capacity, bytes);
    Append(out, capacity, " bytes");
    return;
  }
  const bool mega = bytes >= 1024 * 1024;
  const int64_t tenths = bytes * 10 / (mega ? 1024 * 1024 : 1024);
  AppendNumber(out, capacity, tenths / 10);
  Append(out, capacity, ".");
  AppendNumber(out, capacity, tenths % 10);
  Append(out, capacity, mega ? " MB" : " KB");
}

// "40 s", "4 min 33 s", "2 h 5 min".
void AppendDuration(char* out, int32_t capacity, int64_t seconds) {
  if (seconds >= 3600) {
    AppendNumber(out, capacity, seconds / 3600);
    Append(out, capacity, " h ");
    AppendNumber(out, capacity, seconds % 3600 / 60);
    Append(out, capacity, " min");
  } else if (seconds >= 60) {
    AppendNumber(out, capacity, seconds / 60);
    Append(out, capacity, " min ");
    AppendNumber(out, capacity, seconds % 60);
    Append(out, capacity, " s");
  } else {
    AppendNumber(out, capacity, seconds);
    Append(out, capacity, " s");
  }
}

}  // namespace

int32_t AttachmentBlocks(int64_t packedBytes) {
  const int64_t blocks = (packedBytes + kContentSize - 1) / kContentSize;
  return blocks > kMaxMailBlocks ? kMaxMailBlocks + 1 : int32_t(blocks);
}

int64_t LineSeconds(int64_t blocks, int32_t baud) {
  if (baud <= 0) return -1;
  return (blocks * kBlockSize * 10 + baud - 1) / baud;
}

void LineCostText(int64_t packedBytes, int32_t baud, char* out, int32_t capacity) {
  pClrMem(out, capacity);
  AppendSize(out, capacity, packedBytes);
  Append(out, capacity, " packed");
  const int64_t seconds = LineSeconds(AttachmentBlocks(packedBytes), baud);
  if (seconds < 0) return;
  Append(out, capacity, ", about ");
  AppendDuration(out, capacity, seconds);
  Append(out, capacity, " on the line at ");
  AppendNumber(out, capacity, baud);
  Append(out, capacity, " baud");
}

int64_t MailLimitBlocks() {
  const int64_t megabytes = Config().settings.Number(SettingsField::MailLimitMb);
  const int64_t blocks = megabytes * (1024 * 1024 / kBlockSize);
  return megabytes <= 0 || blocks > kMaxMailBlocks ? kMaxMailBlocks : blocks;
}

void MailLimitText(char* out, int32_t capacity) {
  pClrMem(out, capacity);
  if (MailLimitBlocks() == kMaxMailBlocks) {
    Append(out, capacity, "the largest mail a receiver takes");
    return;
  }
  Append(out, capacity, "this machine's mail limit of ");
  AppendNumber(out, capacity, MailLimitBlocks() * kBlockSize / (1024 * 1024));
  Append(out, capacity, " MB");
}
