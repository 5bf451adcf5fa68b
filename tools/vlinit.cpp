// vlinit -- makes a machine's program folder: the unit file "VL.INI" and the
// settings file "Velloran.INI" (scrambled 512-byte records, written with the
// program's own record code), the machine's key pair "MACHINE.KEY" (readable
// by its owner only), and on request the communication library's port
// settings "ruk_comm.ini" for a virtual modem, the routes "ROUTES.TXT" that
// send mail through a hub, and the hubs "HUBS.TXT" whose relayed mail the
// machine takes.
//
//   vlinit FOLDER --machid ID --control-id ID --control-key KEY [options]
//   vlinit FOLDER --show-key | --make-key [--force] | --add-peer ID KEYHEX
//
// The second form works on a machine folder that exists: it prints the
// machine's public key, gives a machine made without one its key pair, or
// adds (or replaces) a machine and its public key in "KNOWN.TXT", the list the
// program checks callers against. The secret key is never printed.
//
// Every value is checked before anything is written: ids against the id
// alphabet (folded to lower case first, as the program folds typed ids),
// texts against their field widths, numbers against the choices the Setting
// dialog offers. A refused command line writes nothing. Existing files are
// kept unless --force is given. Exit code 0 on success, 2 when the command
// line is refused (a bad value, or files that exist without --force), 1 when
// the files cannot be written. What it makes is its owner's alone (files
// 0600, folders 0700 where the host has permission bits), as the program
// makes its own.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "commlib/settings.h"
#include "tools/secretfile.h"
#include "config/config.h"
#include "link/secure.h"

namespace fs = std::filesystem;

