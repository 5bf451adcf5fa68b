// The sending role: the remote posting pass. Every complete "[@]" spool file
// is announced to its destination machine and streamed block by block; a mail
// leaves the spool only after its last block was acknowledged. Each mail's
// outcome is one "mail" line in the log naming it and, when it stays, why; a mail that can never go, or has not gone for kGiveUpDays, goes back
// to its sender as a report (store/bounce.h).
#include <string>
#include <vector>

#include "config/config.h"
#include "console/console.h"
#include "link/extended.h"
#include "link/internal.h"
#include "link/link.h"
#include "platform/unit.h"
#include "store/bounce.h"
#include "store/journal.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

SendWork& work() { return Link().send; }

MailHeader& header() { return reinterpret_cast<MailBlock*>(work().block)->header; }

// What became of one spool file in this pass.
enum class FileOutcome { Sent, Left, Damaged };

// The spool file's chain does not match its size: set it aside as damaged
// ("[!]" in place of "[@]", then a number when that name is taken) where a
// person can look at it; no pass takes it again.
void SetAsideDamaged() {
  SendWork& w = work();
  const int32_t stem = pLen(w.spoolPath) - pLen(kRemoteSuffix);
  if (stem <= 0) return;
  char target[kPathSize];
  for (int32_t n = 0; n < 100; ++n) {
    pClrMem(target, sizeof target);
    pCopyMem(w.spoolPath, target, stem);
    if (n > 0 && AppendBounded(pStr(n), target, kPathSize) != 1) return;
    if (AppendBounded(kDamagedSuffix, target, kPathSize) != 1) return;
    if (pFileSize(target) == -1 && pFileRen(w.spoolPath, target) == 1) return;
  }
}

void ShowBytesSent() {
  SendWork& w = work();
  StatusNew("Comm Action Is Ok : Bytes Sent - ");
  StatusAddNumber(w.readPosition);
  // Percent of the read position; large files count in blocks so that the
  // percentage cannot overflow.
  if (w.spoolSize > 0x01000000u)
    ShowProgress(int32_t(w.readPosition / kBlockSize), int32_t(w.spoolSize / kBlockSize));
  else
    ShowProgress(int32_t(w.readPosition), int32_t(w.spoolSize));
}

// The destination's machine part, into the 24-byte destination slot. False
// (and a status text for a part too long) when the mail cannot be sent.
bool TakeDestinationMachine() {
  SendWork& w = work();
  char destination[sizeof header().destination + 1];
  SlotText(header().destination, destination);
  char machine[kPathSize];
  if (AddressMachinePart(destination, machine, kPathSize) != 1) {
    w.snag = kSnagNoMachine;
    return false;
  }
  if (pLen(machine) > kMachineSlotSize - 1) {
    w.snag = kSnagLongMachine;
    return false;
  }
  pClrMem(w.destinationMachine, kMachineSlotSize);
  AppendText(machine, w.destinationMachine, kMachineSlotSize);
  return true;
}

// The TransferAnnounce of the current mail, unscrambled, into the announce
// buffer. False when the mail's name does not fit the name slot.
bool BuildAnnounce() {
  SendWork& w = work();
  return MakeAnnounceRecord(header(), w.destinationMachine, *reinterpret_cast<TransferAnnounce*>(w.announce));
}

// The extension goes into the announce; false (and why on the status line)
// when the destination may not be called as things stand here.
bool OfferOrRefuse() {
  SendWork& w = work();
  TransferAnnounce& a = *reinterpret_cast<TransferAnnounce*>(w.announce);
  const char* refusal = OfferExtension(a, int32_t(w.spoolSize / kBlockSize), w.chainDigest, w.relay.via);
  if (refusal == nullptr) return true;
  StatusNew("Not sent to Velloran@");
  StatusAdd(w.relay.via);
  StatusAdd(": ");
  StatusAdd(refusal);
  w.snag = kSnagNoKeys;
  return false;
}

// Why a dial found no call.
SendSnag DialSnag() {
  const LinkState& link = Link();
  if (CallComingIn()) return kSnagIncoming;
  if (link.modemReady != 1 || link.cts != 1) return kSnagModem;
  return kSnagNoCarrier;
}

// Why a call carried the mail no further than it did; otherwise is the
// reason when the call is still up and nothing else explains it.
SendSnag CallSnag(SendSnag otherwise) {
  const LinkState& link = Link();
  if (link.xsend.callBroken == 1) return kSnagKeys;
  if (link.xsend.refused == 1 || (link.xsend.replied == 1 && link.xsend.replyStatus == kReplyRefused))
    return kSnagRefused;
  if (link.callState != 1) return kSnagCallEnded;
  return otherwise;
}

