// The two configuration records: what a read leaves in memory, what a write
// leaves on disk, and how fields are cut to their slots.
//
// The unit library is replaced here by a scrambler that depends on both the
// position and the length of the buffer, so a read that unscrambled the wrong
// span, or a write that forgot to scramble, shows up as wrong bytes.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "config/config.h"
#include "platform/unit.h"

extern "C" void vlData(int32_t direction, void* buffer, int32_t length) {
  auto* b = static_cast<uint8_t*>(buffer);
  for (int32_t i = 0; i < length; ++i) b[i] = uint8_t(b[i] + direction * ((i * 37 + length * 11 + 0x5A) & 0xFF));
}

namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

Bytes Scrambled(Bytes plain) {
  vlData(1, plain.data(), int32_t(plain.size()));
  return plain;
}

class RecordFile : public testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    fs::path folder = fs::temp_directory_path() / ("vl-config-" + std::to_string(random()));
    ASSERT_TRUE(fs::create_directory(folder));
    folder_ = folder.string();
    path_ = folder_ + "/VL.INI";
    ResetConfig();
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Put(const Bytes& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  Bytes Get() const {
    std::ifstream in(path_, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }

  std::string folder_, path_;
};

// A plain record whose every byte is set: text in the fields, noise between.
Bytes Patterned() {
  Bytes plain(kRecordSize);
  for (int i = 0; i < kRecordSize; ++i) plain[i] = uint8_t(0x80 + (i * 7) % 120);
  return plain;
}

struct SlotCase {
  const char* name;
  FieldSlot slot;
};

const SlotCase kUnitSlots[] = {
    {"MachID", UnitField::MachID},           {"OnlineMachID", UnitField::OnlineMachID},
    {"Owner", UnitField::Owner},             {"ControlID", UnitField::ControlID},
    {"ControlKey", UnitField::ControlKey},   {"AccountCount", UnitField::AccountCount},
    {"Redial", UnitField::Redial},           {"EnableECourier", UnitField::EnableECourier},
    {"ECourierInterval", UnitField::ECourierInterval}, {"AutoAuxPort", UnitField::AutoAuxPort},
};
const SlotCase kSettingsSlots[] = {
    {"Signal", SettingsField::Signal}, {"Port", SettingsField::Port},     {"AuxPort", SettingsField::AuxPort},
    {"Baud", SettingsField::Baud},     {"SetCmd", SettingsField::SetCmd}, {"InitCmd", SettingsField::InitCmd},
    {"Dial", SettingsField::Dial},     {"Answer", SettingsField::Answer},
};

// The layouts themselves: in order, inside the record, never overlapping,
// and the gaps where they are documented.
TEST(RecordLayout, SlotsAreOrderedDisjointAndInsideTheRecord) {
  struct Layout {
    const SlotCase* begin;
    const SlotCase* end;
    std::vector<FieldSlot> gaps;
  };
  const Layout layouts[] = {
      {std::begin(kUnitSlots), std::end(kUnitSlots), {{120, 18}, {160, 352}}},
      {std::begin(kSettingsSlots), std::end(kSettingsSlots), {{116, 396}}},
  };
  for (const Layout& layout : layouts) {
    std::vector<int> owner(kRecordSize, 0);
    for (const SlotCase* s = layout.begin; s != layout.end; ++s)
      for (int i = 0; i < s->slot.width; ++i) owner[s->slot.offset + i]++;
    for (const FieldSlot& gap : layout.gaps)
      for (int i = 0; i < gap.width; ++i) owner[gap.offset + i] += 10;
    for (int i = 0; i < kRecordSize; ++i) EXPECT_EQ(owner[i] % 10 + owner[i] / 10, 1) << "byte " << i;
  }
}

TEST_F(RecordFile, ReadUnscramblesTheWholeRecord) {
  Bytes plain = Patterned();
  Put(Scrambled(plain));
  ConfigRecord record;
  EXPECT_EQ(ReadRecord(path_.c_str(), record), kRecordSize);
  EXPECT_EQ(Bytes(record.bytes, record.bytes + kRecordSize), plain);
}

TEST_F(RecordFile, EachSlotHoldsItsTextExactlyAsStored) {
  for (auto [slots, count] : {std::pair{kUnitSlots, std::size(kUnitSlots)}, {kSettingsSlots, std::size(kSettingsSlots)}}) {
    Bytes plain(kRecordSize, 0);
    std::vector<std::string> texts;
    for (size_t k = 0; k < count; ++k) {
      // Full-length texts that differ per slot, ending in a mix of cases.
      std::string text;
      for (int i = 0; i < slots[k].slot.width - 1; ++i) text += char("aB3xZ-9. "[(i + k) % 9]);
      texts.push_back(text);
      std::memcpy(&plain[slots[k].slot.offset], text.data(), text.size());
    }
    Put(Scrambled(plain));
    ConfigRecord record;
    ASSERT_EQ(ReadRecord(path_.c_str(), record), kRecordSize);
    for (size_t k = 0; k < count; ++k) EXPECT_EQ(std::string(record.Text(slots[k].slot)), texts[k]) << slots[k].name;
  }
}

TEST_F(RecordFile, BytesOutsideTheFieldsSurviveAReadAndAWrite) {
  Bytes plain = Patterned();
  Put(Scrambled(plain));
  ConfigRecord record;
  ASSERT_EQ(ReadRecord(path_.c_str(), record), kRecordSize);
  record.SetText(UnitField::Owner, "Harbour office");
  WriteRecord(path_.c_str(), record);

  Bytes expected = plain;
  const std::string owner = "Harbour office";
  for (int32_t i = 0; i < UnitField::Owner.width; ++i)
    expected.at(UnitField::Owner.offset + i) = i < int32_t(owner.size()) ? uint8_t(owner[i]) : 0;
  EXPECT_EQ(Get(), Scrambled(expected));
  // The live record is plain again after the write.
  EXPECT_EQ(Bytes(record.bytes, record.bytes + kRecordSize), expected);
}

TEST_F(RecordFile, ShortFileGivesItsBytesFollowedByZeros) {
  for (Bytes plain : {Bytes{'1'}, Bytes{'2', 0, 0, 0, '7'}, Bytes(511, 'q')}) {
    Put(Scrambled(plain));
    ConfigRecord record;
    std::memset(record.bytes, 0xEE, kRecordSize);
    EXPECT_EQ(ReadRecord(path_.c_str(), record), int32_t(plain.size()));
    Bytes want = plain;
    want.resize(kRecordSize, 0);
    EXPECT_EQ(Bytes(record.bytes, record.bytes + kRecordSize), want) << plain.size() << " bytes";
  }
}

TEST_F(RecordFile, ATextLeftUnterminatedByTheFileEndsWithTheRecord) {
  // A record made elsewhere need not hold a single zero; whatever lies after
  // the record in memory must never become part of a field's text.
  Put(Scrambled(Bytes(kRecordSize, 'q')));
  struct {
    ConfigRecord record;
    char after[16];
  } held;
  std::memset(held.after, 'z', sizeof held.after);
  ASSERT_EQ(ReadRecord(path_.c_str(), held.record), kRecordSize);
  EXPECT_EQ(std::string(held.record.Text(SettingsField::Answer)), std::string(kRecordSize - 100, 'q'));
}

TEST_F(RecordFile, MissingFileReadsAsNothing) {
  ConfigRecord record;
  std::memset(record.bytes, 0xEE, kRecordSize);
  EXPECT_EQ(ReadRecord((folder_ + "/absent.INI").c_str(), record), 0);
  EXPECT_EQ(Bytes(record.bytes, record.bytes + kRecordSize), Bytes(kRecordSize, 0));
}

TEST_F(RecordFile, LongerFileKeepsItsLengthAndItsTail) {
  Bytes file = Scrambled(Patterned());
  for (int i = 0; i < 100; ++i) file.push_back(uint8_t(i));
  Put(file);
  ConfigRecord record;
  ASSERT_EQ(ReadRecord(path_.c_str(), record), kRecordSize);
  record.SetNumber(UnitField::AccountCount, 12);
  WriteRecord(path_.c_str(), record);
  Bytes after = Get();
  ASSERT_EQ(after.size(), file.size());
  EXPECT_TRUE(std::equal(file.begin() + kRecordSize, file.end(), after.begin() + kRecordSize));
  ConfigRecord again;
  ASSERT_EQ(ReadRecord(path_.c_str(), again), kRecordSize);
  EXPECT_EQ(again.Number(UnitField::AccountCount), 12);
}

TEST_F(RecordFile, WriteCreatesAMissingFileOfExactlyOneRecord) {
  ConfigRecord record{};
  record.SetText(SettingsField::Dial, "DT");
  WriteRecord(path_.c_str(), record);
  Bytes want(kRecordSize, 0);
  want[SettingsField::Dial.offset] = 'D';
  want[SettingsField::Dial.offset + 1] = 'T';
  EXPECT_EQ(Get(), Scrambled(want));
}

struct NumberCase {
  const char* text;
  int32_t value;
};

TEST(RecordNumber, ReadsDecimalTextAndEmptyAsZero) {
  const NumberCase cases[] = {
      {"", 0},      {"0", 0},  {"5", 5},     {"30", 30},       {"256000", 256000}, {"-2", -2},
      // Non-numeric text reads as 0 rather than as a wrapped digit sum.
      {"abc", 0},   {"-", 0},  {" 5", 0},    {"5 ", 0},        {"1x", 0},          {"+3", 0},
  };
  for (const NumberCase& c : cases) {
    ConfigRecord record{};
    record.SetText(SettingsField::Baud, c.text);
    EXPECT_EQ(record.Number(SettingsField::Baud), c.value) << '"' << c.text << '"';
  }
}

// A slot filled to its last byte (a file not written by this program) must
// not run on into the next field's digits.
TEST(RecordNumber, StaysInsideAFullSlot) {
  ConfigRecord record{};
  std::memcpy(record.Text(UnitField::Redial), "1234", 4);
  std::memcpy(record.Text(UnitField::EnableECourier), "1", 1);
  EXPECT_EQ(record.Number(UnitField::Redial), 1234);
}

TEST(RecordNumber, SetNumberWritesPlainDecimal) {
  ConfigRecord record{};
  std::memset(record.bytes, 'x', kRecordSize);
  record.SetNumber(UnitField::AccountCount, 40);
  EXPECT_EQ(std::string(record.Text(UnitField::AccountCount)), "40");
  EXPECT_EQ(Bytes(record.Text(UnitField::AccountCount), record.Text(UnitField::AccountCount) + 6),
            (Bytes{'4', '0', 0, 0, 0, 0}));
}

// SetText keeps at most width - 1 characters, zero-fills the rest of the
// slot and leaves both neighbours alone, for every field of both records.
TEST(RecordText, SetTextCutsToTheSlotAndTouchesNothingElse) {
  for (auto [slots, count] : {std::pair{kUnitSlots, std::size(kUnitSlots)}, {kSettingsSlots, std::size(kSettingsSlots)}}) {
    for (size_t k = 0; k < count; ++k) {
      const FieldSlot slot = slots[k].slot;
      for (int length : {0, 1, slot.width - 1, slot.width, slot.width + 5, 300}) {
        ConfigRecord record;
        std::memset(record.bytes, 0x7E, kRecordSize);
        std::string text(size_t(length), 'k');
        record.SetText(slot, text.c_str());
        SCOPED_TRACE(std::string(slots[k].name) + " length " + std::to_string(length));
        int kept = std::min(length, slot.width - 1);
        EXPECT_EQ(std::string(record.Text(slot)), std::string(size_t(kept), 'k'));
        for (int i = kept; i < slot.width; ++i) EXPECT_EQ(record.bytes[slot.offset + i], 0) << i;
        for (int i = 0; i < kRecordSize; ++i) {
          if (i < slot.offset || i >= slot.offset + slot.width) {
            ASSERT_EQ(record.bytes[i], 0x7E) << "byte " << i;
          }
        }
      }
    }
  }
}

TEST(RecordText, NoTextClearsTheField) {
  ConfigRecord record;
  std::memset(record.bytes, 'z', kRecordSize);
  record.SetText(UnitField::ControlKey, nullptr);
  EXPECT_EQ(record.Text(UnitField::ControlKey)[0], 0);
  EXPECT_EQ(record.bytes[UnitField::ControlKey.offset + UnitField::ControlKey.width], 'z');
}

TEST(ConfigState, ResetClearsPathsAndRecords) {
  ConfigState& config = Config();
  std::strcpy(config.unitPath, "VL.INI");
  config.settings.SetText(SettingsField::Port, "3");
  ResetConfig();
  EXPECT_EQ(config.unitPath[0], 0);
  EXPECT_EQ(config.settings.Number(SettingsField::Port), 0);
}

}  // namespace
