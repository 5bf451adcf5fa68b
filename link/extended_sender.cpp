// The sending role of the extended protocol: the offer, the Reply, and a
// window of blocks that flow without waiting for each acknowledgement.
#include <cstring>

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

void TakeReply(const Frame& frame) {
  ExtendedSend& x = work();
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

void TakeFrame(const Frame& frame) {
  ExtendedSend& x = work();
  if (frame.mail != x.mail) return;  // the tail of an earlier mail
  switch (frame.type) {
    case kFrameReply:
      TakeReply(frame);
      break;
    case kFrameAck:
      if (int32_t(frame.number) > x.acked) x.acked = int32_t(frame.number);
      break;
    case kFrameNak:
      AddNak(int32_t(frame.number));
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

// Block k of the spool file as a frame: its payload packed when its header is
// the first one's with number k, else whole. The frame's length, 0 on a read
// error.
int32_t BuildBlockFrame(const char* spoolPath, int32_t k) {
  ExtendedSend& x = work();
  MailBlock block, before;
  if (pFileIO(-1, spoolPath, BlockPosition(k), &block, kBlockSize) != kBlockSize) return 0;
  char made[kHeaderSize];
  if (k > 1) MakeBlockHeader(x.firstHeader, k, made);
  if (k == 1 || std::memcmp(made, &block.header, kHeaderSize) != 0)
    return BuildFrame(kFrameBlock, x.mail, uint32_t(k), &block, kBlockSize, x.frame);
  if (pFileIO(-1, spoolPath, BlockPosition(k - 1), &before, kBlockSize) != kBlockSize) return 0;
  char packed[kPayloadSize];
  uint8_t type = 0;
  const int32_t length = PackPayload(block.payload, before.payload.tag, packed, type);
  return BuildFrame(type, x.mail, uint32_t(k), packed, length, x.frame);
}

void ShowAcked(int32_t total) {
  StatusNew("Comm Action Is Ok : Bytes Sent - ");
  StatusAddNumber(uint32_t(work().acked) * uint32_t(kBlockSize));
  ShowProgress(work().acked, total);
}

// What the Reply said, before any block: true when blocks are to go.
bool ReplyLetsBlocksGo(int32_t total, ExtendedOutcome& outcome) {
  ExtendedSend& x = work();
  outcome = ExtendedOutcome::Left;
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

}  // namespace

void OfferExtension(TransferAnnounce& announce, int32_t totalBlocks, const MailDigest& digest) {
  if (ExtendedEnabled()) WriteOffer(announce, totalBlocks, digest);
}

void SendAnnounceRecord(const char* announce, int32_t length) {
  ExtendedSend& x = work();
  x.replied = 0;
  x.refused = 0;
  if (x.callFramed == 1) {
    ++x.mail;
    const int32_t n = BuildFrame(kFrameAnnounce, x.mail, 0, announce, length, x.frame);
    SendToLine(x.frame, n);
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
  if (x.callFramed != 1 && (x.offered != 1 || IsPlainOk(data, length))) return false;
  FrameReaderAdd(x.reader, data, length);
  Frame frame;
  for (FrameRead r; (r = FrameReaderTake(x.reader, frame)) != FrameRead::None;)
    if (r == FrameRead::Frame) TakeFrame(frame);
  return true;
}

bool PeerRepliedExtended() { return work().replied == 1; }

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
  int32_t pendingBytes = 0;
  int32_t seen = x.acked;
  uint32_t progressAt = Now(), resentAt = Now();
  while (x.acked < total) {
    if (link.callState != 1 || x.refused == 1) return ExtendedOutcome::Left;
    if (pending == 0) {
      pending = TakeNak();
      if (pending == 0 && next <= total && next <= x.acked + kWindow) pending = next;
      if (pending != 0 && (pendingBytes = BuildBlockFrame(spoolPath, pending)) == 0) return ExtendedOutcome::Left;
    }
    if (pending != 0 && SendToLine(x.frame, pendingBytes)) {
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
  if (x.callFramed != 1) return false;
  x.endAnswered = 0;
  const int32_t n = BuildFrame(kFrameEnd, x.mail, 0, nullptr, 0, x.frame);
  SendToLine(x.frame, n);
  const uint32_t start = Now();
  while (x.endAnswered != 1 && link.callState == 1 && Now() - start < kEndAnswerMs) pDoEvent(kStreamSliceMs);
  return true;
}
