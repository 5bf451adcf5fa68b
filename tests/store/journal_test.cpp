// The journals of mails that crossed the line: damaged files are never
// trusted and never crash, a write cut short leaves the old or the new
// journal, and the journal stays bounded in days and entries.
#include <gtest/gtest.h>
#include <sodium.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <string>

#include "store/journal.h"
#include "store_fixture.h"

namespace {

using storetest::StoreFolder;
namespace fs = std::filesystem;
using storebytes::Bytes;
using storebytes::ReadAll;
using storebytes::WriteAll;

constexpr size_t kHead = sizeof(JournalHead);
constexpr size_t kEntry = sizeof(JournalEntry);
constexpr int32_t kToday = 20600;

MailDigest DigestOf(const std::string& text) {
  MailDigest d;
  crypto_generichash(d.bytes, sizeof d.bytes, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                     nullptr, 0);
  return d;
}

class Journal : public ::testing::Test {
 protected:
  std::string Path() const { return StoreFolder::Classic(File()); }
  fs::path File() const { return folder_.Root() / kReceivedJournalName; }

  void Record(const std::string& name, int32_t day = kToday) {
    ASSERT_EQ(JournalRecord(Path().c_str(), name.c_str(), DigestOf(name), 1, day), kJournalWritten) << name;
  }
  int32_t Lookup(const std::string& name) { return JournalLookup(Path().c_str(), name.c_str(), DigestOf(name)); }

  // Changes the stored entries in place and seals the file again as the
  // journal would, so that only the change itself can be found wrong.
  void EditEntries(const std::function<void(JournalEntry&, size_t)>& edit) {
    Bytes bytes = ReadAll(File());
    for (size_t i = 0; kHead + (i + 1) * kEntry <= bytes.size(); ++i) {
      JournalEntry e;
      std::memcpy(&e, bytes.data() + kHead + i * kEntry, kEntry);
      vlData(-1, &e, kEntry);
      edit(e, i);
      vlData(1, &e, kEntry);
      std::memcpy(bytes.data() + kHead + i * kEntry, &e, kEntry);
    }
    Seal(bytes);
    WriteAll(File(), bytes);
  }
  static void Seal(Bytes& bytes) {
    JournalHead head;
    std::memcpy(&head, bytes.data(), kHead);
    vlData(-1, &head, kHead);
    crypto_generichash(head.digest, sizeof head.digest, bytes.data() + kHead, bytes.size() - kHead, nullptr, 0);
    vlData(1, &head, kHead);
    std::memcpy(bytes.data(), &head, kHead);
  }

  StoreFolder folder_;
};

void SetMarker(Bytes& bytes, const char* marker) {
  JournalHead head;
  std::memcpy(&head, bytes.data(), kHead);
  vlData(-1, &head, kHead);
  std::memset(head.marker, 0, sizeof head.marker);
  std::memcpy(head.marker, marker, std::strlen(marker));
  vlData(1, &head, kHead);
  std::memcpy(bytes.data(), &head, kHead);
}

TEST_F(Journal, KnowsAMailByNameAndDigestTogether) {
  Record("abcd[=]");
  EXPECT_EQ(Lookup("abcd[=]"), kJournalKnown);
  EXPECT_EQ(JournalLookup(Path().c_str(), "abcd[=]", DigestOf("other bytes")), kJournalUnknown);
  EXPECT_EQ(Lookup("abce[=]"), kJournalUnknown);
  EXPECT_EQ(JournalHasName(Path().c_str(), "abcd[=]"), kJournalKnown);
}

// Damage that a lookup must see and a record must survive.
struct Damage {
  const char* what;
  std::function<void(Bytes&)> spoil;
  bool reseal;  // the digest made right again: the damage is inside the entries
  std::function<void(JournalEntry&)> spoilEntry;
};

class DamagedJournals : public Journal, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamagedJournals, AreNeverTrustedAndSetAsideOnTheNextRecord) {
  const Damage& c = GetParam();
  Record("aaaa[=]");
  Record("bbbb[=]");
  if (c.spoilEntry) {
    EditEntries([&](JournalEntry& e, size_t i) {
      if (i == 1) c.spoilEntry(e);
    });
  } else {
    Bytes bytes = ReadAll(File());
    c.spoil(bytes);
    if (c.reseal) Seal(bytes);
    WriteAll(File(), bytes);
  }
  const Bytes damaged = ReadAll(File());
  EXPECT_EQ(Lookup("aaaa[=]"), kJournalDamaged) << c.what;
  EXPECT_EQ(JournalHasName(Path().c_str(), "aaaa[=]"), kJournalDamaged) << c.what;
  EXPECT_EQ(JournalExpire(Path().c_str(), kToday), kJournalNotWritten) << c.what;
  EXPECT_EQ(ReadAll(File()), damaged) << c.what << ": a lookup or expiry changed the damaged journal";