// A plain peer cannot take relayed mail (nor relay it): on a plain "[OK]"
// the call ends before any block, and the mail stays.
void RefuseRelayOnPlainAnswer() {
  SendWork& w = work();
  if (!RelayNeedsFrames(w.relay) || PeerRepliedExtended()) return;
  w.state = 0;
  w.snag = kSnagRelayPlain;
  HangUp();
}

// The machine a mail's call goes to: its destination, or the hub of its
// route. Its tries and retries are that machine's.
const char* DialledMachine() { return work().relay.via; }

// The Redial setting (0-3): how many times a number that was busy or gave no
// carrier is dialled again at once, in the same pass, before its next try
// waits for the retry table. Each redial first waits a random part of a tick
// (DialMachine after a failed dial).
int32_t RedialCount() {
  const int32_t redial = Config().unit.Number(UnitField::Redial);
  return redial > 0 && redial <= 3 ? redial : 0;
}

void DialWithRedials() {
  SendWork& w = work();
  LinkState& link = Link();
  for (int32_t redials = RedialCount();; --redials) {
    if (DialMachine(DialledMachine()) == 1) {
      pClrMem(link.connectedMachine, kMachineSlotSize);
      AppendText(DialledMachine(), link.connectedMachine, kMachineSlotSize);
      return;
    }
    w.snag = DialSnag();
    if (w.snag != kSnagNoCarrier || redials <= 0) return;
  }
}

// The first block of a mail: find its machine, use or make the call, and
// announce it. Afterwards the transfer state says whether its blocks go out.
void TryToAnnounceMail() {
  SendWork& w = work();
  LinkState& link = Link();
  pClrMem(w.announce, kAnnounceSize);
  if (!TakeDestinationMachine()) return;
  // A route may send it through a hub: the hub is the machine dialled.
  PlanRelay(w.spoolPath, w.firstHeader, w.destinationMachine, w.relay);
  const char* dialled = w.relay.via;
  if (!BuildAnnounce()) {
    w.snag = kSnagLongName;
    return;
  }
  if (!OfferOrRefuse()) return;
  if (!AddRelayField(*reinterpret_cast<TransferAnnounce*>(w.announce), w.relay)) {
    w.snag = kSnagRelayPlain;
    return;
  }
  if (link.callState == 1) {
    if (MatchMachine(link.connectedMachine, dialled) == 1) {
      w.state = 0;
    } else {
      w.state = -1;
      w.snag = kSnagOtherCall;
      Console().repeatRequest = 1;
    }
  }
  if (link.callState == 0 && w.state == 0) {
    if (RetryWaits(dialled)) {
      w.snag = kSnagWaitsRetry;
      return;
    }
    DialWithRedials();
  }
  if (link.callState == -1 && w.snag == kSnagNone) w.snag = kSnagIncoming;
  if (link.callState == 1 && w.state == 0) {
    vlData(1, w.announce, kAnnounceSize);
    if (AnnounceMail(dialled, w.announce, kAnnounceSize) == 1) {
      w.state = 1;
      RefuseRelayOnPlainAnswer();
    } else {
      w.snag = CallSnag(kSnagNotAnswered);
      HangUp();
    }
  }
}

// A call coming in goes first: the pass waits for its end, for at most the
// "[OK]" limit (a longer call leaves the pass's mails to the next pass). The
// caller may have taken the mail back in its call: true when the call is
// over and the spool file still here.
bool WaitOutIncomingCall() {
  SendWork& w = work();
  if (w.callWaitsLeft <= 0) return false;
  --w.callWaitsLeft;
  const uint32_t start = uint32_t(pTiming());
  while (CallComingIn()) {
    if (uint32_t(pTiming()) - start >= kOkLimitMs) {
      w.callWaitsLeft = 0;
      return false;
    }
    pDoEvent(kRingLookMs);
  }
  return pFileSize(w.spoolPath) != -1;
}

// No dial is made while a call that came in is connected. Rather than leave
// the mail to the next pass, the pass waits for that call's end and tries
// the mail afresh (the call's end forgot the offer made for it).
void PrepareMail() {
  SendWork& w = work();
  for (;;) {
    TryToAnnounceMail();
    if (w.snag != kSnagIncoming || !WaitOutIncomingCall()) return;
    w.snag = kSnagNone;
    w.state = 0;
  }
}

