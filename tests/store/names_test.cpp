// Names, addresses, stamps and machine IDs of the mail store.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "store/format.h"
#include "store_fixture.h"

namespace {

using storetest::Encoded;
using storetest::StoreFolder;

struct MachineCase {
  const char* reference;
  const char* candidate;
  int32_t match;
};

const MachineCase kMachines[] = {
    {"0123456", "123456", 1},      {"0123456", "3456", 1},         {"123456", "0123456", 1},
    {"3456", "123456", 0},         {"+4912345", "012345", 1},      {"0211234567", "+211234567", 1},
    {"211234567", "0211234567", 1}, {"1234567", "211234567", 0},   {"5", "05", 1},
    {"12", "", 0},                 {"0", "0", 0},                  {"", "12", 0},
    {"123456", "123456", 1},       {"00123", "0123", 1},           {"00123", "00123", 1},
    {"0123", "00123", 0},          {"+0123", "0123", 1},           {"123456", "123457", 0},
    {"123456", "23450", 0},        {"+", "5", 0},
};

TEST(MatchMachine, ComparesTrailingDigitsAfterOneTrunkPrefix) {
  for (const MachineCase& c : kMachines)
    EXPECT_EQ(MatchMachine(c.reference, c.candidate), c.match) << c.reference << " / " << c.candidate;
}

struct AddressCase {
  const char* address;
  int32_t userOk;
  const char* user;
  int32_t machineOk;
  const char* machine;
};

const AddressCase kAddresses[] = {
    {"bob@100", 1, "bob", 1, "100"},
    {"bob@x@0401", 1, "bob", 1, "0401"},  // user before the first "@", machine after the last
    {"bob", 0, "", 0, ""},
    {"@100", 0, "", 1, "100"},
    {"bob@", 1, "bob", 0, ""},
    {"", 0, "", 0, ""},
    {"bob@123456789012345678901234", 1, "bob", 0, ""},  // 24 characters: no room in a 24-byte slot
    {"bob@12345678901234567890123", 1, "bob", 1, "12345678901234567890123"},
};

TEST(Address, SplitsAtFirstAndLastAtSignWithinTheSlot) {
  for (const AddressCase& c : kAddresses) {
    char user[24];
    char machine[kMachineSlotSize];
    EXPECT_EQ(AddressUserPart(c.address, user, sizeof user), c.userOk) << c.address;
    EXPECT_STREQ(user, c.user) << c.address;
    EXPECT_EQ(AddressMachinePart(c.address, machine, sizeof machine), c.machineOk) << c.address;
    EXPECT_STREQ(machine, c.machine) << c.address;
  }
}

TEST(Address, BuildAddressAppends) {
  char out[64] = "to: ";
  EXPECT_EQ(BuildAddress(out, "ann", "0401"), 1);
  EXPECT_STREQ(out, "to: ann@0401");
}

TEST(Stamp, PostedAtTextIsDayMonthYearHourMinute) {
  char out[18] = {};
  EXPECT_EQ(PostedAtText(out), 1);
  EXPECT_TRUE(std::regex_match(out, std::regex("[1-9][0-9]?/[1-9][0-9]?/[0-9]{4} [0-9]{1,2}:[0-9]{1,2}"))) << out;
  EXPECT_LE(std::string(out).size(), 16u);
}

struct VariantCase {
  const char* stamp;
  int32_t variant;
  const char* result;
};

const VariantCase kVariants[] = {
    {"7/12/2026 9:05", 0, "7/12/2026 9:05"},   {"7/12/2026 9:05", 1, "7/12/2026 9:05a"},
    {"7/12/2026 9:05", 26, "7/12/2026 9:05z"}, {"7/12/2026 9:05c", 2, "7/12/2026 9:05b"},
    {"7/12/2026 9:05c", 0, "7/12/2026 9:05"},  {"27/12/2026 19:55", 3, "27/12/2026 19:55c"},
};

TEST(Stamp, VariantsAppendOneLetterToTheMinute) {
  for (const VariantCase& c : kVariants) {
    char out[18];
    EXPECT_EQ(StampVariant(c.stamp, c.variant, out), 1);
    EXPECT_STREQ(out, c.result) << c.stamp << " " << c.variant;
    EXPECT_EQ(out[17], 0);
  }
  char out[18];
  EXPECT_EQ(StampVariant("7/12/2026 9:05", kStampVariants + 1, out), 0);
  StampBase("7/12/2026 9:05q", out);
  EXPECT_STREQ(out, "7/12/2026 9:05");
}

TEST(Names, EncodingIsTwiceTheLengthAndRefusesWhatDoesNotFit) {
  char out[kNameBufferSize];
  EXPECT_EQ(EncodeName("bob", out), 1);
  EXPECT_EQ(std::string(out), Encoded("bob"));
  EXPECT_EQ(std::string(out).size(), 6u);
  EXPECT_EQ(EncodeName("", out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(EncodeName(std::string(127, 'x').c_str(), out), 1);
  EXPECT_EQ(EncodeName(std::string(128, 'x').c_str(), out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(BuildMailName("ann@100", "7/12/2026 9:05", out), 1);
  EXPECT_EQ(std::string(out), Encoded("ann@1007/12/2026 9:05"));
}

TEST(Names, AccountPathsHangOffTheProgramFolder) {
  StoreFolder store;
  std::string folder = StoreFolder::Classic(store.Root()) + "\\" + Encoded("bob") + "[@]";
  char f[kPathSize] = {};
  char file[kPathSize] = {};
  char e[48] = "E=";
  EXPECT_EQ(BuildAccountPaths("bob", f, file, e), 1);
  EXPECT_EQ(std::string(f), folder);
  EXPECT_EQ(std::string(file), folder + "\\" + Encoded("bob") + "[@]");
  EXPECT_EQ(std::string(e), "E=" + Encoded("bob"));  // the encoded id is appended

  char onlyFile[kPathSize] = {};
  char onlyE[48] = {};
  EXPECT_EQ(BuildAccountPaths("bob", nullptr, onlyFile, onlyE), 1);
  EXPECT_STREQ(onlyFile, "");  // the account file comes only with the folder
  EXPECT_EQ(std::string(onlyE), Encoded("bob"));

  char refused[kPathSize] = "untouched";
  EXPECT_EQ(BuildAccountPaths("", refused, nullptr, nullptr), 0);
  EXPECT_EQ(BuildAccountPaths(std::string(23, 'a').c_str(), refused, nullptr, nullptr), 0);
  EXPECT_STREQ(refused, "untouched");
  EXPECT_EQ(BuildAccountPaths(std::string(22, 'a').c_str(), refused, nullptr, nullptr), 1);
}

TEST(Names, AccountPathsRefuseAProgramFolderTooLongForTheBuffer) {
  StoreFolder store;
  pClrMem(Config().programFolder, sizeof Config().programFolder);
  std::string deep(200, 'd');
  deep.copy(Config().programFolder, deep.size());
  char folder[kPathSize] = {};
  char file[kPathSize] = {};
  EXPECT_EQ(BuildAccountPaths("bob", folder, file, nullptr), 1);  // 200 + 1 + 6 + 3 fits, the file too
  EXPECT_EQ(BuildAccountPaths(std::string(22, 'b').c_str(), folder, file, nullptr), 0);
}

TEST(Names, PadColumnFillsWithBlanks) {
  char out[128] = "|";
  EXPECT_EQ(PadColumn("ab", out, 5), 1);
  EXPECT_STREQ(out, "|ab   ");
  PadColumn("abcdef", out, 3);  // longer than the column: taken whole
  EXPECT_STREQ(out, "|ab   abcdef");
  PadColumn("", out, 2);
  EXPECT_STREQ(out, "|ab   abcdef  ");
}

TEST(Names, AppendBoundedNeverOverflows) {
  char buffer[8] = "abc";
  EXPECT_EQ(AppendBounded("defg", buffer, sizeof buffer), 1);
  EXPECT_STREQ(buffer, "abcdefg");
  EXPECT_EQ(AppendBounded("h", buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "abcdefg");
}

struct SlotNumberCase {
  const char* text;
  int32_t value;
};

const SlotNumberCase kNumbers[] = {{"1", 1}, {"12", 12}, {"03", 3}, {"", -1}, {"1a", -1},
                                   {"-1", -1}, {" 1", -1}, {"999999999", 999999999}};

TEST(Slots, NumbersAreShortPlainDigitsOnly) {
  for (const SlotNumberCase& c : kNumbers) {
    char slot[9] = {};
    std::string(c.text).copy(slot, 9);
    EXPECT_EQ(SlotNumber(slot, sizeof slot), c.value) << c.text;
  }
  char full[9];
  std::string("123456789").copy(full, 9);  // no terminator inside the slot
  EXPECT_EQ(SlotNumber(full, sizeof full), 123456789);
}

TEST(Slots, TextOfAnUnterminatedSlotStopsAtTheSlot) {
  MailHeader header;
  pFillMem(&header, sizeof header, 'x');
  char sender[sizeof header.sender + 1];
  SlotText(header.sender, sender);
  EXPECT_EQ(std::string(sender), std::string(48, 'x'));
  SetSlot(header.subject, std::string(60, 'y').c_str());
  EXPECT_EQ(std::string(header.subject), std::string(47, 'y'));
  EXPECT_EQ(header.destination[0], 'x');  // the neighbour is untouched
  EXPECT_EQ(SlotEquals(header.subject, std::string(47, 'y').c_str()), 1);
  EXPECT_EQ(SlotEquals(header.sender, std::string(48, 'x').c_str()), 1);
}

}  // namespace