namespace {

constexpr char kIdAlphabet[] = "abcdefghijklmnopqrstuvwxyz1234567890";
constexpr char kUnitFile[] = "VL.INI";
constexpr char kSettingsFile[] = "Velloran.INI";
constexpr char kCommFile[] = "ruk_comm.ini";
constexpr char kRoutesFile[] = "ROUTES.TXT";
constexpr char kHubsFile[] = "HUBS.TXT";
constexpr char kPartSuffix[] = "[~]";  // KNOWN.TXT while it is rewritten
// The program keeps every path in 256 bytes and sees its folder as "C:" plus
// the host path; the longest name it adds is "\Velloran.INI".
constexpr size_t kMaxFolderLength = 255 - 2 - 13;

enum class Rule {
  Id,       // characters of the id alphabet, folded to lower case
  Key,      // printable ASCII, not empty
  Text,     // printable ASCII
  Number,   // decimal in [low, high]
  Choice,   // one of the listed decimal values
};

enum class Record { Unit, Settings };

struct FieldRule {
  const char* option;
  Record record;
  FieldSlot slot;
  Rule rule;
  int minLength, maxLength;      // Id, Key, Text
  int low, high;                 // Number
  std::vector<int> choices;      // Choice
  const char* fallback;          // 0: the option is required
};

// Lengths are those the Setting dialog lets through (field width - 2), so a
// machine made here can be saved again unchanged from the dialog.
const std::vector<FieldRule>& Rules() {
  static const std::vector<FieldRule> rules = {
      {"machid", Record::Unit, UnitField::MachID, Rule::Id, 1, 22, 0, 0, {}, nullptr},
      {"online-machid", Record::Unit, UnitField::OnlineMachID, Rule::Id, 0, 22, 0, 0, {}, ""},
      {"owner", Record::Unit, UnitField::Owner, Rule::Text, 0, 30, 0, 0, {}, ""},
      {"control-id", Record::Unit, UnitField::ControlID, Rule::Id, 1, 22, 0, 0, {}, nullptr},
      {"control-key", Record::Unit, UnitField::ControlKey, Rule::Key, 1, 14, 0, 0, {}, nullptr},
      {"redial", Record::Unit, UnitField::Redial, Rule::Number, 0, 0, 0, 3, {}, "0"},
      {"ecourier", Record::Unit, UnitField::EnableECourier, Rule::Number, 0, 0, 0, 1, {}, "1"},
      {"interval", Record::Unit, UnitField::ECourierInterval, Rule::Choice, 0, 0, 0, 0, {5, 10, 15, 20, 25, 30}, "5"},
      {"auto-aux", Record::Unit, UnitField::AutoAuxPort, Rule::Number, 0, 0, 0, 1, {}, "0"},
      {"signal", Record::Settings, SettingsField::Signal, Rule::Number, 0, 0, 1, 3, {}, "1"},
      {"port", Record::Settings, SettingsField::Port, Rule::Number, 0, 0, 1, 32, {}, "1"},
      {"aux-port", Record::Settings, SettingsField::AuxPort, Rule::Number, 0, 0, 1, 32, {}, "2"},
      {"baud", Record::Settings, SettingsField::Baud, Rule::Choice, 0, 0, 0, 0, {56000, 57600, 115200, 128000, 256000}, "56000"},
      {"set-cmd", Record::Settings, SettingsField::SetCmd, Rule::Text, 0, 14, 0, 0, {}, "E0"},
      // The answering modem must pick up by itself: the program never sends
      // an answer command, so automatic answering (S0=1) is set up here.
      {"init-cmd", Record::Settings, SettingsField::InitCmd, Rule::Text, 0, 46, 0, 0, {}, "V1S0=1"},
      {"dial", Record::Settings, SettingsField::Dial, Rule::Text, 0, 14, 0, 0, {}, "DT"},
      {"answer", Record::Settings, SettingsField::Answer, Rule::Text, 0, 14, 0, 0, {}, "A"},
      // 0: the machine speaks only the plain line protocol.
      {"line-protocol", Record::Settings, SettingsField::LineProtocol, Rule::Number, 0, 0, 0, 1, {}, "1"},
      {"plain-callers", Record::Settings, SettingsField::PlainCallers, Rule::Number, 0, 0, 0, 1, {}, "1"},
  };
  return rules;
}

// What a run does: make a machine, or one thing on a machine that exists.
enum class Mode { Make, ShowKey, MakeKey, AddPeer };

struct CommandLine {
  Mode mode = Mode::Make;
  std::string folder;
  std::string peerId, peerKey;                // --add-peer
  std::map<std::string, std::string> values;  // option name -> value as given
  std::string virtualModem;                   // listen address, empty: no comm file
  std::vector<std::string> phonebook;         // NUMBER=HOST:PORT
  std::vector<std::string> routes;            // DESTINATION=HUB
  std::vector<std::string> hubs;              // ID
  bool force = false;
  bool help = false;
};

struct Refusal {
  std::string message;
};

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: vlinit FOLDER --machid ID --control-id ID --control-key KEY [options]\n"
               "  --online-machid ID   --owner TEXT (30)    --signal 1-3 (1)     --port 1-32 (1)\n"
               "  --aux-port 1-32 (2)  --baud 56000|57600|115200|128000|256000 (56000)\n"
               "  --set-cmd TEXT (E0)  --init-cmd TEXT (V1S0=1)  --dial TEXT (DT)  --answer TEXT (A)\n"
               "  --line-protocol 0|1 (1: the extended protocol with machines that speak it; 0: plain only)\n"
               "  --redial 0-3 (0)     --ecourier 0|1 (1)   --interval 5|10|15|20|25|30 (5)\n"
               "  --auto-aux 0|1 (0)   --force (replace existing files)\n"
               "  --plain-callers 0|1 (1)   1 takes calls from machines that prove no key\n"
               "  --virtual-modem HOST:PORT   also write ruk_comm.ini: the port is a virtual\n"
               "                              modem taking calls on HOST:PORT\n"
               "  --phonebook NUMBER=HOST:PORT   where a dialled number is reached (repeatable)\n"
               "  --route DEST=HUB     mail for DEST (an id, or a prefix and *) goes through the\n"
               "                       machine HUB; DEST=DEST: a hub that relays for DEST (repeatable)\n"
               "  --hub ID             take mail that ID relays from other machines (repeatable)\n"
               "ids: 1-22 of a-z 0-9; keys: 1-14 printable characters.\n"
               "usage: vlinit FOLDER --show-key            print this machine's public key\n"
               "       vlinit FOLDER --make-key [--force]  give a machine its key pair\n"
               "       vlinit FOLDER --add-peer ID KEYHEX  add or replace a known machine\n"
               "public keys: 64 hex digits, as --show-key prints them.\n");
}

