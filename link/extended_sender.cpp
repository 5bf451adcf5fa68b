// The sending role of the extended protocol: the offer (with a hello when
// both machines have keys), the Reply, and a window of blocks that flow
// without waiting for each acknowledgement.
#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "link/extended.h"
#include "link/internal.h"
#include "link/link.h"
#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

// Two work areas: the posting pass's calls use the one, the mail this
// machine sends back in a call it answered the other. A pass waiting between
// its calls (a call may come in then) keeps its own state untouched.
ExtendedSend& passWork() { return Link().xsend; }
ExtendedSend& backWork() { return Link().xback; }

uint32_t Now() { return uint32_t(pTiming()); }

bool IsPlainOk(const char* data, int32_t length) {
  return length == kOkBytes && std::memcmp(data, "[OK]", size_t(kOkBytes)) == 0;
}

// The call cannot go on: a key that did not prove itself, a frame that did
// not open. The posting pass hangs up.
void BreakCall(ExtendedSend& x, const char* why) {
  x.callBroken = 1;
  x.replied = 1;
  x.replyStatus = kReplyRefused;
  const bool sendingBack = x.backPhase != kTurnNone;
  StatusNew(sendingBack ? "Call from Velloran@" : "Call to Velloran@");
  StatusAdd(sendingBack ? x.backPeer : Link().connectedMachine);
  StatusAdd(" ended: ");
  StatusAdd(why);
  if (Link().okFlag == -1) Link().okFlag = 1;
}

// The callee's handshake reply: prove this machine's key in a Confirm, then
// announce the mail inside the channel. The sealed Reply that says what
// becomes of the mail follows.
void ProveOwnKey(ExtendedSend& x, const Frame& frame) {
  MachineKey key;
  unsigned char confirm[kConfirmSize];
  const char* keyProblem = LoadOwnKey(key);
  const int32_t result = keyProblem == nullptr
                             ? SecureConfirm(x.handshake, key, reinterpret_cast<const unsigned char*>(frame.payload) + 1,
                                             frame.length - 1, confirm, x.channel)
                             : kSecureNoKey;
  sodium_memzero(&key, sizeof key);
  if (result < 0) {
    BreakCall(x, keyProblem != nullptr ? keyProblem : SecureRefusalText(result));
    return;
  }
  // Sent in the clear: the channel is open for what follows it.
  const int32_t n = BuildFrame(kFrameConfirm, x.mail, 0, confirm, kConfirmSize, x.frame);
  SendToLine(x.frame, n);
  SendFrameOn(x.channel, kFrameAnnounce, x.mail, 0, x.sealedAnnounce, kAnnounceSize, x.frame);
  pClrMem(x.sealedAnnounce, kAnnounceSize);
}

// A call that offered keys takes nothing but the callee's proof before its
// channel is open, and every answer after it sealed: an answer in the clear
// is a downgrade, from whoever made it.
constexpr const char* kAnsweredWithoutKey = "it answered without its key: mail kept";
constexpr const char* kRefusedBeforeKeys =
    "it refused the call before proving its key (does it know this machine's key?): mail kept";

void TakeReply(ExtendedSend& x, const Frame& frame) {
  if (frame.length < 1) return;
  if (frame.payload[0] == kReplyProve) {
    if (x.keysOffered == 1 && x.channel.open != 1 && x.handshake.step == kSecureStepWaiting)
      ProveOwnKey(x, frame);
    else
      BreakCall(x, "a proof of key out of turn");
    return;
  }
  if (x.keysOffered == 1 && x.channel.open != 1) {
    BreakCall(x, frame.payload[0] == kReplyRefused ? kRefusedBeforeKeys : kAnsweredWithoutKey);
    return;
  }
  if (frame.length != 1) return;
  x.replyStatus = frame.payload[0];
  x.held = int32_t(frame.number);
  if (x.replied == 1 && x.replyStatus == kReplyRefused) x.refused = 1;  // a refusal in the middle of a mail
  x.replied = 1;
  x.callFramed = 1;
  if (Link().okFlag == -1) Link().okFlag = 1;
}

void AddNak(ExtendedSend& x, int32_t k) {
  if (k <= x.acked) return;
  for (int32_t n : x.naks)
    if (n == k) return;
  for (int32_t& n : x.naks)
    if (n == 0) {
      n = k;
      return;
    }
}

