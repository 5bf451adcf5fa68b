// Reading and checking "ruk_comm.ini" (layout in settings.h).
#include "commlib/settings.h"

#include "commlib/ini_reader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <charconv>
#include <set>

namespace comm {
namespace {

bool parseNumber(std::string_view text, uint32_t max, uint32_t& out) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  if (value > max) return false;
  out = uint32_t(value);
  return true;
}

bool equalsNoCase(std::string_view a, const char* b) {
  std::string_view bv(b);
  if (a.size() != bv.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? char(a[i] + 32) : a[i];
    char y = bv[i] >= 'A' && bv[i] <= 'Z' ? char(bv[i] + 32) : bv[i];
    if (x != y) return false;
  }
  return true;
}

bool validNumber(std::string_view number) {
  if (number.empty() || number.size() > kMaxNumberLength) return false;
  for (char c : number)
    if (!((c >= '0' && c <= '9') || c == '*' || c == '#')) return false;
  return true;
}

// What the parser has seen so far; the first complaint wins.
struct ReadState {
  SettingsFile* file = nullptr;
  int line = 0;                    // line being parsed
  int errorLine = 0;
  std::string error;
  std::set<std::string> seenKeys;  // "section/key", to refuse repeats
};

bool fail(ReadState& state, std::string message) {
  if (state.error.empty()) {
    state.error = std::move(message);
    state.errorLine = state.line;
  }
  return false;
}

// "portN" with N in 1..kMaxPort, else 0.
int portOfSection(std::string_view section) {
  if (section.size() < 5 || !equalsNoCase(section.substr(0, 4), "port")) return 0;
  uint32_t n = 0;
  std::string_view digits = section.substr(4);
  if (digits[0] == '0' || !parseNumber(digits, kMaxPort, n) || n == 0) return 0;
  return int(n);
}

// The port settings that are plain numbers.
struct NumberKey {
  const char* name;
  uint32_t max;
  uint32_t PortSettings::*field;
  const char* range;  // for the refusal
};
constexpr NumberKey kNumberKeys[] = {
    {"auto_answer", 255, &PortSettings::autoAnswer, "0 to 255"},
    {"drop_after", INT32_MAX, &PortSettings::dropAfter, "a byte count"},
    {"drop_random", INT32_MAX, &PortSettings::dropRandom, "a byte count"},
    {"corrupt_one_in", INT32_MAX, &PortSettings::corruptOneIn, "a count of bytes"},
    {"delay_ms", kMaxDelayMs, &PortSettings::delayMs, "0 to 600000"},
    {"split", INT32_MAX, &PortSettings::split, "a byte count"},
    {"split_gap_ms", kMaxDelayMs, &PortSettings::splitGapMs, "0 to 600000"},
    {"seed", UINT32_MAX, &PortSettings::seed, "0 to 4294967295"},
};

bool readPortKey(ReadState& state, PortSettings& port, std::string_view key, std::string_view value) {
  const std::string quoted = "'" + std::string(value) + "'";
  uint32_t n = 0;
  for (const NumberKey& k : kNumberKeys) {
    if (!equalsNoCase(key, k.name)) continue;
    if (!parseNumber(value, k.max, n)) return fail(state, std::string(k.name) + ": not " + k.range + ": " + quoted);
    port.*k.field = n;
    return true;
  }
  if (equalsNoCase(key, "backend")) {
    if (equalsNoCase(value, "virtual")) port.backend = Backend::Virtual;
    else if (equalsNoCase(value, "serial")) port.backend = Backend::Serial;
    else return fail(state, "backend must be virtual or serial, not " + quoted);
  } else if (equalsNoCase(key, "listen")) {
    HostPort hp;
    if (!parseHostPort(value, true, hp)) return fail(state, "listen: not an address host:port: " + quoted);
    port.listen = hp;
  } else if (equalsNoCase(key, "pace")) {
    if (!parseNumber(value, 1, n)) return fail(state, "pace must be 0 or 1, not " + quoted);
    port.pace = n == 1;
  } else if (equalsNoCase(key, "device")) {
    if (!IsSerialDevicePath(value) || value.size() > kMaxDeviceLength)
      return fail(state, std::string("device must be ") + kSerialDeviceRule + ": " + quoted);
    port.device = std::string(value);
  } else {
    return fail(state, "unknown setting '" + std::string(key) + "'");
  }
  return true;
}

bool readPhoneKey(ReadState& state, std::string_view number, std::string_view value) {
  if (!validNumber(number)) return fail(state, "phonebook: not a number: '" + std::string(number) + "'");
  PhoneEntry entry;
  entry.number = std::string(number);
  if (!parseHostPort(value, false, entry.address))
    return fail(state, "phonebook " + entry.number + ": not an address host:port: '" + std::string(value) + "'");
  state.file->phonebook.push_back(std::move(entry));
  return true;
}

bool onSetting(void* user, const std::string& section, const std::string& name, const std::string& value,
               int line) {
  ReadState& state = *static_cast<ReadState*>(user);
  state.line = line;
  std::string_view sec(section), key(name), val(value);
  std::string lowered;
  for (char c : sec) lowered += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  lowered += '/';
  for (char c : key) lowered += char(c >= 'A' && c <= 'Z' ? c + 32 : c);
  if (!state.seenKeys.insert(lowered).second)
    return fail(state, "'" + std::string(key) + "' given twice in [" + std::string(sec) + "]");
  if (equalsNoCase(sec, "phonebook")) return readPhoneKey(state, key, val);
  int port = portOfSection(sec);
  if (port == 0) return fail(state, "unknown section [" + std::string(sec) + "] (port1 to port32 or phonebook)");
  auto& slot = state.file->ports[size_t(port)];
  if (!slot) slot.emplace();
  return readPortKey(state, *slot, key, val);
}

}  // namespace