// Reads and handles the blocks of one spool file in order.
FileOutcome SendBlocks() {
  SendWork& w = work();
  LinkState& link = Link();
  for (;;) {
    pDoEvent(kBlockPauseMs);
    pClrMem(w.block, kBlockSize);
    pFileIO(-1, w.spoolPath, int32_t(w.readPosition), w.block, kBlockSize);
    w.readPosition += kBlockSize;
    vlData(-1, &header(), kHeaderSize);
    const int32_t total = SlotNumber(header().totalBlocks, sizeof header().totalBlocks);
    if (total < 1 || int64_t(total) * kBlockSize != int64_t(w.spoolSize)) return FileOutcome::Damaged;
    if (IsFirstBlock(header()) == 1) {
      w.firstHeader = header();
      PrepareMail();
    }
    vlData(1, &header(), kHeaderSize);
    if (link.callState != 1 || w.state != 1) return FileOutcome::Left;
    if (PeerRepliedExtended()) {
      if (SendMailExtended(w.spoolPath, total) == ExtendedOutcome::Sent) return FileOutcome::Sent;
      w.snag = CallSnag(kSnagNoAck);
      return FileOutcome::Left;
    }
    SendToLine(w.block, kBlockSize);
    if (WaitForOk(kOkLimitMs) != 1) {
      w.snag = CallSnag(kSnagNoAck);
      HangUp();
      return FileOutcome::Left;
    }
    ShowBytesSent();
    if (w.readPosition >= w.spoolSize) return FileOutcome::Sent;
  }
}

void RememberSent() {
  SendWork& w = work();
  RememberSentMail(w.announce, w.chainDigest, int32_t(w.spoolSize / kBlockSize));
}

const char* SnagText(int32_t snag) {
  switch (snag) {
    case kSnagNoMachine: return "its address names no machine";
    case kSnagLongMachine: return "its machine ID is longer than 23 characters";
    case kSnagLongName: return "its sender and stamp are too long to be announced";
    case kSnagModem: return "the modem is not ready";
    case kSnagNoCarrier: return "no carrier (busy, no answer, or no such number)";
    case kSnagIncoming: return "a call came in";
    case kSnagOtherCall: return "waits for its own call";
    case kSnagNotAnswered: return "not answered (refused, or a wrong key)";
    case kSnagRefused: return "refused by the receiver";
    case kSnagKeys: return "the secured call failed (a wrong key?)";
    case kSnagCallEnded: return "the call ended (by the receiver, or the line)";
    case kSnagNoAck: return "a block was not acknowledged";
    case kSnagNoKeys: return "its machine has a key here, and this machine cannot call it with keys";
    case kSnagRelayPlain: return "relayed mail goes only in the extended protocol (a plain machine on its way?)";
    case kSnagWaitsRetry: return "its machine waits for its next try";
    default: return "no call was made for it";
  }
}

bool SnagNeverPasses(int32_t snag) {
  return snag == kSnagNoMachine || snag == kSnagLongMachine || snag == kSnagLongName;
}

// The snags that a try of the machine later may get past: the line, the
// modem, a busy or silent machine. (A refusal waits for the next courier
// pass or request.)
bool SnagWantsRetry(int32_t snag) {
  return snag == kSnagModem || snag == kSnagNoCarrier || snag == kSnagIncoming || snag == kSnagNotAnswered ||
         snag == kSnagCallEnded || snag == kSnagNoAck;
}

// One "mail" line in the log for what became of the mail: what, which mail,
// and why. (The status line tells the pass's end, with every reason.)
void LogOutcome(const char* what, const char* why) {
  const MailHeader& h = work().firstHeader;
  char label[kPathSize] = {};
  if (h.marker[0] != 0)
    MailLabel(h, label, sizeof label);
  else
    AppendBounded(work().foundName, label, sizeof label);
  LogMail(what, std::string(label) + ": " + why);
}

