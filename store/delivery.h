// store/delivery.h -- local delivery of complete "[=]" spool files.
//
// One run takes every complete local spool file in POST, one after the other
// in the order the folder lists them, copies its blocks byte for byte into a
// new mail file of the recipient's account folder, appends the first block's
// header to the account's mailbox index and deletes the spool file. Every
// block is preceded by a 150 ms pause that keeps the interface alive, so the
// link may add spool files meanwhile; IsMailComplete keeps a run off a file
// whose last block has not arrived.
//
// A run never loses a mail:
//   - the mail file is always a new file; when the account folder already
//     holds one of that name (same sender, same minute), the mail gets the
//     next stamp variant in every header it is written with;
//   - the index entry is appended only once every block is in the mail file,
//     and the spool file deleted only after that; a failed write removes the
//     half-written mail file and leaves the spool file for the next run;
//   - a mail for an account that does not exist here is set aside as
//     N "[u]", a damaged chain (wrong size, a size between blocks, blocks
//     out of order, not starting with a first block) as N "[!]"; no run
//     takes those again.
// The end message on the console's status line says what was set aside.
#pragma once
#include <stdint.h>

#include "store/format.h"

// Working state of one run, and what the last run did.
struct DeliveryState {
  char foundName[260];       // pFileFind fills 260 bytes
  char spoolPath[kPathSize];
  int32_t spoolSize;
  MailBlock block;
  MailHeader firstHeader;     // unscrambled header of block 1, as indexed
  char accountFolder[kPathSize];
  char accountFile[kPathSize];
  char indexPath[kPathSize];
  char mailPath[kPathSize];
  char recipient[kNameBufferSize];
  char stamp[sizeof(MailHeader::postedAt)];
  int32_t restamped;          // this mail got a stamp variant
  // Counts of the last run.
  int32_t delivered;
  int32_t renamed;
  int32_t unknownAccount;
  int32_t damaged;
  int32_t kept;
};

DeliveryState& Delivery();
void ResetDelivery();

int32_t DeliverLocalMails();
