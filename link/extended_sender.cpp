// The sending role of the extended protocol: the offer (with a hello when
// both machines have keys), the Reply, and a window of blocks that flow
// without waiting for each acknowledgement.
#include <sodium.h>

#include <cstring>

#include "config/config.h"
#include "link/extended.h"
#include "link/internal.h"
#include "link/link.h"
#include "platform/unit.h"
#include "toolkit/files.h"
#include "toolkit/text.h"

namespace {

ExtendedSend& work() { return Link().xsend; }

uint32_t Now() { return uint32_t(pTiming()); }

bool IsPlainOk(const char* data, int32_t length) {
  return length == kOkBytes && std::memcmp(data, "[OK]", size_t(kOkBytes)) == 0;
}

// The call cannot go on: a key that did not prove itself, a frame that did
// not open. The posting pass hangs up.
void BreakCall(const char* why) {
  ExtendedSend& x = work();
  x.callBroken = 1;
  x.replied = 1;
  x.replyStatus = kReplyRefused;
  StatusNew("Call to Velloran@");
  StatusAdd(Link().connectedMachine);
  StatusAdd(" ended: ");
  StatusAdd(why);
  if (Link().okFlag == -1) Link().okFlag = 1;
}

// The callee's handshake reply: prove this machine's key in a Confirm, then
// announce the mail inside the channel. The sealed Reply that says what
// becomes of the mail follows.
void ProveOwnKey(const Frame& frame) {
  ExtendedSend& x = work();
  MachineKey key;
  unsigned char confirm[kConfirmSize];
  const char* keyProblem = LoadOwnKey(key);
  const int32_t result = keyProblem == nullptr
                             ? SecureConfirm(x.handshake, key, reinterpret_cast<const unsigned char*>(frame.payload) + 1,
                                             frame.length - 1, confirm, x.channel)
                             : kSecureNoKey;
  sodium_memzero(&key, sizeof key);
  if (result < 0) {
    BreakCall(keyProblem != nullptr ? keyProblem : SecureRefusalText(result));
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

void TakeReply(const Frame& frame) {
  ExtendedSend& x = work();
  if (frame.length < 1) return;
  if (frame.payload[0] == kReplyProve) {
    if (x.keysOffered == 1 && x.channel.open != 1 && x.handshake.step == kSecureStepWaiting)
      ProveOwnKey(frame);
    else
      BreakCall("a proof of key out of turn");
    return;
  }
  if (x.keysOffered == 1 && x.channel.open != 1) {
    BreakCall(frame.payload[0] == kReplyRefused ? kRefusedBeforeKeys : kAnsweredWithoutKey);
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

void AddNak(int32_t k) {
  ExtendedSend& x = work();
  if (k <= x.acked) return;
  for (int32_t n : x.naks)
    if (n == k) return;
  for (int32_t& n : x.naks)
    if (n == 0) {
      n = k;
      return;
    }
}

// A block number from the line counts only within the mail being sent.
bool InMail(uint32_t number) { return number >= 1 && number <= uint32_t(work().total); }

void TakeFrame(Frame& frame) {
  ExtendedSend& x = work();
  if (x.callBroken == 1) return;
  if (!OpenFrameOn(x.channel, frame, x.plain)) {
    BreakCall("a frame failed its check (altered, played again or out of order)");
    return;
  }
  if (x.keysOffered == 1 && x.channel.open != 1 && frame.type != kFrameReply) {
    BreakCall(kAnsweredWithoutKey);
    return;
  }
  if (frame.mail != x.mail) return;  // the tail of an earlier mail
  switch (frame.type) {
    case kFrameReply:
      TakeReply(frame);
      break;
    case kFrameAck:
      if (InMail(frame.number) && int32_t(frame.number) > x.acked) x.acked = int32_t(frame.number);
      break;
    case kFrameNak:
      if (InMail(frame.number)) AddNak(int32_t(frame.number));
      break;
    case kFrameEndAnswer:
      x.endAnswered = 1;
      break;
    default:
      break;
  }
}

// The lowest block asked for again that is still unacknowledged; 0 if none.
int32_t TakeNak() {
  ExtendedSend& x = work();
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
bool LoadBlockFrame(const char* spoolPath, int32_t k) {
  ExtendedSend& x = work();
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

void SendEmptyFrame(uint8_t type) {
  ExtendedSend& x = work();
  SendFrameOn(x.channel, type, x.mail, 0, nullptr, 0, x.frame);
}

void ShowAcked(int32_t total) {
  StatusNew("Comm Action Is Ok : Bytes Sent - ");
  StatusAddNumber(uint32_t(work().acked) * uint32_t(kBlockSize));
  StatusAdd(CallKindText());
  ShowProgress(work().acked, total);
}

// What the Reply said, before any block: true when blocks are to go.
bool ReplyLetsBlocksGo(int32_t total, ExtendedOutcome& outcome) {
  ExtendedSend& x = work();
  outcome = ExtendedOutcome::Left;
  if (x.callBroken == 1) {
    HangUp();
    return false;
  }
  if (x.replyStatus == kReplyHave) {
    StatusNew("Velloran@");
    StatusAdd(Link().connectedMachine);
    StatusAdd(" holds the mail already: not sent again");
    outcome = ExtendedOutcome::Sent;
    return false;
  }
  if (x.replyStatus != kReplySend || x.held < 0 || x.held >= total) {
    StatusNew("Velloran@");
    StatusAdd(Link().connectedMachine);
    StatusAdd(" refused the mail");
    return false;
  }
  return true;
}

// A hello for the machine dialled, into hello; false (and why into refusal,
// for the status line) when this machine cannot prove its key.
bool MakeHello(const KnownMachines& known, const char* machine, unsigned char (&hello)[kHelloSize],
               const char*& refusal) {
  ExtendedSend& x = work();
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

}  // namespace

const char* CallKindText() {
  const ExtendedSend& x = work();
  if (x.channel.open == 1) return " (authenticated, encrypted)";
  return x.callFramed == 1 ? " (extended, not authenticated)" : "";
}

const char* OfferExtension(TransferAnnounce& announce, int32_t totalBlocks, const MailDigest& digest,
                           const char* machine) {
  ExtendedSend& x = work();
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
  if (keyed && !MakeHello(known, machine, x.hello, refusal)) return refusal;
  x.keysOffered = keyed ? 1 : 0;
  WriteOffer(announce, totalBlocks, digest, nullptr);
  return nullptr;
}

void SendAnnounceRecord(const char* announce, int32_t length) {
  ExtendedSend& x = work();
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

bool ExtendedSenderData(const char* data, int32_t length) {
  ExtendedSend& x = work();
  if (x.callFramed != 1 && x.keysOffered == 1 && IsPlainOk(data, length)) {
    BreakCall(kAnsweredWithoutKey);
    return true;
  }
  if (x.callFramed != 1 && (x.offered != 1 || IsPlainOk(data, length))) return false;
  FrameReaderAdd(x.reader, data, length);
  Frame frame;
  for (FrameRead r; (r = FrameReaderTake(x.reader, frame)) != FrameRead::None;)
    if (r == FrameRead::Frame) TakeFrame(frame);
  return true;
}

bool PeerRepliedExtended() { return work().replied == 1; }

const char* UnansweredKeyedCall() {
  const ExtendedSend& x = work();
  return x.keysOffered == 1 && x.channel.open != 1 ? ": no answer with its key: mail kept" : "";
}

ExtendedOutcome SendMailExtended(const char* spoolPath, int32_t total) {
  ExtendedSend& x = work();
  LinkState& link = Link();
  ExtendedOutcome outcome;
  if (!ReplyLetsBlocksGo(total, outcome)) return outcome;
  MailBlock first;
  if (pFileIO(-1, spoolPath, BlockPosition(1), &first, kBlockSize) != kBlockSize) return ExtendedOutcome::Left;
  std::memcpy(x.firstHeader, &first.header, kHeaderSize);
  x.acked = x.held;
  pClrMem(x.naks, sizeof x.naks);
  int32_t next = x.held + 1;
  int32_t pending = 0;        // block whose frame waits for room on the line
  int32_t seen = x.acked;
  uint32_t progressAt = Now(), resentAt = Now();
  while (x.acked < total) {
    if (x.callBroken == 1) {
      HangUp();
      return ExtendedOutcome::Left;
    }
    if (link.callState != 1 || x.refused == 1) return ExtendedOutcome::Left;
    if (pending == 0) {
      pending = TakeNak();
      if (pending == 0 && next <= total && next <= x.acked + kWindow) pending = next;
      if (pending != 0 && !LoadBlockFrame(spoolPath, pending)) return ExtendedOutcome::Left;
    }
    if (pending != 0 &&
        SendFrameOn(x.channel, x.pendingType, x.mail, uint32_t(pending), x.pendingPayload, x.pendingLength, x.frame)) {
      if (pending == next) ++next;
      pending = 0;
      continue;
    }
    pDoEvent(kStreamSliceMs);
    const uint32_t now = Now();
    if (x.acked != seen) {
      seen = x.acked;
      progressAt = now;
      ShowAcked(total);
    } else if (now - progressAt >= kOkLimitMs) {
      HangUp();
      return ExtendedOutcome::Left;
    } else if (next > x.acked + 1 && now - progressAt >= kResendAfterMs && now - resentAt >= kResendAfterMs) {
      // Nothing acknowledged for a while: the oldest block or its ack was lost.
      AddNak(x.acked + 1);
      resentAt = now;
    }
  }
  ShowAcked(total);
  return ExtendedOutcome::Sent;
}

bool EndFramedCall() {
  ExtendedSend& x = work();
  LinkState& link = Link();
  if (x.callFramed != 1 || x.callBroken == 1) return x.callBroken == 1;
  x.endAnswered = 0;
  SendEmptyFrame(kFrameEnd);
  const uint32_t start = Now();
  while (x.endAnswered != 1 && link.callState == 1 && Now() - start < kEndAnswerMs) pDoEvent(kStreamSliceMs);
  return true;
}
