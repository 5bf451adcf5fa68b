#include "config/config.h"

#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {
ConfigState state;
}

ConfigState& Config() { return state; }

void ResetConfig() { pClrMem(&state, sizeof state); }

int32_t ConfigRecord::Number(FieldSlot slot) const {
  char text[64] = {};
  pCopyMem(bytes + slot.offset, text, slot.width);  // slots are at most 48 bytes
  return pStrVal(text);
}

void ConfigRecord::SetText(FieldSlot slot, const char* text) {
  pClrMem(bytes + slot.offset, slot.width);
  int32_t n = pLen(text);
  if (n > slot.width - 1) n = slot.width - 1;
  pCopyMem(text, bytes + slot.offset, n);
}

void ConfigRecord::SetNumber(FieldSlot slot, int32_t value) { SetText(slot, pStr(value)); }

int32_t ReadRecord(const char* path, ConfigRecord& record) {
  pClrMem(record.bytes, kRecordSize);
  int32_t n = pFileIO(-1, path, 1, record.bytes, kRecordSize);
  // Scrambling works byte by byte from the start, so unscrambling only what
  // was read gives the same bytes as the whole record would, and the part a
  // short file does not cover stays zero instead of turning into noise.
  if (n > 0) vlData(-1, record.bytes, n);
  return n;
}

void WriteRecord(const char* path, ConfigRecord& record) {
  vlData(1, record.bytes, kRecordSize);
  pFileIO(1, path, 1, record.bytes, kRecordSize);
  vlData(-1, record.bytes, kRecordSize);
}
