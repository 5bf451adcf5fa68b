// store/format.h -- the mail store: block and record layouts, names and paths.
//
// Principles of operation
//
// Every mail is a chain of 4096-byte MailBlocks. The first block carries the
// message, every further block one chunk of a compressed attachment; each
// block ends with the same 520-byte MailHeader (only blockNumber differs). A
// mail lives in exactly one file at a time: a spool file in POST while it
// waits, then a mail file in the recipient's account folder. Records are kept
// unscrambled in memory and scrambled (vlData) in files and on the line: the
// header always, the first block's payload too, attachment payloads never.
//
// Nothing in the store is ever decoded: a file is found again by encoding the
// same text and rebuilding its path. E is the encoded account id, N the encoded
// mail name (sender immediately followed by postedAt). A mail's identity is its
// sender and its stamp, so two mails of one sender must never share a stamp:
// ChooseFreeSpoolName gives a second mail of the same minute a stamp variant
// (one letter after the minute), and local delivery does the same when an
// account folder already holds a mail file of that name. Because the variant
// is in postedAt itself, every reader of the header (delivery, the link, the
// mailbox and reader) derives the same N from it.
//
// Store layout (all under the program folder; literal suffixes):
//
//   POST\N[=]          spool file, mail for an account of this machine
//   POST\N[@]          spool file, mail for another machine
//   POST\E             pending attachments of E's open writer (no suffix)
//   POST\N[u]          set aside by delivery: no such account here
//                      (set-aside suffixes hold no wildcard: the toolkit's
//                      existence tests match "?" and "*")
//   POST\N[!]          set aside by delivery: damaged chain
//   E[@]\              account folder
//   E[@]\E[@]          account file (one AccountRecord)
//   E[@]\E[=]          mailbox index (MailHeader entries)
//   E[@]\E[#]          contact book (ContactEntry records)
//   E[@]\N[=]          mail file
//   E[@]\N[~]          mail file while local delivery copies it
//
// Deliveries scan POST for "*[=]" and "*[@]"; local delivery takes an N "[u]"
// again once its account exists. Damaged chains are kept for a person to look
// at and are never taken again by a run.
//
// MailBlock, 4096 bytes
//   +0     3576  BlockPayload: the message (block 1) or an attachment chunk
//   +3576   520  MailHeader
//
// BlockPayload, 3576 bytes (message / attachment chunk)
//   +0     3519  content        message text (<= 3518 chars) / file chunk (<= 3519 bytes)
//   +3519     1  zero           zero; kFileEndMark on the last chunk of each
//                               file this system's writer attaches
//   +3520    48  tag            "[MSG]" / the attachment's file name
//   +3568     8  contentLength  decimal text
//
// MailHeader, 520 bytes (text slots, zero-terminated, zero-padded)
//   +0    8  marker           "[ML]"
//   +8   18  postedAt         "d/m/yyyy h:mm" (+ optional variant letter)
//   +26  48  sender           id@MachID
//   +74  24  onlineMachineId
//   +98  48  subject
//   +146 48  destination      id@machine
//   +194 24  contactName
//   +218 16  lockKey          empty: not locked
//   +234  9  blockNumber      "1" for the first block
//   +243  9  totalBlocks
//   +252  4  attachmentCount
//   +256  4  status           "[N]" / "[O]"
//   +260 260 zero
//
// Mailbox index: 520-byte MailHeader entries, each scrambled by itself; entry
// i at file position 1 + 520 (i - 1).
//
// TransferAnnounce, 512 bytes, scrambled as a whole
//   +0   137  name             N "[=]"
//   +137  24  destination machine
//   +161  12  marker           "[ML]"
//   +173  24  sender's MachID
//   +197  32  sender's Owner
//   +229 283  zero             (an extended sender's offer: link/extended.h)
//
// ContactEntry, 256 bytes, scrambled by itself
//   +0   32  ownerName
//   +32  48  address
//   +80  24  contactName
//   +104 152 zero
//
// AccountRecord, 512 bytes, scrambled as a whole
//   +0   24  accountId
//   +24  16  accountKey
//   +40  32  userName
//   +72   6  fixedZero        "0"
//   +78  48  encodedId        E
//   +126  4  accessMarker     "[-]"
//   +130 382 zero
//
// File positions are 1-based (pFileIO); the offsets above are 0-based.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "toolkit/text.h"