bool parseHostPort(std::string_view text, bool allowZeroPort, HostPort& out) {
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  std::string_view host = text.substr(0, colon);
  uint32_t port = 0;
  if (!parseNumber(text.substr(colon + 1), 65535, port)) return false;
  if (port == 0 && !allowZeroPort) return false;
  uint32_t address = 0;
  if (equalsNoCase(host, "localhost")) {
    address = 0x7f000001u;
  } else {
    int parts = 0;
    size_t start = 0;
    while (start <= host.size()) {
      size_t dot = host.find('.', start);
      std::string_view part = host.substr(start, dot == std::string_view::npos ? host.size() - start : dot - start);
      uint32_t octet = 0;
      if (part.size() > 3 || !parseNumber(part, 255, octet)) return false;
      address = (address << 8) | octet;
      ++parts;
      if (dot == std::string_view::npos) break;
      start = dot + 1;
    }
    if (parts != 4) return false;
  }
  out.address = address;
  out.port = uint16_t(port);
  out.text = std::string(text);
  return true;
}

bool readSettingsFile(const std::string& path, SettingsFile& out, std::string& error) {
  out = SettingsFile{};
  struct stat st{};
  if (stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return true;
    error = path + ": cannot be read";
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = path + ": not a file";
    return false;
  }
  ReadState state;
  state.file = &out;
  FILE* stream = fopen(path.c_str(), "rb");
  if (!stream) {
    error = path + ": cannot be read";
    return false;
  }
  int line = ReadIni(stream, onSetting, &state);
  fclose(stream);
  if (line == 0) return true;
  error = path + " line " + std::to_string(line) + ": " +
          (state.errorLine == line ? state.error : std::string("not a setting (name = value)"));
  out = SettingsFile{};
  return false;
}

PortSettings settingsForPort(const SettingsFile& file, int port) {
  PortSettings result;
  if (port >= 1 && port <= kMaxPort && file.ports[size_t(port)]) result = *file.ports[size_t(port)];
  if (result.backend == Backend::Serial && result.device.empty())
    result.device = DefaultSerialDevice(port);
  return result;
}

const PhoneEntry* findNumber(const std::vector<PhoneEntry>& book, std::string_view number) {
  for (const PhoneEntry& e : book)
    if (e.number == number) return &e;
  auto stripped = [](std::string_view s) {
    size_t i = 0;
    while (i + 1 < s.size() && s[i] == '0') ++i;
    return s.substr(i);
  };
  std::string_view wanted = stripped(number);
  for (const PhoneEntry& e : book)
    if (stripped(e.number) == wanted) return &e;
  return nullptr;
}

}  // namespace comm