void Help() {
  std::printf(
      "vlinit -- makes a machine's program folder: the unit file VL.INI, the\n"
      "settings file Velloran.INI, the machine's key pair MACHINE.KEY (readable by\n"
      "its owner only; the public key is printed), and with --virtual-modem the\n"
      "communication library's port settings ruk_comm.ini. Start the program in\n"
      "that folder. On a machine that exists it prints the public key, makes a\n"
      "key pair for a machine made without one, or adds a machine and its public\n"
      "key to KNOWN.TXT, the machines whose calls are checked by key.\n\n");
  Usage(stdout);
  std::printf(
      "\nEvery value is checked before anything is written; existing files are kept\n"
      "unless --force is given. Exit code 0 when the machine is ready, 2 when the\n"
      "command line is refused (nothing written), 1 when the files cannot be read\n"
      "or written.\n");
}

int Refuse(const Refusal& why, bool withUsage) {
  std::fprintf(stderr, "vlinit: %s\n", why.message.c_str());
  if (withUsage) Usage(stderr);
  return 2;
}

const FieldRule* FindRule(const std::string& option) {
  for (const FieldRule& rule : Rules())
    if (option == rule.option) return &rule;
  return nullptr;
}

// Splits "--name value" and "--name=value" into the command line; the one
// word that is not an option is the folder.
bool Parse(int argc, char** argv, CommandLine& line, Refusal& why) {
  for (int i = 1; i < argc; ++i) {
    std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      line.help = true;
      continue;
    }
    if (word == "--force") {
      line.force = true;
      continue;
    }
    if (word == "--show-key" || word == "--make-key" || word == "--add-peer") {
      if (line.mode != Mode::Make) return why = {"one of --show-key, --make-key, --add-peer at a time"}, false;
      line.mode = word == "--show-key" ? Mode::ShowKey : word == "--make-key" ? Mode::MakeKey : Mode::AddPeer;
      if (line.mode != Mode::AddPeer) continue;
      if (i + 2 >= argc) return why = {"--add-peer needs a machine id and a key"}, false;
      line.peerId = argv[++i];
      line.peerKey = argv[++i];
      continue;
    }
    if (word.rfind("--", 0) != 0) {
      if (!line.folder.empty()) return why = {"more than one folder given: '" + word + "'"}, false;
      line.folder = word;
      continue;
    }
    std::string name = word.substr(2), value;
    size_t eq = name.find('=');
    if (eq != std::string::npos) name = name.substr(0, eq);
    if (name != "phonebook" && name != "virtual-modem" && name != "route" && name != "hub" && !FindRule(name))
      return why = {"unknown option --" + name}, false;
    if (eq != std::string::npos) {
      value = word.substr(2 + eq + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return why = {"--" + name + " needs a value"}, false;
    }
    if (name == "phonebook") {
      line.phonebook.push_back(value);
    } else if (name == "route" || name == "hub") {
      (name == "route" ? line.routes : line.hubs).push_back(value);
    } else if (name == "virtual-modem") {
      if (!line.virtualModem.empty()) return why = {"--virtual-modem given twice"}, false;
      line.virtualModem = value;
    } else if (!line.values.emplace(name, value).second) {
      return why = {"--" + name + " given twice"}, false;
    }
  }
  if (!line.help && line.folder.empty()) return why = {"no folder given"}, false;
  const bool others = !line.values.empty() || !line.virtualModem.empty() || !line.phonebook.empty() ||
                      !line.routes.empty() || !line.hubs.empty();
  if (line.mode != Mode::Make && others) return why = {"--show-key, --make-key and --add-peer take no other options"}, false;
  if (line.force && (line.mode == Mode::ShowKey || line.mode == Mode::AddPeer))
    return why = {"--force goes with making a machine or its key only"}, false;
  return true;
}

bool IsPrintable(const std::string& text) {
  for (unsigned char c : text)
    if (c < 32 || c > 126) return false;
  return true;
}