// --- sizes -------------------------------------------------------------------
constexpr int32_t kBlockSize = 4096;
constexpr int32_t kPayloadSize = 3576;
constexpr int32_t kHeaderSize = 520;
constexpr int32_t kContentSize = 3519;       // bytes of one attachment chunk
constexpr int32_t kMessageMaxLength = 3518;  // characters of a message text
constexpr int32_t kAnnounceSize = 512;
constexpr int32_t kContactSize = 256;
constexpr int32_t kAccountRecordSize = 512;
constexpr int32_t kPathSize = 256;           // every path buffer
constexpr int32_t kNameBufferSize = 256;     // encoding scratch buffer
constexpr int32_t kMaxIdLength = 22;         // account ids and machine IDs
constexpr int32_t kMachineSlotSize = 24;
// The longest chain this system can make or read: spool and mail files are
// addressed with signed 32-bit positions and sizes (pFileIO, pFileSize), and
// nothing tighter bounds a mail (each attachment packs to at most 256 MiB, but
// a mail may carry several). 524 287 blocks, just under 2 GiB.
constexpr int32_t kMaxMailBlocks = 0x7fffffff / kBlockSize;

// --- literal names -----------------------------------------------------------
constexpr const char* kSpoolFolderName = "POST";
constexpr const char* kLocalSuffix = "[=]";      // local spool file, mailbox index, mail file
constexpr const char* kRemoteSuffix = "[@]";     // remote spool file
constexpr const char* kFolderSuffix = "[@]";     // account folder and account file
constexpr const char* kMailboxSuffix = "[=]";
constexpr const char* kContactSuffix = "[#]";
constexpr const char* kUnknownAccountSuffix = "[u]";  // set aside: no such account
constexpr const char* kDamagedSuffix = "[!]";         // set aside: damaged chain
constexpr const char* kMailMarker = "[ML]";
constexpr const char* kMessageTag = "[MSG]";
constexpr const char* kStatusNew = "[N]";
constexpr const char* kStatusOpened = "[O]";
constexpr const char* kAccessMarker = "[-]";
// Where an attached file ends, in the byte after its last chunk's content,
// which readers of other systems never look at. Without it (mails from other
// writers) a file ends where the tag changes or a chunk is short, and two
// files of one name run together when the first fills its last chunk.
constexpr char kFileEndMark = 'E';
constexpr const char* kIdAlphabet = "abcdefghijklmnopqrstuvwxyz1234567890";
constexpr const char* kNameAlphabet = "abcdefghijklmnopqrstuvwxyz 1234567890";

// --- layouts -----------------------------------------------------------------
struct MailHeader {
  char marker[8];
  char postedAt[18];
  char sender[48];
  char onlineMachineId[24];
  char subject[48];
  char destination[48];
  char contactName[24];
  char lockKey[16];
  char blockNumber[9];
  char totalBlocks[9];
  char attachmentCount[4];
  char status[4];
  char zero[260];
};

// The payload of every block: the message of the first block, or one chunk of
// an attachment (tag = file name, contentLength = bytes of the chunk).
struct BlockPayload {
  char content[3519];
  char zero;
  char tag[48];
  char contentLength[8];
};

struct MailBlock {
  BlockPayload payload;
  MailHeader header;
};

struct TransferAnnounce {
  char name[137];
  char destinationMachine[24];
  char marker[12];
  char senderMachId[24];
  char senderOwner[32];
  char zero[283];
};

struct ContactEntry {
  char ownerName[32];
  char address[48];
  char contactName[24];
  char zero[152];
};

