// The receiving role: data events of an incoming call become a local spool
// file in POST, block by block, each answered with "[OK]" once it is on disk.
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "link/extended.h"
#include "link/internal.h"
#include "link/link.h"
#include "platform/unit.h"
#include "store/journal.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

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

// Texts of the refusals; the sender, unanswered, keeps its mail.
constexpr const char* kTooLong = "Mail refused: longer than the longest mail (blocks: ";
constexpr const char* kNoRoom = "Mail refused: too little free space in the program folder";
constexpr const char* kNotWritten = "Mail not received: it could not be written to POST (disk full?)";
constexpr const char* kOutOfOrder = "Mail refused: its blocks do not follow the announced mail";
constexpr const char* kNoVariant = "Mail not received: every stamp of its sender's minute is taken in POST";

ReceiveLimits limits;

void StartWork() {
  ReceiveWork& w = work();
  pClrMem(&w, sizeof w);
  w.writePosition = 1;
  w.expectedBlock = 1;
  DigestStart(w.digest);
  ClearCommandBuffers();
}

// Mail for another machine than this one (a hub's to send on); its
// destination machine in machine.
bool IsMailToRelay(const TransferAnnounce& a, char (&machine)[sizeof TransferAnnounce::destinationMachine + 1]) {
  SlotText(a.destinationMachine, machine);
  char own[kMachineSlotSize + 1];
  pClrMem(own, sizeof own);
  AppendSlot(Config().unit.Text(UnitField::MachID), UnitField::MachID.width, own, sizeof own);
  return MatchMachine(own, machine) != 1;
}

}  // namespace

void RefuseReceive(const char* why) {
  work().state = kReceiveRefused;
  StatusNew(why);
  ShowProgress(0, 100);
}

// Free space of the program folder once the rest of the mail and the copy
// local delivery makes of its whole chain are written; an unknown amount lets
// the mail go on (a failed write still stops it).
bool RoomForMail(int32_t total, int32_t stored) {
  const int64_t needed = int64_t(total - stored) * kBlockSize + int64_t(total) * kBlockSize;
  const int64_t free = tkFreeBytes(Config().programFolder);
  return free < 0 || free - needed >= limits.freeMarginBytes;
}

const char* RefusalOfMoreMail() {
  if (Link().mailsThisCall >= limits.mailsPerCall) return "Mail refused: this call has filed all it may; the rest waits for another call";
  char journal[kPathSize];
  if (BuildJournalPath(kReceivedJournalName, journal) == 1 && !JournalHasRoom(journal, JournalToday()))
    return "Mail refused: the journal of received mails is full until its entries expire";
  return nullptr;
}

bool ReceiveAnnounce(const char* data, int32_t length) {
  StartWork();
  ReceiveWork& w = work();
  if (length != kAnnounceSize) return false;
  pCopyMem(data, w.announce, kAnnounceSize);
  vlData(-1, w.announce, kAnnounceSize);
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  if (SlotEquals(a.marker, kMailMarker) != 1) return false;
  char machine[sizeof a.destinationMachine + 1];
  if (SlotTextLength(a.destinationMachine, sizeof a.destinationMachine) < 0) return false;
  const bool relay = IsMailToRelay(a, machine);
  if (relay && !MayRelayTo(machine)) return false;
  // A call with keys names its mail only once the keys are proven.
  if (AcceptKeyedHello()) return true;
  if (!IsAnnouncedNameSafe(a.name, sizeof a.name)) return false;
  const int32_t stem = pLen(a.name) - pLen(kLocalSuffix);
  // Mail to relay is outgoing mail here.
  BuildReceivePath(a.name, stem, relay ? kRemoteSuffix : kLocalSuffix, w.spoolPath);
  BuildReceivePath(a.name, stem, kPartSuffix, w.partPath);
  if (w.spoolPath[0] == 0 || w.partPath[0] == 0) return false;
  RemoveStaleParts();
  if (AcceptExtended()) return true;
  // A framed call goes on framed: a mail without its offer is no mail of it.
  if (Link().xreceive.callFramed == 1) return false;
  if (relay) {
    StatusNew("Mail refused: mail for another machine is relayed only in the extended protocol");
    return false;
  }
  if (const char* why = UnauthenticatedRefusal(a)) {
    StatusNew(why);
    return false;
  }
  if (const char* why = RefusalOfMoreMail()) {
    StatusNew(why);
    return false;
  }
  // Not even the shortest mail (and its delivered copy) would fit: silence.
  if (!RoomForMail(1, 0)) {
    StatusNew(kNoRoom);
    return false;
  }
  // Every accepted mail starts on an empty file: a part left by a broken
  // call must not lend its tail to this one.
  pFileDel(w.partPath);
  SendOk();
  w.state = kReceiveMail;
  ShowProgress(0, 100);
  return true;
}

