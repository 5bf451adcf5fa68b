// Mail blocks and records, byte for byte, and the completeness test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "store/format.h"
#include "store_fixture.h"

namespace {

using namespace storetest;

TEST(Layout, BlockBuiltThroughTheStructsMatchesTheDrawnOffsets) {
  MailShape mail;
  mail.blocks = 2;
  MailBlock block;
  pClrMem(&block, sizeof block);
  SetSlot(block.header.marker, "[ML]");
  SetSlot(block.header.postedAt, mail.postedAt.c_str());
  SetSlot(block.header.sender, mail.sender.c_str());
  SetSlot(block.header.subject, mail.subject.c_str());
  SetSlot(block.header.destination, mail.destination.c_str());
  SetSlot(block.header.blockNumber, "1");
  SetSlot(block.header.totalBlocks, "2");
  SetSlot(block.header.attachmentCount, "1");
  SetSlot(block.header.status, "[N]");
  SetSlot(block.payload.content, mail.message.c_str());
  SetSlot(block.payload.tag, "[MSG]");
  SetSlot(block.payload.contentLength, std::to_string(mail.message.size()).c_str());
  vlData(1, &block.payload, kPayloadSize);
  vlData(1, &block.header, kHeaderSize);
  Bytes expected = MakeBlock(mail, {"1", "2"});
  ASSERT_EQ(expected.size(), sizeof block);
  EXPECT_EQ(std::memcmp(expected.data(), &block, sizeof block), 0);
}

TEST(Layout, RecordsAreTheirFileSizes) {
  EXPECT_EQ(sizeof(MailBlock), 4096u);
  EXPECT_EQ(sizeof(MailHeader), 520u);
  EXPECT_EQ(sizeof(TransferAnnounce), 512u);
  EXPECT_EQ(sizeof(ContactEntry), 256u);
  EXPECT_EQ(sizeof(AccountRecord), 512u);
  EXPECT_EQ(BlockPosition(1), 1);
  EXPECT_EQ(BlockPosition(3), 8193);
  EXPECT_EQ(IndexEntryPosition(2), 521);  // an index of 3 entries is 1560 bytes
  EXPECT_EQ(IndexEntryPosition(4) - 1, 1560);
  EXPECT_EQ(ContactPosition(2), 257);
}

TEST(Layout, AnnounceCarriesTheMachinePartAtOffset137) {
  TransferAnnounce announce;
  pClrMem(&announce, sizeof announce);
  char machine[kMachineSlotSize];
  ASSERT_EQ(AddressMachinePart("bob@0401", machine, sizeof machine), 1);
  SetSlot(announce.destinationMachine, machine);
  SetSlot(announce.marker, "[ML]");
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(&announce);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 137)), "0401");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 161)), "[ML]");
}

TEST(Layout, AccountRecordFieldsLieWhereTheFileHasThem) {
  StoreFolder store;
  store.MakeAccount("bob", "key");
  Bytes raw = ReadAll(store.AccountFolder("bob") / (Encoded("bob") + "[@]"));
  ASSERT_EQ(raw.size(), 512u);
  AccountRecord record;
  std::memcpy(&record, raw.data(), sizeof record);
  vlData(-1, &record, sizeof record);
  EXPECT_EQ(SlotEquals(record.accountId, "bob"), 1);
  EXPECT_EQ(SlotEquals(record.accountKey, "key"), 1);
  EXPECT_EQ(SlotEquals(record.encodedId, Encoded("bob").c_str()), 1);
  EXPECT_EQ(SlotEquals(record.accessMarker, "[-]"), 1);
}

struct CompleteCase {
  const char* name;
  std::vector<BlockSpec> blocks;
  int extraBytes;
  int32_t complete;
};