// Canonical decimal ("07" becomes "7"), or false for anything but digits.
bool ParseDecimal(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// The text to store for one field, or a refusal naming the option.
bool CheckValue(const FieldRule& rule, std::string value, std::string& stored, Refusal& why) {
  const std::string option = std::string("--") + rule.option;
  int number = 0;
  switch (rule.rule) {
    case Rule::Id:
      for (char& c : value)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
      if (value.find_first_not_of(kIdAlphabet) != std::string::npos)
        return why = {option + " takes only the letters a-z and digits 0-9, not " + Quoted(value)}, false;
      [[fallthrough]];
    case Rule::Key:
    case Rule::Text:
      if (!IsPrintable(value))
        return why = {option + " takes printable ASCII characters only, not " + Quoted(value)}, false;
      if (int(value.size()) < rule.minLength || int(value.size()) > rule.maxLength)
        return why = {option + (rule.minLength ? " takes 1 to " : " takes at most ") + std::to_string(rule.maxLength) +
                      " characters, not " + std::to_string(value.size())},
               false;
      stored = value;
      return true;
    case Rule::Number:
      if (!ParseDecimal(value, number) || number < rule.low || number > rule.high)
        return why = {option + " must be a number from " + std::to_string(rule.low) + " to " +
                      std::to_string(rule.high) + ", not " + Quoted(value)},
               false;
      stored = std::to_string(number);
      return true;
    case Rule::Choice: {
      bool known = ParseDecimal(value, number);
      std::string list;
      for (int choice : rule.choices) {
        list += (list.empty() ? "" : ", ") + std::to_string(choice);
        if (known && number == choice) {
          stored = std::to_string(number);
          return true;
        }
      }
      return why = {option + " must be one of " + list + ", not " + Quoted(value)}, false;
    }
  }
  return false;
}

struct Machine {
  ConfigRecord unit{}, settings{};
  MachineKey key{};
  std::string commText;  // empty: no comm file
  std::string routesText, hubsText;  // empty: no such file
};

bool BuildRecords(const CommandLine& line, Machine& machine, Refusal& why) {
  for (const FieldRule& rule : Rules()) {
    auto given = line.values.find(rule.option);
    if (given == line.values.end() && !rule.fallback)
      return why = {std::string("--") + rule.option + " is required"}, false;
    std::string stored;
    if (!CheckValue(rule, given == line.values.end() ? rule.fallback : given->second, stored, why)) return false;
    (rule.record == Record::Unit ? machine.unit : machine.settings).SetText(rule.slot, stored.c_str());
  }
  machine.unit.SetText(UnitField::AccountCount, "0");
  if (!MakeMachineKey(machine.key)) return why = {"the crypto library cannot start: no key pair can be made"}, false;
  return true;
}

bool ValidNumber(const std::string& number) {
  return !number.empty() && number.size() <= comm::kMaxNumberLength &&
         number.find_first_not_of("0123456789") == std::string::npos;
}

// The port settings: one virtual-modem section for the machine's Port, and
// the phone book. Checked with the library's own address rules.
bool BuildCommText(const CommandLine& line, Machine& machine, Refusal& why) {
  if (line.virtualModem.empty()) {
    if (!line.phonebook.empty()) return why = {"--phonebook needs --virtual-modem"}, false;
    return true;
  }
  comm::HostPort address;
  if (!comm::parseHostPort(line.virtualModem, true, address))
    return why = {"--virtual-modem needs HOST:PORT (dotted IPv4 or localhost), not " + Quoted(line.virtualModem)}, false;
  std::string port = machine.settings.Text(SettingsField::Port);
  std::string text = "; communication ports of this machine, written by vlinit\n[port" + port +
                     "]\nbackend = virtual\nlisten = " + line.virtualModem + "\n";
  std::set<std::string> numbers;
  if (!line.phonebook.empty()) text += "\n[phonebook]\n";
  for (const std::string& entry : line.phonebook) {
    size_t eq = entry.find('=');
    std::string number = entry.substr(0, eq), target = eq == std::string::npos ? "" : entry.substr(eq + 1);
    if (eq == std::string::npos || !ValidNumber(number))
      return why = {"--phonebook needs NUMBER=HOST:PORT with a number of digits, not " + Quoted(entry)}, false;
    if (!comm::parseHostPort(target, false, address))
      return why = {"--phonebook " + number + ": not an address HOST:PORT: " + Quoted(target)}, false;
    if (!numbers.insert(number).second) return why = {"--phonebook lists " + number + " twice"}, false;
    text += number + " = " + target + "\n";
  }
  machine.commText = text;
  return true;
}

// A route's destination: an id, or the start of ids (possibly none) and "*".
bool CheckDestination(const std::string& given, std::string& stored, Refusal& why) {
  const bool pattern = !given.empty() && given.back() == '*';
  const std::string prefix = pattern ? given.substr(0, given.size() - 1) : given;
  const FieldRule rule{"route", Record::Unit, UnitField::MachID, Rule::Id, pattern ? 0 : 1, kMachineIdLimit - (pattern ? 1 : 0),
                       0, 0, {}, nullptr};
  if (!CheckValue(rule, prefix, stored, why)) return false;
  if (pattern) stored += "*";
  return true;
}

// ROUTES.TXT and HUBS.TXT, one line per option, checked as the program reads
// them: ids of the id alphabet, a destination at most once.
bool BuildRouteTexts(const CommandLine& line, Machine& machine, Refusal& why) {
  const FieldRule idRule{"hub", Record::Unit, UnitField::MachID, Rule::Id, 1, kMachineIdLimit, 0, 0, {}, nullptr};
  std::set<std::string> seen;
  for (const std::string& entry : line.routes) {
    const size_t eq = entry.find('=');
    std::string destination, hub;
    if (eq == std::string::npos) return why = {"--route needs DESTINATION=HUB, not " + Quoted(entry)}, false;
    if (!CheckDestination(entry.substr(0, eq), destination, why)) return false;
    FieldRule hubRule = idRule;
    hubRule.option = "route";
    if (!CheckValue(hubRule, entry.substr(eq + 1), hub, why)) return false;
    if (!seen.insert(destination).second) return why = {"--route lists " + destination + " twice"}, false;
    machine.routesText += destination + " " + hub + "\n";
  }
  seen.clear();
  for (const std::string& entry : line.hubs) {
    std::string hub;
    if (!CheckValue(idRule, entry, hub, why)) return false;
    if (!seen.insert(hub).second) return why = {"--hub lists " + hub + " twice"}, false;
    machine.hubsText += hub + "\n";
  }
  if (!machine.routesText.empty())
    machine.routesText = "# destination (an id, or a prefix and *) and the machine to dial for it\n" + machine.routesText;
  if (!machine.hubsText.empty()) machine.hubsText = "# hubs whose relayed mail this machine takes\n" + machine.hubsText;
  return true;
}

// --- writing -------------------------------------------------------------------

struct Target {
  fs::path folder;
  std::vector<fs::path> files;  // the files this run writes
};

bool PrepareFolder(const CommandLine& line, const Machine& machine, Target& target, Refusal& why) {
  std::error_code ec;
  target.folder = fs::absolute(line.folder, ec).lexically_normal();
  if (ec) return why = {"cannot resolve folder " + Quoted(line.folder)}, false;
  std::string text = target.folder.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  target.folder = text;
  // The program builds its paths with "\\", which the toolkit reads as a
  // separator: a folder whose name holds one could never be found again
  // (on Windows it is the separator itself, and no name holds one).
  if (fs::path::preferred_separator != '\\' && text.find('\\') != std::string::npos)
    return why = {"folder path must not contain '\\': " + text}, false;
  if (text.size() > kMaxFolderLength)
    return why = {"folder path too long for the program (at most " + std::to_string(kMaxFolderLength) +
                  " characters): " + text},
           false;
  if (fs::exists(target.folder, ec) && !fs::is_directory(target.folder, ec))
    return why = {"not a folder: " + text}, false;
  target.files = {target.folder / kUnitFile, target.folder / kSettingsFile, target.folder / kMachineKeyName};
  if (!machine.commText.empty()) target.files.push_back(target.folder / kCommFile);
  if (!machine.routesText.empty()) target.files.push_back(target.folder / kRoutesFile);
  if (!machine.hubsText.empty()) target.files.push_back(target.folder / kHubsFile);
  for (const fs::path& file : target.files) {
    if (!fs::exists(fs::symlink_status(file, ec))) continue;
    if (!line.force) return why = {file.string() + " exists (use --force to replace it)"}, false;
    if (!fs::is_regular_file(fs::symlink_status(file, ec)))
      return why = {file.string() + " exists and is not a plain file"}, false;
  }
  return true;
}

// The key file is made new, never through an existing file or link, and is
// its owner's alone whatever the umask.
bool WriteSecret(const fs::path& path, const MachineKey& key) {
  unsigned char record[kMachineKeyFileSize];
  MachineKeyRecord(key, record);
  bool ok = WriteNewSecretFile(path.string(), record, sizeof record);
  std::memset(record, 0, sizeof record);
  MachineKey back;
  return ok && LoadMachineKey(path.string().c_str(), back) == kKeyRead &&
         std::memcmp(back.publicKey.bytes, key.publicKey.bytes, kPublicKeySize) == 0;
}

std::string KeyText(const PublicKey& key) {
  char hex[kKeyHexSize + 1];
  PublicKeyHex(key, hex);
  return hex;
}

bool WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return bool(out);
}

