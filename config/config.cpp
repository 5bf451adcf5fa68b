#include "config/config.h"

#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {
ConfigState state;
}

ConfigState& Config() { return state; }

void ResetConfig() { pClrMem(&state, sizeof state); }

namespace {
// Decimal text as pStr writes it: an optional "-" and at least one digit.
// pStrVal itself turns any other byte into a "digit" of its own, so a field
// holding text of another kind would read as a large meaningless number.
bool IsDecimal(const char* text) {
  if (*text == '-') ++text;
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}
}  // namespace

int32_t ConfigRecord::Number(FieldSlot slot) const {
  char text[64] = {};
  pCopyMem(bytes + slot.offset, text, slot.width);  // slots are at most 48 bytes
  return IsDecimal(text) ? pStrVal(text) : 0;
}

void ConfigRecord::SetText(FieldSlot slot, const char* text) {
  pClrMem(bytes + slot.offset, slot.width);
  if (!text) return;  // no text clears the field
  int32_t n = pLen(text);
  if (n > slot.width - 1) n = slot.width - 1;
  pCopyMem(text, bytes + slot.offset, n);
}

void ConfigRecord::SetNumber(FieldSlot slot, int32_t value) { SetText(slot, pStr(value)); }

int32_t ReadRecord(const char* path, ConfigRecord& record) {
  pClrMem(record.bytes, kRecordSize);
  int32_t n = pFileIO(-1, path, 1, record.bytes, kRecordSize);
  // Only what was read is unscrambled: a file the record write made is
  // always whole, and a shorter one (made by hand or cut off) then gives its
  // own bytes followed by zeros, instead of a tail of unscrambled noise.
  if (n > 0) vlData(-1, record.bytes, n);
  return n;
}

void WriteRecord(const char* path, ConfigRecord& record) {
  vlData(1, record.bytes, kRecordSize);
  pFileIO(1, path, 1, record.bytes, kRecordSize);
  vlData(-1, record.bytes, kRecordSize);
}
