// accounts/writer.h -- the writer: composing, attaching, locking and posting.
//
// Principles of operation
//
// The writer (dialog 3000) turns what the user typed into a spool file in
// POST: one MailBlock with the header and the message (both scrambled), then
// one block per 3519-byte chunk of every attached file's compressed form
// (header scrambled, payload stored as it is). The name of the spool file is
// N, the encoding of sender and stamp, with "[=]" when MatchMachine finds the
// destination on this machine and "[@]" otherwise.
//
// Attaching does not touch the spool: each attached file is compressed by the
// unit library and cut into 3576-byte attachment payloads that are appended
// to the account's pending-attachment file POST\E (no suffix, so no delivery
// takes it); the last record of each file carries kFileEndMark, so that a
// reader can tell two files of one name apart. Send copies those records
// behind the message block and deletes the pending file; Exit with pending
// records asks first.
//
// A spool file is only ever written new: when another mail of the same
// sender already waits under this minute's stamp, the mail gets the next free
// stamp variant (the user is told) instead of being written after the other
// one. A spool file that cannot be written whole is removed again and the
// mail stays in the writer; success is reported only for a whole chain.
//
// The compose buffers are shared with the mailbox and the reader, which fill
// them before the writer opens (new mail, reply) and clear them afterwards.
#pragma once
#include <stdint.h>

#include "store/format.h"
#include "toolkit/window.h"

// Control ids of dialog 3000.
enum WriterControl : int32_t {
  kWriterStamp = 3002,
  kWriterSender = 3004,
  kWriterSubject = 3006,
  kWriterContact = 3008,
  kWriterDestination = 3009,
  kWriterText = 3010,
  kWriterAttach = 3012,
  kWriterLock = 3013,
  kWriterSend = 3014,
  kWriterExit = 3015
};

constexpr const char* kWriterTitle = "Velloran :: Writer";

struct ComposeBuffers {
  char stamp[18];        // PostedAtText form, taken when the writer opened
  char sender[48];       // account id "@" MachID
  char subject[48];      // empty, or "<RE:>" and the subject replied to
  char destination[48];  // empty, or the sender replied to
  char contactName[24];  // filled by the contact picker
};

struct WriterState {
  WindowRecord record;
  WindowContext context;
  char lockKey[16];
  uint32_t attachmentCount;   // files attached in this writer since the last post
  char pendingPath[256];      // POST "\" E
  MailBlock block;            // the block being written
  char chosenPath[256];
  char spoolPath[256];
  int32_t busy;               // 1 while Attach or Send runs
};

ComposeBuffers& Compose();
void ResetCompose();
WriterState& Writer();
void ResetWriter();

// Fills the compose buffers for a new mail of the open account: a fresh
// stamp and the sender address; subject and destination empty.
void PrepareCompose();

// Runs the writer over owner; returns 1 when it has closed.
int32_t OpenWriter(HWND owner, const WindowContext* context);
int32_t AttachFile();
int32_t LockMail();
int32_t PostMail();

// The pending-attachment file of the open account as whole records: the
// number of 3576-byte records it holds (0 when missing or empty).
int32_t PendingRecordCount(const char* pendingPath);
// The number of attached files those records make up.
int32_t PendingFileCount(const char* pendingPath);
