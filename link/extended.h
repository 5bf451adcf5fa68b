// link/extended.h -- the extended line protocol, spoken only between machines
// of this system, beside the plain one of link/link.h.
//
// Principles of operation
//
// A plain peer must never see a byte the plain protocol does not have. So an
// extended sender offers the extension inside the announce's spare zero bytes,
// which a plain receiver never reads; a plain receiver answers "[OK]" and the
// call goes on as plain. An extended receiver answers with a Reply frame, which
// no plain sender waits for (it compares the answer with "[OK]"), and a plain
// sender never makes the offer, so it never gets one. From the Reply on, both
// machines speak frames until the carrier drops.
//
// ExtendedOffer, at TransferAnnounce +229 (inside the scrambled record)
//   +0   4  magic         "VLX" 0x1A
//   +4   1  version       1
//   +5   1  capabilities  bit 0 frames, bit 1 resume, bit 2 journal, bit 3 end of call,
//                         bit 4 keys: a hello follows, bit 5 turn: the caller takes
//                         mail back after its own
//   +6   4  totalBlocks   little-endian: blocks of the chain
//   +10 32  digest        BLAKE2b-256 of the whole chain as spooled
//   +42 84  hello         the handshake's first message (link/secure.h), with bit 4
//   +126 125 zero
//   +251 32  relay        only on mail through a hub: hops and origin (link/routes.h)
//
// Frame: every message after the Reply, in both directions
//   +0   1  sync          0xA5
//   +1   1  type          see FrameType
//   +2   1  mail          which mail of the call (0 the first, counting on)
//   +3   4  number        little-endian: a block number, a count, or 0
//   +7   2  length        little-endian: payload bytes, 0 .. 4096
//   +9   2  header check  CRC-32 of bytes +0..+8, low 16 bits
//   +11  n  payload
//   +11+n 4 check         CRC-32 of bytes +0 .. +10+n, little-endian
// The header check lets a reader that lost its place find the next frame
// without waiting for the length a damaged header claims. CRC-32 is zlib's.
// The mail byte keeps the tail of one mail (a block sent again, its ack)
// from ever counting for the next one.
//
// The exchange, one call:
//
//   sender                                          receiver
//   TransferAnnounce + ExtendedOffer  ------->      checks as for the plain protocol
//                                     <-------      Reply: number = blocks held,
//                                                   payload: 'S' send / 'H' have it / 'N' refused
//                                                   (also in the middle of a mail: refused)
//   Block 1 (whole)  Data 2  Data 3 ...  ------->   up to kWindow blocks unacknowledged
//                                     <-------      Ack n: blocks 1..n stored in order
//                                     <-------      Nak k: block k damaged or missing
//   (resends of Nak'd blocks, then more blocks)
//                                     <-------      Ack total: digest checked, mail filed
//   Announce frame (next mail's TransferAnnounce) ->  ... Reply, blocks, acks as above
//   End                                -------->
//                                     <-------      EndAnswer; the caller hangs up at once
//
// The caller sends End as soon as its posting pass holds no further mail for
// the machine called (not at the end of the pass), and the pass goes on to
// dial the next machine: the line is free again at once, and a pass carries
// mail to every machine it can reach. (A plain call keeps the pass the plain
// protocol has: one call, the other machines' mails wait for the next pass.)
//
// The turn: both ways in one call. A caller's offer says it takes mail back
// (bit 5); a callee that holds mail for the machine that called answers the
// End with EndAnswer number 1 instead of 0, and from then on the roles are
// switched -- the callee sends, the caller receives, with the same frames,
// checks, resume and journals, and a sealed call stays sealed on its one
// channel. Mail numbers go on counting from the caller's last.
//
//   caller                                          callee
//   End                                -------->
//                                     <-------      EndAnswer, number 1: mail comes back
//                                     <-------      Announce frame: a mail for the caller
//   Reply 'S'/'H'/'N'                  -------->    (then blocks, Acks, Naks as above,
//                                                    each way reversed) ... next mail
//                                     <-------      End
//   EndAnswer; the caller hangs up
//
// Only mail whose destination machine is the caller goes back, and only to
// a caller whose offer asked for it: a plain peer and an older build never
// see the turn. The caller must have proved its key: in a call without keys
// nothing goes back, since whoever called could have named any machine. The
// caller takes a mail back only when it comes from the machine it dialled
// (and its sender is of that machine), as a callee takes mail only from its
// caller, and at most as many as one call may file.
//
// The callee has no clock of its own inside the call (it works in its data
// events), so the caller keeps it: when nothing moved on for kResendAfterMs
// it sends EndAnswer number 1 again, and the callee sends again what is
// outstanding (the announce, the oldest block not acknowledged, or its End);
// an announce of the mail being received that comes again means the Reply
// was lost, and the Reply goes again. A caller whose callee makes no progress
// (a new mail, a block stored, a mail filed) for the "[OK]" limit hangs up.
// A mail leaves the callee's POST only after its last Ack (or a Reply 'H');
// a call broken in the turn leaves it there, and the caller's part file to
// go on from.
//
// Blocks travel as their payload only: the header of block 1 travels once and
// the receiver makes block k's header from it (blockNumber k, nothing else
// changed). A block whose header is not made that way (a writer elsewhere)
// travels whole. A payload whose tag (the attachment's name) is the block
// before's leaves it out, and no payload carries its trailing zeros:
//
//   Data 'D'   payload +0 .. +3575                    trailing zeros left out
//   Same 'S'   payload +0 .. +3519, then +3568 .. +3575 (tag as the block before),
//              trailing zeros left out The receiver writes blocks in order into the part file,
// keeping up to kWindow early ones in memory, and files the mail only when the
// digest of what it wrote is the announced one.
//
// Keys (link/secure.h). A caller that knows the key of the machine it dials
// calls it only with keys, and then the clear part of the call names no
// mail: its first announce is a hello announce -- the destination machine,
// the marker and the caller's MachID, an offer with no blocks and no digest,
// and the hello -- and the mail's own announce travels sealed once both
// machines have proved their keys:
//
//   hello announce (name, Owner zero; offer + hello) ------->
//                                     <-------      Reply 'A' + handshake reply (140)
//   Confirm (108)                      ------->      the caller's key proven
//   Announce frame, sealed: the mail's TransferAnnounce + offer (no hello)
//                                                   its MachID must be the prover's;
//                                                   then checked as any announce
//                                     <-------      Reply 'S'/'H'/'N' ... sealed
//   every frame from here on sealed, both ways
//
// Before its channel is open the caller takes nothing but the Reply 'A': a
// plain "[OK]", any other frame in the clear, or silence ends the call with
// the mail kept (a man in the middle cannot talk it down to a call without
// keys). The callee takes no mail before the Confirm, and in a framed call
// an announce it cannot take with frames (no offer, a second hello, another
// machine's) ends the call: nothing of it goes on plain.
//
// A sealed frame's payload is SecureSeal's output, with the frame's type, mail
// and number as additional data, so none of them can be changed either. A
// frame that fails to open ends the call: nothing more is taken from it, and
// the mail it was carrying is not filed.
//
// Resume: beside a part file "[~]" the receiver keeps "[#]" with the offer's
// digest and block count; an announce of the same name and digest is answered
// with the number of whole blocks the part file holds, and the sender goes on
// from the next one. Exactly once: a mail in the receiver's journal (or in
// POST already) is answered 'H' and the sender deletes its spool file.
//
// The switch: the setting LineProtocol "0" makes a machine plain only (no
// offer made, offers ignored).
#pragma once
#include <stdint.h>