  EXPECT_EQ(JournalRecord(Path().c_str(), "cccc[=]", DigestOf("cccc[=]"), 1, kToday), kJournalRenewed) << c.what;
  EXPECT_EQ(ReadAll(folder_.Root() / (std::string(kReceivedJournalName) + "[!]")), damaged) << c.what;
  EXPECT_EQ(Lookup("cccc[=]"), kJournalKnown) << c.what;
  EXPECT_EQ(Lookup("aaaa[=]"), kJournalUnknown) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedJournals,
    ::testing::Values(
        Damage{"empty file", [](Bytes& b) { b.clear(); }, false, {}},
        Damage{"head only half there", [](Bytes& b) { b.resize(kHead / 2); }, false, {}},
        Damage{"entry cut short", [](Bytes& b) { b.resize(b.size() - 10); }, false, {}},
        Damage{"entry cut short, resealed", [](Bytes& b) { b.resize(b.size() - 10); }, true, {}},
        Damage{"a byte of an entry flipped", [](Bytes& b) { b[kHead + 3] ^= 0x40; }, false, {}},
        Damage{"another marker", [](Bytes& b) { SetMarker(b, "[VL-JOURNAL-2]"); }, true, {}},
        Damage{"larger than the capacity", [](Bytes& b) { b.resize(kHead + (kJournalCapacity + 1) * kEntry, 0); },
               true, {}},
        Damage{"name without terminator", {}, true, [](JournalEntry& e) { std::memset(e.name, 'a', sizeof e.name); }},
        Damage{"empty name", {}, true, [](JournalEntry& e) { std::memset(e.name, 0, sizeof e.name); }},
        Damage{"day not a number", {}, true, [](JournalEntry& e) { std::memcpy(e.day, "12x", 4); }},
        Damage{"no block count", {}, true, [](JournalEntry& e) { std::memset(e.blocks, 0, sizeof e.blocks); }}),
    [](const ::testing::TestParamInfo<Damage>& info) {
      std::string name;
      for (const char* c = info.param.what; *c; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      return name;
    });

TEST_F(Journal, AWriteCutShortLeavesTheOldOrTheNewJournal) {
  Record("aaaa[=]");
  const Bytes old = ReadAll(File());
  Record("bbbb[=]");
  const Bytes newer = ReadAll(File());
  const fs::path part = folder_.Root() / (std::string(kReceivedJournalName) + "[~]");

  // Stopped while the part was being written: the old journal stands.
  WriteAll(File(), old);
  WriteAll(part, Bytes(newer.begin(), newer.begin() + long(kHead + kEntry / 2)));
  EXPECT_EQ(Lookup("aaaa[=]"), kJournalKnown);
  EXPECT_EQ(Lookup("bbbb[=]"), kJournalUnknown);
  EXPECT_FALSE(fs::exists(part));

  // Stopped between removing the old journal and renaming the part.
  fs::remove(File());
  WriteAll(part, newer);
  EXPECT_EQ(Lookup("bbbb[=]"), kJournalKnown);
  EXPECT_EQ(ReadAll(File()), newer);
  EXPECT_FALSE(fs::exists(part));
}

TEST_F(Journal, KeepsThirtyDaysAndAtMostItsCapacity) {
  Record("late[=]", kToday + 3);  // the clock was set back since
  Record("old0[=]", kToday - kJournalKeepDays - 1);
  Record("keep[=]", kToday - kJournalKeepDays);
  EXPECT_EQ(JournalExpire(Path().c_str(), kToday), kJournalWritten);
  EXPECT_EQ(Lookup("old0[=]"), kJournalUnknown);
  EXPECT_EQ(Lookup("keep[=]"), kJournalKnown);
  EXPECT_EQ(Lookup("late[=]"), kJournalKnown);

  // A full journal forgets nothing its senders may still resend: it takes no
  // more until entries expire, and says so before a mail is taken.
  Bytes bytes = ReadAll(File());
  bytes.resize(kHead + kJournalCapacity * kEntry);
  for (size_t i = 2; i < size_t(kJournalCapacity); ++i)
    std::memcpy(bytes.data() + kHead + i * kEntry, bytes.data() + kHead, kEntry);
  WriteAll(File(), bytes);
  EditEntries([](JournalEntry& e, size_t i) {
    const std::string name = "n" + std::to_string(i) + "[=]";
    std::memset(e.name, 0, sizeof e.name);
    std::memcpy(e.name, name.c_str(), name.size());
    std::memset(e.day, 0, sizeof e.day);
    std::memcpy(e.day, std::to_string(kToday).c_str(), std::to_string(kToday).size());
  });
  EXPECT_FALSE(JournalHasRoom(Path().c_str(), kToday));
  EXPECT_EQ(JournalRecord(Path().c_str(), "last[=]", MailDigest{}, 1, kToday), kJournalFull);
  EXPECT_EQ(JournalHasName(Path().c_str(), "n0[=]"), kJournalKnown);
  EXPECT_EQ(Lookup("last[=]"), kJournalUnknown);
  // Once they have expired, there is room again.
  EXPECT_TRUE(JournalHasRoom(Path().c_str(), kToday + kJournalKeepDays + 1));
  EXPECT_EQ(JournalRecord(Path().c_str(), "last[=]", MailDigest{}, 1, kToday + kJournalKeepDays + 1), kJournalWritten);
}

}  // namespace
