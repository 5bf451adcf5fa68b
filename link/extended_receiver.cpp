// The receiving role of the extended protocol: the Reply to an offer (send,
// go on from the blocks held, or already have it), then blocks taken in any
// order within the window, written in order, acknowledged, and filed only
// when the digest of the whole chain is the announced one.
#include <sodium.h>

#include <cstring>
#include <tuple>

#include "config/config.h"
#include "link/extended.h"
#include "link/internal.h"
#include "link/link.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

ExtendedReceive& xwork() { return Link().xreceive; }
ReceiveWork& work() { return Link().receive; }

constexpr const char* kNotAsAnnounced = "Mail refused: its blocks do not give the digest it was announced with";
constexpr const char* kTooLongOffer = "Mail refused: longer than the longest mail (blocks: ";
constexpr const char* kNoRoomOffer = "Mail refused: too little free space in the program folder";
constexpr const char* kNoNote = "Mail not received: it could not be written to POST (disk full?)";

// The resume note beside a part file: which mail the part file is a part of.
//   +0  4  "VLX#"   +4  4  totalBlocks, little-endian   +8  32  digest
constexpr char kNoteMagic[4] = {'V', 'L', 'X', '#'};
constexpr int32_t kNoteBytes = 40;

void SendFrame(uint8_t type, uint32_t number, const void* payload, int32_t length) {
  ExtendedReceive& x = xwork();
  SendFrameOn(x.channel, type, x.mail, number, payload, length, x.frame);
}

void Reply(int32_t held, char status) { SendFrame(kFrameReply, uint32_t(held), &status, 1); }
void Ack(int32_t stored) { SendFrame(kFrameAck, uint32_t(stored), nullptr, 0); }
void Nak(int32_t k) { SendFrame(kFrameNak, uint32_t(k), nullptr, 0); }

// A refusal the sender hears at once, instead of after its wait runs out.
void RefuseFramed(const char* why) {
  RefuseReceive(why);
  Reply(0, kReplyRefused);
}

// POST\<name>[#], beside the part file.
bool NotePath(char* path) {
  const ReceiveWork& w = work();
  const int32_t stem = pLen(w.partPath) - pLen(kPartSuffix);
  if (stem <= 0) return false;
  pClrMem(path, kPathSize);
  pCopyMem(w.partPath, path, stem);
  return AppendBounded(kResumeSuffix, path, kPathSize) == 1;
}

void MakeNote(char* note) {
  const ExtendedOffer& offer = xwork().offer;
  pClrMem(note, kNoteBytes);
  std::memcpy(note, kNoteMagic, sizeof kNoteMagic);
  for (int32_t i = 0; i < 4; ++i) note[4 + i] = char((uint32_t(offer.totalBlocks) >> (8 * i)) & 0xff);
  std::memcpy(note + 8, offer.digest.bytes, kDigestSize);
}

bool WriteNote() {
  char path[kPathSize], note[kNoteBytes];
  if (!NotePath(path)) return false;
  MakeNote(note);
  pFileDel(path);
  return pFileIO(1, path, 1, note, kNoteBytes) == kNoteBytes;
}

void DeleteNote() {
  char path[kPathSize];
  if (NotePath(path)) pFileDel(path);
}

// Whole blocks a part file left by an earlier call holds of this very mail
// (its note names the same digest and length); they are read again into the
// running digest. 0 when there is nothing to go on from.
int32_t HeldBlocks() {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  char path[kPathSize], note[kNoteBytes], expected[kNoteBytes];
  if (!NotePath(path) || pFileSize(path) != kNoteBytes || pFileIO(-1, path, 1, note, kNoteBytes) != kNoteBytes) return 0;
  MakeNote(expected);
  if (std::memcmp(note, expected, kNoteBytes) != 0) return 0;
  const int32_t held = pFileSize(w.partPath) / kBlockSize;
  if (held <= 0 || held >= x.offer.totalBlocks) return 0;
  for (int32_t k = 1; k <= held; ++k) {
    if (pFileIO(-1, w.partPath, BlockPosition(k), w.readBack, kBlockSize) != kBlockSize) {
      DigestStart(w.digest);
      return 0;
    }
    if (k == 1) std::memcpy(x.firstHeader, w.readBack + kPayloadSize, kHeaderSize);
    std::memcpy(x.lastTag, reinterpret_cast<MailBlock*>(w.readBack)->payload.tag, sizeof x.lastTag);
    DigestAdd(w.digest, w.readBack, kBlockSize);
  }
  pClrMem(w.readBack, kBlockSize);
  x.haveFirstHeader = 1;
  w.writePosition = uint32_t(held) * kBlockSize + 1;
  w.expectedBlock = held + 1;
  w.totalBlocks = x.offer.totalBlocks;
  return held;
}

