// link/link.h -- the modem link and the remote transfer protocol.
//
// Principles of operation
//
// The link is a modem on a serial port, reached only through the
// communication library (platform/comm.h). ToggleLink opens the port and
// initialises the modem ("AT" + Set CMD + Initialization CMD), or closes it.
// DialMachine switches the modem's own answering off ("ATS0=0"), dials
// "AT" + Dial + machine ID and looks for the carrier every 2 s for 70 s.
// HangUp ends a call this machine dialled by closing and reopening the port.
// WaitForOk waits in 50 ms slices for the peer's "[OK]".
//
// The line must never stay blocked. Every outgoing attempt, however it ends,
// leaves the modem answering again (its initialisation command). Two machines
// with mail for each other must not dial each other in step for ever: a dial
// gives way to a caller whose ring is pending, ends its wait when a ring or a
// carrier drop shows that it failed, and after a failed dial the next one
// waits a random part of a tick. A wait for "[OK]" ends when the carrier goes;
// an incoming call that carries nothing for 75 s is hung up; a carrier found
// on when the port opens is no call and holds nothing back (WatchLine).
//
// The library reports line changes and received bytes to OnLinkEvent, always
// on the interface thread and only while the program pumps messages
// (pDoEvent). The handler only sets flags and, for a receiver, stores data;
// the waiting loops poll those flags. The carrier decides the call state: a
// carrier makes the call incoming (-1) until the dialling DialMachine claims
// it as outgoing (1); its loss ends the call for both roles at once.
//
// One call carries mails in one direction, mail after mail:
//
//   sender                                         receiver
//   TransferAnnounce (512, scrambled)  ------->    accepted when addressed here
//                                     <-------    "[OK]"        (else silence)
//   MailBlock 1 (4096, as spooled)     ------->    stored, read back
//                                     <-------    "[OK]"
//   ...  MailBlock totalBlocks         ------->    last block: mail complete
//                                     <-------    "[OK]"
//   (next mail's announce ... )
//   "[END]"                            ------->    ignored
//   hang-up after 7 s                             carrier drop ends the call
//
// Each wait for "[OK]" lasts at most 75 s; one block is in flight at a time.
// Between two machines of this system the announce carries an offer in its
// spare bytes, and a Reply to it turns the rest of the call into the framed
// exchange of link/extended.h (which can also carry the callee's mail back in
// the same call); a peer that answers "[OK]" gets exactly the exchange above.
//
// The sending role (DeliverRemoteMails) and the receiving role (OnLinkEvent,
// data while the call is incoming) keep separate transfer states and work
// areas, so a posting pass that runs while a call comes in never disturbs a
// mail being received.
//
// The receiver trusts nothing from the line: an announce must be exactly one
// 512-byte record whose name is an encoded mail name ending in "[=]" and
// whose slots are terminated; block data is gathered in a 4096-byte buffer
// and anything that would overrun it ends the mail unanswered. Each accepted
// mail is written to a part file ("[~]" in place of "[=]") that starts empty
// and becomes the spool file only when its last block is stored, so local
// delivery never meets a half-received or stale file under the mail's name.
//
// A mail is filed once and never over another one. When its last block is
// stored, the digest of its chain is looked up in the receiver's journal
// (store/journal.h): a mail received before is answered but not filed again.
// A spool file of the same name holding another chain keeps its place; the
// new mail takes the next free stamp variant in every header. What a call may
// cost is bounded (ReceiveLimits): no chain longer than the longest mail this
// system makes, never below a margin of free space, and a part file that no
// call has added to for a day is removed. Every refusal shows on the status
// line; the sender, unanswered, keeps its mail.
#pragma once
#include <stdint.h>

#include "link/extended.h"
#include "link/routes.h"
#include "store/format.h"
#include "store/journal.h"


// Pauses and limits of the protocol, in milliseconds.
constexpr int32_t kLinkSettleMs = 150;       // after opening, initialising, closing
constexpr uint32_t kCarrierLimitMs = 70000;  // dial: how long to look for the carrier
constexpr int32_t kCarrierLookMs = 2000;     // dial: one look every 2 s
constexpr int32_t kOkSliceMs = 50;           // WaitForOk's pump slice
constexpr uint32_t kOkLimitMs = 75000;       // every wait for "[OK]"
constexpr int32_t kBlockPauseMs = 150;       // before every block, every file
constexpr int32_t kEndPauseMs = 7000;        // after "[END]" before the hang-up
// Keeping calls from blocking each other (see LineWatch).
constexpr uint32_t kRetrySpreadMs = 15000;   // after a failed dial: a random part of a tick
constexpr int32_t kRingLookMs = 250;         // how often a waiting dial looks at the line
constexpr int32_t kIncomingCallWaits = 6;    // calls coming in that one pass waits out, each
                                             // for at most the "[OK]" limit