// A mail that did not leave: kept for the next pass, or, when it never can
// leave or has tried for kGiveUpDays, given back to its sender as a report
// (a report that cannot go is dropped; no report answers a report).
void KeepOrReturn() {
  SendWork& w = work();
  if (w.snag == kSnagNone) w.snag = kSnagNoCall;
  const int32_t age = tkFileAge(w.spoolPath);
  // A mail waiting for its machine's next try, or whose dial gave way to a
  // call coming in, has not been tried yet.
  const bool givenUp = age >= kGiveUpDays * 24 * 60 * 60 && w.snag != kSnagWaitsRetry && w.snag != kSnagIncoming;
  if (!SnagNeverPasses(w.snag) && !givenUp) {
    if (SnagWantsRetry(w.snag)) NoteTryFailed(DialledMachine(), w.snag != kSnagIncoming);
    ++w.kept[w.snag];
    LogOutcome("kept in POST:", SnagText(w.snag));
    return;
  }
  char reason[160] = {};
  if (!SnagNeverPasses(w.snag)) {
    AppendText("not delivered within ", reason, sizeof reason);
    AppendText(pStr(kGiveUpDays), reason, sizeof reason);
    AppendText(" days; the last attempt: ", reason, sizeof reason);
  }
  AppendText(SnagText(w.snag), reason, sizeof reason);
  const int32_t report = w.firstHeader.marker[0] != 0 ? PostReport(w.firstHeader, reason) : kReportNotWritten;
  if (report == kReportNotWritten) {
    ++w.kept[w.snag];
    LogOutcome("kept in POST (no report could be posted):", reason);
    return;
  }
  pFileDel(w.spoolPath);
  if (report == kReportPosted) {
    ++w.returned;
    LogOutcome("returned to its sender:", reason);
  } else {
    ++w.dropped;
    LogOutcome("dropped (a report that cannot be delivered):", reason);
  }
}

// Returns true when the mail left.
bool PostOneFile() {
  SendWork& w = work();
  w.state = 0;
  w.snag = kSnagNone;
  pClrMem(&w.firstHeader, sizeof w.firstHeader);
  w.firstScan = 0;
  pDoEvent(kBlockPauseMs);
  pClrMem(w.destinationMachine, kMachineSlotSize);
  pClrMem(&w.relay, sizeof w.relay);
  ShowProgress(0, 100);
  pClrMem(w.spoolPath, kPathSize);
  AppendText(Config().spoolPath, w.spoolPath, kPathSize);
  AppendText("\\", w.spoolPath, kPathSize);
  if (AppendBounded(w.foundName, w.spoolPath, kPathSize) != 1) return false;
  w.readPosition = 1;
  w.spoolSize = 0;
  // A file whose size is unknown or zero holds no mail yet; one still being
  // written fails the completeness test. Both wait for a later pass.
  const int32_t size = pFileSize(w.spoolPath);
  if (size == -1 || size == 0) return false;
  w.spoolSize = uint32_t(size);
  if (IsMailComplete(w.spoolPath, size) != 1 || DigestFile(w.spoolPath, w.chainDigest) != 1) return false;
  const FileOutcome outcome = SendBlocks();
  // Its machine may have called while this pass waited, and taken it back in
  // that call (which logs it): it is gone, or going now.
  if (outcome != FileOutcome::Sent && (pFileSize(w.spoolPath) == -1 || SendsBack(w.spoolPath))) return false;
  switch (outcome) {
    case FileOutcome::Sent:
      RememberSent();
      LogMail("sent", DescribeMail(w.spoolPath));
      NoteReached(DialledMachine());
      pFileDel(w.spoolPath);
      ++w.sent;
      return true;
    case FileOutcome::Damaged:
      SetAsideDamaged();
      LogMail("set aside as damaged ([!]):", w.foundName);
      break;
    case FileOutcome::Left:
      KeepOrReturn();
      break;
  }
  return false;
}

// The pass's end: "All remote mails delivered" when every mail left, else
// what was sent and what was kept, and why.
void ShowPassEnd() {
  const SendWork& w = work();
  int32_t kept = 0;
  for (int32_t snag = 0; snag < kSendSnags; ++snag) kept += w.kept[snag];
  if (kept + w.returned + w.dropped == 0) {
    StatusNew("All remote mails delivered");
    return;
  }
  Console().keepStatus = 1;
  StatusNew("Remote mails: ");
  StatusAddNumber(uint32_t(w.sent));
  StatusAdd(" sent");
  if (kept > 0) {
    StatusAdd(", ");
    StatusAddNumber(uint32_t(kept));
    StatusAdd(" kept in POST (");
    const char* separator = "";
    for (int32_t snag = 0; snag < kSendSnags; ++snag) {
      if (w.kept[snag] == 0) continue;
      StatusAdd(separator);
      StatusAddNumber(uint32_t(w.kept[snag]));
      StatusAdd(" ");
      StatusAdd(SnagText(snag));
      separator = "; ";
    }
    StatusAdd(")");
  }
  if (w.returned > 0) {
    StatusAdd(", ");
    StatusAddNumber(uint32_t(w.returned));
    StatusAdd(" returned to their senders");
  }
  if (w.dropped > 0) {
    StatusAdd(", ");
    StatusAddNumber(uint32_t(w.dropped));
    StatusAdd(" undeliverable reports dropped");
  }
  char machine[kMachineSlotSize];
  char clock[16];
  if (NextTry(machine, clock, sizeof clock)) {
    StatusAdd("; next try for Velloran@");
    StatusAdd(machine);
    StatusAdd(" at ");
    StatusAdd(clock);
  }
}