#include "link/secure.h"
#include "store/format.h"
#include "store/journal.h"

// The offer in the announce's spare bytes.
constexpr int32_t kOfferOffset = 229;
constexpr char kOfferMagic[4] = {'V', 'L', 'X', 0x1A};
constexpr uint8_t kOfferVersion = 1;
constexpr uint8_t kCapFrames = 1, kCapResume = 2, kCapJournal = 4, kCapEnd = 8, kCapKeys = 16, kCapTurn = 32;
constexpr int32_t kOfferHelloAt = 42;
constexpr uint8_t kOwnCapabilities = kCapFrames | kCapResume | kCapJournal | kCapEnd | kCapTurn;

struct ExtendedOffer {
  uint8_t capabilities;
  int32_t totalBlocks;
  MailDigest digest;
  unsigned char hello[kHelloSize];  // with kCapKeys
};

// Frames.
constexpr uint8_t kFrameSync = 0xA5;
constexpr int32_t kFrameHeadBytes = 11;
constexpr int32_t kFrameCheckBytes = 4;
constexpr int32_t kFrameOverhead = kFrameHeadBytes + kFrameCheckBytes;
constexpr int32_t kFrameMaxPayload = kBlockSize + kSealOverhead;
constexpr int32_t kFrameMaxBytes = kFrameOverhead + kFrameMaxPayload;

