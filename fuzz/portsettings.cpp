// The communication library's port settings file ("ruk_comm.ini") reader on
// any text.
//
// Invariants after every input:
//  - a refused file gives empty settings and a message naming the file;
//  - a taken file holds only values within their documented bounds, every
//    phone number once and found again by itself, every port's settings
//    answer for ports 1..32;
//  - the settings written back in the file's own form read back the same;
//  - the file is not changed and nothing is written beside it.
#include "commlib/settings.h"
#include "fuzz/harness.h"
#include "tests/common/store_bytes.h"

using namespace fuzz;

namespace {

fs::path folder;

bool SameHostPort(const comm::HostPort& a, const comm::HostPort& b) {
  return a.address == b.address && a.port == b.port;
}

bool SamePort(const comm::PortSettings& a, const comm::PortSettings& b) {
  return a.backend == b.backend && a.device == b.device && a.listen.has_value() == b.listen.has_value() &&
         (!a.listen || SameHostPort(*a.listen, *b.listen)) && a.pace == b.pace && a.dropAfter == b.dropAfter &&
         a.delayMs == b.delayMs && a.autoAnswer == b.autoAnswer;
}

void CheckBounds(const comm::SettingsFile& file) {
  FUZZ_CHECK(!file.ports[0], "a section for port 0");
  for (int p = 1; p <= comm::kMaxPort; ++p) {
    const comm::PortSettings s = comm::settingsForPort(file, p);
    FUZZ_CHECK(s.delayMs <= comm::kMaxDelayMs, "delay out of bounds");
    FUZZ_CHECK(s.autoAnswer >= 0 && s.autoAnswer <= 255, "auto answer out of bounds");
    FUZZ_CHECK(s.dropAfter <= uint32_t(INT32_MAX), "drop_after out of bounds");
    if (s.backend == comm::Backend::Serial) {
      FUZZ_CHECK(!s.device.empty() && s.device[0] == '/', "serial port without an absolute device");
      FUZZ_CHECK(s.device.size() <= comm::kMaxDeviceLength, "device too long");
    }
  }
  for (const comm::PhoneEntry& e : file.phonebook) {
    FUZZ_CHECK(!e.number.empty() && e.number.size() <= comm::kMaxNumberLength, "phone number length");
    for (char c : e.number) FUZZ_CHECK((c >= '0' && c <= '9') || c == '*' || c == '#', "phone number character");
    FUZZ_CHECK(e.address.port != 0, "phone book entry without a port");
    const comm::PhoneEntry* found = comm::findNumber(file.phonebook, e.number);
    FUZZ_CHECK(found != nullptr && found->number == e.number, "a number is not found by itself");
  }
}

// The settings as the file would say them; empty when a line would be too
// long for the parser's line buffer.
std::string Rewritten(const comm::SettingsFile& file) {
  std::string text;
  for (int p = 1; p <= comm::kMaxPort; ++p) {
    if (!file.ports[size_t(p)]) continue;
    const comm::PortSettings& s = *file.ports[size_t(p)];
    text += "[port" + std::to_string(p) + "]\n";
    text += std::string("backend = ") + (s.backend == comm::Backend::Virtual ? "virtual" : "serial") + "\n";
    if (!s.device.empty()) {
      if (s.device.size() > 150) return "";
      text += "device = " + s.device + "\n";
    }
    if (s.listen) text += "listen = " + s.listen->text + "\n";
    text += "pace = " + std::to_string(s.pace ? 1 : 0) + "\n";
    text += "drop_after = " + std::to_string(s.dropAfter) + "\n";
    text += "delay_ms = " + std::to_string(s.delayMs) + "\n";
    text += "auto_answer = " + std::to_string(s.autoAnswer) + "\n";
  }
  if (!file.phonebook.empty()) text += "[phonebook]\n";
  for (const comm::PhoneEntry& e : file.phonebook) {
    if (e.number[0] == '#') return "";  // would read as a comment line
    text += e.number + " = " + e.address.text + "\n";
  }
  return text;
}

void CheckRoundTrip(const comm::SettingsFile& file) {
  const std::string text = Rewritten(file);
  if (text.empty()) return;
  const fs::path again = folder / "again.ini";
  WriteFile(again, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  comm::SettingsFile reread;
  std::string error;
  FUZZ_CHECK(comm::readSettingsFile(again.string(), reread, error), "written back and refused: " + error + "\n" + text);
  fs::remove(again);
  for (int p = 0; p <= comm::kMaxPort; ++p) {
    FUZZ_CHECK(file.ports[size_t(p)].has_value() == reread.ports[size_t(p)].has_value(), "port sections differ");
    if (file.ports[size_t(p)]) FUZZ_CHECK(SamePort(*file.ports[size_t(p)], *reread.ports[size_t(p)]), text);
  }
  FUZZ_CHECK(file.phonebook.size() == reread.phonebook.size(), "phone books differ");
  for (size_t i = 0; i < file.phonebook.size(); ++i) {
    FUZZ_CHECK(file.phonebook[i].number == reread.phonebook[i].number, text);
    FUZZ_CHECK(SameHostPort(file.phonebook[i].address, reread.phonebook[i].address), text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterScratch();
  folder = MakeTempFolder("vlports");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path path = folder / "ruk_comm.ini";
  WriteFile(path, data, size);
  comm::SettingsFile file;
  std::string error;
  if (comm::readSettingsFile(path.string(), file, error)) {
    FUZZ_CHECK(error.empty(), error);
    CheckBounds(file);
    CheckRoundTrip(file);
  } else {
    FUZZ_CHECK(error.rfind(path.string(), 0) == 0, "the message does not name the file: " + error);
    FUZZ_CHECK(file.phonebook.empty(), "a refused file left phone book entries");
    for (const auto& port : file.ports) FUZZ_CHECK(!port, "a refused file left port settings");
  }
  FUZZ_CHECK(ReadFile(path) == Bytes(data, data + size), "the settings file was changed");
  const Tree tree = Snapshot(folder);
  FUZZ_CHECK(tree.size() == 1, "left beside the file:" + Difference({{"ruk_comm.ini", {}}}, tree));
  CheckOutside({folder});
  return 0;
}