// This machine holds the mail already: in its journal, or in POST.
bool HoldsAlready() {
  const ReceiveWork& w = work();
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  char journal[kPathSize];
  if (BuildJournalPath(kReceivedJournalName, journal) == 1 &&
      JournalLookup(journal, a.name, xwork().offer.digest) == kJournalKnown)
    return true;
  MailDigest present;
  return DigestFile(w.spoolPath, present) == 1 && SameDigest(present, xwork().offer.digest) == 1;
}

void ForgetEarly() {
  ExtendedReceive& x = xwork();
  pClrMem(x.early, sizeof x.early);
}

void KeepEarly(const Frame& frame) {
  ExtendedReceive& x = xwork();
  if (frame.length > kBlockSize) return;
  for (int32_t n : x.early)
    if (n == int32_t(frame.number)) return;
  for (int32_t i = 0; i < kWindow; ++i)
    if (x.early[i] == 0) {
      x.early[i] = int32_t(frame.number);
      x.earlyType[i] = frame.type;
      x.earlyLength[i] = frame.length;
      std::memcpy(x.earlyBytes[i], frame.payload, size_t(frame.length));
      return;
    }
}

// The mail's last block is stored: check the digest, file, acknowledge.
void FinishFramedMail() {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  MailDigest got;
  DigestFinish(w.digest, got);
  if (SameDigest(got, x.offer.digest) != 1) {
    pFileDel(w.partPath);
    DeleteNote();
    RefuseFramed(kNotAsAnnounced);
    return;
  }
  if (!FileReceivedMail(got)) {
    Reply(0, kReplyRefused);
    return;
  }
  DeleteNote();
  x.finishedBlocks = x.offer.totalBlocks;
  w.state = kReceiveIdle;
  Ack(x.finishedBlocks);
  ShowProgress(0, 100);
}

// The next block in order, from its frame: whole, or its payload with the
// header made from the first block's. False when the mail was refused.
bool StoreFrameBlock(uint8_t type, const char* payload, int32_t length) {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  pClrMem(w.block, kBlockSize);
  if (type == kFrameBlock && length == kBlockSize) {
    std::memcpy(w.block, payload, kBlockSize);
  } else if (x.haveFirstHeader == 1 && w.expectedBlock > 1 &&
             UnpackPayload(type, payload, length, x.lastTag, reinterpret_cast<MailBlock*>(w.block)->payload)) {
    MakeBlockHeader(x.firstHeader, w.expectedBlock, w.block + kPayloadSize);
  } else {
    RefuseFramed("Mail refused: its blocks do not follow the announced mail");
    return false;
  }
  if (w.expectedBlock == 1) {
    std::memcpy(x.firstHeader, w.block + kPayloadSize, kHeaderSize);
    x.haveFirstHeader = 1;
  }
  std::memcpy(x.lastTag, reinterpret_cast<MailBlock*>(w.block)->payload.tag, sizeof x.lastTag);
  const KeptBlock kept = KeepBlock();
  if (kept == KeptBlock::Refused) {
    if (w.expectedBlock == 1) DeleteNote();  // refused before anything was kept: nothing to go on from
    Reply(0, kReplyRefused);
    return false;
  }
  if (w.totalBlocks != x.offer.totalBlocks) {
    RefuseFramed("Mail refused: its blocks do not follow the announced mail");
    return false;
  }
  if (kept == KeptBlock::Last) FinishFramedMail();
  return true;
}

