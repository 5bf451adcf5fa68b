// Small helpers of the link: status line, progress bar, bounded text.
#include <cstring>

#include "console/console.h"
#include "link/internal.h"
#include "link/link.h"
#include "platform/comm.h"
#include "store/format.h"
#include "toolkit/dialog.h"
#include "toolkit/files.h"
#include "toolkit/text.h"
#include "toolkit/window.h"

void StatusNew(const char* text) { pWriteWndTxt(Console().statusLine, 0, text, 1, 0); }

void StatusAdd(const char* text) { pWriteWndTxt(Console().statusLine, 0, text, 0, 0); }

void StatusAddNumber(uint32_t value) {
  // pStr takes a signed value; positions stay far below 2^31.
  StatusAdd(pStr(int32_t(value & 0x7fffffffu)));
}

void ShowProgress(int32_t done, int32_t total) {
  pProgressBar(1, Console().record.handle, kProgressBarId, done, total);
}

void AppendText(const char* text, char* dest, int32_t destSize) {
  if (text == nullptr) return;
  AppendSlot(text, int32_t(std::strlen(text)) + 1, dest, destSize);
}

int32_t SlotTextLength(const char* slot, int32_t slotWidth) {
  const void* end = std::memchr(slot, 0, size_t(slotWidth));
  return end == nullptr ? -1 : int32_t(static_cast<const char*>(end) - slot);
}

void AppendSlot(const char* slot, int32_t slotWidth, char* dest, int32_t destSize) {
  const int32_t used = SlotTextLength(dest, destSize);
  if (used < 0) return;
  int32_t take = SlotTextLength(slot, slotWidth);
  if (take < 0) take = slotWidth - 1;
  if (take > destSize - 1 - used) take = destSize - 1 - used;
  if (take <= 0) return;
  std::memcpy(dest + used, slot, size_t(take));
  dest[used + take] = 0;
}

std::string DescribeMail(const char* mailPath) {
  MailBlock block;
  if (ReadBlockHeader(mailPath, BlockPosition(1), block) != kBlockSize) return std::string();
  char sender[sizeof block.header.sender + 1], destination[sizeof block.header.destination + 1],
      total[sizeof block.header.totalBlocks + 1];
  SlotText(block.header.sender, sender);
  SlotText(block.header.destination, destination);
  SlotText(block.header.totalBlocks, total);
  pClrMem(&block, sizeof block);
  return std::string(sender) + " to " + destination + ", " + total + " blocks";
}

void LogMail(const char* what, const std::string& mail) {
  if (mail.empty()) return;
  tkLog(0, "mail", (std::string(what) + " " + mail).c_str());
}

bool FitsMachineSlot(const char* machineId) {
  const int32_t length = SlotTextLength(machineId, kMachineSlotSize);
  return length > 0;
}

bool SendToLine(const void* bytes, int32_t length) {
  const bool taken = pRS232IO(1, Link().portHandle, bytes, length) == length;
  // A call on which this machine still answers is not a silent one.
  Link().watch.quietSince = uint32_t(pTiming());
  return taken;
}