// The end of a call this machine made: with frames, End (and what the
// callee sends back); plain, "[END]" and the pause. Then the hang-up.
void EndCall() {
  if (!EndFramedCall()) {
    SendToLine("[END]", kEndBytes);
    pDoEvent(kEndPauseMs);
  }
  HangUp();
}

// The spool file name holds mail whose call goes to machine.
bool MailGoesTo(const std::string& name, const char* machine) {
  SpoolMail m;
  const bool goes = ReadSpoolMail(name.c_str(), m) && SameMachine(m.relay.via, machine);
  pClrMem(&m.first, sizeof m.first);
  return goes;
}

// A later file of the pass holds mail whose call goes to machine.
bool LaterMailFor(const std::vector<std::string>& names, size_t next, const char* machine) {
  for (size_t i = next; i < names.size(); ++i)
    if (MailGoesTo(names[i], machine)) return true;
  return false;
}

// A mail kept early in the pass whose machine a later call of the pass
// reached (its next try fell due meanwhile) has no try waiting for it any
// more: true when there is one, for the next pass to take at once.
bool KeptMailOfReachedMachine(const std::vector<std::string>& names, const std::vector<std::string>& reached) {
  for (const std::string& machine : reached)
    for (const std::string& name : names)
      if (MailGoesTo(name, machine.c_str())) return true;
  return false;
}

// One spool file of the pass; a mail that left adds its machine to reached.
void PostNamedFile(const std::string& name, std::vector<std::string>& reached) {
  SendWork& w = work();
  pClrMem(w.foundName, kFoundNameSize);
  AppendText(name.c_str(), w.foundName, kFoundNameSize);
  if (PostOneFile()) reached.emplace_back(DialledMachine());
  pClrMem(w.foundName, kFoundNameSize);
}

// A call with frames ends as soon as no later file of the pass is for its
// machine: the mails after it dial their own machines in this pass instead
// of waiting for the next one, and the line is free again at once. Before
// it ends, the files before next that are for its machine go in it too (kept
// while its machine waited for a try that fell due later in the pass). A
// plain call keeps the pass as it always was: one call, whose machine's
// mails from then on go in it, the others waiting for the next pass.
void EndFramedCallWhenDone(const std::vector<std::string>& names, size_t next, std::vector<std::string>& reached) {
  const LinkState& link = Link();
  if (link.callState != 1 || !PeerRepliedExtended() || LaterMailFor(names, next, link.connectedMachine)) return;
  for (size_t i = 0; i + 1 < next && link.callState == 1; ++i)
    if (MailGoesTo(names[i], link.connectedMachine)) PostNamedFile(names[i], reached);
  if (link.callState == 1 && EndFramedCall()) HangUp();
}

}  // namespace

bool MakeAnnounceRecord(const MailHeader& first, const char* machine, TransferAnnounce& a) {
  pClrMem(&a, kAnnounceSize);
  char sender[sizeof first.sender + 1];
  char postedAt[sizeof first.postedAt + 1];
  SlotText(first.sender, sender);
  SlotText(first.postedAt, postedAt);
  char name[kNameBufferSize];
  if (BuildMailName(sender, postedAt, name) != 1) return false;
  if (pLen(name) + pLen(kLocalSuffix) > int32_t(sizeof a.name) - 1) return false;
  pCopyMem(name, a.name, pLen(name));
  AppendText(kLocalSuffix, a.name, sizeof a.name);
  SetSlot(a.destinationMachine, machine);
  SetSlot(a.marker, kMailMarker);
  AppendSlot(Config().unit.Text(UnitField::MachID), UnitField::MachID.width, a.senderMachId, sizeof a.senderMachId);
  AppendSlot(Config().unit.Text(UnitField::Owner), UnitField::Owner.width, a.senderOwner, sizeof a.senderOwner);
  return true;
}