namespace {

// What the header of a block just gathered says, before it is stored.
struct BlockFacts {
  bool marked;    // marker "[ML]"
  int32_t number;
  int32_t total;
  bool last;      // blockNumber and totalBlocks equal as texts
};

BlockFacts ReadFacts(const char* block) {
  MailHeader header;
  pCopyMem(block + kPayloadSize, &header, kHeaderSize);
  vlData(-1, &header, kHeaderSize);
  BlockFacts facts;
  facts.marked = SlotEquals(header.marker, kMailMarker) == 1;
  facts.number = SlotNumber(header.blockNumber, sizeof header.blockNumber);
  facts.total = SlotNumber(header.totalBlocks, sizeof header.totalBlocks);
  char numberText[sizeof header.blockNumber + 1];
  char totalText[sizeof header.totalBlocks + 1];
  SlotText(header.blockNumber, numberText);
  SlotText(header.totalBlocks, totalText);
  facts.last = pCmp(numberText, totalText) == 1;
  pClrMem(&header, sizeof header);
  return facts;
}

// A caller files mail only in its own name: the machine of the mail's sender
// address is the announce's MachID, which in a call with keys is the machine
// that proved its key. Mail relayed by a hub names its origin apart and is
// taken only from a machine this one names as its hub (link/routes.h).
bool SenderIsTheCaller() {
  ReceiveWork& w = work();
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  MailHeader header;
  pCopyMem(w.block + kPayloadSize, &header, kHeaderSize);
  vlData(-1, &header, kHeaderSize);
  char sender[sizeof header.sender + 1] = {}, machine[kPathSize] = {}, caller[kMachineSlotSize + 1] = {};
  AppendSlot(header.sender, sizeof header.sender, sender, sizeof sender);
  pClrMem(&header, sizeof header);
  AppendSlot(a.senderMachId, sizeof a.senderMachId, caller, sizeof caller);
  if (AddressMachinePart(sender, machine, kPathSize) == 1 && IsValidMachineSlot(a.senderMachId, sizeof a.senderMachId) &&
      (pCmp(machine, caller) == 1 || RelayedByNamedHub(a, machine, caller)))
    return true;
  RefuseReceive("Mail refused: its sender ");
  StatusAdd(sender);
  StatusAdd(" is not of the calling machine ");
  StatusAdd(caller);
  return false;
}

// Blocks come in order, each one of the announced mail, all of one length.
bool FollowsTheMail(const BlockFacts& facts) {
  const ReceiveWork& w = work();
  if (!facts.marked || facts.number != w.expectedBlock || facts.total < facts.number) return false;
  return w.expectedBlock == 1 || facts.total == w.totalBlocks;
}

// Writes the block at its place in the part file and reads it back: only a
// block that is on disk as it arrived counts as stored.
bool WriteBlock() {
  ReceiveWork& w = work();
  return pFileIO(1, w.partPath, int32_t(w.writePosition), w.block, kBlockSize) == kBlockSize &&
         pFileIO(-1, w.partPath, int32_t(w.writePosition), w.readBack, kBlockSize) == kBlockSize &&
         std::memcmp(w.block, w.readBack, kBlockSize) == 0;
}

// How a whole mail was filed.
enum class Filing { Stored, Again, Restamped, Failed, NoVariant };

// The mail's sender and stamp, from the first block of the part file.
void ReadNameParts(char* sender, char* postedAt) {
  ReceiveWork& w = work();
  MailBlock& scratch = *reinterpret_cast<MailBlock*>(w.readBack);
  ReadBlockHeader(w.partPath, BlockPosition(1), scratch);
  pClrMem(sender, sizeof(MailHeader::sender) + 1);
  pClrMem(postedAt, sizeof(MailHeader::postedAt) + 1);
  pCopyMem(scratch.header.sender, sender, sizeof(MailHeader::sender));
  pCopyMem(scratch.header.postedAt, postedAt, sizeof(MailHeader::postedAt));
  pClrMem(&scratch, sizeof scratch);
}

// The first stamp variant under which POST holds no local spool file; its
// path into target. False when every variant of the minute is taken.
bool ChooseVariant(char* stamp, char* target) {
  char sender[sizeof(MailHeader::sender) + 1];
  char postedAt[sizeof(MailHeader::postedAt) + 1];
  ReadNameParts(sender, postedAt);
  for (int32_t variant = 1; variant <= kStampVariants; ++variant) {
    StampVariant(postedAt, variant, stamp);
    if (BuildMailPath(Config().spoolPath, sender, stamp, kLocalSuffix, target) != 1) return false;
    if (pFileSize(target) == -1) return true;
  }
  return false;
}

// Gives every block of the part file the stamp, as local delivery would.
bool RestampPart(const char* stamp) {
  ReceiveWork& w = work();
  MailBlock& scratch = *reinterpret_cast<MailBlock*>(w.readBack);
  bool ok = true;
  for (int32_t k = 1; ok && k <= w.totalBlocks; ++k) {
    ok = ReadBlockHeader(w.partPath, BlockPosition(k), scratch) == kBlockSize;
    SetSlot(scratch.header.postedAt, stamp);
    vlData(1, &scratch.header, kHeaderSize);
    ok = ok && pFileIO(1, w.partPath, BlockPosition(k), &scratch, kBlockSize) == kBlockSize;
  }
  pClrMem(&scratch, sizeof scratch);
  return ok;
}

// The part file holds the whole mail. A copy of a mail filed before goes;
// otherwise the part becomes the spool file -- under its own name when that
// is free, under the next stamp variant when another chain holds it. An
// existing spool file is never deleted nor written over.
Filing FileMail(const MailDigest& digest, const char* journal, char* stamp) {
  ReceiveWork& w = work();
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  const int32_t size = int32_t(w.writePosition - 1);
  if (JournalLookup(journal, a.name, digest) == kJournalKnown) {
    pFileDel(w.partPath);
    return Filing::Again;
  }
  if (pFileSize(w.spoolPath) == -1) {
    pFileRen(w.partPath, w.spoolPath);
    return pFileSize(w.spoolPath) == size ? Filing::Stored : Filing::Failed;
  }
  MailDigest present;
  if (DigestFile(w.spoolPath, present) == 1 && SameDigest(present, digest) == 1) {
    pFileDel(w.partPath);
    return Filing::Again;
  }
  char target[kPathSize];
  if (!ChooseVariant(stamp, target)) return Filing::NoVariant;
  if (!RestampPart(stamp)) return Filing::Failed;
  pFileRen(w.partPath, target);
  return pFileSize(target) == size ? Filing::Restamped : Filing::Failed;
}

}  // namespace

