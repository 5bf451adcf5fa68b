#include "console/helpers.h"

#include "console/console.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"
#include "toolkit/window.h"

namespace {

struct IndicatorWords {
  const char* on;
  const char* off;
};
constexpr IndicatorWords kIndicatorWords[5] = {{"port open", "port closed"},
                                               {"DSR on", "DSR off"},
                                               {"CTS on", "CTS off"},
                                               {"ring", "ring over"},
                                               {"carrier on: call connected", "carrier off: call ended"}};

// What the log said last of each indicator (1 on, 0 off), so that only
// changes are told.
int32_t loggedIndicators[5];

}  // namespace

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

void RestoreStatus(const char* text) { tkRestoreWndTxt(Console().statusLine, 0, text); }

void LogLineIndicators(int32_t on, int32_t dsr, int32_t cts, int32_t rng, int32_t cd) {
  const int32_t values[5] = {on, dsr, cts, rng, cd};
  for (int32_t i = 0; i < 5; ++i) {
    if (values[i] != 1 && values[i] != -1) continue;
    const int32_t now = values[i] == 1 ? 1 : 0;
    if (now == loggedIndicators[i]) continue;
    loggedIndicators[i] = now;
    tkLog(0, "line", now == 1 ? kIndicatorWords[i].on : kIndicatorWords[i].off);
  }
}

int32_t TakeCallRequest() {
  const ConfigState& config = Config();
  char path[sizeof config.programFolder] = {};
  if (config.programFolder[0] == 0) return 0;
  if (LengthBounded(config.programFolder, sizeof path) + 1 + pLen(kCallRequestName) > int32_t(sizeof path) - 1)
    return 0;
  pBuildPath(config.programFolder, kCallRequestName, path);
  if (pFileSize(path) == -1) return 0;
  pFileDel(path);
  if (pFileSize(path) != -1) {
    ShowStatus("Call request CALL.NOW not taken: it cannot be removed");
    return 0;
  }
  tkLog(0, "call", "a call was asked for: posting at this tick");
  return 1;
}
