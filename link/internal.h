// link/internal.h -- helpers shared by the link's own files (not for callers).
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "link/routes.h"
#include "store/format.h"
#include "store/journal.h"

// Status line: a new message replaces the line, further pieces are appended.
void StatusNew(const char* text);
void StatusAdd(const char* text);
void StatusAddNumber(uint32_t value);
// Console progress bar 2024 at done of total (percent); 0 of 100 resets it.
void ShowProgress(int32_t done, int32_t total);

// Appends text to dest (capacity destSize, zero-terminated) as far as it fits.
void AppendText(const char* text, char* dest, int32_t destSize);
// Appends the text of a fixed slot, which may lack its terminator: at most
// slotWidth - 1 characters are taken.
void AppendSlot(const char* slot, int32_t slotWidth, char* dest, int32_t destSize);
// Length of the text in a slot; -1 when the slot holds no terminator.
int32_t SlotTextLength(const char* slot, int32_t slotWidth);
// A mail named for the log: "anna@401 to bob@402, 5 blocks", from the first
// block of the chain in mailPath; empty when that block cannot be read.
std::string DescribeMail(const char* mailPath);
// One log line naming a mail and what became of it ("sent", "received").
void LogMail(const char* what, const std::string& mail);
// A machine ID fits the 24-byte machine slots: 1 to 23 characters.
bool FitsMachineSlot(const char* machineId);

// Writes one whole protocol message to the line. False when the library did
// not take it (its transmit queue is full, or the port is gone).
bool SendToLine(const void* bytes, int32_t length);
// The carrier is gone: both roles return to idle.
void EndCallForBothRoles();
// A call came in and is connected, or its ring is still waiting for the modem.
bool CallComingIn();
// Event type 5: bytes received.
void OnLineData(const char* data, int32_t length);
// The names in POST ending in suffix, as the folder lists them now. Taken
// whole before anything is done with them: the toolkit has one file search,
// and whatever runs inside a later pause (a receiver clearing old part files,
// a pass) may start another; a file added meanwhile waits for the next run.
std::vector<std::string> ListSpoolFiles(const char* suffix);

// Sending, shared by the posting pass and the extended protocol's turn
// (sender.cpp). The announce of the mail whose first header (unscrambled) is
// given, for machine, unscrambled into a; false when its name does not fit.
bool MakeAnnounceRecord(const MailHeader& first, const char* machine, TransferAnnounce& a);
// The mail announced so (scrambled) has left: the sender's journal keeps its name.
void RememberSentMail(const char* scrambledAnnounce, const MailDigest& digest, int32_t blocks);
// A spool mail in POST that could go now: complete, whole, a first block
// first, its machine slot-sized.
struct SpoolMail {
  char path[kPathSize];
  MailBlock first;             // its header unscrambled
  int32_t total;               // blocks
  char machine[kPathSize];     // its destination's machine
  RelayPlan relay;             // relay.via: the machine its call goes to
};
// Reads the spool file name into mail; false when it holds no such mail.
bool ReadSpoolMail(const char* name, SpoolMail& mail);

// Receiving, shared by the plain and the extended protocol (receiver.cpp).
constexpr const char* kPartSuffix = "[~]";    // a mail still arriving
constexpr const char* kResumeSuffix = "[#]";  // what the part file beside it is a part of
// An announce from the line: checked, then taken plain or with frames (or,
// with keys, the handshake begun). False when it is not taken: not for this
// machine, not sound, refused, or in a framed call without its offer.
bool ReceiveAnnounce(const char* data, int32_t length);
// The line broke the protocol or the disk failed: nothing more of this mail
// is taken; the status line says why.
void RefuseReceive(const char* why);
// The program folder keeps its margin once the rest of a mail of total blocks,
// stored of them already, and its delivered copy are written.
bool RoomForMail(int32_t total, int32_t stored);
// Why no further mail of this call may be taken (the call has filed its
// share, or the journal of received mails is full); null when one may.
const char* RefusalOfMoreMail();
enum class KeptBlock { Stored, Last, Refused };
// Checks the block in the receive work against the mail, writes it at its
// place in the part file and reads it back.
KeptBlock KeepBlock();
// The part file holds the whole mail whose chain has this digest: file it
// (or drop it as a copy of a mail filed before) and remember it in the
// journal. False (and refused) when it could not be filed.
bool FileReceivedMail(const MailDigest& digest);

// The retry table (retry.cpp), as the posting pass keeps it.
void StartRetryRound();
// The machine's next try is not due yet: its mails wait for it.
bool RetryWaits(const char* machine);
// A try of the machine failed: its next one is scheduled (or, after
// kRetryTries, left to the next courier pass or request), and the status
// line says when. A machine that was not tried because a call came in
// (itFailed false) is due again at once.
void NoteTryFailed(const char* machine, bool itFailed);
// Mail for the machine waits and nothing holds it back (a relayed mail just
// arrived for it): a pass tries it at the first tick the line is free,
// whatever the courier setting.
void TryAtOnce(const char* machine);
// A mail reached the machine: it is tried like any other again.
void NoteReached(const char* machine);
// The machine called here: it answers calls again, so a try of it that
// waits is due at once, its failures forgotten.
void NoteHeardFrom(const char* machine);
// At the end of a pass: forgets the due tries it found nothing to carry for.
void EndRetryRound();
// The earliest next try (machine, 24 bytes; its clock time): false when none.
bool NextTry(char* machine, char* clock, int32_t size);