// The callee's answer to the End: number kTurnBack turns the call, and the
// caller receives from then on. (While the callee sends back, an EndAnswer
// from the caller is its nudge: see SendingBackData.)
void TakeEndAnswer(ExtendedSend& x, const Frame& frame) {
  if (x.backPhase != kTurnNone) {
    x.nudged = frame.number == kTurnBack ? 1 : 0;
    if (frame.number != kTurnBack && x.backPhase == kTurnEnded) x.backPhase = kTurnNone;  // the caller hangs up
    return;
  }
  x.endAnswered = 1;
  if (x.ending != 1 || frame.number != kTurnBack || x.turned == 1) return;
  x.turned = 1;
  StartTakingBack(x.channel, x.mail, Link().connectedMachine);
}

// A block number from the line counts only within the mail being sent.
bool InMail(const ExtendedSend& x, uint32_t number) { return number >= 1 && number <= uint32_t(x.total); }

void TakeFrame(ExtendedSend& x, Frame& frame) {
  if (x.callBroken == 1) return;
  if (!OpenFrameOn(x.channel, frame, x.plain)) {
    BreakCall(x, "a frame failed its check (altered, played again or out of order)");
    return;
  }
  if (x.keysOffered == 1 && x.channel.open != 1 && frame.type != kFrameReply) {
    BreakCall(x, kAnsweredWithoutKey);
    return;
  }
  if (frame.type == kFrameEndAnswer) {  // of whichever mail: also the caller's nudge in a turned call
    TakeEndAnswer(x, frame);
    return;
  }
  if (frame.mail != x.mail) return;  // the tail of an earlier mail
  switch (frame.type) {
    case kFrameReply:
      TakeReply(x, frame);
      break;
    case kFrameAck:
      if (InMail(x, frame.number) && int32_t(frame.number) > x.acked) x.acked = int32_t(frame.number);
      break;
    case kFrameNak:
      if (InMail(x, frame.number)) AddNak(x, int32_t(frame.number));
      break;
    default:
      break;
  }
}

// The lowest block asked for again that is still unacknowledged; 0 if none.
int32_t TakeNak(ExtendedSend& x) {
  int32_t* lowest = nullptr;
  for (int32_t& n : x.naks) {
    if (n != 0 && n <= x.acked) n = 0;
    if (n != 0 && (lowest == nullptr || n < *lowest)) lowest = &n;
  }
  if (lowest == nullptr) return 0;
  const int32_t k = *lowest;
  *lowest = 0;
  return k;
}

// Block k of the spool file as the frame will carry it: its payload packed
// when its header is the first one's with number k, else whole. False on a
// read error.
bool LoadBlockFrame(ExtendedSend& x, const char* spoolPath, int32_t k) {
  MailBlock block, before;
  if (pFileIO(-1, spoolPath, BlockPosition(k), &block, kBlockSize) != kBlockSize) return false;
  char made[kHeaderSize];
  if (k > 1) MakeBlockHeader(x.firstHeader, k, made);
  if (k == 1 || std::memcmp(made, &block.header, kHeaderSize) != 0) {
    x.pendingType = kFrameBlock;
    x.pendingLength = kBlockSize;
    std::memcpy(x.pendingPayload, &block, kBlockSize);
    return true;
  }
  if (pFileIO(-1, spoolPath, BlockPosition(k - 1), &before, kBlockSize) != kBlockSize) return false;
  x.pendingLength = PackPayload(block.payload, before.payload.tag, x.pendingPayload, x.pendingType);
  return true;
}

// The stream of the mail in spoolPath begins after the blocks the Reply
// said are held. False when its first block cannot be read.
bool BeginStream(ExtendedSend& x, const char* spoolPath) {
  MailBlock first;
  if (pFileIO(-1, spoolPath, BlockPosition(1), &first, kBlockSize) != kBlockSize) return false;
  std::memcpy(x.firstHeader, &first.header, kHeaderSize);
  x.acked = x.held;
  pClrMem(x.naks, sizeof x.naks);
  x.next = x.held + 1;
  x.pendingBlock = 0;
  return true;
}