// Reads a written record back the way the program will.
bool RecordIsOnDisk(const fs::path& path, const ConfigRecord& expected) {
  std::error_code ec;
  if (fs::file_size(path, ec) != uintmax_t(kRecordSize) || ec) return false;
  ConfigRecord back{};
  return ReadRecord(path.string().c_str(), back) == kRecordSize && std::memcmp(back.bytes, expected.bytes, kRecordSize) == 0;
}

bool WriteMachine(Machine& machine, const Target& target, std::string& error) {
  std::error_code ec;
  fs::create_directories(target.folder, ec);
  if (ec) return error = "cannot make folder " + target.folder.string() + ": " + ec.message(), false;
  // A replaced file is removed first: the record write never shortens a
  // file, and a longer one would be refused by the program as corrupt.
  for (const fs::path& file : target.files) fs::remove(file, ec);
  WriteRecord(target.files[0].string().c_str(), machine.unit);
  WriteRecord(target.files[1].string().c_str(), machine.settings);
  bool ok = RecordIsOnDisk(target.files[0], machine.unit) && RecordIsOnDisk(target.files[1], machine.settings) &&
            WriteSecret(target.files[2], machine.key);
  if (ok && !machine.commText.empty()) {
    comm::SettingsFile check;
    std::string why;
    ok = WriteText(target.folder / kCommFile, machine.commText) &&
         comm::readSettingsFile((target.folder / kCommFile).string(), check, why);
    if (!why.empty()) error = why;
  }
  if (ok && !machine.routesText.empty()) ok = WriteText(target.folder / kRoutesFile, machine.routesText);
  if (ok && !machine.hubsText.empty()) ok = WriteText(target.folder / kHubsFile, machine.hubsText);
  if (!ok) {
    for (const fs::path& file : target.files) fs::remove(file, ec);
    if (error.empty()) error = "cannot write into " + target.folder.string();
    return false;
  }
  return true;
}