enum FrameType : uint8_t {
  kFrameReply = 'R',     // receiver: answer to an offer; number = blocks held
  kFrameAnnounce = 'M',  // sender: the next mail's TransferAnnounce (512, scrambled)
  kFrameBlock = 'B',     // sender: block number, whole (4096)
  kFrameData = 'D',      // sender: block number's payload, trailing zeros left out
  kFrameSameTag = 'S',   // sender: the same without the tag, which is the block before's
  kFrameAck = 'A',       // receiver: blocks 1..number stored in order
  kFrameNak = 'K',       // receiver: block number damaged or missing, send it again
  kFrameEnd = 'E',       // sender: no more mail in this call
  kFrameEndAnswer = 'F', // receiver: end seen, hang up; number kTurnBack: mail comes back
  kFrameConfirm = 'C',   // sender: the handshake's confirm
};

// EndAnswer's number: the callee sends mail back in this call (see the turn).
constexpr uint32_t kTurnBack = 1;

// Reply payload (1 byte).
constexpr char kReplySend = 'S', kReplyHave = 'H', kReplyRefused = 'N';
constexpr char kReplyProve = 'A';  // followed by the handshake reply: prove your key

// Tunables.
constexpr int32_t kWindow = 8;               // blocks sent and not yet acknowledged
constexpr int32_t kStreamSliceMs = 10;       // the sender's pump while it streams
constexpr uint32_t kResendAfterMs = 5000;    // no ack that long: send the oldest block again
constexpr uint32_t kEndAnswerMs = 3000;      // how long the caller waits for the EndAnswer

// One frame as read from the line.
struct Frame {
  uint8_t type;
  uint8_t mail;
  uint32_t number;
  int32_t length;
  const char* payload;   // the reader's payload: valid until the next Take
};

// Gathers line bytes and cuts them into frames, whatever the library's
// splitting and whatever a noisy line did to them.
struct FrameReader {
  char bytes[2 * kFrameMaxBytes + kBlockSize];
  int32_t count;
  char payload[kFrameMaxPayload];  // the last frame's payload
};

enum class FrameRead { None, Frame, Damaged };

// Writes one frame into out (capacity kFrameMaxBytes); returns its length.
int32_t BuildFrame(uint8_t type, uint8_t mail, uint32_t number, const void* payload, int32_t length, char* out);
// Adds line bytes; false when they do not fit (the reader then starts afresh).
bool FrameReaderAdd(FrameReader& reader, const char* data, int32_t length);
// The next frame in the reader. Damaged: a frame whose header held but whose
// payload did not (type and number are filled in, nothing else).
FrameRead FrameReaderTake(FrameReader& reader, Frame& frame);

// The offer in an unscrambled TransferAnnounce (hello: null, or a hello to add).
void WriteOffer(TransferAnnounce& announce, int32_t totalBlocks, const MailDigest& digest, const unsigned char* hello);
bool ReadOffer(const TransferAnnounce& announce, ExtendedOffer& offer);

// Block k's header made from block 1's (both scrambled as stored).
void MakeBlockHeader(const char* firstHeader, int32_t k, char* header);
// A payload as a Data or Same frame carries it (see above): its bytes into
// out (kPayloadSize), their count, and the frame type.
int32_t PackPayload(const BlockPayload& payload, const char* tagBefore, char* out, uint8_t& type);
// The payload back from a frame of either type; false when it cannot be one.
bool UnpackPayload(uint8_t type, const char* packed, int32_t length, const char* tagBefore, BlockPayload& payload);

// The machine speaks the extended protocol (its LineProtocol setting is not "0").
bool ExtendedEnabled();

// A frame into out (kFrameMaxBytes), its payload sealed when the channel is
// open; its length, 0 when it could not be built.
int32_t SealFrame(SecureChannel& channel, uint8_t type, uint8_t mail, uint32_t number, const void* payload,
                  int32_t length, char* out);
// A frame out, sealed when the channel is open. False when the line did not
// take it (its queue is full) or it could not be built.
bool SendFrameOn(SecureChannel& channel, uint8_t type, uint8_t mail, uint32_t number, const void* payload,
                 int32_t length, char* scratch);
// A frame in: with the channel open its payload is opened into plain
// (kFrameMaxPayload) and the frame points there. False when it fails to open:
// the call is to end.
bool OpenFrameOn(SecureChannel& channel, Frame& frame, char* plain);

