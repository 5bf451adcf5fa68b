// The contact book: Add from the reader, the picker in the writer.
#include <gtest/gtest.h>

#include "tests/accounts/mail_driver.h"

using namespace mailtest;

namespace {

constexpr int32_t M = 6000;
constexpr int32_t R = 7000;
constexpr int32_t W = 3000;
constexpr int32_t P = 20000;

Bytes Entry(const std::string& owner, const std::string& address, const std::string& contactName = "") {
  Bytes e(kContactSize, 0);
  PutText(e, 0, owner);
  PutText(e, 32, address);
  PutText(e, 80, contactName);
  vlData(1, e.data(), kContactSize);
  return e;
}

Bytes Unscrambled(const Bytes& book, int i) {
  Bytes e(book.begin() + (i - 1) * kContactSize, book.begin() + i * kContactSize);
  vlData(-1, e.data(), kContactSize);
  return e;
}

class ContactsTest : public ::testing::Test {
 protected:
  void SetUp() override { desk.machine.MakeAccount("bob"); }
  void MailFrom(const std::string& sender, const std::string& stamp) {
    BlockText t;
    t.sender = sender;
    t.postedAt = stamp;
    Deliver(desk.machine, "bob", t, MessageBlock(t, "hi"));
  }
  void Book(const std::vector<Bytes>& entries) {
    Bytes all;
    for (const Bytes& e : entries) all.insert(all.end(), e.begin(), e.end());
    WriteAll(desk.machine.ContactBook("bob"), all);
  }
  // Opens row 'row' of the mailbox and presses Add, answering the owner-name
  // prompt (nullptr: no prompt expected), with boxes scripted.
  Steps& Add(Steps& s, const std::string& sender, const char* owner, std::vector<int32_t> boxes = {}) {
    s.In(M, [sender](HWND d) {
       auto rows = headless::rows(d, kMailboxList);
       for (size_t i = 0; i < rows.size(); i++)
         if (rows[i].text.compare(0, sender.size() + 1, sender + " ") == 0) {
           headless::doubleClick(d, kMailboxList, static_cast<int32_t>(i));
           return;
         }
       ADD_FAILURE() << "no row of " << sender;
     }).Click(R, kReaderAdd);
    if (owner != nullptr) {
      if (pLen(owner) == 0) {
        s.In(kPromptDialogId, [boxes](HWND d) {
          for (int32_t b : boxes) headless::answerBox(b);
          headless::pressCloseBox(d);
        });
      } else {
        s.PromptAnswering(owner, boxes);
      }
    }
    return s.Click(R, kReaderExit);
  }
  std::vector<std::string> Owners() {
    std::vector<std::string> names;
    Bytes book = ReadAll(desk.machine.ContactBook("bob"));
    for (size_t i = 1; i * kContactSize <= book.size(); i++)
      names.push_back(TextAt(Unscrambled(book, static_cast<int>(i)), 0, 32));
    return names;
  }