constexpr uint32_t kRingPendingMs = 6000;    // a ring this recent means a caller is still there

// Message lengths on the line besides the store's records (TransferAnnounce,
// MailBlock).
constexpr int32_t kOkBytes = 4;    // "[OK]", no terminator
constexpr int32_t kEndBytes = 5;   // "[END]", no terminator

constexpr int32_t kCommandBufferSize = 4100;
constexpr int32_t kFoundNameSize = 260;      // pFileFind fills 260 bytes

// The receiver role's transfer state.
enum ReceivePhase : int32_t {
  kReceiveIdle = 0,       // waiting for an announce
  kReceiveMail = 1,       // storing the blocks of an accepted mail
  kReceiveRefused = -1,   // the line broke the protocol: nothing more until the carrier drops
};

// Why a mail stays in POST after a posting pass (SendWork::snag). The first
// three never pass: such a mail goes back to its sender at once. The others
// may, and are tried at every pass until the mail is kGiveUpDays old.
enum SendSnag : int32_t {
  kSnagNone = 0,
  kSnagNoMachine,     // its address names no machine ("bob@", "bob")
  kSnagLongMachine,   // a machine ID longer than 23 characters
  kSnagLongName,      // sender and stamp too long for the announce's name
  kSnagNoCall,        // no call was made for it (its chain does not start with a first block)
  kSnagModem,         // the modem is not ready
  kSnagNoCarrier,     // the dial found no carrier
  kSnagIncoming,      // a call came in
  kSnagOtherCall,     // a call to another machine is up: it waits for its own
  kSnagNotAnswered,   // the announce was not answered
  kSnagRefused,       // the receiver refused it
  kSnagKeys,          // the secured call failed
  kSnagCallEnded,     // the call ended under it
  kSnagNoAck,         // a block was not acknowledged
  kSnagNoKeys,        // its machine is known here, and this machine cannot call it with keys
  kSnagRelayPlain,    // it goes through a hub or comes from one, and the call could not be extended
  kSnagWaitsRetry,    // its machine failed a try a short while ago: it waits for its next try
  kSendSnags
};
// A remote mail still in POST this many days after it was posted goes back
// to its sender at its next failed attempt.
constexpr int32_t kGiveUpDays = 3;

// The sending role: one posting pass.
struct SendWork {
  int32_t state;                         // transfer state: 0 idle, 1 mail in transfer, -1 mail for another machine
  int32_t firstScan;
  char foundName[kFoundNameSize];
  char spoolPath[kPathSize];
  uint32_t readPosition;                 // 1-based
  uint32_t spoolSize;
  char block[kBlockSize];
  char destinationMachine[kMachineSlotSize];
  RelayPlan relay;                       // the machine dialled for it, and what it says of a relay
  char announce[kAnnounceSize];
  MailDigest chainDigest;                // of the whole chain, taken before it is announced
  MailHeader firstHeader;                // the current mail's, unscrambled (for the log and its report)
  int32_t snag;                          // SendSnag of the current mail
  int32_t callWaitsLeft;                 // calls coming in that this pass may still wait out
  // What the pass did so far, for its end message.
  int32_t sent;
  int32_t returned;                      // given back to their senders as reports
  int32_t dropped;                       // undeliverable reports
  int32_t kept[kSendSnags];              // left in POST, by SendSnag
};

// The receiving role: one mail, kept from one data event to the next.
struct ReceiveWork {
  int32_t state;                         // ReceivePhase
  char announce[kAnnounceSize];
  char spoolPath[kPathSize];             // POST\<name>[=], the finished mail
  char partPath[kPathSize];              // POST\<name>[~], the mail while it arrives
  uint32_t writePosition;                // 1-based, next block's place in the part file
  int32_t blockBytes;                    // bytes gathered of the current block
  int32_t expectedBlock;                 // blockNumber the next block must carry
  char block[kBlockSize];                // the current block as it arrives
  char readBack[kBlockSize];             // the stored block read back
  int32_t totalBlocks;                   // totalBlocks of the first block: every block must carry it
  DigestWork digest;                     // over the blocks stored so far
};

// What one incoming mail may cost this machine. Tests may tighten them.
struct ReceiveLimits {
  int32_t maxBlocks = kMaxMailBlocks;               // longest chain taken
  int64_t freeMarginBytes = int64_t(32) << 20;     // free space of the program folder never given up
  int32_t partLifeSeconds = 24 * 60 * 60;          // a part file nobody added to for this long goes
  int32_t mailsPerCall = 256;                       // mails one call may file (each costs a journal entry)
};

