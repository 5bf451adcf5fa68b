// The receiving role: data events of an incoming call become a local spool
// file in POST, block by block, each answered with "[OK]" once it is on disk.
#include <cstring>

#include "config/config.h"
#include "link/internal.h"
#include "link/link.h"
#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

constexpr const char* kPartSuffix = "[~]";  // a mail still arriving

ReceiveWork& work() { return Link().receive; }

// The short messages are recognised as text: the line text is the event's
// bytes with a terminator of our own, and the length must match too.
bool IsMessage(int32_t length, const char* text) {
  return length == pLen(text) && pCmp(Link().lineText, text) == 1;
}

// Encoded names are written in one letter case (lower) and digits.
bool IsNameCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

// The announced name becomes a file name in POST, so it must be what this
// system makes: an encoded mail name (an even number of lower-case letters
// and digits) followed by "[=]". Anything else -- separators, "..", wildcards, another
// suffix, a missing terminator -- is refused.
bool IsAnnouncedNameSafe(const char* name, int32_t slotWidth) {
  const int32_t length = SlotTextLength(name, slotWidth);
  const int32_t suffix = pLen(kLocalSuffix);
  if (length <= suffix) return false;
  const int32_t stem = length - suffix;
  if (stem % 2 != 0) return false;
  for (int32_t i = 0; i < stem; ++i)
    if (!IsNameCharacter(name[i])) return false;
  return std::memcmp(name + stem, kLocalSuffix, size_t(suffix)) == 0;
}

// POST "\" stem suffix, into a cleared path buffer.
void BuildReceivePath(const char* stem, int32_t stemLength, const char* suffix, char* path) {
  pClrMem(path, kPathSize);
  AppendText(Config().spoolPath, path, kPathSize);
  AppendText("\\", path, kPathSize);
  const int32_t used = pLen(path);
  if (used + stemLength + pLen(suffix) >= kPathSize) {
    pClrMem(path, kPathSize);
    return;
  }
  pCopyMem(stem, path + used, stemLength);
  AppendText(suffix, path, kPathSize);
}

void SendOk() { SendToLine("[OK]", kOkBytes); }

void StartWork() {
  ReceiveWork& w = work();
  pClrMem(&w, sizeof w);
  w.writePosition = 1;
  w.expectedBlock = 1;
  ClearCommandBuffers();
}

// The line broke the protocol or the disk failed: the sender's wait runs out
// and it keeps its spool file; nothing more is taken until the carrier drops.
void Refuse() { work().state = kReceiveRefused; }

void TakeAnnounce(const char* data, int32_t length) {
  StartWork();
  ReceiveWork& w = work();
  if (length != kAnnounceSize) return;
  pCopyMem(data, w.announce, kAnnounceSize);
  vlData(-1, w.announce, kAnnounceSize);
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  if (SlotEquals(a.marker, kMailMarker) != 1) return;
  char machine[sizeof a.destinationMachine + 1];
  SlotText(a.destinationMachine, machine);
  char own[kMachineSlotSize + 1];
  pClrMem(own, sizeof own);
  AppendSlot(Config().unit.Text(UnitField::MachID), UnitField::MachID.width, own, sizeof own);
  if (SlotTextLength(a.destinationMachine, sizeof a.destinationMachine) < 0) return;
  if (MatchMachine(own, machine) != 1) return;
  if (!IsAnnouncedNameSafe(a.name, sizeof a.name)) return;
  const int32_t stem = pLen(a.name) - pLen(kLocalSuffix);
  BuildReceivePath(a.name, stem, kLocalSuffix, w.spoolPath);
  BuildReceivePath(a.name, stem, kPartSuffix, w.partPath);
  if (w.spoolPath[0] == 0 || w.partPath[0] == 0) return;
  // Every accepted mail starts on an empty file: a part left by a broken
  // call must not lend its tail to this one.
  pFileDel(w.partPath);
  SendOk();
  w.state = kReceiveMail;
  ShowProgress(0, 100);
}

