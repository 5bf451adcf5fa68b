// Local delivery runs over a real POST folder on the virtual clock.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>

#include "console/console.h"
#include "resources/resources.h"
#include "store/delivery.h"
#include "store_fixture.h"
#include "toolkit/dialog.h"
#include "winapi/headless/driver.h"
#include "winapi/log.h"
#include "winapi/winapi.h"

namespace {

using namespace storetest;

LRESULT QuietConsole(HWND, UINT, WPARAM, LPARAM) { return 0; }

// Every text the status line was given, in order.
std::vector<std::string> statusTexts;
WNDPROC statusProc = nullptr;
LRESULT RecordStatus(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETTEXT && lParam != 0) statusTexts.emplace_back(reinterpret_cast<const char*>(lParam));
  return tkCallWindowProc(statusProc, window, message, wParam, lParam);
}

// Stops the process as kill -9 does at the n-th move of the progress bar,
// which moves once before a spool file is taken up and once after every block
// stored.
int killAtMove = 0;
int moves = 0;
WNDPROC progressProc = nullptr;
LRESULT KillAtMove(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS && ++moves == killAtMove) raise(SIGKILL);
  return tkCallWindowProc(progressProc, window, message, wParam, lParam);
}

class DeliveryRun : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDelivery();
    headless::reset();
    ResetConsole();
    statusTexts.clear();
    HINSTANCE instance = tkModuleHandle(&VelloranResources());
    console = tkCreateDialog(instance, res::kConsoleDialog, 0, QuietConsole, 0);
    ASSERT_NE(console, 0u);
    Console().record.handle = console;
    Console().statusLine = tkGetDlgItem(console, kStatusLineId);
    statusProc = waSetWindowProc(Console().statusLine, RecordStatus);
  }
  void TearDown() override {
    EXPECT_TRUE(headless::failures().empty());
    tkDestroyWindow(console);
    ResetConsole();
    ResetDelivery();
  }
  std::string Status() const { return headless::text(console, kStatusLineId); }
  bool Showed(const std::string& text) const {
    return std::find(statusTexts.begin(), statusTexts.end(), text) != statusTexts.end();
  }

  HWND console = 0;

  void Run() { ASSERT_EQ(DeliverLocalMails(), 1); }

  // A run in a child process killed at the n-th progress move; false when
  // the run ended before it.
  bool RunKilledAt(int n) {
    pid_t child = fork();
    if (child == 0) {
      killAtMove = n;
      moves = 0;
      progressProc = waSetWindowProc(tkGetDlgItem(console, kProgressBarId), KillAtMove);
      DeliverLocalMails();
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status);
  }

  std::set<std::string> AccountFolderNames(const std::string& id) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(store.AccountFolder(id)))
      names.insert(entry.path().filename().string());
    return names;
  }

  bool InSpool(const std::string& name) const {
    auto names = store.SpoolNames();
    return std::find(names.begin(), names.end(), name) != names.end();
  }
  std::string SpoolName(const MailShape& mail, const std::string& suffix) const {
    return Encoded(mail.sender + mail.postedAt) + suffix;
  }

  StoreFolder store;
};

TEST_F(DeliveryRun, EmptySpoolChangesNothing) {
  store.MakeAccount("bob");
  Run();
  EXPECT_TRUE(store.SpoolNames().empty());
  EXPECT_FALSE(fs::exists(store.MailboxIndex("bob")));
  EXPECT_EQ(Delivery().delivered, 0);
  EXPECT_TRUE(Showed("Delivering local mails..."));
  EXPECT_EQ(Status(), "All local mails delivered");
  EXPECT_EQ(headless::progress(console, kProgressBarId), 0);
}