// What keeps the line from being blocked for good: by the modem's answering
// left off after an outgoing attempt, by two machines that dial each other in
// step, by a caller that never speaks, or by a carrier without a call.
struct LineWatch {
  int32_t answeringOff;                  // "ATS0=0" is in force: the modem answers no call
  int32_t dialling;                      // DialMachine is waiting for the carrier
  char lastFailedDial[kMachineSlotSize]; // the machine the last dial found no carrier at (empty: it connected)
  uint32_t rings;                        // RNG-on reports so far
  uint32_t ringAt;                       // clock at the last of them
  uint32_t carrierDrops;                 // carrier-off reports so far
  uint32_t quietSince;                   // clock at carrier on or at our last message on the line
  int32_t strayCarrier;                  // a carrier was there when the port opened: no call
  int32_t reopening;                     // a hang-up opens the port again (no box if it fails)
};

// Tries again by itself. A destination whose dial found it busy or without
// carrier, or whose call broke, gets its own next try after a random delay
// that grows with each failure in a row: base 5 s, 7.5 s, 11.25 s ... (half
// as much again each time; the delay is base to twice base), never beyond
// the courier interval. Its other mails
// wait for that try instead of dialling it again in the same pass, so one
// unreachable machine holds up no other, and machines whose clocks run in
// step fall out of step. After kRetryTries failures in a row it waits for the
// next courier pass or the next request (a Send, `vlpost --call`), which
// starts a new round of tries.
constexpr uint32_t kRetryFirstMs = 5000;
constexpr int32_t kRetryTries = 12;
constexpr int32_t kRetrySlots = 64;

struct RetryEntry {
  char machine[kMachineSlotSize];        // empty: a free slot
  int32_t failures;                      // failed tries in a row
  int32_t waiting;                       // 1: a try by itself is due at dueAt
  uint32_t dueAt;                        // on pTiming's clock
};

struct RetryTable {
  RetryEntry entries[kRetrySlots];
  uint32_t passStart;                    // clock at the start of the pass under way
};

// The whole link state; zero at start-up and after ResetLink.
struct LinkState {
  int32_t online;                        // the port is open
  intptr_t portHandle;                   // from ruk_pbx_Open; 0 = none
  int32_t modemReady;                    // the modem took the initialisation command
  int32_t cts, dsr, rng, cd;             // last reported line states
  int32_t lineBusy;                      // 1 from carrier on to carrier off
  int32_t callState;                     // -1 incoming, 0 none, 1 outgoing
  int32_t okFlag;                        // -1 waiting, 1 "[OK]" arrived, 0 otherwise
  char connectedMachine[kMachineSlotSize];
  char command[kCommandBufferSize];      // the modem command being built
  char lineText[kCommandBufferSize];     // the last short message from the line, as text
  SendWork send;
  ReceiveWork receive;
  int32_t mailsThisCall;                 // mails the incoming call filed so far
  int32_t mailsToDeliver;                // a received mail was filed: local delivery is due
  ExtendedSend xsend;                    // the posting pass's frames (link/extended.h)
  ExtendedSend xback;                    // the frames of mail sent back in a call this machine answered
  ExtendedReceive xreceive;              // the receiving role's frames
  LineWatch watch;
  RetryTable retries;
};

LinkState& Link();
void ResetLink();

int32_t ToggleLink();
int32_t DialMachine(const char* machineId);
int32_t HangUp();
int32_t WaitForOk(uint32_t limitMs);
int32_t ClearCommandBuffers();
// The communication library's event handler (types 1-4 line changes, 5 data).
int32_t OnLinkEvent(int32_t type, int32_t state, const char* data, int32_t length);
int32_t DeliverRemoteMails();
// Removes the part files ("[~]") in POST that no call has added to for
// partLifeSeconds (at start-up, before every received mail, every pass).
// Returns how many went.
int32_t RemoveStaleParts();
ReceiveLimits& ReceiverLimits();
void ResetReceiverLimits();
// Run at every console tick, also while a call holds the line: hangs up an
// incoming call that has been silent for the "[OK]" limit, gives the modem its
// answering back when an outgoing attempt left it off, and keeps a carrier
// that has no call on the status line.
int32_t WatchLine();
int32_t AnnounceMail(const char* machineId, char* announce, int32_t length);
// 1 when a destination's next try by itself is due, or falls due within
// withinMs (the console's tick then starts a posting pass, whatever the
// courier setting; the pass dials after its first pause).
int32_t RetryDue(uint32_t withinMs = 0);
// Milliseconds until the earliest next try by itself (0: due now); -1 when
// no try waits.
int32_t NextTryIn();
// A pass asked for (Send, `vlpost --call`) tries every destination now and
// starts a new round of tries.
void ForgetRetries();
