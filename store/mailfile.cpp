// Mail blocks as they lie in spool and mail files.
#include "platform/unit.h"
#include "store/format.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

int32_t ReadBlockHeader(const char* path, int32_t position, MailBlock& block) {
  pClrMem(&block, sizeof block);
  int32_t n = pFileIO(-1, path, position, &block, kBlockSize);
  vlData(-1, &block.header, kHeaderSize);
  return n;
}

int32_t IsFirstBlock(const MailHeader& header) {
  return SlotEquals(header.marker, kMailMarker) == 1 && SlotEquals(header.blockNumber, "1") == 1 ? 1 : 0;
}

int32_t SlotNumber(const char* slot, int32_t width) {
  int32_t value = 0;
  int32_t digits = 0;
  for (; digits < width && slot[digits] != 0; ++digits) {
    if (slot[digits] < '0' || slot[digits] > '9' || digits == 9) return -1;
    value = value * 10 + (slot[digits] - '0');
  }
  return digits == 0 ? -1 : value;
}

int32_t IsMailComplete(const char* path, int32_t size) {
  // Only a whole block can be a mail's last one; a size between blocks is a
  // file still being written, or a damaged one, and never counts as complete.
  if (size < kBlockSize || size % kBlockSize != 0) return 0;
  MailBlock block;
  int32_t complete = 0;
  if (ReadBlockHeader(path, 1 + size - kBlockSize, block) == kBlockSize) {
    char number[sizeof block.header.blockNumber + 1];
    char total[sizeof block.header.totalBlocks + 1];
    SlotText(block.header.blockNumber, number);
    SlotText(block.header.totalBlocks, total);
    complete = pCmp(number, total);
  }
  pClrMem(&block, sizeof block);
  return complete;
}