// Stores the blocks kept early that now follow in order.
void StoreEarlyInOrder() {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  for (bool found = true; found && w.state == kReceiveMail;) {
    found = false;
    for (int32_t i = 0; i < kWindow; ++i)
      if (x.early[i] == w.expectedBlock) {
        x.early[i] = 0;
        found = true;
        if (!StoreFrameBlock(x.earlyType[i], x.earlyBytes[i], x.earlyLength[i])) return;
        break;
      }
  }
}

void BreakReceive(const char* why);

// A block frame carries a whole block or a packed payload, never more.
bool BlockFrameFits(const Frame& frame) {
  return frame.type == kFrameBlock ? frame.length == kBlockSize : frame.length <= kPayloadSize;
}

void TakeBlockFrame(const Frame& frame) {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  const int64_t k = frame.number;
  if (!BlockFrameFits(frame)) {
    Reply(0, kReplyRefused);
    BreakReceive("a block frame longer than a block");
    return;
  }
  if (k < 1 || k > x.offer.totalBlocks) return;
  if (k < w.expectedBlock) {
    Ack(w.expectedBlock - 1);  // a block sent again: say again how far we are
    return;
  }
  if (k >= int64_t(w.expectedBlock) + kWindow) return;  // beyond the window: it comes again
  if (k > w.expectedBlock) {
    KeepEarly(frame);
    if (x.nakked != w.expectedBlock) {
      Nak(w.expectedBlock);
      x.nakked = w.expectedBlock;
    }
    return;
  }
  if (!StoreFrameBlock(frame.type, frame.payload, frame.length)) return;
  StoreEarlyInOrder();
  if (w.state == kReceiveMail) Ack(w.expectedBlock - 1);
  StatusNew("Comm Action Is Ok : Bytes Received - ");
  StatusAddNumber(w.writePosition - 1);
  StatusAdd(x.channel.open == 1 ? " (authenticated, encrypted)" : " (extended, not authenticated)");
}

void DecideOnMail() {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  const ExtendedOffer& offer = x.offer;
  if (offer.totalBlocks < 1 || offer.totalBlocks > ReceiverLimits().maxBlocks) {
    StatusNew(kTooLongOffer);
    StatusAddNumber(uint32_t(offer.totalBlocks < 0 ? 0 : offer.totalBlocks));
    StatusAdd(")");
    Reply(0, kReplyRefused);
    return;
  }
  if (HoldsAlready()) {
    StatusNew("Comm Action Is Ok : mail received before: not sent again");
    Reply(0, kReplyHave);
    return;
  }
  if (const char* why = RefusalOfMoreMail()) {
    StatusNew(why);
    Reply(0, kReplyRefused);
    return;
  }
  const int32_t held = HeldBlocks();
  if (!RoomForMail(offer.totalBlocks, held)) {
    StatusNew(kNoRoomOffer);
    Reply(0, kReplyRefused);
    return;
  }
  if (held == 0) {
    pFileDel(w.partPath);
    if (!WriteNote()) {
      StatusNew(kNoNote);
      Reply(0, kReplyRefused);
      return;
    }
  }
  w.state = kReceiveMail;
  ShowProgress(held, offer.totalBlocks);
  if (held > 0) {
    StatusNew("Comm Action Is Ok : going on from block ");
    StatusAddNumber(uint32_t(held + 1));
  }
  Reply(held, kReplySend);
}

// The call cannot go on: nothing more is taken from it, and the mail it was
// carrying is not filed (its part file goes: no block of a broken call stays).
void BreakReceive(const char* why) {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  x.callBroken = 1;
  if (w.state == kReceiveMail) {
    pFileDel(w.partPath);
    DeleteNote();
  }
  w.state = kReceiveRefused;
  if (x.calledMachine[0] != 0) {
    StatusNew("Call to Velloran@");
    StatusAdd(x.calledMachine);
  } else {
    StatusNew("Call from Velloran@");
    StatusAdd(x.handshake.callerId[0] != 0 ? x.handshake.callerId : "?");
  }
  StatusAdd(" ended: ");
  StatusAdd(why);
  ShowProgress(0, 100);
}