// Sends frames while the window and the line allow: blocks asked for again
// first, then new ones. A frame the line does not take waits for the next
// call. False when the spool file cannot be read.
bool PushBlocks(ExtendedSend& x, const char* spoolPath) {
  for (;;) {
    if (x.pendingBlock == 0) {
      x.pendingBlock = TakeNak(x);
      if (x.pendingBlock == 0 && x.next <= x.total && x.next <= x.acked + kWindow) x.pendingBlock = x.next;
      if (x.pendingBlock == 0) return true;
      if (!LoadBlockFrame(x, spoolPath, x.pendingBlock)) return false;
    }
    if (!SendFrameOn(x.channel, x.pendingType, x.mail, uint32_t(x.pendingBlock), x.pendingPayload, x.pendingLength,
                     x.frame))
      return true;
    if (x.pendingBlock == x.next) ++x.next;
    x.pendingBlock = 0;
  }
}

void SendEmptyFrame(ExtendedSend& x, uint8_t type) {
  SendFrameOn(x.channel, type, x.mail, 0, nullptr, 0, x.frame);
}

// The kind of call for the status line: "" when plain.
const char* CallKindText(const ExtendedSend& x) {
  if (x.channel.open == 1) return " (authenticated, encrypted)";
  return x.callFramed == 1 ? " (extended, not authenticated)" : "";
}

void ShowAcked(const ExtendedSend& x, int32_t total) {
  StatusNew("Comm Action Is Ok : Bytes Sent - ");
  StatusAddNumber(uint32_t(x.acked) * uint32_t(kBlockSize));
  StatusAdd(CallKindText(x));
  ShowProgress(x.acked, total);
}

// The machine at the other end: the one dialled, or the caller mail goes back to.
const char* PeerMachine(const ExtendedSend& x) {
  return x.backPhase != kTurnNone ? x.backPeer : Link().connectedMachine;
}

// What the Reply said, before any block: true when blocks are to go.
bool ReplyLetsBlocksGo(ExtendedSend& x, int32_t total, ExtendedOutcome& outcome) {
  outcome = ExtendedOutcome::Left;
  if (x.callBroken == 1) {
    HangUp();
    return false;
  }
  if (x.replyStatus == kReplyHave) {
    StatusNew("Velloran@");
    StatusAdd(PeerMachine(x));
    StatusAdd(" holds the mail already: not sent again");
    outcome = ExtendedOutcome::Sent;
    return false;
  }
  if (x.replyStatus != kReplySend || x.held < 0 || x.held >= total) {
    StatusNew("Velloran@");
    StatusAdd(PeerMachine(x));
    StatusAdd(" refused the mail");
    return false;
  }
  return true;
}

// A hello for the machine dialled, into hello; false (and why into refusal,
// for the status line) when this machine cannot prove its key.
bool MakeHello(ExtendedSend& x, const KnownMachines& known, const char* machine, unsigned char (&hello)[kHelloSize],
               const char*& refusal) {
  char own[kMachineSlotSize + 1] = {};
  AppendSlot(Config().unit.Text(UnitField::MachID), UnitField::MachID.width, own, sizeof own);
  SecureForget(x.handshake);
  MachineKey key;
  refusal = LoadOwnKey(key);
  sodium_memzero(&key, sizeof key);
  if (refusal == nullptr && SecureHello(x.handshake, own, known, machine, hello) != kHelloSize)
    refusal = "this machine's id cannot be proven with a key";
  return refusal == nullptr;
}

// The announce on the line of a call with keys: what the callee needs to
// take the call and see the hello, nothing about the mail. The mail's own
// announce follows inside the channel.
void MakeHelloAnnounce(const char* scrambled, const unsigned char* hello, char* out) {
  TransferAnnounce real, clear{};
  pCopyMem(scrambled, &real, kAnnounceSize);
  vlData(-1, &real, kAnnounceSize);
  // The machine dialled, which is not the mail's destination when it goes through a hub.
  if (Link().connectedMachine[0] != 0)
    AppendText(Link().connectedMachine, clear.destinationMachine, sizeof clear.destinationMachine);
  else
    pCopyMem(real.destinationMachine, clear.destinationMachine, sizeof clear.destinationMachine);
  pCopyMem(real.marker, clear.marker, sizeof clear.marker);
  pCopyMem(real.senderMachId, clear.senderMachId, sizeof clear.senderMachId);
  WriteOffer(clear, 0, MailDigest{}, hello);
  pClrMem(&real, sizeof real);
  vlData(1, &clear, kAnnounceSize);
  pCopyMem(&clear, out, kAnnounceSize);
}