// The machine's key and the machines it knows, from the program folder.
// LoadOwnKey: null when the key is usable, else why not (a damaged key, or
// one others may read, is also shown on the status line). LoadKnown: a
// KnownLoad; a list that is refused (damaged, or writable by others) is
// empty and shown on the status line.
const char* LoadOwnKey(MachineKey& key);
int32_t LoadKnown(KnownMachines& known);
bool IsKnownMachine(const KnownMachines& known, const char* machineId);
// A machine id as a machine may hold one (1 to 22 of a-z 0-9, an
// international "+" before them): nothing else is looked up or compared.
bool IsValidMachineId(const char* id);
// A 24-byte machine slot from the line: a valid id, then zeros only.
bool IsValidMachineSlot(const char* slot, int32_t width);
// Two valid ids name the same machine: whole ids, equal but for one leading
// trunk "0" or "+" ("0401" is 401; "1" is not).
bool SameMachine(const char* a, const char* b);
// Machines that have once proved their key here: a plain call in their name
// is refused from then on (PINNED.TXT in the program folder).
bool IsPinned(const char* machineId);
void Pin(const char* machineId);
// Why an announce that no key stands behind is refused here: plain callers
// are not taken, its sender machine is no valid id, is listed in KNOWN.TXT
// or once proved a key here, or KNOWN.TXT itself is refused. Null when it
// is taken.
const char* UnauthenticatedRefusal(const TransferAnnounce& announce);

// --- the sending role (extended_sender.cpp) ---

struct ExtendedSend {
  int32_t offered;             // the announce on the line carries an offer
  int32_t keysOffered;         // the dialled machine is known: its answers count only sealed
  unsigned char hello[kHelloSize];
  char sealedAnnounce[kAnnounceSize];  // the mail's announce, for the channel once it is open
  int32_t total;               // blocks of the mail being sent
  int32_t callBroken;          // a handshake or a sealed frame failed: hang up
  SecureHandshake handshake;
  SecureChannel channel;
  char plain[kFrameMaxPayload];
  int32_t callFramed;          // this call speaks frames (the peer replied to an offer)
  uint8_t mail;                // the current mail's number in the call
  uint8_t pendingType;         // the block frame waiting for room on the line
  int32_t pendingLength;
  char pendingPayload[kBlockSize];
  int32_t replied;             // a Reply to the current announce arrived
  char replyStatus;            // kReplySend / kReplyHave / kReplyRefused
  int32_t held;                // Reply's number: blocks the peer holds
  int32_t acked;               // blocks acknowledged in order
  int32_t naks[kWindow];       // blocks asked for again, 0 = free slot
  int32_t refused;             // a Reply 'N' came during the stream
  int32_t next;                // the next block not sent yet
  int32_t pendingBlock;        // the block whose frame waits for room on the line, 0 none
  int32_t ending;              // the End went out: an EndAnswer may turn the call
  int32_t endAnswered;
  int32_t turned;              // caller: the roles switched, its bytes go to the receiving role
  // Sending back (the callee's side of the turn).
  int32_t backPhase;           // TurnPhase
  int32_t nudged;              // the caller asked again (EndAnswer kTurnBack): send what is outstanding
  char backPeer[kMachineSlotSize + 1];  // the machine that called, whose mail goes back
  char backLast[kPathSize];    // the name of the last spool file tried
  char backPath[kPathSize];    // the spool file going back now
  char backAnnounce[kAnnounceSize];     // its announce, scrambled
  MailDigest backDigest;
  FrameReader reader;
  char firstHeader[kHeaderSize];
  char frame[kFrameMaxBytes];
};

enum TurnPhase : int32_t {
  kTurnNone = 0,       // not sending back
  kTurnAnnounced,      // a mail's announce went out, its Reply is awaited
  kTurnStreaming,      // its blocks go
  kTurnEnded,          // nothing more: the End went out
};

// What became of a mail sent with frames.
enum class ExtendedOutcome { Sent, Left };

// The mail's chain size and digest go into the announce (when enabled). A
// machine listed in KNOWN.TXT is called only with keys: null when the call may
// go, else why it may not (this machine's key is damaged or others may read
// it, it speaks only the plain protocol, KNOWN.TXT is refused); the mail stays.
const char* OfferExtension(TransferAnnounce& announce, int32_t totalBlocks, const MailDigest& digest,
                           const char* machine);