TEST_F(DeliveryRun, MailsOfOneAndSeveralBlocksArriveByteForByte) {
  store.MakeAccount("bob");
  for (int blocks : {1, 3}) {
    MailShape mail;
    mail.blocks = blocks;
    mail.postedAt = "7/12/2026 9:0" + std::to_string(blocks);
    Bytes spool = MakeMail(mail);
    store.PutSpool(mail, spool);
    Run();
    EXPECT_FALSE(fs::exists(store.SpoolFile(mail))) << blocks;
    Bytes delivered = ReadAll(store.MailFile("bob", mail.sender, mail.postedAt));
    EXPECT_EQ(delivered.size(), static_cast<size_t>(4096 * blocks));
    EXPECT_TRUE(delivered == spool) << blocks;
  }
  Bytes index = ReadAll(store.MailboxIndex("bob"));
  ASSERT_EQ(index.size(), 2u * 520u);
  Bytes second = IndexEntry(index, 2);
  EXPECT_EQ(TextAt(second, 0, 8), "[ML]");
  EXPECT_EQ(TextAt(second, 8, 18), "7/12/2026 9:03");
  EXPECT_EQ(TextAt(second, 243, 9), "3");
  EXPECT_EQ(TextAt(second, 256, 4), "[N]");
  EXPECT_EQ(Delivery().delivered, 1);
}

TEST_F(DeliveryRun, SeveralSpoolFilesForOneAccountGiveOneEntryEach) {
  store.MakeAccount("bob");
  store.MakeAccount("cy");
  const char* senders[] = {"ann@100", "dan@200", "eve@300"};
  for (const char* sender : senders) {
    MailShape mail;
    mail.sender = sender;
    store.PutSpool(mail, MakeMail(mail));
  }
  MailShape toCy;
  toCy.destination = "cy@100";
  toCy.sender = "fay@100";
  store.PutSpool(toCy, MakeMail(toCy));
  Run();
  EXPECT_TRUE(store.SpoolNames().empty());
  EXPECT_EQ(ReadAll(store.MailboxIndex("bob")).size(), 3u * 520u);
  EXPECT_EQ(ReadAll(store.MailboxIndex("cy")).size(), 520u);
  for (const char* sender : senders) EXPECT_TRUE(fs::exists(store.MailFile("bob", sender, "7/12/2026 9:05")));
  EXPECT_EQ(Delivery().delivered, 4);
}

TEST_F(DeliveryRun, IncompleteAndRemoteSpoolFilesAreLeftAlone) {
  store.MakeAccount("bob");
  MailShape partial;
  partial.blocks = 3;
  Bytes first = MakeBlock(partial, {"1", "3"});
  Bytes second = MakeBlock(partial, {"2", "3"});
  first.insert(first.end(), second.begin(), second.end());
  store.PutSpool(partial, first);
  MailShape remote;
  remote.destination = "bob@999";
  store.PutSpool(remote, MakeMail(remote), "[@]");
  Run();
  EXPECT_EQ(ReadAll(store.SpoolFile(partial)), first);
  EXPECT_TRUE(fs::exists(store.SpoolFile(remote, "[@]")));
  EXPECT_FALSE(fs::exists(store.MailboxIndex("bob")));
}

struct DamageCase {
  const char* name;
  std::vector<BlockSpec> blocks;
  const char* sender = "ann@100";
  const char* postedAt = "7/12/2026 9:05";
  int extraBytes = 0;
};

const DamageCase kDamage[] = {
    {"two blocks that say three", {{"1", "3"}, {"3", "3"}}},
    {"second mail appended to the first", {{"1", "1"}, {"1", "1"}}},
    {"no first block", {{"2", "2"}, {"2", "2"}}},
    {"blocks out of order", {{"1", "3"}, {"3", "3"}, {"3", "3"}}},
    {"foreign marker", {{"1", "1", "[XX]"}}},
    {"no sender and no stamp", {{"1", "1"}}, "", ""},
    {"a piece of a block after the mail", {{"1", "1"}}, "ann@100", "7/12/2026 9:05", 100},
    {"less than a block", {}, "ann@100", "7/12/2026 9:05", 4095},
    {"a stamp that fills its slot without an end", {{"1", "1"}}, "ann@100", "17/12/2026 19:05:3"},
};