// Bytes for a sending role; true when they were frames of this protocol.
bool TakeSenderBytes(ExtendedSend& x, const char* data, int32_t length) {
  if (x.turned == 1) {
    ExtendedReceiverData(data, length);
    return true;
  }
  if (x.callFramed != 1 && x.keysOffered == 1 && IsPlainOk(data, length)) {
    BreakCall(x, kAnsweredWithoutKey);
    return true;
  }
  if (x.callFramed != 1 && (x.offered != 1 || IsPlainOk(data, length))) return false;
  FrameReaderAdd(x.reader, data, length);
  Frame frame;
  for (FrameRead r; x.turned != 1 && (r = FrameReaderTake(x.reader, frame)) != FrameRead::None;)
    if (r == FrameRead::Frame) TakeFrame(x, frame);
  // What came behind the turning EndAnswer is the callee's first mail.
  if (x.turned == 1 && x.reader.count > 0) {
    ExtendedReceiverData(x.reader.bytes, x.reader.count);
    x.reader.count = 0;
  }
  return true;
}

}  // namespace

const char* OfferExtension(TransferAnnounce& announce, int32_t totalBlocks, const MailDigest& digest,
                           const char* machine) {
  ExtendedSend& x = passWork();
  x.total = totalBlocks;
  // Keys are proven once, at the first announce of a call.
  if (x.callFramed == 1) {
    WriteOffer(announce, totalBlocks, digest, nullptr);
    return nullptr;
  }
  KnownMachines known;
  if (LoadKnown(known) == kKnownRefused) return "KNOWN.TXT is refused here";
  const bool keyed = FindKnownMachine(known, machine) != nullptr;
  x.keysOffered = 0;
  if (!ExtendedEnabled()) return keyed ? "it has a key here, and this machine speaks only the plain protocol" : nullptr;
  const char* refusal = nullptr;
  if (keyed && !MakeHello(x, known, machine, x.hello, refusal)) return refusal;
  x.keysOffered = keyed ? 1 : 0;
  WriteOffer(announce, totalBlocks, digest, nullptr);
  return nullptr;
}

void SendAnnounceRecord(const char* announce, int32_t length) {
  ExtendedSend& x = passWork();
  x.replied = 0;
  x.refused = 0;
  if (x.callFramed == 1) {
    ++x.mail;
    SendFrameOn(x.channel, kFrameAnnounce, x.mail, 0, announce, length, x.frame);
    return;
  }
  if (x.keysOffered == 1 && length == kAnnounceSize) {
    x.offered = 1;
    pCopyMem(announce, x.sealedAnnounce, kAnnounceSize);
    char clear[kAnnounceSize];
    MakeHelloAnnounce(announce, x.hello, clear);
    SendToLine(clear, kAnnounceSize);
    return;
  }
  TransferAnnounce plain;
  pCopyMem(announce, &plain, kAnnounceSize);
  vlData(-1, &plain, kAnnounceSize);
  ExtendedOffer offer;
  x.offered = length == kAnnounceSize && ReadOffer(plain, offer) ? 1 : 0;
  pClrMem(&plain, sizeof plain);
  SendToLine(announce, length);
}

bool ExtendedSenderData(const char* data, int32_t length) { return TakeSenderBytes(passWork(), data, length); }

bool PeerRepliedExtended() { return passWork().replied == 1; }

const char* UnansweredKeyedCall() {
  const ExtendedSend& x = passWork();
  return x.keysOffered == 1 && x.channel.open != 1 ? ": no answer with its key: mail kept" : "";
}