// Sends the announce: as a frame in a framed call; in a call with keys, a
// hello announce that names no mail (the mail's own follows sealed); else as
// the plain record.
void SendAnnounceRecord(const char* announce, int32_t length);
// Bytes for the sending role; true when they were frames of this protocol.
bool ExtendedSenderData(const char* data, int32_t length);
// After an announce was answered: did the peer reply with a frame?
bool PeerRepliedExtended();
// After an announce went unanswered: what the status line adds when the call
// offered keys ("" otherwise).
const char* UnansweredKeyedCall();
// Streams the mail of spoolPath (totalBlocks blocks) as the Reply asked.
ExtendedOutcome SendMailExtended(const char* spoolPath, int32_t totalBlocks);
// Ends a framed call: End, a short wait for the EndAnswer, and when the
// callee turns the call, the mail it sends back. False when the call was not
// framed (the plain end follows).
bool EndFramedCall();
// The callee at the End of a caller that takes mail back: finds the first
// mail in POST for machine. False (nothing prepared) when there is none.
// Sending back has a work area of its own (LinkState::xback): a posting pass
// of this machine that waits between its calls keeps its own.
bool PrepareSendingBack(const char* machine);
// The callee, once its EndAnswer said so: takes over the call's channel
// (the receiving role's, emptied) and announces the first mail; mails go on
// counting after mail.
void StartSendingBack(SecureChannel& channel, uint8_t mail);
// Bytes for the callee while it sends back.
void SendingBackData(const char* data, int32_t length);
// The callee sends back no more (the call ended, or broke): the mail going
// back now stays in POST, and the log says why.
void StopSendingBack(const char* why);
// The call is over: sending back stops and its work area is emptied.
void ForgetSendingBack();
// The spool file at spoolPath is the mail going back now.
bool SendsBack(const char* spoolPath);

// --- the receiving role (extended_receiver.cpp) ---

struct ExtendedReceive {
  int32_t callFramed;          // this call speaks frames (we replied to an offer)
  int32_t awaitingConfirm;     // a handshake reply went out: the caller's proof comes next
  int32_t callBroken;          // a handshake or a sealed frame failed: nothing more is taken
  int32_t takesBack;           // callee: the caller's offer takes mail back (kCapTurn)
  int32_t turned;              // callee: the roles switched, its bytes go to the sending role
  char calledMachine[kMachineSlotSize + 1];  // caller taking mail back: the machine it dialled
  int32_t endSeen;             // caller taking mail back: the callee's End came
  int32_t backMails;           // caller taking mail back: announces taken so far
  SecureHandshake handshake;
  SecureChannel channel;
  char plain[kFrameMaxPayload];
  uint8_t mail;                // the current mail's number in the call
  uint8_t announcedMail;       // the mail number of the announce being checked
  ExtendedOffer offer;
  int32_t finishedBlocks;      // blocks of the mail last filed in this call (for acks asked again)
  FrameReader reader;
  int32_t nakked;              // the block last asked for again
  char firstHeader[kHeaderSize];
  int32_t haveFirstHeader;
  char lastTag[sizeof(BlockPayload::tag)];  // the tag of the last block stored
  int32_t early[kWindow];      // block numbers kept in memory, 0 = free
  int32_t earlyLength[kWindow];
  uint8_t earlyType[kWindow];
  char earlyBytes[kWindow][kBlockSize];
  char frame[kFrameMaxBytes];
};

// The announce in the receive buffer is for this machine and opens a call
// with keys (an offer with a hello): answer with this machine's proof. It
// names no mail; the mail's announce follows sealed. False otherwise.
bool AcceptKeyedHello();
// The announce in the receive buffer passed the plain checks and carries an
// offer: reply and take the mail with frames. False when it carries none (or
// the machine is plain only): the plain protocol goes on.
bool AcceptExtended();
// Bytes of a framed call, between mails or during one.
void ExtendedReceiverData(const char* data, int32_t length);
// The caller, at an EndAnswer that turns the call: takes over the call's
// channel (the sending role's, emptied) to receive the mails of machine,
// which count on after mail.
void StartTakingBack(SecureChannel& channel, uint8_t mail, const char* machine);
// The caller: receives what the callee sends back, keeping the clock for
// both, until the callee's End, a broken call or silence for the "[OK]" limit.
void TakeMailBack();
// The carrier is gone: the next call starts plain.
void ForgetFramedCall();