TEST_F(DeliveryRun, DamagedChainsAreSetAsideWholeAndNothingIsDelivered) {
  store.MakeAccount("bob");
  MailShape mail;
  for (const DamageCase& c : kDamage) {
    mail.sender = c.sender;
    mail.postedAt = c.postedAt;
    Bytes file;
    for (const BlockSpec& shape : c.blocks) {
      Bytes b = MakeBlock(mail, shape);
      file.insert(file.end(), b.begin(), b.end());
    }
    file.insert(file.end(), c.extraBytes, 9);
    store.PutSpool(mail, file);
    Run();
    EXPECT_FALSE(fs::exists(store.SpoolFile(mail))) << c.name;
    EXPECT_EQ(ReadAll(store.SpoolFile(mail, "[!]")), file) << c.name;
    EXPECT_FALSE(fs::exists(store.MailFile("bob", mail.sender, mail.postedAt))) << c.name;
    EXPECT_FALSE(fs::exists(store.MailboxIndex("bob"))) << c.name;
    EXPECT_EQ(Delivery().damaged, 1) << c.name;
    EXPECT_EQ(Status(), "Local mails delivered except 1 damaged (set aside in POST as [!])") << c.name;
    fs::remove(store.SpoolFile(mail, "[!]"));
  }
}

// The first block of each mail waiting in POST, header unscrambled, by name.
struct Waiting {
  std::string name;
  Bytes block;
};
std::vector<Waiting> WaitingMails(const StoreFolder& store) {
  std::vector<Waiting> mails;
  for (const std::string& name : store.SpoolNames()) {
    Bytes block = ReadAll(store.Spool() / name);
    if (block.size() < size_t(kBlockSize)) continue;
    block.resize(kBlockSize);
    vlData(-1, block.data() + kPayloadSize, kHeaderSize);
    vlData(-1, block.data(), kPayloadSize);
    mails.push_back({name, block});
  }
  return mails;
}