ExtendedOutcome SendMailExtended(const char* spoolPath, int32_t total) {
  ExtendedSend& x = passWork();
  LinkState& link = Link();
  ExtendedOutcome outcome;
  if (!ReplyLetsBlocksGo(x, total, outcome)) return outcome;
  if (!BeginStream(x, spoolPath)) return ExtendedOutcome::Left;
  int32_t seen = x.acked;
  uint32_t progressAt = Now(), resentAt = Now();
  while (x.acked < total) {
    if (x.callBroken == 1) {
      HangUp();
      return ExtendedOutcome::Left;
    }
    if (link.callState != 1 || x.refused == 1) return ExtendedOutcome::Left;
    if (!PushBlocks(x, spoolPath)) return ExtendedOutcome::Left;
    pDoEvent(kStreamSliceMs);
    const uint32_t now = Now();
    if (x.acked != seen) {
      seen = x.acked;
      progressAt = now;
      ShowAcked(x, total);
    } else if (now - progressAt >= kOkLimitMs) {
      HangUp();
      return ExtendedOutcome::Left;
    } else if (x.next > x.acked + 1 && now - progressAt >= kResendAfterMs && now - resentAt >= kResendAfterMs) {
      // Nothing acknowledged for a while: the oldest block or its ack was lost.
      AddNak(x, x.acked + 1);
      resentAt = now;
    }
  }
  ShowAcked(x, total);
  return ExtendedOutcome::Sent;
}

bool EndFramedCall() {
  ExtendedSend& x = passWork();
  LinkState& link = Link();
  if (x.callFramed != 1 || x.callBroken == 1) return x.callBroken == 1;
  x.endAnswered = 0;
  x.ending = 1;
  SendEmptyFrame(x, kFrameEnd);
  const uint32_t start = Now();
  while (x.endAnswered != 1 && link.callState == 1 && Now() - start < kEndAnswerMs) pDoEvent(kStreamSliceMs);
  x.ending = 0;
  if (x.turned == 1) TakeMailBack();
  return true;
}

// --- sending back: the callee's side of a turned call --------------------------
//
// The callee has no loop of its own inside the call: every step runs in its
// data events, on the caller's Replies, Acks, Naks and nudges.

namespace {

void ShowVerifying() {
  StatusNew("Verifying Velloran@");
  StatusAdd(backWork().backPeer);
  StatusAdd("...");
}

// The spool file name holds a mail that goes back: complete, whole, a first
// block first, and for the machine that called, or routed through it (a hub
// that called). Its announce (with the offer and any relay field), digest,
// path and length are kept for the stream.
bool PrepareMailBack(const char* name) {
  ExtendedSend& x = backWork();
  TransferAnnounce& a = *reinterpret_cast<TransferAnnounce*>(x.backAnnounce);
  SpoolMail m;
  const bool goes = ReadSpoolMail(name, m) && SameMachine(m.relay.via, x.backPeer) &&
                    DigestFile(m.path, x.backDigest) == 1 && MakeAnnounceRecord(m.first.header, m.machine, a);
  pClrMem(&m.first, sizeof m.first);
  if (!goes) return false;
  WriteOffer(a, m.total, x.backDigest, nullptr);
  AddRelayField(a, m.relay);  // mail a hub passes on names its origin
  vlData(1, &a, kAnnounceSize);
  pCopyMem(m.path, x.backPath, kPathSize);
  x.total = m.total;
  return true;
}

// The next mail for the caller in POST, in name order after the last one
// tried; false when none is left.
bool FindMailBack() {
  ExtendedSend& x = backWork();
  std::vector<std::string> names = ListSpoolFiles(kRemoteSuffix);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (x.backLast[0] != 0 && name.compare(x.backLast) <= 0) continue;
    pClrMem(x.backLast, kPathSize);
    AppendText(name.c_str(), x.backLast, kPathSize);
    if (PrepareMailBack(name.c_str())) return true;
  }
  return false;
}

void AnnounceBack() {
  ExtendedSend& x = backWork();
  ++x.mail;
  x.replied = x.refused = 0;
  x.backPhase = kTurnAnnounced;
  ShowVerifying();
  SendFrameOn(x.channel, kFrameAnnounce, x.mail, 0, x.backAnnounce, kAnnounceSize, x.frame);
}

void AnnounceNextOrEnd() {
  ExtendedSend& x = backWork();
  if (FindMailBack()) {
    AnnounceBack();
    return;
  }
  x.backPhase = kTurnEnded;
  SendEmptyFrame(x, kFrameEnd);
}

constexpr const char* kRefusedBack = "refused by the receiver";
constexpr const char* kUnreadBack = "its spool file could not be read";