bool FileReceivedMail(const MailDigest& digest) {
  ReceiveWork& w = work();
  char journal[kPathSize];
  BuildJournalPath(kReceivedJournalName, journal);
  char stamp[sizeof(MailHeader::postedAt)] = {};
  const std::string mail = DescribeMail(w.partPath);  // before filing renames the part
  const Filing filing = FileMail(digest, journal, stamp);
  if (filing == Filing::NoVariant || filing == Filing::Failed) {
    // A disk that failed gets back what the part file took from it.
    if (filing == Filing::Failed) pFileDel(w.partPath);
    RefuseReceive(filing == Filing::NoVariant ? kNoVariant : kNotWritten);
    return false;
  }
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  const int32_t recorded = JournalRecord(journal, a.name, digest, w.totalBlocks, JournalToday());
  ++Link().mailsThisCall;
  char caller[sizeof a.senderMachId + 1];
  SlotText(a.senderMachId, caller);
  NoteHeardFrom(caller);
  char machine[sizeof a.destinationMachine + 1];
  if (filing != Filing::Again && IsMailToRelay(a, machine))
    TryAtOnce(machine);  // sent on at the next tick, not at the next courier pass
  else if (filing != Filing::Again)
    Link().mailsToDeliver = 1;
  LogMail(filing == Filing::Again ? "received again (not filed)" : "received", mail);
  StatusNew("Comm Action Is Ok : Bytes Received - ");
  StatusAddNumber(w.writePosition);
  if (filing == Filing::Again) StatusAdd(" (received before: not filed again)");
  if (filing == Filing::Restamped) {
    StatusAdd(" (another mail holds its name: filed as ");
    StatusAdd(stamp);
    StatusAdd(")");
  }
  if (recorded == kJournalNotWritten || recorded == kJournalFull) StatusAdd(" (journal not written)");
  if (recorded == kJournalRenewed) StatusAdd(" (damaged journal set aside)");
  return true;
}