const CompleteCase kComplete[] = {
    {"one of one", {{"1", "1"}}, 0, 1},
    {"three of three", {{"1", "3"}, {"2", "3"}, {"3", "3"}}, 0, 1},
    {"two of three so far", {{"1", "3"}, {"2", "3"}}, 0, 0},
    {"texts 03 and 3 differ", {{"1", "3"}, {"2", "3"}, {"03", "3"}}, 0, 0},
    {"half a block more", {{"1", "1"}}, 100, 0},
    {"less than a block", {}, 100, 0},
    {"last block judged alone", {{"1", "5"}, {"2", "2"}}, 0, 1},
};

TEST(IsMailComplete, LooksAtTheLastWholeBlockOnly) {
  StoreFolder store;
  MailShape mail;
  for (const CompleteCase& c : kComplete) {
    Bytes file;
    for (const BlockSpec& shape : c.blocks) {
      Bytes b = MakeBlock(mail, shape);
      file.insert(file.end(), b.begin(), b.end());
    }
    file.insert(file.end(), c.extraBytes, 0);
    fs::path path = store.Spool() / "case[=]";
    WriteAll(path, file);
    std::string classic = StoreFolder::Classic(path);
    EXPECT_EQ(IsMailComplete(classic.c_str(), static_cast<int32_t>(file.size())), c.complete) << c.name;
  }
  EXPECT_EQ(IsMailComplete((StoreFolder::Classic(store.Spool()) + "\\missing[=]").c_str(), 4096), 0);
  EXPECT_EQ(IsMailComplete((StoreFolder::Classic(store.Spool()) + "\\case[=]").c_str(), 0), 0);
}

TEST(IsFirstBlock, NeedsTheExactMarkerAndNumberOne) {
  MailHeader header;
  pClrMem(&header, sizeof header);
  SetSlot(header.marker, "[ML]");
  SetSlot(header.blockNumber, "1");
  EXPECT_EQ(IsFirstBlock(header), 1);
  SetSlot(header.blockNumber, "01");
  EXPECT_EQ(IsFirstBlock(header), 0);
  SetSlot(header.blockNumber, "1");
  SetSlot(header.marker, "[ml]");
  EXPECT_EQ(IsFirstBlock(header), 0);
}

TEST(ChooseFreeSpoolName, SecondMailOfAMinuteTakesTheNextVariant) {
  StoreFolder store;
  MailShape mail;
  char stamp[18] = {};
  mail.postedAt.copy(stamp, 17);
  char path[kPathSize];
  ASSERT_EQ(ChooseFreeSpoolName(mail.sender.c_str(), stamp, "[=]", path), 1);
  EXPECT_STREQ(stamp, "7/12/2026 9:05");
  EXPECT_EQ(std::string(path), StoreFolder::Classic(store.SpoolFile(mail)));

  store.PutSpool(mail, MakeMail(mail));
  ASSERT_EQ(ChooseFreeSpoolName(mail.sender.c_str(), stamp, "[=]", path), 2);
  EXPECT_STREQ(stamp, "7/12/2026 9:05a");
  MailShape second = mail;
  second.postedAt = "7/12/2026 9:05a";
  EXPECT_EQ(std::string(path), StoreFolder::Classic(store.SpoolFile(second)));

  // A remote spool file of the same identity is a different file.
  pClrMem(stamp, sizeof stamp);
  mail.postedAt.copy(stamp, 17);
  EXPECT_EQ(ChooseFreeSpoolName(mail.sender.c_str(), stamp, "[@]", path), 1);
}

TEST(ChooseFreeSpoolName, RefusesWhenEveryVariantOfTheMinuteIsTaken) {
  StoreFolder store;
  MailShape mail;
  for (int v = 0; v <= kStampVariants; ++v) {
    char stamp[18];
    StampVariant(mail.postedAt.c_str(), v, stamp);
    MailShape taken = mail;
    taken.postedAt = stamp;
    store.PutSpool(taken, MakeMail(taken));
  }
  char stamp[18] = {};
  mail.postedAt.copy(stamp, 17);
  char path[kPathSize] = "x";
  EXPECT_EQ(ChooseFreeSpoolName(mail.sender.c_str(), stamp, "[=]", path), 0);
  EXPECT_STREQ(path, "");
}

}  // namespace