struct AccountRecord {
  char accountId[24];
  char accountKey[16];
  char userName[32];
  char fixedZero[6];
  char encodedId[48];
  char accessMarker[4];
  char zero[382];
};

static_assert(offsetof(MailHeader, postedAt) == 8);
static_assert(offsetof(MailHeader, sender) == 26);
static_assert(offsetof(MailHeader, onlineMachineId) == 74);
static_assert(offsetof(MailHeader, subject) == 98);
static_assert(offsetof(MailHeader, destination) == 146);
static_assert(offsetof(MailHeader, contactName) == 194);
static_assert(offsetof(MailHeader, lockKey) == 218);
static_assert(offsetof(MailHeader, blockNumber) == 234);
static_assert(offsetof(MailHeader, totalBlocks) == 243);
static_assert(offsetof(MailHeader, attachmentCount) == 252);
static_assert(offsetof(MailHeader, status) == 256);
static_assert(offsetof(MailHeader, zero) == 260);
static_assert(sizeof(MailHeader) == kHeaderSize);
static_assert(offsetof(BlockPayload, zero) == 3519);
static_assert(offsetof(BlockPayload, tag) == 3520);
static_assert(offsetof(BlockPayload, contentLength) == 3568);
static_assert(sizeof(BlockPayload) == kPayloadSize);
static_assert(offsetof(MailBlock, header) == 3576);
static_assert(sizeof(MailBlock) == kBlockSize);
static_assert(offsetof(TransferAnnounce, destinationMachine) == 137);
static_assert(offsetof(TransferAnnounce, marker) == 161);
static_assert(offsetof(TransferAnnounce, senderMachId) == 173);
static_assert(offsetof(TransferAnnounce, senderOwner) == 197);
static_assert(offsetof(TransferAnnounce, zero) == 229);
static_assert(sizeof(TransferAnnounce) == kAnnounceSize);
static_assert(offsetof(ContactEntry, address) == 32);
static_assert(offsetof(ContactEntry, contactName) == 80);
static_assert(offsetof(ContactEntry, zero) == 104);
static_assert(sizeof(ContactEntry) == kContactSize);
static_assert(offsetof(AccountRecord, accountKey) == 24);
static_assert(offsetof(AccountRecord, userName) == 40);
static_assert(offsetof(AccountRecord, fixedZero) == 72);
static_assert(offsetof(AccountRecord, encodedId) == 78);
static_assert(offsetof(AccountRecord, accessMarker) == 126);
static_assert(offsetof(AccountRecord, zero) == 130);
static_assert(sizeof(AccountRecord) == kAccountRecordSize);

// 1-based file position of block k (k >= 1) of a mail file and of entry i of a
// mailbox index or contact book.
constexpr int32_t BlockPosition(int32_t k) { return 1 + kBlockSize * (k - 1); }
constexpr int32_t IndexEntryPosition(int32_t i) { return 1 + kHeaderSize * (i - 1); }
constexpr int32_t ContactPosition(int32_t i) { return 1 + kContactSize * (i - 1); }

// --- slots -------------------------------------------------------------------
// Files written by this system always terminate their texts inside the slot;
// files from elsewhere need not. Read every slot through SlotText, which can
// never run past the slot.
template <size_t N>
void SlotText(const char (&slot)[N], char (&out)[N + 1]) {
  pClrMem(out, N + 1);
  pCopyMem(slot, out, N);
}
// Clears the slot and stores at most N - 1 bytes of text.
template <size_t N>
void SetSlot(char (&slot)[N], const char* text) {
  pClrMem(slot, N);
  int32_t n = pLen(text);
  if (n > static_cast<int32_t>(N) - 1) n = static_cast<int32_t>(N) - 1;
  pCopyMem(text, slot, n);
}
// 1 when the slot holds exactly text (terminated inside the slot), else 0.
template <size_t N>
int32_t SlotEquals(const char (&slot)[N], const char* text) {
  char copy[N + 1];
  SlotText(slot, copy);
  return pCmp(copy, text);
}

