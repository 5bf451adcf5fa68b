// The machine's two configuration records, "VL.INI" and "Velloran.INI", on
// any bytes: the start-up check reads them, then the readers of their
// fields run as the program runs them (numbers, the machine ID a writer puts
// in the sender's address, the machine match of local delivery).
//
// Input: the unit file, kPartSeparator, the settings file (a part missing:
// no such file).
//
// Invariants after every input:
//  - the start-up check takes the records exactly when both files exist and
//    the unit file is 512 bytes;
//  - every number field reads as plain decimal or 0;
//  - a record written back is the scrambled record at the start of its file,
//    the file's bytes beyond 512 stay, and it reads back as it was;
//  - nothing is written but the record write itself, nothing outside the
//    machine folder.
#include "accounts/open_account.h"
#include "accounts/writer.h"
#include "config/config.h"
#include "console/startup.h"
#include "fuzz/harness.h"
#include "platform/unit.h"
#include "store/format.h"
#include "tests/common/store_bytes.h"
#include "winapi/headless/driver.h"

using namespace fuzz;

namespace {

fs::path root;
int exits = 0;

void WatchExit(int32_t) { ++exits; }

constexpr FieldSlot kUnitFields[] = {UnitField::MachID,     UnitField::OnlineMachID, UnitField::Owner,
                                     UnitField::ControlID,  UnitField::ControlKey,   UnitField::AccountCount,
                                     UnitField::Redial,     UnitField::EnableECourier, UnitField::ECourierInterval,
                                     UnitField::AutoAuxPort};
constexpr FieldSlot kSettingsFields[] = {SettingsField::Signal, SettingsField::Port,    SettingsField::AuxPort,
                                         SettingsField::Baud,   SettingsField::SetCmd,  SettingsField::InitCmd,
                                         SettingsField::Dial,   SettingsField::Answer};

void PointConfigAt(const fs::path& folder) {
  ResetConfig();
  const std::string classic = storebytes::Classic(folder);
  classic.copy(Config().programFolder, sizeof Config().programFolder - 1);
  (classic + "\\VL.INI").copy(Config().unitPath, 255);
  (classic + "\\Velloran.INI").copy(Config().settingsPath, 255);
  (classic + "\\POST").copy(Config().spoolPath, 255);
}

void CheckNumbers(const ConfigRecord& record, const FieldSlot* fields, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const FieldSlot f = fields[i];
    std::string text(record.bytes + f.offset, record.bytes + f.offset + f.width);
    text = text.c_str();
    const int32_t n = record.Number(f);
    if (n != 0) FUZZ_CHECK(std::to_string(n) == text || ("-" + std::to_string(-int64_t(n))) == text ||
                               text.find_first_not_of("-0123456789") == std::string::npos,
                           "number " + std::to_string(n) + " read from '" + text + "'");
  }
}

// The program's own readers of the unit record's texts.
void ReadAsTheProgramDoes() {
  ResetActiveAccount();
  SetSlot(ActiveAccount().record.accountId, "bob");
  PrepareCompose();
  const int32_t local = MatchMachine(Config().unit.Text(UnitField::MachID), "401");
  FUZZ_CHECK(local == 0 || local == 1, "machine match");
  ResetCompose();
  ResetActiveAccount();
}

void CheckWriteBack(const fs::path& file, ConfigRecord& record) {
  const Bytes before = ReadFile(file);
  const ConfigRecord kept = record;
  WriteRecord(storebytes::Classic(file).c_str(), record);
  FUZZ_CHECK(std::equal(record.bytes, record.bytes + kRecordSize, kept.bytes), "the live record changed");
  Bytes scrambled(kept.bytes, kept.bytes + kRecordSize);
  vlData(1, scrambled.data(), kRecordSize);
  const Bytes after = ReadFile(file);
  FUZZ_CHECK(after.size() == std::max<size_t>(before.size(), kRecordSize), "the file was cut or grew too much");
  FUZZ_CHECK(std::equal(scrambled.begin(), scrambled.end(), after.begin()), "the record written is not the record");
  FUZZ_CHECK(std::equal(before.begin() + std::min<size_t>(before.size(), kRecordSize), before.end(),
                        after.begin() + kRecordSize),
             "bytes beyond the record changed");
  ConfigRecord reread{};
  FUZZ_CHECK(ReadRecord(storebytes::Classic(file).c_str(), reread) == kRecordSize, "the record reads short");
  FUZZ_CHECK(std::equal(reread.bytes, reread.bytes + kRecordSize, kept.bytes), "the record reads back otherwise");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterScratch();
  root = MakeTempFolder("vlconfig");
  ResetStartup();
  Startup().exitProgram = WatchExit;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  headless::reset(true, 1000);
  const std::vector<Bytes> parts = SplitParts(data, size);
  const fs::path unit = root / "VL.INI";
  const fs::path settings = root / "Velloran.INI";
  fs::remove(unit);
  fs::remove(settings);
  WriteFile(unit, parts[0].data(), parts[0].size());
  if (parts.size() > 1) WriteFile(settings, parts[1].data(), parts[1].size());
  const Tree before = Snapshot(root);

  PointConfigAt(root);
  exits = 0;
  const int32_t taken = CheckUnitFiles();
  const bool sound = parts[0].size() == 512 && parts.size() > 1 && !parts[1].empty();
  FUZZ_CHECK((taken == 1) == sound, "start-up check " + std::to_string(taken));
  FUZZ_CHECK(exits == (sound ? 0 : 1), "exits " + std::to_string(exits));
  FUZZ_CHECK(Snapshot(root) == before, "the start-up check wrote:" + Difference(before, Snapshot(root)));
  if (taken == 1) {
    CheckNumbers(Config().unit, kUnitFields, std::size(kUnitFields));
    CheckNumbers(Config().settings, kSettingsFields, std::size(kSettingsFields));
    ReadAsTheProgramDoes();
    FUZZ_CHECK(Snapshot(root) == before, "reading the fields wrote:" + Difference(before, Snapshot(root)));
    CheckWriteBack(unit, Config().unit);
    CheckWriteBack(settings, Config().settings);
  }
  CheckOutside({root});
  ResetConfig();
  return 0;
}
