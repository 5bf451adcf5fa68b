// store/journal.h -- journals of mails that crossed the line: name and digest.
//
// Principles of operation
//
// A mail's identity on the line is its name (N "[=]", as the announce carries
// it) *and* a digest of its whole chain (BLAKE2b-256 over every block as it
// travels: headers and the first payload scrambled). The name alone is not
// enough: two mails of one sender and minute share it. The digest alone is not
// enough either: it says nothing about where the mail is filed.
//
// The receiver's journal (RECEIVED.JNL in the program folder) remembers for
// kJournalKeepDays the mails this machine received completely. A mail that
// arrives again with the same name and the same digest -- its sender never
// heard the last "[OK]" and sent it once more -- is answered but not filed
// twice. The sender's journal (SENT.JNL) remembers the names of the mails this
// machine sent, so a new mail never leaves under the name of one that has
// already left (its spool file is gone, so the spool folder alone cannot
// tell). Both are bounded by age: entries older than kJournalKeepDays go,
// and no entry goes earlier, since its sender may resend the mail until
// then. A journal that holds kJournalCapacity entries (16 MiB) takes no more:
// the receiver then refuses new mail rather than forget an old one, and one
// call may file no more than ReceiveLimits' mailsPerCall, so a single caller
// cannot fill it in one go.
//
// Every access opens, reads the whole file and checks it before trusting a
// byte of it: the head's digest must cover the entries exactly, every slot
// must be terminated. A damaged journal answers "not known" (a mail is then
// filed rather than dropped: a copy too many is better than a mail lost), and
// the next write sets it aside as "[!]" and begins a fresh one. A change is
// written whole under the part name (journal name + "[~]") and renamed into
// place; a part that is whole and checks out stands for the journal when the
// program stopped between the two steps. So a kill at any instant leaves the
// old journal or the new one.
//
// Journal file: JournalHead, then JournalEntry records, oldest first.
//
// JournalHead, 64 bytes, scrambled as a whole
//   +0   16  marker   "[VL-JOURNAL]"
//   +16  32  digest   BLAKE2b-256 of every entry as stored (scrambled)
//   +48  16  zero
//
// JournalEntry, 256 bytes, scrambled by itself
//   +0  144  name     the mail's name as announced: N "[=]"
//   +144 32  digest   BLAKE2b-256 of the whole chain (raw bytes)
//   +176 12  day      decimal text: day of the entry, counted from 1/1/1970
//   +188 12  blocks   decimal text: totalBlocks of the chain
//   +200 56  zero
#pragma once
#include <stddef.h>
#include <stdint.h>

constexpr const char* kReceivedJournalName = "RECEIVED.JNL";
constexpr const char* kSentJournalName = "SENT.JNL";
constexpr const char* kJournalMarker = "[VL-JOURNAL]";
constexpr int32_t kJournalKeepDays = 30;
constexpr int32_t kJournalCapacity = 65536;
constexpr int32_t kDigestSize = 32;

struct JournalHead {
  char marker[16];
  unsigned char digest[32];
  char zero[16];
};

struct JournalEntry {
  char name[144];
  unsigned char digest[32];
  char day[12];
  char blocks[12];
  char zero[56];
};

static_assert(offsetof(JournalHead, digest) == 16);
static_assert(offsetof(JournalHead, zero) == 48);
static_assert(sizeof(JournalHead) == 64);
static_assert(offsetof(JournalEntry, digest) == 144);
static_assert(offsetof(JournalEntry, day) == 176);
static_assert(offsetof(JournalEntry, blocks) == 188);
static_assert(offsetof(JournalEntry, zero) == 200);
static_assert(sizeof(JournalEntry) == 256);

struct MailDigest {
  unsigned char bytes[kDigestSize];
};

// A digest being built over a chain block by block: the hash library's state,
// opaque here so that only journal.cpp sees the library.
struct DigestWork {
  alignas(64) unsigned char state[384];
};

void DigestStart(DigestWork& work);
void DigestAdd(DigestWork& work, const void* bytes, int32_t length);
void DigestFinish(DigestWork& work, MailDigest& digest);
// The digest of a whole file; 0 when it cannot be read whole.
int32_t DigestFile(const char* path, MailDigest& digest);
int32_t SameDigest(const MailDigest& a, const MailDigest& b);

// Answers of a lookup.
enum JournalAnswer : int32_t {
  kJournalUnknown = 0,   // not in the journal
  kJournalKnown = 1,     // in the journal
  kJournalDamaged = -1,  // the journal cannot be trusted: nothing is known
};

// Results of a change.
enum JournalWrite : int32_t {
  kJournalNotWritten = 0,
  kJournalWritten = 1,
  kJournalRenewed = 2,   // a damaged journal was set aside as "[!]"; a fresh one holds the change
  kJournalFull = -2,     // it holds kJournalCapacity entries that have not expired: not written
};

// path = program folder "\" fileName, cleared first; 0 when it does not fit.
int32_t BuildJournalPath(const char* fileName, char* path);
// Today, counted in days from 1/1/1970 by the local date.
int32_t JournalToday();

// Is the mail of this name and digest in the journal?
int32_t JournalLookup(const char* path, const char* name, const MailDigest& digest);
// Is any mail of this name in the journal?
int32_t JournalHasName(const char* path, const char* name);
// Can one more mail be recorded today (kJournalCapacity not reached by the
// entries that have not expired)? A damaged or missing journal has room.
bool JournalHasRoom(const char* path, int32_t today);
// Adds the mail as of day today, after dropping what has expired by then.
int32_t JournalRecord(const char* path, const char* name, const MailDigest& digest, int32_t blocks, int32_t today);
// Drops the entries older than kJournalKeepDays days at today.
int32_t JournalExpire(const char* path, int32_t today);