// A mail for an account this machine does not have goes back to its sender
// as a report from the machine, locally or over the line, and leaves POST;
// a report for a missing account is dropped, never answered.
TEST_F(DeliveryRun, MailForAMissingAccountGoesBackToItsSender) {
  struct Case {
    const char* sender;
    const char* destination;
    const char* reportSuffix;  // "" for none
  };
  const Case cases[] = {
      {"ann@100", "nobody@100", "[=]"},   {"ann@100", "no-body@100", "[=]"},
      {"ann@100", "@100", "[=]"},         {"ann@100", "bob", "[=]"},
      {"ann@100", "../x@100", "[=]"},     {"ann@200", "nobody@100", "[@]"},
      {"velloran-report@200", "nobody@100", ""},
  };
  Config().unit.SetText(UnitField::MachID, "100");
  store.MakeAccount("bob");
  std::vector<std::string> mailLines;
  waLogCatch([&](const WaLogLine& line) {
    if (line.topic == "mail") mailLines.push_back(line.text);
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.destination + std::string(" from ") + c.sender);
    MailShape mail;
    mail.sender = c.sender;
    mail.destination = c.destination;
    mail.blocks = 2;
    store.PutSpool(mail, MakeMail(mail));
    Run();
    EXPECT_FALSE(fs::exists(store.AccountFolder("nobody")));
    EXPECT_FALSE(fs::exists(store.MailboxIndex("bob")));
    std::vector<Waiting> waiting = WaitingMails(store);
    if (c.reportSuffix[0] == 0) {
      EXPECT_TRUE(waiting.empty());
      EXPECT_EQ(Delivery().dropped, 1);
      continue;
    }
    ASSERT_EQ(waiting.size(), 1u);
    const Waiting& report = waiting[0];
    EXPECT_EQ(report.name.substr(report.name.size() - 3), c.reportSuffix);
    const Bytes& b = report.block;
    EXPECT_EQ(TextAt(b, kPayloadSize + 26, 48), "velloran-report@100");
    EXPECT_EQ(TextAt(b, kPayloadSize + 146, 48), c.sender);
    EXPECT_EQ(TextAt(b, kPayloadSize + 98, 48), "Undelivered: hello");
    EXPECT_EQ(TextAt(b, kPayloadSize + 243, 9), "1");
    const std::string text = TextAt(b, 0, kContentSize);
    EXPECT_NE(text.find("no such account"), std::string::npos) << text;
    EXPECT_NE(text.find(std::string("To:       ") + c.destination + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Posted:   7/12/2026 9:05"), std::string::npos) << text;
    EXPECT_NE(text.find("Attached: 1\r\n"), std::string::npos) << text;
    EXPECT_EQ(Delivery().returned, 1);
    EXPECT_EQ(Status(), "Local mails delivered except 1 for unknown accounts (returned to their senders)");
    ASSERT_FALSE(mailLines.empty());
    EXPECT_EQ(mailLines.back(), std::string("returned to its sender (no such account here): mail from ") + c.sender +
                                    " to " + c.destination + " of 7/12/2026 9:05");
    fs::remove(store.Spool() / report.name);
  }
  waLogCatch(nullptr);
}

// A report to an account of this machine reaches its mailbox at the next run.
TEST_F(DeliveryRun, AReportReachesTheSendersMailbox) {
  Config().unit.SetText(UnitField::MachID, "100");
  store.MakeAccount("ann");
  MailShape mail;
  mail.destination = "nobody@100";
  store.PutSpool(mail, MakeMail(mail));
  Run();
  Run();
  EXPECT_TRUE(store.SpoolNames().empty());
  Bytes index = ReadAll(store.MailboxIndex("ann"));
  ASSERT_EQ(index.size(), 520u);
  vlData(-1, index.data(), kHeaderSize);
  EXPECT_EQ(TextAt(index, 26, 48), "velloran-report@100");
  EXPECT_EQ(Status(), "All local mails delivered");
}

TEST_F(DeliveryRun, RecipientTypedInCapitalsReachesTheLowerCaseAccount) {
  store.MakeAccount("bob");
  MailShape mail;
  mail.destination = "Bob@100";
  store.PutSpool(mail, MakeMail(mail));
  Run();
  EXPECT_EQ(ReadAll(store.MailboxIndex("bob")).size(), 520u);
}

TEST_F(DeliveryRun, SecondMailOfTheSameMinuteKeepsTheFirstAndGetsAVariantStamp) {
  store.MakeAccount("bob");
  MailShape first;
  first.message = "first";
  first.blocks = 3;
  Bytes firstBytes = MakeMail(first);
  store.PutSpool(first, firstBytes);
  Run();
  MailShape second = first;  // same sender, same minute, a shorter mail
  second.message = "second";
  second.blocks = 1;
  store.PutSpool(second, MakeMail(second));
  Run();
  EXPECT_EQ(ReadAll(store.MailFile("bob", first.sender, first.postedAt)), firstBytes);
  Bytes renamed = ReadAll(store.MailFile("bob", first.sender, first.postedAt + "a"));
  ASSERT_EQ(renamed.size(), 4096u);
  EXPECT_EQ(TextAt(HeaderOf(renamed, 1), 8, 18), first.postedAt + "a");
  Bytes payload(renamed.begin(), renamed.begin() + kPayloadSize);
  vlData(-1, payload.data(), kPayloadSize);
  EXPECT_EQ(TextAt(payload, 0, 3519), "second");
  Bytes index = ReadAll(store.MailboxIndex("bob"));
  ASSERT_EQ(index.size(), 1040u);
  EXPECT_EQ(TextAt(IndexEntry(index, 1), 8, 18), first.postedAt);
  EXPECT_EQ(TextAt(IndexEntry(index, 2), 8, 18), first.postedAt + "a");
  EXPECT_EQ(Delivery().renamed, 1);
  EXPECT_EQ(Status(), "All local mails delivered; 1 restamped to keep mails of one minute apart");
}

TEST_F(DeliveryRun, EveryBlockOfARestampedMailCarriesTheNewStamp) {
  store.MakeAccount("bob");
  MailShape mail;
  mail.blocks = 2;
  fs::create_directories(store.AccountFolder("bob"));
  WriteAll(store.MailFile("bob", mail.sender, mail.postedAt), Bytes(100, 7));  // a stray file of that name
  store.PutSpool(mail, MakeMail(mail));
  Run();
  EXPECT_EQ(ReadAll(store.MailFile("bob", mail.sender, mail.postedAt)), Bytes(100, 7));
  Bytes renamed = ReadAll(store.MailFile("bob", mail.sender, mail.postedAt + "a"));
  ASSERT_EQ(renamed.size(), 8192u);
  for (int k = 1; k <= 2; ++k) EXPECT_EQ(TextAt(HeaderOf(renamed, k), 8, 18), mail.postedAt + "a") << k;
  Bytes original = MakeMail(mail);  // the attachment payload is copied as it was
  EXPECT_EQ(Bytes(renamed.begin() + 4096, renamed.begin() + 4096 + kPayloadSize),
            Bytes(original.begin() + 4096, original.begin() + 4096 + kPayloadSize));
}

TEST_F(DeliveryRun, EmptySpoolFileIsRemoved) {
  MailShape mail;
  store.PutSpool(mail, Bytes());
  Run();
  EXPECT_TRUE(store.SpoolNames().empty());
}

TEST_F(DeliveryRun, IndexWithATornTailKeepsItAndStaysAligned) {
  store.MakeAccount("bob");
  WriteAll(store.MailboxIndex("bob"), Bytes(600, 1));  // one entry and a piece of another
  MailShape mail;
  store.PutSpool(mail, MakeMail(mail));
  Run();
  Bytes index = ReadAll(store.MailboxIndex("bob"));
  ASSERT_EQ(index.size(), 3u * 520u);
  EXPECT_EQ(Bytes(index.begin(), index.begin() + 600), Bytes(600, 1));
  EXPECT_EQ(TextAt(IndexEntry(index, 3), 26, 48), mail.sender);
}

TEST_F(DeliveryRun, IndexThatCannotBeWrittenKeepsTheMailInTheSpool) {
  store.MakeAccount("bob");
  MailShape mail;
  Bytes spool = MakeMail(mail);
  store.PutSpool(mail, spool);
  fs::create_directory(store.MailboxIndex("bob"));  // a folder where the index belongs
  Run();
  EXPECT_EQ(ReadAll(store.SpoolFile(mail)), spool);
  EXPECT_FALSE(fs::exists(store.MailFile("bob", mail.sender, mail.postedAt)));  // no half delivery
  EXPECT_EQ(Delivery().kept, 1);
  EXPECT_EQ(Status(), "Local mails delivered except 1 that could not be written (kept in POST)");
  fs::remove(store.MailboxIndex("bob"));
  Run();  // once the index can be written the mail arrives
  EXPECT_FALSE(fs::exists(store.SpoolFile(mail)));
  EXPECT_EQ(ReadAll(store.MailFile("bob", mail.sender, mail.postedAt)), spool);
  EXPECT_EQ(ReadAll(store.MailboxIndex("bob")).size(), 520u);
}

TEST_F(DeliveryRun, AKillAtAnyBlockLeavesTheOldStateOrTheNewAndTheNextRunFilesTheMailOnce) {
  MailShape mail;
  mail.blocks = 3;
  Bytes spool = MakeMail(mail);
  const std::string mailName = store.MailFile("bob", mail.sender, mail.postedAt).filename().string();
  const std::string indexName = store.MailboxIndex("bob").filename().string();
  const std::string accountName = store.AccountFile("bob").filename().string();
  bool killed = true;
  for (int n = 1; killed && n < 50; ++n) {
    fs::remove_all(store.AccountFolder("bob"));
    store.MakeAccount("bob");
    store.PutSpool(mail, spool);
    killed = RunKilledAt(n);
    std::set<std::string> names = AccountFolderNames("bob");
    bool partsOnly = std::all_of(names.begin(), names.end(), [&](const std::string& name) {
      return name == accountName || (name.size() > 3 && name.compare(name.size() - 3, 3, "[~]") == 0);
    });
    bool oldState = ReadAll(store.SpoolFile(mail)) == spool && partsOnly;
    bool newState =
        !fs::exists(store.SpoolFile(mail)) && names == std::set<std::string>{accountName, indexName, mailName};
    EXPECT_TRUE(oldState || newState) << "killed at move " << n;
    Run();
    EXPECT_FALSE(fs::exists(store.SpoolFile(mail))) << n;
    EXPECT_EQ(ReadAll(store.MailFile("bob", mail.sender, mail.postedAt)), spool) << n;
    EXPECT_EQ(ReadAll(store.MailboxIndex("bob")).size(), 520u) << n;
    EXPECT_EQ(AccountFolderNames("bob"), (std::set<std::string>{accountName, indexName, mailName})) << n;
    EXPECT_EQ(Status(), "All local mails delivered") << n;
  }
  EXPECT_FALSE(killed) << "the run never ended";
}

// What a run stopped between filing a mail and deleting its spool file
// leaves behind.
struct StoppedRun {
  const char* name;
  bool indexed;
  const char* status;  // of the index entry, when there is one
};

const StoppedRun kStopped[] = {
    {"mail file in place, no index entry", false, "[N]"},
    {"mail file and index entry", true, "[N]"},
    {"mail file and index entry, the mail opened since", true, "[O]"},
};

TEST_F(DeliveryRun, AMailFiledByAStoppedRunIsNotFiledAgain) {
  MailShape mail;
  mail.blocks = 2;
  Bytes spool = MakeMail(mail);
  Bytes entry(spool.begin() + kPayloadSize, spool.begin() + kBlockSize);  // scrambled by itself
  for (const StoppedRun& c : kStopped) {
    fs::remove_all(store.AccountFolder("bob"));
    store.MakeAccount("bob");
    store.PutSpool(mail, spool);
    WriteAll(store.MailFile("bob", mail.sender, mail.postedAt), spool);
    if (c.indexed) {
      Bytes stored = entry;
      vlData(-1, stored.data(), kHeaderSize);
      PutText(stored, 256, c.status);
      vlData(1, stored.data(), kHeaderSize);
      WriteAll(store.MailboxIndex("bob"), stored);
    }
    Run();
    EXPECT_FALSE(fs::exists(store.SpoolFile(mail))) << c.name;
    EXPECT_EQ(ReadAll(store.MailFile("bob", mail.sender, mail.postedAt)), spool) << c.name;
    EXPECT_FALSE(fs::exists(store.MailFile("bob", mail.sender, mail.postedAt + "a"))) << c.name;
    Bytes index = ReadAll(store.MailboxIndex("bob"));
    ASSERT_EQ(index.size(), 520u) << c.name;
    EXPECT_EQ(TextAt(IndexEntry(index, 1), 256, 4), c.status) << c.name;
    EXPECT_EQ(Status(), "All local mails delivered") << c.name;
  }
}

// A place that may not be written, and what the run says while it is so.
struct ReadOnlyCase {
  const char* name;
  std::vector<fs::path> (*places)(const StoreFolder&, const MailShape&);
  const char* status;  // empty: the mail is delivered all the same
};

const ReadOnlyCase kReadOnly[] = {
    {"account file", [](const StoreFolder& s, const MailShape&) { return std::vector<fs::path>{s.AccountFile("bob")}; },
     ""},
    {"POST and its spool file",
     [](const StoreFolder& s, const MailShape& m) { return std::vector<fs::path>{s.SpoolFile(m), s.Spool()}; },
     "Local mails delivered except 1 left in POST, which is read-only"},
    {"mailbox index", [](const StoreFolder& s, const MailShape&) { return std::vector<fs::path>{s.MailboxIndex("bob")}; },
     "Local mails delivered except 1 for read-only mailboxes (kept in POST)"},
};

TEST_F(DeliveryRun, ReadOnlyPlacesAreNamedAndTheMailArrivesOnceTheyAreWritable) {
  MailShape mail;
  Bytes spool = MakeMail(mail);
  for (const ReadOnlyCase& c : kReadOnly) {
    fs::remove_all(store.AccountFolder("bob"));
    store.MakeAccount("bob");
    WriteAll(store.MailboxIndex("bob"), Bytes(520, 1));  // one mail there already
    store.PutSpool(mail, spool);
    std::vector<fs::path> places = c.places(store, mail);
    for (const fs::path& place : places)
      fs::permissions(place, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                      fs::perm_options::remove);
    Run();
    bool delivered = std::string(c.status).empty();
    if (!delivered) {
      EXPECT_EQ(Status(), c.status) << c.name;
      EXPECT_EQ(ReadAll(store.SpoolFile(mail)), spool) << c.name;
      EXPECT_FALSE(fs::exists(store.MailFile("bob", mail.sender, mail.postedAt))) << c.name;
      EXPECT_EQ(ReadAll(store.MailboxIndex("bob")).size(), 520u) << c.name;
      for (const fs::path& place : places) fs::permissions(place, fs::perms::owner_write, fs::perm_options::add);
      Run();  // writable again: the next pass delivers it
    }
    EXPECT_EQ(Status(), "All local mails delivered") << c.name;
    EXPECT_FALSE(fs::exists(store.SpoolFile(mail))) << c.name;
    EXPECT_FALSE(fs::exists(store.SpoolFile(mail, "[u]"))) << c.name;
    EXPECT_EQ(ReadAll(store.MailFile("bob", mail.sender, mail.postedAt)), spool) << c.name;
    EXPECT_EQ(ReadAll(store.MailboxIndex("bob")).size(), 1040u) << c.name;
    std::error_code gone;  // a delivered spool file is no longer there
    for (const fs::path& place : places)
      fs::permissions(place, fs::perms::owner_write, fs::perm_options::add, gone);
  }
}

// "[u]" files of an earlier run: delivered once the account exists, else
// turned into reports and removed.
TEST_F(DeliveryRun, AMailSetAsideForAnUnknownAccountArrivesOrGoesBack) {
  Config().unit.SetText(UnitField::MachID, "100");
  MailShape mail;
  mail.destination = "carl@100";
  Bytes spool = MakeMail(mail);
  store.PutSpool(mail, spool, "[u]");
  MailShape other;  // for an account that is still missing
  other.destination = "dora@100";
  other.sender = "dan@100";
  store.PutSpool(other, MakeMail(other), "[u]");
  store.MakeAccount("carl");
  Run();
  EXPECT_FALSE(fs::exists(store.SpoolFile(mail, "[u]")));
  EXPECT_FALSE(fs::exists(store.SpoolFile(other, "[u]")));
  EXPECT_EQ(ReadAll(store.MailFile("carl", mail.sender, mail.postedAt)), spool);
  EXPECT_EQ(ReadAll(store.MailboxIndex("carl")).size(), 520u);
  EXPECT_EQ(Delivery().delivered, 1);
  EXPECT_EQ(Delivery().returned, 1);
  std::vector<Waiting> waiting = WaitingMails(store);
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(TextAt(waiting[0].block, kPayloadSize + 146, 48), "dan@100");
}

}  // namespace
