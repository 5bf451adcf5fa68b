// accounts/contacts.h -- the contact book and its picker.
//
// Principles of operation
//
// Every account keeps a contact book, account folder "\" E "[#]": 256-byte
// ContactEntry records, each scrambled by itself, only ever appended. The
// reader's Add appends the sender of the mail being read under an owner name
// the user types (one entry per exact address); the writer's Contact runs the
// picker (dialog 20000), a sorted list of owner names whose rows carry the
// 1-based file position of their entry, and hands back the picked address.
//
// The book is taken as whole entries only: a trailing part of an entry (a
// damaged or foreign file) is neither listed nor left between two entries, the
// next entry is written over it. A position coming back from the list is used
// only when it is the start of a whole entry of the book; Enter with no row
// selected does nothing.
//
// vlContactLoader is exported by the executable with C linkage; although
// exported, it works on the open account and on the writer's compose buffers.
#pragma once
#include <stdint.h>

#include "accounts/mail_common.h"
#include "store/format.h"
#include "toolkit/export.h"
#include "toolkit/window.h"

constexpr int32_t kPickerList = 20001;
constexpr int32_t kPickerPick = 20002;
constexpr const char* kPickerTitle = "Velloran :: Contact";

struct ContactState {
  WindowRecord record;       // the picker's own
  WindowContext context;     // copy of the caller's
  WindowRecord owner;        // copy of the caller's record
  char result[256];
  TkEnterFilter filter;    // list 20001 and the armed flag of its filter
  int32_t position;          // the chosen entry, 1-based; shared with Add
  ContactEntry entry;
};

ContactState& Contacts();
void ResetContacts();

// Reader button Add: appends the sender of the mail being read; always 1.
int32_t AddSenderToContacts();

// Number of whole entries in the open account's contact book (0 when the
// book is missing or empty).
int32_t ContactCount();

VL_EXPORT int32_t vlContactLoader(char* out, const WindowContext* windowContext, const WindowRecord* ownerRecord);