// --- operations -----------------------------------------------------------------
// 1 when the candidate machine ID designates the reference machine: one
// leading "0" or "+" is dropped from each, then the candidate must be a
// non-empty suffix of the reference.
int32_t MatchMachine(const char* reference, const char* candidate);
// 1 when the file's last whole block is the last block of its mail. A size
// that is not a positive multiple of 4096 holds no such block and gives 0.
int32_t IsMailComplete(const char* path, int32_t size);
// folder = program folder "\" E "[@]", accountFile = folder "\" E "[@]"
// (only with the folder), E appended to encodedId; each output may be 0.
// Returns 1; 0 (outputs untouched) for an id that is empty, longer than 22
// characters, or would not fit a 256-byte path.
int32_t BuildAccountPaths(const char* id, char* folder, char* accountFile, char* encodedId);
// Appends id "@" machineId to output; returns 1.
int32_t BuildAddress(char* output, const char* id, const char* machineId);
// Appends the current local date and time as "d/m/yyyy h:mm"; returns 1.
int32_t PostedAtText(char* output);
// Appends text and blanks up to width characters to output; returns 1.
int32_t PadColumn(const char* text, char* output, int32_t width);

// The first three numbers of a text such as "7/12/2026" or "10:42:10", split
// at separator; other characters are passed over, a missing number is 0.
void SplitThreeNumbers(const char* text, char separator, int32_t (&parts)[3]);

// --- names and paths -------------------------------------------------------------
// Appends text to dest when the result keeps below capacity bytes (with its
// terminator); 1 when appended, 0 (dest untouched) otherwise.
int32_t AppendBounded(const char* text, char* dest, int32_t capacity);
// Clears out (256 bytes) and writes the encoding of text (2 x length
// characters). 0 and an empty out for an empty text or one over 127 characters.
int32_t EncodeName(const char* text, char* out);
// N: the encoding of sender followed by postedAt, into out (256 bytes).
int32_t BuildMailName(const char* sender, const char* postedAt, char* out);
// path = folder "\" N(sender, postedAt) suffix, cleared first; 0 when too long.
int32_t BuildMailPath(const char* folder, const char* sender, const char* postedAt, const char* suffix,
                      char* path);
// The text before the first "@" / after the last "@", into out (cleared,
// capacity bytes). 0 and an empty out when there is no "@", the part is empty
// or it does not fit.
int32_t AddressUserPart(const char* address, char* out, int32_t capacity);
int32_t AddressMachinePart(const char* address, char* out, int32_t capacity);

// Stamp variants keep mails of one sender and one minute apart. Variant 0 is
// the stamp itself; variant v (1..kStampVariants) appends the letter 'a' + v - 1
// to the minute ("7/12/2026 9:05" -> "7/12/2026 9:05b"). out holds 18 bytes.
constexpr int32_t kStampVariants = 26;
int32_t StampVariant(const char* stamp, int32_t variant, char* out);
// The stamp without any variant letter (the minute it was taken in).
int32_t StampBase(const char* stamp, char* out);

// For the writer: picks the spool path for a mail of sender stamped postedAt
// that no spool file holds yet under either suffix, so a mail is never written
// over or after another one. postedAt is an 18-byte slot: it receives the
// stamp variant chosen. Returns 1 when the stamp was free as it was, 2 when
// postedAt was changed to a variant (tell the user), 0 when every variant of
// that minute is taken (spoolPath empty: post again in a minute).
int32_t ChooseFreeSpoolName(const char* sender, char* postedAt, const char* suffix, char* spoolPath);

// Reads the block at position into block (cleared first) and unscrambles its
// header; the payload stays as stored. Returns the bytes read.
int32_t ReadBlockHeader(const char* path, int32_t position, MailBlock& block);
// 1 when the header opens a mail: marker exactly "[ML]", blockNumber exactly "1".
int32_t IsFirstBlock(const MailHeader& header);
// The slot read as decimal text, or -1 when it is not 1 to 9 plain digits.
int32_t SlotNumber(const char* slot, int32_t width);
