// The account file reader: bob's account file holds any bytes. Bob logs in
// with key "secret" from the console's fields, logs out of the mailbox, and
// the account is removed with the machine's Control Key.
//
// Invariants after every input:
//  - the login opens the mailbox exactly when the record read (a short file
//    read as zeros after its end) carries the access marker and the key, and
//    then the open account names bob's own files whatever the record says;
//  - the login writes nothing;
//  - the removal deletes only within bob's folder, and a unit file it
//    stores counts the account folders left;
//  - the other account, its files and POST are untouched, nothing is written
//    outside the machine folder.
#include "accounts/accounts.h"
#include "config/config.h"
#include "fuzz/mail_session.h"

using namespace fuzz;

namespace {

std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return text;
}

void AnswerPrompt(const std::string& answer) {
  headless::onDialog(kPromptDialogId, [answer](HWND prompt) {
    int32_t edit = kPromptTextEditId;
    for (int32_t id : {kPromptTextEditId, kPromptDigitEditId, kPromptKeyEditId})
      if (headless::visible(prompt, id)) edit = id;
    headless::type(prompt, edit, answer);
    headless::updateUiState(prompt);  // arms the Enter-key filter
    headless::keyPress(prompt, edit, VK_RETURN);
  });
}

bool OpensWith(Bytes record) {
  record.resize(kAccountRecordSize, 0);
  const size_t read = std::min<size_t>(record.size(), kAccountRecordSize);
  vlData(-1, record.data(), int32_t(read));
  return Folded(storebytes::TextAt(record, 126, 4)) == "[-]" && Folded(storebytes::TextAt(record, 24, 16)) == "secret";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  mailtest::MailDesk desk;
  mailtest::MailMachine& m = desk.machine;
  Config().unit.SetText(UnitField::ControlKey, "ctrlkey");
  m.MakeAccount("carl");
  m.MakeAccount("bob");
  const mailtest::BlockText mail;
  FileBobsMail(m, mail);
  WriteFile(m.AccountFile("bob"), data, size);
  const Tree before = Snapshot(m.Root());

  // Login.
  headless::type(desk.console, kConsoleIdField, "Bob");
  headless::type(desk.console, kConsoleKeyField, "SECRET");
  headless::settle();
  AnswerPrompt("secret");
  bool opened = false;
  std::string folder, file, book, id, encoded;
  headless::onDialog(kMailboxDialog, [&](HWND mailbox) {
    opened = true;
    const ActiveAccountState& a = ActiveAccount();
    folder = a.accountFolder;
    file = a.accountFile;
    book = a.contactBookPath;
    id = storebytes::TextAt(Bytes(a.record.accountId, a.record.accountId + 24), 0, 24);
    encoded = storebytes::TextAt(Bytes(a.record.encodedId, a.record.encodedId + 48), 0, 48);
    headless::click(mailbox, kMailboxLogout);
  });
  OpenAccount(desk.console, &desk.context);
  const bool expected = size > 0 && OpensWith(Bytes(data, data + size));
  Trace(std::string("login ") + (opened ? "opened" : "refused"));
  FUZZ_CHECK(opened == expected, opened ? "opened" : "not opened");
  if (opened) {
    FUZZ_CHECK(folder == storebytes::Classic(m.AccountFolder("bob")), folder);
    FUZZ_CHECK(file == storebytes::Classic(m.AccountFile("bob")), file);
    FUZZ_CHECK(book == storebytes::Classic(m.ContactBook("bob")), book);
    FUZZ_CHECK(id == "bob" && encoded == storebytes::Encoded("bob"), id + " " + encoded);
  }
  FUZZ_CHECK(Snapshot(m.Root()) == before, "the login wrote:" + Difference(before, Snapshot(m.Root())));

  // Removal.
  headless::type(desk.console, kConsoleIdField, "bob");
  headless::type(desk.console, kConsoleKeyField, "ctrlkey");
  headless::settle();
  AnswerPrompt("ctrlkey");
  headless::answerBox(IDYES);
  RemoveAccount();
  const Tree after = Snapshot(m.Root());
  const std::string bobs = fs::relative(m.AccountFolder("bob"), m.Root()).string();
  for (const auto& [name, bytes] : before) {
    if (name.rfind(bobs, 0) == 0) continue;
    FUZZ_CHECK(after.count(name) && after.at(name) == bytes, name + " was touched by the removal");
  }
  Trace(std::string("removal ") + (fs::exists(m.AccountFolder("bob")) ? "kept bob's folder" : "removed bob's folder"));
  size_t folders = 0;
  for (const auto& [name, bytes] : after) {
    if (name == "VL.INI") continue;
    FUZZ_CHECK(before.count(name) && before.at(name) == bytes, name + " was made by the removal");
    if (name.size() > 4 && name.compare(name.size() - 4, 4, "[@]/") == 0 && name.find('/') == name.size() - 1)
      ++folders;
  }
  if (after.count("VL.INI")) {
    Bytes unit = after.at("VL.INI");
    unit.resize(kRecordSize, 0);
    vlData(-1, unit.data(), kRecordSize);
    FUZZ_CHECK(storebytes::TextAt(unit, 138, 6) == std::to_string(folders),
               "account count " + storebytes::TextAt(unit, 138, 6) + " for " + std::to_string(folders) + " folders");
  }
  CheckOutside({m.Root()});
  return 0;
}
