// The contact book reader: bob's book holds any bytes. Bob opens a mail and
// adds its sender under the owner name "zed"; then the writer's picker lists
// the book and its first row is picked.
//
// Invariants after every input:
//  - Add writes one whole entry right after the last whole entry (a torn
//    tail is written over) holding the sender and "zed", or, when a whole
//    entry already holds that address, writes nothing; earlier entries stay;
//  - the picker lists only whole entries, each row carrying its entry's
//    position and owner name, and hands back exactly the picked entry's
//    address;
//  - nothing else changes, and nothing is written outside the machine folder.
#include "accounts/contacts.h"
#include "fuzz/mail_session.h"

using namespace fuzz;

namespace {

Bytes EntryAt(const Bytes& book, size_t i) {
  Bytes entry(book.begin() + long(i * kContactSize), book.begin() + long((i + 1) * kContactSize));
  vlData(-1, entry.data(), kContactSize);
  return entry;
}

void CheckAdd(const Bytes& before, const Bytes& after, const std::string& sender) {
  const size_t whole = before.size() / kContactSize;
  bool held = false;
  for (size_t i = 0; i < whole; ++i) held = held || storebytes::TextAt(EntryAt(before, i), 32, 48) == sender;
  if (held) {
    FUZZ_CHECK(after == before, "an address already held was added again");
    return;
  }
  FUZZ_CHECK(after.size() == (whole + 1) * kContactSize, "the book has " + std::to_string(after.size()) + " bytes");
  FUZZ_CHECK(std::equal(before.begin(), before.begin() + long(whole * kContactSize), after.begin()),
             "earlier entries changed");
  const Bytes added = EntryAt(after, whole);
  FUZZ_CHECK(storebytes::TextAt(added, 0, 32) == "zed", "owner name");
  FUZZ_CHECK(storebytes::TextAt(added, 32, 48) == sender, "address");
}

void CheckPicker(mailtest::MailDesk& desk, const Bytes& book) {
  desk.machine.OpenAs("bob");
  const size_t whole = book.size() / kContactSize;
  std::vector<headless::Row> rows;
  bool shown = false;
  headless::onDialog(res::kContactDialog, [&](HWND picker) {
    shown = true;
    rows = headless::rows(picker, kPickerList);
    if (rows.empty())
      headless::pressCloseBox(picker);
    else
      headless::doubleClick(picker, kPickerList, 0);
  });
  char out[256] = {};
  WindowRecord owner{};
  owner.handle = desk.console;
  const int32_t picked = vlContactLoader(out, &desk.context, &owner);
  FUZZ_CHECK(shown || whole == 0, "no picker over a book of entries");
  FUZZ_CHECK(rows.size() <= whole, std::to_string(rows.size()) + " rows");
  for (const headless::Row& row : rows) {
    const LPARAM position = row.data;
    FUZZ_CHECK(position >= 1 && (position - 1) % kContactSize == 0 && size_t(position - 1) / kContactSize < whole,
               "row position " + std::to_string(position));
  }
  Trace("picker " + std::string(shown ? "shown, " : "not shown, ") + std::to_string(rows.size()) + " rows, picked '" +
        out + "'");
  if (picked == 1) {
    FUZZ_CHECK(!rows.empty(), "picked from no row");
    const size_t i = size_t(rows[0].data - 1) / kContactSize;
    const std::string address = storebytes::TextAt(EntryAt(book, i), 32, 48);
    FUZZ_CHECK(std::string(out) == address, "picked '" + std::string(out) + "' for '" + address + "'");
  }
  ResetActiveAccount();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mailtest::MailDesk desk;
  mailtest::MailMachine& m = desk.machine;
  m.MakeAccount("bob");
  const mailtest::BlockText mail;
  FileBobsMail(m, mail);
  IndexBobsMail(m, mail);
  WriteFile(m.ContactBook("bob"), data, size);
  const Tree before = Snapshot(m.Root());
  const std::string book = fs::relative(m.ContactBook("bob"), m.Root()).string();
  const std::string index = fs::relative(m.MailboxIndex("bob"), m.Root()).string();

  MailSession session;
  session.addAs = "zed";
  RunSession(desk, "bob", session);
  Tree after = Snapshot(m.Root());
  CheckAdd(before.at(book), after.at(book), mail.sender);
  CheckOnlyOneStatusChanged(before.at(index), after.at(index));
  const Bytes added = after.at(book);
  Trace("book " + std::to_string(before.at(book).size()) + " -> " + std::to_string(added.size()) + " bytes");

  CheckPicker(desk, added);
  after = Snapshot(m.Root());
  FUZZ_CHECK(after.at(book) == added, "the picker changed the book");
  after[book] = before.at(book);
  after[index] = before.at(index);
  FUZZ_CHECK(after == before, "the session changed:" + Difference(before, after));
  CheckOutside({m.Root()});
  return 0;
}