  MailDesk desk;
};

TEST_F(ContactsTest, AddedSenderIsAppendedOnceAsWritten) {
  MailFrom("anna@0401", "1/1/2026 1:00");
  MailFrom("Anna@0401", "1/1/2026 2:00");
  Steps s;
  Add(s, "anna@0401", "Anna Smith 2");
  Add(s, "anna@0401", nullptr);  // same address again: only the status
  Add(s, "Anna@0401", "big anna");  // the other letter case is another address
  s.Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
  Bytes book = ReadAll(desk.machine.ContactBook("bob"));
  ASSERT_EQ(book.size(), 512u);
  Bytes first = Unscrambled(book, 1);
  EXPECT_EQ(TextAt(first, 0, 32), "anna smith 2");
  EXPECT_EQ(TextAt(first, 32, 48), "anna@0401");
  EXPECT_EQ(TextAt(first, 80, 24), "");
  for (size_t i = 104; i < 256; i++) ASSERT_EQ(first[i], 0) << i;
  EXPECT_EQ(TextAt(Unscrambled(book, 2), 32, 48), "Anna@0401");
  EXPECT_TRUE(Shown("Similar address exist in contact book"));
  EXPECT_TRUE(Shown("Scanning contact book for address occurence..."));
  EXPECT_TRUE(Shown("Address added to contact book"));
}

TEST_F(ContactsTest, OwnerNamesAreCheckedAndFolded) {
  struct Case {
    const char* owner;
    const char* stored;   // nullptr: refused
    const char* message;
  } cases[] = {{"ANNA", "anna", nullptr},
               {"anna 2", "anna 2", nullptr},
               {"anna-smith", nullptr, "Invalid character in address owner's name"},
               {"", nullptr, "Wrong entry in address owner's name. Re-enter."}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    fs::remove(desk.machine.ContactBook("bob"));
    fs::remove(desk.machine.MailboxIndex("bob"));
    MailFrom("anna@0401", "1/1/2026 1:00");
    Steps s;
    Add(s, "anna@0401", c.owner, c.message ? std::vector<int32_t>{IDOK} : std::vector<int32_t>{});
    s.Click(M, kMailboxLogout);
    desk.RunMailbox("bob", s);
    desk.ExpectCleanRun(s);
    if (c.stored) {
      EXPECT_EQ(Owners(), std::vector<std::string>{c.stored});
    } else {
      EXPECT_FALSE(fs::exists(desk.machine.ContactBook("bob")));
      EXPECT_EQ(desk.BoxTexts().back(), c.message);
    }
  }
}

TEST_F(ContactsTest, TornBookTailIsWrittenOverNotKept) {
  Bytes torn = Entry("zed", "zed@1");
  torn.resize(kContactSize + 100, 0x33);
  WriteAll(desk.machine.ContactBook("bob"), torn);
  MailFrom("anna@0401", "1/1/2026 1:00");
  Steps s;
  Add(s, "anna@0401", "anna").Click(M, kMailboxLogout);
  desk.RunMailbox("bob", s);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(ReadAll(desk.machine.ContactBook("bob")).size(), 512u);
  EXPECT_EQ(Owners(), (std::vector<std::string>{"zed", "anna"}));
}

class PickerTest : public ContactsTest {
 protected:
  void RunWriter(Steps& s) {
    desk.machine.OpenAs("bob");
    PrepareCompose();
    s.Start();
    OpenWriter(desk.console, &desk.context);
  }
};

TEST_F(PickerTest, RowsAreSortedOwnerNamesWithTheirPositions) {
  Book({Entry("carl", "carl@1"), Entry("anna", "anna@2"), Entry("bert", "bert@3")});
  ASSERT_EQ(ReadAll(desk.machine.ContactBook("bob")).size(), 768u);
  Steps s;
  s.Click(W, kWriterContact)
      .In(P, [](HWND d) {
        EXPECT_EQ(headless::rows(d, kPickerList),
                  (std::vector<headless::Row>{{"anna", 257}, {"bert", 513}, {"carl", 1}}));
        EXPECT_EQ(headless::text(d, 0), "Velloran :: Contact");
        headless::doubleClick(d, kPickerList, 1);
      })
      .In(W, [](HWND d) { EXPECT_EQ(headless::text(d, kWriterDestination), "bert@3"); })
      .Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
  EXPECT_STREQ(Compose().contactName, "");
}

TEST_F(PickerTest, CloseBoxAndEnterWithoutARowPickNothing) {
  Book({Entry("anna", "anna@2")});
  Steps s;
  s.In(W, [](HWND d) { headless::type(d, kWriterDestination, "typed@9"); })
      .Click(W, kWriterContact)
      .In(P, [](HWND d) {
        headless::keyUp(d, kPickerList, VK_RETURN);  // arms
        headless::keyUp(d, kPickerList, VK_RETURN);  // no row: nothing
      })
      .In(P, [](HWND d) { headless::pressCloseBox(d); })
      .In(W, [](HWND d) { EXPECT_EQ(headless::text(d, kWriterDestination), "typed@9"); })
      .Click(W, kWriterContact)
      .In(P, [](HWND d) {
        headless::selectRow(d, kPickerList, 0);
        headless::keyUp(d, kPickerList, VK_RETURN);  // arms
        headless::keyUp(d, kPickerList, VK_RETURN);  // picks the row
      })
      .In(W, [](HWND d) { EXPECT_EQ(headless::text(d, kWriterDestination), "anna@2"); })
      .Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
}

TEST_F(PickerTest, ContactNameOfThePickedEntryReplacesAnEarlierOne) {
  Book({Entry("anna", "anna@2", std::string(23, 'n')), Entry("bert", "bert@3", "b name")});
  Steps s;
  for (int row : {0, 0, 1}) {
    s.Click(W, kWriterContact).In(P, [row](HWND d) { headless::doubleClick(d, kPickerList, row); });
  }
  s.In(W, [](HWND d) {
     EXPECT_EQ(headless::text(d, kWriterDestination), "bert@3");
     EXPECT_STREQ(Compose().contactName, "b name");
     headless::type(d, kWriterSubject, "s");
     headless::answerBox(IDYES);
     headless::click(d, kWriterSend);
   }).Click(W, kWriterExit);
  RunWriter(s);
  desk.ExpectCleanRun(s);
  std::vector<std::string> names = desk.machine.SpoolNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(TextAt(HeaderOf(ReadAll(desk.machine.Spool() / names[0]), 1), 194, 24), "b name");
}

TEST_F(PickerTest, EmptyOrMissingBookSaysSoAndPicksNothing) {
  for (size_t size : {size_t(0), size_t(100)}) {
    SCOPED_TRACE(size);
    if (size) WriteAll(desk.machine.ContactBook("bob"), Bytes(size, 1));
    Steps s;
    s.ClickAnswering(W, kWriterContact, {IDOK})
        .In(W, [](HWND d) { EXPECT_EQ(headless::text(d, kWriterDestination), ""); })
        .Click(W, kWriterExit);
    RunWriter(s);
    desk.ExpectCleanRun(s);
    EXPECT_EQ(desk.BoxTexts().back(), "Your contact book has no entry");
  }
}

TEST_F(PickerTest, LoaderCopiesOnlyTheAddressWithoutATerminator) {
  Book({Entry("anna", "anna@2")});
  desk.machine.OpenAs("bob");
  char out[64];
  std::fill(out, out + sizeof out, 'x');
  Steps s;
  s.In(P, [](HWND d) { headless::doubleClick(d, kPickerList, 0); });
  s.Start();
  WindowRecord owner{};
  owner.handle = desk.console;
  EXPECT_EQ(vlContactLoader(out, &desk.context, &owner), 1);
  desk.ExpectCleanRun(s);
  EXPECT_EQ(std::string(out, 6), "anna@2");
  EXPECT_EQ(out[6], 'x');
}

}  // namespace