void Report(const Target& target, const Machine& machine) {
  std::printf("vlinit: machine %s ready in %s\n", machine.unit.Text(UnitField::MachID), target.folder.string().c_str());
  for (const fs::path& file : target.files) std::printf("  %s\n", file.filename().string().c_str());
  std::printf("public key: %s\n", KeyText(machine.key.publicKey).c_str());
}

// --- on a machine that exists ------------------------------------------------------

bool ExistingMachine(const CommandLine& line, fs::path& folder, Refusal& why) {
  std::error_code ec;
  folder = fs::absolute(line.folder, ec).lexically_normal();
  if (ec || !fs::is_regular_file(folder / kUnitFile, ec))
    return why = {"not a machine folder (no " + std::string(kUnitFile) + "): " + Quoted(line.folder)}, false;
  return true;
}

int ShowKey(const fs::path& folder) {
  MachineKey key;
  switch (LoadMachineKey((folder / kMachineKeyName).string().c_str(), key)) {
    case kKeyRead:
      std::printf("%s\n", KeyText(key.publicKey).c_str());
      return 0;
    case kKeyMissing:
      std::fprintf(stderr, "vlinit: no %s in %s (vlinit FOLDER --make-key makes one)\n", kMachineKeyName, folder.string().c_str());
      return 1;
    default:
      std::fprintf(stderr, "vlinit: %s in %s is damaged\n", kMachineKeyName, folder.string().c_str());
      return 1;
  }
}

