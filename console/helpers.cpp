#include "console/helpers.h"

#include "console/console.h"
#include "toolkit/text.h"
#include "toolkit/window.h"

int32_t CommandId(WPARAM wParam) {
  char selector[8] = "lword";
  return pGetW(selector, static_cast<int32_t>(wParam));
}

int32_t CommandCode(WPARAM wParam) {
  char selector[8] = "hword";
  return pGetW(selector, static_cast<int32_t>(wParam));
}

int32_t LengthBounded(const char* text, int32_t limit) {
  int32_t n = 0;
  if (text == nullptr) return 0;
  while (n < limit && text[n] != 0) ++n;
  return n;
}

void CopyBounded(const char* text, int32_t limit, char* dest) {
  const int32_t n = LengthBounded(text, limit);
  pClrMem(dest, limit + 1);
  if (n > 0) pCopyMem(text, dest, n);
}

void SlotText(const ConfigRecord& record, FieldSlot slot, char* out) {
  CopyBounded(record.Text(slot), slot.width - 1, out);
}

void FoldBounded(char* text, int32_t limit) {
  for (int32_t i = 0; i < limit && text[i] != 0; ++i)
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] + 32);
}

void FoldSlot(ConfigRecord& record, FieldSlot slot) { FoldBounded(record.Text(slot), slot.width); }

void ShowStatus(const char* text) { pWriteWndTxt(Console().statusLine, 0, text, 1, 0); }