// The announce's MachID, when it is a valid machine id, into sender
// (kMachineSlotSize + 1); false otherwise.
bool AnnouncedMachine(char* sender) {
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(work().announce);
  pClrMem(sender, kMachineSlotSize + 1);
  AppendSlot(a.senderMachId, sizeof a.senderMachId, sender, kMachineSlotSize + 1);
  return IsValidMachineSlot(a.senderMachId, sizeof a.senderMachId);
}

// In a call whose caller proved its key, every announce must be that
// machine's own.
bool FromTheProvenMachine() {
  char sender[kMachineSlotSize + 1];
  if (AnnouncedMachine(sender) && pCmp(sender, xwork().handshake.callerId) == 1) return true;
  BreakReceive("it announced mail of another machine than the one that proved its key");
  return false;
}

// Mail that comes back in a turned call is the dialled machine's own (with
// keys, the machine whose key the handshake proved).
bool FromTheCalledMachine() {
  char sender[kMachineSlotSize + 1];
  if (AnnouncedMachine(sender) && SameMachine(sender, xwork().calledMachine)) return true;
  BreakReceive("it sent back mail of another machine than the one called");
  return false;
}

// The machine whose mail may go back in this call: the one that proved its
// key. A call without keys proves nothing of who called, and mail handed to
// whoever names a machine would be gone from here and never reach it.
// Empty when none.
void MachineToSendBackTo(char* machine) {
  ExtendedReceive& x = xwork();
  pClrMem(machine, kMachineSlotSize + 1);
  if (x.channel.open == 1) AppendText(x.handshake.callerId, machine, kMachineSlotSize + 1);
}

// The caller's End. A caller that takes mail back, and mail in POST for it:
// the call turns, and this machine sends from now on. Otherwise the end.
void TakeEnd() {
  ExtendedReceive& x = xwork();
  char machine[kMachineSlotSize + 1];
  if (x.calledMachine[0] == 0 && x.takesBack == 1) {
    MachineToSendBackTo(machine);
    if (machine[0] != 0 && PrepareSendingBack(machine)) {
      SendFrame(kFrameEndAnswer, kTurnBack, nullptr, 0);
      x.turned = 1;
      StartSendingBack(x.channel, x.mail);
      return;
    }
  }
  SendFrame(kFrameEndAnswer, 0, nullptr, 0);
  if (x.calledMachine[0] != 0) x.endSeen = 1;
}

// An offer with a hello: answer with this machine's proof, and say nothing
// about the mail before the caller has proved its own key.
void StartHandshake() {
  ExtendedReceive& x = xwork();
  MachineKey key;
  KnownMachines known;
  LoadKnown(known);
  unsigned char reply[1 + kReplySize];
  reply[0] = kReplyProve;
  SecureForget(x.handshake);
  const char* keyProblem = LoadOwnKey(key);
  int32_t result = keyProblem == nullptr ? SecureReply(x.handshake, key, known, x.offer.hello, kHelloSize,
                                                       *reinterpret_cast<unsigned char(*)[kReplySize]>(reply + 1))
                                         : kSecureNoKey;
  sodium_memzero(&key, sizeof key);
  char own[kMachineSlotSize + 1] = {};
  AppendSlot(Config().unit.Text(UnitField::MachID), UnitField::MachID.width, own, sizeof own);
  // The key proves the ids of the hello: the call must be this machine's, whole id for whole id.
  if (result >= 0 && !SameMachine(own, x.handshake.dialledId)) result = kSecureUnknownMachine;
  if (result < 0) {
    Reply(0, kReplyRefused);
    BreakReceive(keyProblem != nullptr ? keyProblem : SecureRefusalText(result));
    return;
  }
  x.awaitingConfirm = 1;
  SendFrame(kFrameReply, 0, reply, sizeof reply);
}