// The mail has left: its name goes into the sender's journal, so that no
// later mail of this machine leaves under it (ChooseFreeSpoolName).
void RememberSentMail(const char* scrambledAnnounce, const MailDigest& digest, int32_t blocks) {
  TransferAnnounce announce;
  pCopyMem(scrambledAnnounce, &announce, kAnnounceSize);
  vlData(-1, &announce, kAnnounceSize);
  char journal[kPathSize];
  if (BuildJournalPath(kSentJournalName, journal) == 1 &&
      JournalRecord(journal, announce.name, digest, blocks, JournalToday()) == kJournalNotWritten)
    StatusAdd(" (sent journal not written)");
  pClrMem(&announce, sizeof announce);
}

bool ReadSpoolMail(const char* name, SpoolMail& m) {
  pClrMem(&m, sizeof m);
  if (AppendBounded(Config().spoolPath, m.path, kPathSize) != 1 || AppendBounded("\\", m.path, kPathSize) != 1 ||
      AppendBounded(name, m.path, kPathSize) != 1)
    return false;
  const int32_t size = pFileSize(m.path);
  if (size <= 0 || IsMailComplete(m.path, size) != 1 || ReadBlockHeader(m.path, BlockPosition(1), m.first) != kBlockSize)
    return false;
  m.total = SlotNumber(m.first.header.totalBlocks, sizeof m.first.header.totalBlocks);
  char destination[sizeof m.first.header.destination + 1];
  SlotText(m.first.header.destination, destination);
  if (IsFirstBlock(m.first.header) != 1 || m.total < 1 || int64_t(m.total) * kBlockSize != size ||
      AddressMachinePart(destination, m.machine, kPathSize) != 1 || !FitsMachineSlot(m.machine))
    return false;
  PlanRelay(m.path, m.first.header, m.machine, m.relay);
  return true;
}

std::vector<std::string> ListSpoolFiles(const char* suffix) {
  std::vector<std::string> names;
  char pattern[kPathSize] = {};
  if (AppendBounded(Config().spoolPath, pattern, kPathSize) != 1 || AppendBounded("\\*", pattern, kPathSize) != 1 ||
      AppendBounded(suffix, pattern, kPathSize) != 1)
    return names;
  char found[kFoundNameSize] = {};
  for (int32_t more = pFileFind(pattern, found, 1); more == 1; more = pFileFind(pattern, found, 0)) {
    names.emplace_back(found);
    pClrMem(found, sizeof found);
  }
  return names;
}

int32_t AnnounceMail(const char* machineId, char* announce, int32_t length) {
  StatusNew("Verifying Velloran@");
  StatusAdd(machineId);
  StatusAdd("...");
  if (announce != nullptr && length > 0) SendAnnounceRecord(announce, length);
  const int32_t answered = WaitForOk(kOkLimitMs);
  StatusNew("Velloran@");
  StatusAdd(machineId);
  StatusAdd(answered == 1 ? " Verified OK" : " Verified NOT OK");
  if (answered != 1) StatusAdd(UnansweredKeyedCall());
  return answered;
}

int32_t DeliverRemoteMails() {
  SendWork& w = work();
  LinkState& link = Link();
  pClrMem(link.connectedMachine, kMachineSlotSize);
  pClrMem(w.foundName, kFoundNameSize);
  w.sent = w.returned = w.dropped = 0;
  pClrMem(w.kept, sizeof w.kept);
  w.callWaitsLeft = kIncomingCallWaits;
  Console().repeatRequest = 0;
  StatusNew("Delivering remote mails...");
  pDoEvent(kBlockPauseMs);

  RemoveStaleParts();
  RemoveOrphanRelayNotes();
  StartRetryRound();
  const std::vector<std::string> names = ListSpoolFiles(kRemoteSuffix);
  w.firstScan = 1;
  std::vector<std::string> reached;
  for (size_t i = 0; i < names.size(); ++i) {
    PostNamedFile(names[i], reached);
    EndFramedCallWhenDone(names, i + 1, reached);
  }
  const bool anyFound = !names.empty();

  if (anyFound && link.callState == 1) EndCall();
  if (KeptMailOfReachedMachine(names, reached)) Console().repeatRequest = 1;
  RemoveOrphanRelayNotes();  // of the mails this pass passed on
  pClrMem(link.connectedMachine, kMachineSlotSize);
  pClrMem(w.announce, kAnnounceSize);
  EndRetryRound();
  ShowPassEnd();
  ShowProgress(0, 100);
  pDoEvent(kBlockPauseMs);
  return 1;
}