// The mail going back is done with: gone (its last Ack, or the caller held
// it already; why is null) or kept for another call, and why. Then the next.
void FinishMailBack(const char* why) {
  ExtendedSend& x = backWork();
  const std::string mail = DescribeMail(x.backPath);
  if (why == nullptr) {
    RememberSentMail(x.backAnnounce, x.backDigest, x.total);
    LogMail("sent", mail);
    pFileDel(x.backPath);
  } else {
    LogMail("kept in POST:", mail + ": " + why);
  }
  AnnounceNextOrEnd();
}

void TakeReplyBack() {
  ExtendedSend& x = backWork();
  StatusNew("Velloran@");
  StatusAdd(x.backPeer);
  StatusAdd(" Verified OK");
  ExtendedOutcome outcome;
  if (!ReplyLetsBlocksGo(x, x.total, outcome)) {
    FinishMailBack(outcome == ExtendedOutcome::Sent ? nullptr : kRefusedBack);
    return;
  }
  if (!BeginStream(x, x.backPath)) {
    FinishMailBack(kUnreadBack);
    return;
  }
  x.backPhase = kTurnStreaming;
  if (!PushBlocks(x, x.backPath)) FinishMailBack(kUnreadBack);
}

void StreamBack(bool nudged) {
  ExtendedSend& x = backWork();
  if (x.refused == 1) {
    FinishMailBack(kRefusedBack);
    return;
  }
  ShowAcked(x, x.total);
  if (x.acked >= x.total) {
    FinishMailBack(nullptr);
    return;
  }
  if (nudged) AddNak(x, x.acked + 1);  // nothing came for a while: the oldest block or its ack was lost
  if (!PushBlocks(x, x.backPath)) FinishMailBack(kUnreadBack);
}

void StepSendingBack(bool nudged) {
  ExtendedSend& x = backWork();
  switch (x.backPhase) {
    case kTurnAnnounced:
      if (x.replied == 1)
        TakeReplyBack();
      else if (nudged)
        SendFrameOn(x.channel, kFrameAnnounce, x.mail, 0, x.backAnnounce, kAnnounceSize, x.frame);
      return;
    case kTurnStreaming:
      StreamBack(nudged);
      return;
    case kTurnEnded:
      if (nudged) SendEmptyFrame(x, kFrameEnd);
      return;
    default:
      return;
  }
}

}  // namespace

bool PrepareSendingBack(const char* machine) {
  ExtendedSend& x = backWork();
  if (!IsValidMachineId(machine)) return false;
  pClrMem(x.backPeer, sizeof x.backPeer);
  AppendText(machine, x.backPeer, sizeof x.backPeer);
  pClrMem(x.backLast, kPathSize);
  if (FindMailBack()) return true;
  pClrMem(x.backPeer, sizeof x.backPeer);
  return false;
}

void StartSendingBack(SecureChannel& channel, uint8_t mail) {
  ExtendedSend& x = backWork();
  x.channel = channel;
  pClrMem(&channel, sizeof channel);
  x.callFramed = x.offered = 1;
  x.keysOffered = x.callBroken = x.turned = x.ending = x.nudged = 0;
  x.reader.count = 0;
  x.mail = mail;
  AnnounceBack();
}

void SendingBackData(const char* data, int32_t length) {
  ExtendedSend& x = backWork();
  if (x.backPhase == kTurnNone) return;
  x.nudged = 0;
  TakeSenderBytes(x, data, length);
  if (x.callBroken == 1) {
    StopSendingBack("the secured call failed");  // nothing more goes
    return;
  }
  StepSendingBack(x.nudged == 1);
}

void StopSendingBack(const char* why) {
  ExtendedSend& x = backWork();
  if (x.backPhase == kTurnAnnounced || x.backPhase == kTurnStreaming)
    LogMail("kept in POST:", DescribeMail(x.backPath) + ": " + why);
  x.backPhase = kTurnNone;
}

void ForgetSendingBack() {
  ExtendedSend& x = backWork();
  StopSendingBack("the call ended (by the receiver, or the line)");
  SecureForget(x.handshake);
  SecureClose(x.channel);
  pClrMem(&x, sizeof x);
}

bool SendsBack(const char* spoolPath) {
  const ExtendedSend& x = backWork();
  return (x.backPhase == kTurnAnnounced || x.backPhase == kTurnStreaming) && pCmp(spoolPath, x.backPath) == 1;
}