void TakeConfirm(const Frame& frame) {
  ExtendedReceive& x = xwork();
  x.awaitingConfirm = 0;
  const int32_t result = SecureAccept(x.handshake, reinterpret_cast<const unsigned char*>(frame.payload), frame.length,
                                      x.channel);
  if (result < 0) {
    BreakReceive(SecureRefusalText(result));
    return;
  }
  Pin(x.handshake.callerId);
  StatusNew("Call from Velloran@");
  StatusAdd(x.handshake.callerId);
  StatusAdd(": authenticated and encrypted");
  // The mail's announce comes next, sealed: nothing of it was on the line.
}

// An announce frame: a mail of this call. In a call with keys, and in any
// framed call, an announce this machine does not take with frames ends the
// call: no mail of it may go on plain.
void TakeAnnounceFrame(const Frame& frame) {
  ExtendedReceive& x = xwork();
  if (frame.mail == x.mail && work().state == kReceiveMail) {
    // The same mail again: our Reply was lost on the way (a turned call's
    // sender announces again when asked to).
    Reply(work().expectedBlock - 1, kReplySend);
    return;
  }
  x.announcedMail = frame.mail;
  if (x.calledMachine[0] != 0 && ++x.backMails > ReceiverLimits().mailsPerCall) {
    BreakReceive("it sent back more mails than one call may carry");
    return;
  }
  if (!ReceiveAnnounce(frame.payload, frame.length) && x.callBroken != 1)
    BreakReceive(x.channel.open == 1 ? "an announce this sealed call cannot take" : "an announce without its offer");
}

void TakeFrame(Frame& frame) {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  if (x.callBroken == 1) return;
  if (!OpenFrameOn(x.channel, frame, x.plain)) {
    BreakReceive("a frame failed its check (altered, played again or out of order)");
    return;
  }
  switch (frame.type) {
    case kFrameAnnounce:
      TakeAnnounceFrame(frame);
      return;
    case kFrameBlock:
    case kFrameData:
    case kFrameSameTag:
      if (frame.mail != x.mail) return;
      if (w.state == kReceiveMail)
        TakeBlockFrame(frame);
      else if (x.finishedBlocks > 0)
        Ack(x.finishedBlocks);  // the sender missed the last ack
      return;
    case kFrameEnd:
      TakeEnd();
      return;
    case kFrameConfirm:
      if (x.awaitingConfirm == 1 && frame.mail == x.mail) TakeConfirm(frame);
      return;
    default:
      return;
  }
}

// Starts the work on an announced mail's frames.
void BeginFramedMail(const ExtendedOffer& offer) {
  ExtendedReceive& x = xwork();
  x.callFramed = 1;
  x.mail = x.announcedMail;
  x.offer = offer;
  if ((offer.capabilities & kCapTurn) != 0) x.takesBack = 1;
  x.nakked = 0;
  x.haveFirstHeader = 0;
  x.finishedBlocks = 0;
  ForgetEarly();
}

}  // namespace

bool AcceptKeyedHello() {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  ExtendedOffer offer;
  if (!ExtendedEnabled() || x.callFramed == 1 || !ReadOffer(a, offer) || (offer.capabilities & kCapKeys) == 0)
    return false;
  BeginFramedMail(offer);
  StartHandshake();
  return true;
}

bool AcceptExtended() {
  ReceiveWork& w = work();
  ExtendedReceive& x = xwork();
  const TransferAnnounce& a = *reinterpret_cast<const TransferAnnounce*>(w.announce);
  ExtendedOffer offer;
  if (!ExtendedEnabled() || !ReadOffer(a, offer)) return false;
  // Keys are proven once, before the first mail; a hello later is out of turn.
  if ((offer.capabilities & kCapKeys) != 0) return false;
  // A call whose handshake began takes no mail before it has finished.
  if (x.handshake.step != kSecureStepNone && x.channel.open != 1) return false;
  BeginFramedMail(offer);
  if (x.calledMachine[0] != 0 && !FromTheCalledMachine()) return true;
  if (x.channel.open == 1) {
    if (x.calledMachine[0] == 0 && !FromTheProvenMachine()) return true;
  } else if (const char* why = UnauthenticatedRefusal(a)) {
    StatusNew(why);
    Reply(0, kReplyRefused);
    return true;
  }
  if (const char* why = TakeMailToRelay(a, x.channel.open == 1, w.spoolPath)) {
    StatusNew(why);
    Reply(0, kReplyRefused);
    return true;
  }
  DecideOnMail();
  return true;
}