// The part file holds the whole mail: it takes the spool file's name, which
// makes it visible to local delivery. 1 when the spool file is in place.
bool FinishMail() {
  ReceiveWork& w = work();
  pFileDel(w.spoolPath);
  pFileRen(w.partPath, w.spoolPath);
  return pFileSize(w.spoolPath) == int32_t(w.writePosition - 1);
}

// A whole block has arrived: store it, read it back, and answer.
void StoreBlock() {
  ReceiveWork& w = work();
  if (pFileIO(1, w.partPath, int32_t(w.writePosition), w.block, kBlockSize) != kBlockSize ||
      pFileIO(-1, w.partPath, int32_t(w.writePosition), w.readBack, kBlockSize) != kBlockSize) {
    Refuse();
    return;
  }
  w.writePosition += kBlockSize;
  MailBlock& copy = *reinterpret_cast<MailBlock*>(w.readBack);
  vlData(-1, &copy.header, kHeaderSize);
  const int32_t number = SlotNumber(copy.header.blockNumber, sizeof copy.header.blockNumber);
  const int32_t total = SlotNumber(copy.header.totalBlocks, sizeof copy.header.totalBlocks);
  // Blocks come in order, each one of the announced mail.
  if (SlotEquals(copy.header.marker, kMailMarker) != 1 || number != w.expectedBlock || total < number) {
    Refuse();
    return;
  }
  ShowProgress(number, total);
  char numberText[sizeof copy.header.blockNumber + 1];
  char totalText[sizeof copy.header.totalBlocks + 1];
  SlotText(copy.header.blockNumber, numberText);
  SlotText(copy.header.totalBlocks, totalText);
  const bool last = pCmp(numberText, totalText) == 1;
  if (last) {
    if (!FinishMail()) {
      Refuse();
      return;
    }
    w.state = kReceiveIdle;
    ShowProgress(0, 100);
  }
  pClrMem(w.readBack, kBlockSize);
  pClrMem(w.block, kBlockSize);
  w.blockBytes = 0;
  ++w.expectedBlock;
  SendOk();
  StatusNew("Comm Action Is Ok : Bytes Received - ");
  StatusAddNumber(w.writePosition);
}

// Gathers the bytes of one block however the library splits it. More than a
// block before the block is whole cannot be a block of this mail.
void TakeBlockData(const char* data, int32_t length) {
  ReceiveWork& w = work();
  if (length > kBlockSize - w.blockBytes) {
    Refuse();
    return;
  }
  pCopyMem(data, w.block + w.blockBytes, length);
  w.blockBytes += length;
  if (w.blockBytes == kBlockSize) StoreBlock();
}

void ReceiverData(const char* data, int32_t length) {
  switch (work().state) {
    case kReceiveIdle:
      if (!IsMessage(length, "[END]")) TakeAnnounce(data, length);
      break;
    case kReceiveMail:
      TakeBlockData(data, length);
      break;
    default:
      break;
  }
}

void SenderData(int32_t length) {
  LinkState& link = Link();
  if ((link.send.state == 0 || link.send.state == 1) && link.okFlag == -1 && IsMessage(length, "[OK]"))
    link.okFlag = 1;
}

}  // namespace

void EndCallForBothRoles() {
  Link().send.state = 0;
  work().state = kReceiveIdle;
  work().blockBytes = 0;
}

void OnLineData(const char* data, int32_t length) {
  if (data == nullptr || length <= 0) return;
  LinkState& link = Link();
  // Keep the last short message as text of its own: the library's
  // terminator is not something to rely on.
  pClrMem(link.lineText, kCommandBufferSize);
  pCopyMem(data, link.lineText, length < kCommandBufferSize ? length : kCommandBufferSize - 1);
  if (link.callState == -1)
    ReceiverData(data, length);
  else if (link.callState == 1)
    SenderData(length);
}