KeptBlock KeepBlock() {
  ReceiveWork& w = work();
  const BlockFacts facts = ReadFacts(w.block);
  if (!FollowsTheMail(facts)) {
    RefuseReceive(kOutOfOrder);
    return KeptBlock::Refused;
  }
  if (facts.number == 1 && !SenderIsTheCaller()) return KeptBlock::Refused;
  if (facts.total > limits.maxBlocks) {
    RefuseReceive(kTooLong);
    StatusAddNumber(uint32_t(facts.total));
    StatusAdd(")");
    return KeptBlock::Refused;
  }
  if (!RoomForMail(facts.total, facts.number - 1)) {
    RefuseReceive(kNoRoom);
    return KeptBlock::Refused;
  }
  if (!WriteBlock()) {
    // Whatever filled the disk, this mail's part no longer takes from it.
    pFileDel(w.partPath);
    RefuseReceive(kNotWritten);
    return KeptBlock::Refused;
  }
  w.totalBlocks = facts.total;
  w.writePosition += kBlockSize;
  DigestAdd(w.digest, w.readBack, kBlockSize);
  ShowProgress(facts.number, facts.total);
  pClrMem(w.readBack, kBlockSize);
  pClrMem(w.block, kBlockSize);
  w.blockBytes = 0;
  ++w.expectedBlock;
  return facts.last ? KeptBlock::Last : KeptBlock::Stored;
}

namespace {

// The last block is stored: file the mail, remember it, and answer.
void FinishMail() {
  ReceiveWork& w = work();
  MailDigest digest;
  DigestFinish(w.digest, digest);
  if (!FileReceivedMail(digest)) return;
  SendOk();
  w.state = kReceiveIdle;
  ShowProgress(0, 100);
}

// A whole block has arrived: check it, store it, read it back, and answer.
void StoreBlock() {
  ReceiveWork& w = work();
  const KeptBlock kept = KeepBlock();
  if (kept == KeptBlock::Refused) return;
  if (kept == KeptBlock::Last) {
    FinishMail();
    return;
  }
  SendOk();
  StatusNew("Comm Action Is Ok : Bytes Received - ");
  StatusAddNumber(w.writePosition);
}

// Gathers the bytes of one block however the library splits it. More than a
// block before the block is whole cannot be a block of this mail.
void TakeBlockData(const char* data, int32_t length) {
  ReceiveWork& w = work();
  if (length > kBlockSize - w.blockBytes) {
    RefuseReceive(kOutOfOrder);
    return;
  }
  pCopyMem(data, w.block + w.blockBytes, length);
  w.blockBytes += length;
  if (w.blockBytes == kBlockSize) StoreBlock();
}

void ReceiverData(const char* data, int32_t length) {
  if (Link().xreceive.callFramed == 1) {
    ExtendedReceiverData(data, length);
    return;
  }
  switch (work().state) {
    case kReceiveIdle:
      if (!IsMessage(length, "[END]")) ReceiveAnnounce(data, length);
      break;
    case kReceiveMail:
      TakeBlockData(data, length);
      break;
    default:
      break;
  }
}

void SenderData(const char* data, int32_t length) {
  LinkState& link = Link();
  if (ExtendedSenderData(data, length)) return;
  if ((link.send.state == 0 || link.send.state == 1) && link.okFlag == -1 && IsMessage(length, "[OK]"))
    link.okFlag = 1;
}

}  // namespace

void EndCallForBothRoles() {
  Link().send.state = 0;
  Link().mailsThisCall = 0;
  ForgetFramedCall();
  work().state = kReceiveIdle;
  work().blockBytes = 0;
}

namespace {

// POST\name into path (kPathSize); false when it does not fit.
bool InSpool(const std::string& name, char* path) {
  pClrMem(path, kPathSize);
  return AppendBounded(Config().spoolPath, path, kPathSize) && AppendBounded("\\", path, kPathSize) &&
         AppendBounded(name.c_str(), path, kPathSize);
}

bool IsCurrentPart(const char* path) { return work().state == kReceiveMail && pCmp(path, work().partPath) == 1; }

}  // namespace

int32_t RemoveStaleParts() {
  int32_t removed = 0;
  char path[kPathSize], part[kPathSize];
  for (const std::string& name : ListSpoolFiles(kPartSuffix))
    if (InSpool(name, path) && !IsCurrentPart(path) && tkFileAge(path) >= limits.partLifeSeconds && pFileDel(path) == 1)
      ++removed;
  // A resume note goes with its part file: without it, it is of no use.
  for (const std::string& name : ListSpoolFiles(kResumeSuffix)) {
    const std::string stem = name.substr(0, name.size() - size_t(pLen(kResumeSuffix)));
    if (InSpool(name, path) && InSpool(stem + kPartSuffix, part) && !IsCurrentPart(part) && pFileSize(part) == -1)
      pFileDel(path);
  }
  return removed;
}

ReceiveLimits& ReceiverLimits() { return limits; }

void ResetReceiverLimits() { limits = ReceiveLimits(); }

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
    SenderData(data, length);
}