int MakeKey(const fs::path& folder, bool force) {
  const fs::path path = folder / kMachineKeyName;
  std::error_code ec;
  if (fs::exists(fs::symlink_status(path, ec))) {
    if (!force) return std::fprintf(stderr, "vlinit: %s exists (use --force to replace it)\n", path.string().c_str()), 2;
    if (!fs::is_regular_file(fs::symlink_status(path, ec)))
      return std::fprintf(stderr, "vlinit: %s exists and is not a plain file\n", path.string().c_str()), 2;
  }
  MachineKey key;
  if (!MakeMachineKey(key)) return std::fprintf(stderr, "vlinit: the crypto library cannot start\n"), 1;
  fs::remove(path, ec);
  if (!WriteSecret(path, key)) {
    fs::remove(path, ec);
    return std::fprintf(stderr, "vlinit: cannot write %s\n", path.string().c_str()), 1;
  }
  std::printf("vlinit: %s made in %s\npublic key: %s\n", kMachineKeyName, folder.string().c_str(), KeyText(key.publicKey).c_str());
  return 0;
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The list with the peer's line put in place of its old one, or added at
// the end; every other line (comments too) stays as it was.
std::string WithPeer(const std::string& text, const std::string& id, const std::string& entry, bool& replaced) {
  std::string out;
  replaced = false;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string lineText = text.substr(at, end - at);
    const size_t start = lineText.find_first_not_of(" \t");
    const size_t stop = start == std::string::npos ? start : lineText.find_first_of(" \t\r\n", start);
    if (start != std::string::npos && lineText.compare(start, stop - start, id) == 0 && stop - start == id.size()) {
      lineText = entry + "\n";
      replaced = true;
    }
    out += lineText;
    at = end;
  }
  if (!replaced) out += (out.empty() || out.back() == '\n' ? "" : "\n") + entry + "\n";
  return out;
}

int AddPeer(const CommandLine& line, const fs::path& folder) {
  std::string id;
  Refusal why;
  const FieldRule idRule{"add-peer", Record::Unit, UnitField::MachID, Rule::Id, 1, kMachineIdLimit, 0, 0, {}, nullptr};
  if (!CheckValue(idRule, line.peerId, id, why)) return Refuse(why, false);
  PublicKey key;
  const char* reason = "";
  if (!PublicKeyFromHex(line.peerKey.c_str(), int32_t(line.peerKey.size()), key, &reason))
    return Refuse({"--add-peer " + id + ": " + reason + ", not " + Quoted(line.peerKey)}, false);
  const fs::path path = folder / kKnownMachinesName;
  std::error_code ec;
  const bool exists = fs::exists(fs::symlink_status(path, ec));
  if (exists && !fs::is_regular_file(fs::symlink_status(path, ec)))
    return Refuse({path.string() + " is not a plain file"}, false);
  std::string text = exists ? ReadText(path)
                            : "# machines whose calls are checked by key: machine id, public key\n";
  KnownMachines known;
  KnownProblem problem;
  if (exists && LoadKnownMachines(path.string().c_str(), known, problem) != kKnownRead) {
    std::fprintf(stderr, "vlinit: %s line %d: %s (mend it first; nothing was changed)\n", path.string().c_str(),
                 int(problem.line), problem.reason);
    return 1;
  }
  bool replaced = false;
  text = WithPeer(text, id, id + " " + KeyText(key), replaced);
  if (!ParseKnownMachines(text.data(), int32_t(text.size()), known, problem))
    return Refuse({std::string("the list would be refused: ") + problem.reason}, false);
  const fs::path part = path.string() + kPartSuffix;
  if (!WriteText(part, text) || (fs::rename(part, path, ec), ec)) {
    fs::remove(part, ec);
    return std::fprintf(stderr, "vlinit: cannot write %s\n", path.string().c_str()), 1;
  }
  std::printf("vlinit: %s %s %s\n", id.c_str(), replaced ? "replaced in" : "added to", path.string().c_str());
  return 0;
}

int OnExistingMachine(const CommandLine& line) {
  fs::path folder;
  Refusal why;
  if (!ExistingMachine(line, folder, why)) return Refuse(why, false);
  switch (line.mode) {
    case Mode::ShowKey: return ShowKey(folder);
    case Mode::MakeKey: return MakeKey(folder, line.force);
    default: return AddPeer(line, folder);
  }
}

}  // namespace

int main(int argc, char** argv) {
  MakeNewFilesPrivate();
  CommandLine line;
  Refusal why;
  Machine machine;
  Target target;
  if (!Parse(argc, argv, line, why)) return Refuse(why, true);
  if (line.help) {
    Help();
    return 0;
  }
  if (line.mode != Mode::Make) return OnExistingMachine(line);
  if (!BuildRecords(line, machine, why) || !BuildCommText(line, machine, why) || !BuildRouteTexts(line, machine, why))
    return Refuse(why, false);
  if (!PrepareFolder(line, machine, target, why)) return Refuse(why, false);
  std::string error;
  if (!WriteMachine(machine, target, error)) {
    std::fprintf(stderr, "vlinit: %s\n", error.c_str());
    return 1;
  }
  Report(target, machine);
  return 0;
}
