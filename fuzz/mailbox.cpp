// The mailbox index reader: bob logs in over an index of any bytes, the
// mailbox lists it, its first row is opened (one mail file of the fixtures'
// default name is there to be found) and bob logs out.
//
// Invariants after every session:
//  - the list shows no more rows than the index holds whole entries;
//  - the index keeps its size and changes at most the status slot of one
//    whole entry;
//  - the account file, the mail file and POST are untouched, and nothing is
//    written outside the machine folder.
#include "fuzz/mail_session.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mailtest::MailDesk desk;
  mailtest::MailMachine& m = desk.machine;
  m.MakeAccount("bob");
  const mailtest::BlockText mail;
  FileBobsMail(m, mail);
  WriteFile(m.MailboxIndex("bob"), data, size);
  const Tree before = Snapshot(m.Root());

  MailSession session;
  RunSession(desk, "bob", session);

  const Tree after = Snapshot(m.Root());
  const std::string index = fs::relative(m.MailboxIndex("bob"), m.Root()).string();
  Trace("rows " + std::to_string(session.rows) + ", index changed: " + (before.at(index) != after.at(index) ? "yes" : "no"));
  FUZZ_CHECK(session.rows <= size / kHeaderSize, std::to_string(session.rows) + " rows");
  CheckOnlyOneStatusChanged(before.at(index), after.at(index));
  Tree others = after;
  others[index] = before.at(index);
  FUZZ_CHECK(others == before, "the session changed:" + Difference(before, others));
  CheckOutside({m.Root()});
  return 0;
}