void ExtendedReceiverData(const char* data, int32_t length) {
  ExtendedReceive& x = xwork();
  if (x.turned == 1) {
    SendingBackData(data, length);
    return;
  }
  FrameReaderAdd(x.reader, data, length);
  Frame frame;
  for (FrameRead r; x.turned != 1 && (r = FrameReaderTake(x.reader, frame)) != FrameRead::None;) {
    if (r == FrameRead::Frame) {
      TakeFrame(frame);
    } else if (x.callBroken != 1 && frame.mail == x.mail && work().state == kReceiveMail && int64_t(frame.number) >= work().expectedBlock &&
               int64_t(frame.number) <= x.offer.totalBlocks) {
      Nak(int32_t(frame.number));  // damaged on the way: send it again
      if (int32_t(frame.number) == work().expectedBlock) x.nakked = work().expectedBlock;
    }
  }
  if (x.turned == 1 && x.reader.count > 0) {  // the caller's first answers to the mail going back
    SendingBackData(x.reader.bytes, x.reader.count);
    x.reader.count = 0;
  }
}

void StartTakingBack(SecureChannel& channel, uint8_t mail, const char* machine) {
  ExtendedReceive& x = xwork();
  x.channel = channel;
  pClrMem(&channel, sizeof channel);
  x.callFramed = 1;
  x.callBroken = x.endSeen = x.finishedBlocks = 0;
  x.mail = x.announcedMail = mail;
  pClrMem(x.calledMachine, sizeof x.calledMachine);
  AppendText(machine, x.calledMachine, sizeof x.calledMachine);
  x.backMails = 0;
  x.reader.count = 0;
  work().state = kReceiveIdle;
}

void TakeMailBack() {
  LinkState& link = Link();
  ExtendedReceive& x = xwork();
  // What the callee has done so far: a new announce, a block stored, a mail
  // filed. Frames that change none of them (sent again, or never meant to
  // end) do not keep the call up.
  auto progress = [&x, &link] { return std::make_tuple(x.backMails, work().writePosition, link.mailsThisCall); };
  auto seen = progress();
  uint32_t progressAt = uint32_t(pTiming()), nudgedAt = progressAt;
  while (link.callState == 1 && x.endSeen != 1 && x.callBroken != 1) {
    pDoEvent(kOkSliceMs);
    const uint32_t now = uint32_t(pTiming());
    if (progress() != seen) {
      seen = progress();
      progressAt = now;
    } else if (now - progressAt >= kOkLimitMs) {
      return;
    } else if (now - progressAt >= kResendAfterMs && now - nudgedAt >= kResendAfterMs) {
      SendFrame(kFrameEndAnswer, kTurnBack, nullptr, 0);  // still here: send again what is outstanding
      nudgedAt = now;
    }
  }
}

void ForgetFramedCall() {
  LinkState& link = Link();
  ExtendedSend& send = link.xsend;
  ExtendedReceive& receive = link.xreceive;
  send.callFramed = send.offered = send.keysOffered = send.callBroken = 0;
  ForgetSendingBack();
  send.ending = send.turned = send.nudged = 0;
  send.mail = 0;
  send.total = 0;
  send.reader.count = 0;
  pClrMem(send.sealedAnnounce, kAnnounceSize);
  SecureForget(send.handshake);
  SecureClose(send.channel);
  receive.callFramed = receive.awaitingConfirm = receive.callBroken = 0;
  receive.takesBack = receive.turned = receive.endSeen = 0;
  pClrMem(receive.calledMachine, sizeof receive.calledMachine);
  receive.mail = receive.announcedMail = 0;
  receive.reader.count = 0;
  SecureForget(receive.handshake);
  SecureClose(receive.channel);
}
