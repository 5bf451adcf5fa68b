// vlinit as a user runs it: the files it makes, the values it stores, and
// every command line it must refuse without leaving anything behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "commlib/settings.h"
#include "config/config.h"
#include "link/secure.h"
#include "toolkit/files.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

// Runs vlinit with these arguments, its output kept in a file; returns the
// exit code.
int RunVlinit(const Args& args, const fs::path& log) {
  pid_t child = fork();
  if (child == 0) {
    FILE* out = std::freopen(log.c_str(), "w", stderr);
    if (!out || !std::freopen(log.c_str(), "a", stdout)) _exit(127);
    std::vector<char*> argv{const_cast<char*>(VLINIT_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VLINIT_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Vlinit : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vl-vlinit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    machine_ = root_ / "machine";
  }
  void TearDown() override { fs::remove_all(root_); }

  int Run(Args args) {
    args.insert(args.begin(), machine_.string());
    return RunVlinit(args, root_ / "log.txt");
  }
  std::string Log() const { return ReadAll(root_ / "log.txt"); }

  ConfigRecord Record(const char* name) {
    ConfigRecord record{};
    EXPECT_EQ(fs::file_size(machine_ / name), uintmax_t(kRecordSize)) << name;
    EXPECT_EQ(ReadRecord((machine_ / name).c_str(), record), kRecordSize) << name;
    return record;
  }
  std::vector<std::string> FilesMade() const {
    std::vector<std::string> names;
    std::error_code ec;
    if (fs::is_directory(machine_, ec))
      for (const auto& entry : fs::directory_iterator(machine_)) names.push_back(entry.path().filename());
    return names;
  }

  fs::path root_, machine_;
};

const Args kMinimal = {"--machid", "401", "--control-id", "admin", "--control-key", "secret"};

Args With(Args extra) {
  Args args = kMinimal;
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

struct FieldValue {
  const char* name;
  bool unit;
  FieldSlot slot;
  const char* text;
};

void ExpectFields(const ConfigRecord& unit, const ConfigRecord& settings, const std::vector<FieldValue>& fields) {
  for (const FieldValue& f : fields)
    EXPECT_STREQ((f.unit ? unit : settings).Text(f.slot), f.text) << f.name;
}

// Every byte outside the listed fields is zero: nothing stray was written.
void ExpectOnlyFields(const ConfigRecord& record, bool unit, const std::vector<FieldValue>& fields) {
  std::vector<bool> covered(kRecordSize, false);
  for (const FieldValue& f : fields)
    if (f.unit == unit)
      for (int i = 0; i < f.slot.width; ++i) covered[f.slot.offset + i] = true;
  for (int i = 0; i < kRecordSize; ++i)
    if (!covered[i]) {
      EXPECT_EQ(record.bytes[i], 0) << (unit ? "unit" : "settings") << " byte " << i;
    }
}

TEST_F(Vlinit, DefaultsMakeAReadyMachine) {
  ASSERT_EQ(Run(kMinimal), 0) << Log();
  const std::vector<FieldValue> fields = {
      {"MachID", true, UnitField::MachID, "401"},
      {"OnlineMachID", true, UnitField::OnlineMachID, ""},
      {"Owner", true, UnitField::Owner, ""},
      {"ControlID", true, UnitField::ControlID, "admin"},
      {"ControlKey", true, UnitField::ControlKey, "secret"},
      {"AccountCount", true, UnitField::AccountCount, "0"},
      {"Redial", true, UnitField::Redial, "0"},
      {"EnableECourier", true, UnitField::EnableECourier, "1"},
      {"ECourierInterval", true, UnitField::ECourierInterval, "5"},
      {"AutoAuxPort", true, UnitField::AutoAuxPort, "0"},
      {"Signal", false, SettingsField::Signal, "1"},
      {"Port", false, SettingsField::Port, "1"},
      {"AuxPort", false, SettingsField::AuxPort, "2"},
      {"Baud", false, SettingsField::Baud, "56000"},
      {"SetCmd", false, SettingsField::SetCmd, "E0"},
      {"InitCmd", false, SettingsField::InitCmd, "V1S0=1"},
      {"Dial", false, SettingsField::Dial, "DT"},
      {"Answer", false, SettingsField::Answer, "A"},
      {"PlainCallers", false, SettingsField::PlainCallers, "1"},
      {"LineProtocol", false, SettingsField::LineProtocol, "1"},
  };
  ConfigRecord unit = Record("VL.INI"), settings = Record("Velloran.INI");
  ExpectFields(unit, settings, fields);
  ExpectOnlyFields(unit, true, fields);
  ExpectOnlyFields(settings, false, fields);
  EXPECT_EQ(FilesMade().size(), 3u);  // the two records and the key; no port settings unless asked
}

TEST_F(Vlinit, StoresEveryOptionInItsField) {
  const Args args = {"--machid", "Harbour7", "--online-machid", "0401", "--owner", "Harbour office, pier 3",
                     "--control-id", "ADMIN", "--control-key", "Se cret!", "--signal", "3", "--port", "07",
                     "--aux-port=32", "--baud", "256000", "--set-cmd", "&F", "--init-cmd", "E0V1S0=2&C1&D2",
                     "--dial", "DP", "--answer", "", "--redial", "3", "--ecourier", "0", "--interval", "30",
                     "--auto-aux", "1", "--plain-callers", "0", "--line-protocol", "0"};
  ASSERT_EQ(Run(args), 0) << Log();
  ExpectFields(Record("VL.INI"), Record("Velloran.INI"),
               {
                   {"MachID folded", true, UnitField::MachID, "harbour7"},
                   {"OnlineMachID", true, UnitField::OnlineMachID, "0401"},
                   {"Owner", true, UnitField::Owner, "Harbour office, pier 3"},
                   {"ControlID folded", true, UnitField::ControlID, "admin"},
                   {"ControlKey as typed", true, UnitField::ControlKey, "Se cret!"},
                   {"Redial", true, UnitField::Redial, "3"},
                   {"EnableECourier", true, UnitField::EnableECourier, "0"},
                   {"ECourierInterval", true, UnitField::ECourierInterval, "30"},
                   {"AutoAuxPort", true, UnitField::AutoAuxPort, "1"},
                   {"Signal", false, SettingsField::Signal, "3"},
                   {"Port without leading zero", false, SettingsField::Port, "7"},
                   {"AuxPort", false, SettingsField::AuxPort, "32"},
                   {"Baud", false, SettingsField::Baud, "256000"},
                   {"SetCmd", false, SettingsField::SetCmd, "&F"},
                   {"InitCmd", false, SettingsField::InitCmd, "E0V1S0=2&C1&D2"},
                   {"Dial", false, SettingsField::Dial, "DP"},
                   {"Answer empty", false, SettingsField::Answer, ""},
                   {"PlainCallers", false, SettingsField::PlainCallers, "0"},
                   {"LineProtocol", false, SettingsField::LineProtocol, "0"},
               });
}

TEST_F(Vlinit, TakesTextsOfTheLongestLength) {
  const std::string id22(22, 'z'), owner30(30, 'o'), key14(14, 'k'), cmd14(14, 'c'), init46(46, 'i');
  ASSERT_EQ(Run({"--machid", id22, "--online-machid", id22, "--owner", owner30, "--control-id", id22,
                 "--control-key", key14, "--set-cmd", cmd14, "--init-cmd", init46, "--dial", cmd14, "--answer", cmd14}),
            0)
      << Log();
  ConfigRecord unit = Record("VL.INI"), settings = Record("Velloran.INI");
  EXPECT_EQ(std::string(unit.Text(UnitField::MachID)), id22);
  EXPECT_EQ(std::string(unit.Text(UnitField::Owner)), owner30);
  EXPECT_EQ(std::string(unit.Text(UnitField::ControlKey)), key14);
  EXPECT_EQ(std::string(settings.Text(SettingsField::InitCmd)), init46);
  EXPECT_EQ(std::string(settings.Text(SettingsField::Answer)), cmd14);
}

struct RefusalCase {
  const char* what;
  const char* says;  // the reason the message must give
  Args args;         // after the folder
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.what; }

class VlinitRefuses : public Vlinit, public testing::WithParamInterface<RefusalCase> {};

TEST_P(VlinitRefuses, WithAMessageAndNoFiles) {
  EXPECT_EQ(Run(GetParam().args), 2);
  EXPECT_NE(Log().find(std::string("vlinit: ") + GetParam().says), std::string::npos) << Log();
  EXPECT_TRUE(FilesMade().empty()) << "files were left behind";
}

const RefusalCase kRefusals[] = {
    {"no machid", "--machid is required", {"--control-id", "admin", "--control-key", "secret"}},
    {"no control id", "--control-id is required", {"--machid", "401", "--control-key", "secret"}},
    {"no control key", "--control-key is required", {"--machid", "401", "--control-id", "admin"}},
    {"empty machid", "--machid takes 1 to 22", {"--machid", "", "--control-id", "admin", "--control-key", "secret"}},
    {"machid of 23", "--machid takes 1 to 22", {"--machid", std::string(23, '4'), "--control-id", "admin", "--control-key", "secret"}},
    {"machid with a dash", "--machid takes only", {"--machid", "40-1", "--control-id", "admin", "--control-key", "secret"}},
    {"machid with a blank", "--machid takes only", {"--machid", "40 1", "--control-id", "admin", "--control-key", "secret"}},
    {"control id with a dot", "--control-id takes only", {"--machid", "401", "--control-id", "ad.min", "--control-key", "secret"}},
    {"empty control id", "--control-id takes 1 to 22", {"--machid", "401", "--control-id", "", "--control-key", "secret"}},
    {"empty control key", "--control-key takes 1 to 14", {"--machid", "401", "--control-id", "admin", "--control-key", ""}},
    {"control key of 15", "--control-key takes 1 to 14", {"--machid", "401", "--control-id", "admin", "--control-key", std::string(15, 'k')}},
    {"control key with a tab", "--control-key takes printable", {"--machid", "401", "--control-id", "admin", "--control-key", "se\tcret"}},
    {"online machid with a slash", "--online-machid takes only", With({"--online-machid", "a/b"})},
    {"online machid of 23", "--online-machid takes at most 22", With({"--online-machid", std::string(23, 'a')})},
    {"owner of 31", "--owner takes at most 30", With({"--owner", std::string(31, 'o')})},
    {"owner not ASCII", "--owner takes printable", With({"--owner", "Caf\xc3\xa9"})},
    {"signal 0", "--signal must be a number from 1 to 3", With({"--signal", "0"})},
    {"signal 4", "--signal must be a number from 1 to 3", With({"--signal", "4"})},
    {"port 0", "--port must be a number from 1 to 32", With({"--port", "0"})},
    {"port 33", "--port must be a number from 1 to 32", With({"--port", "33"})},
    {"port negative", "--port must be a number from 1 to 32", With({"--port", "-1"})},
    {"port with a blank", "--port must be a number from 1 to 32", With({"--port", " 1"})},
    {"aux port 33", "--aux-port must be a number from 1 to 32", With({"--aux-port", "33"})},
    {"baud 9600", "--baud must be one of", With({"--baud", "9600"})},
    {"baud words", "--baud must be one of", With({"--baud", "fast"})},
    {"set cmd of 15", "--set-cmd takes at most 14", With({"--set-cmd", std::string(15, 'c')})},
    {"set cmd with a line end", "--set-cmd takes printable", With({"--set-cmd", "E0\r"})},
    {"init cmd of 47", "--init-cmd takes at most 46", With({"--init-cmd", std::string(47, 'i')})},
    {"dial of 15", "--dial takes at most 14", With({"--dial", std::string(15, 'd')})},
    {"answer of 15", "--answer takes at most 14", With({"--answer", std::string(15, 'a')})},
    {"redial 4", "--redial must be a number from 0 to 3", With({"--redial", "4"})},
    {"redial negative", "--redial must be a number from 0 to 3", With({"--redial", "-1"})},
    {"ecourier 2", "--ecourier must be a number from 0 to 1", With({"--ecourier", "2"})},
    {"ecourier yes", "--ecourier must be a number from 0 to 1", With({"--ecourier", "yes"})},
    {"interval 7", "--interval must be one of", With({"--interval", "7"})},
    {"interval 0", "--interval must be one of", With({"--interval", "0"})},
    {"auto aux 2", "--auto-aux must be a number from 0 to 1", With({"--auto-aux", "2"})},
    {"unknown option", "unknown option --modem", With({"--modem", "1"})},
    {"unknown flag followed by an option", "unknown option --quiet", {"--quiet", "--machid", "401"}},
    {"option without value", "--port needs a value", With({"--port"})},
    {"option given twice", "--port given twice", With({"--port", "1", "--port", "2"})},
    {"two folders", "more than one folder", With({"elsewhere"})},
    {"phonebook without a virtual modem", "--phonebook needs --virtual-modem", With({"--phonebook", "402=127.0.0.1:7402"})},
    {"virtual modem without a port", "--virtual-modem needs HOST:PORT", With({"--virtual-modem", "127.0.0.1"})},
    {"virtual modem on a name", "--virtual-modem needs HOST:PORT", With({"--virtual-modem", "example.org:7401"})},
    {"virtual modem port too big", "--virtual-modem needs HOST:PORT", With({"--virtual-modem", "127.0.0.1:70000"})},
    {"phonebook without =", "--phonebook needs NUMBER=HOST:PORT", With({"--virtual-modem", "127.0.0.1:0", "--phonebook", "402"})},
    {"phonebook number with letters", "--phonebook needs NUMBER=HOST:PORT", With({"--virtual-modem", "127.0.0.1:0", "--phonebook", "4a2=127.0.0.1:7402"})},
    {"phonebook to port 0", "--phonebook 402: not an address", With({"--virtual-modem", "127.0.0.1:0", "--phonebook", "402=127.0.0.1:0"})},
    {"phonebook number twice", "--phonebook lists 402 twice",
     With({"--virtual-modem", "127.0.0.1:0", "--phonebook", "402=127.0.0.1:7402", "--phonebook", "402=127.0.0.1:7403"})},
    {"route without a hub", "--route needs DESTINATION=HUB", With({"--route", "402"})},
    {"route with a star inside", "--route takes only the letters", With({"--route", "4*2=401"})},
    {"route to a pattern", "--route takes only the letters", With({"--route", "402=40*"})},
    {"route twice", "--route lists 402 twice", With({"--route", "402=401", "--route", "402=403"})},
    {"hub that is no id", "--hub takes only the letters", With({"--hub", "../401"})},
};

INSTANTIATE_TEST_SUITE_P(All, VlinitRefuses, testing::ValuesIn(kRefusals),
                         [](const testing::TestParamInfo<RefusalCase>& info) {
                           std::string name;
                           for (const char* p = info.param.what; *p; ++p) name += std::isalnum(*p) ? *p : '_';
                           return name;
                         });

struct FolderCase {
  const char* what;
  std::string folder;  // under the test's root
  int exitCode;
};

// Folders the program could not work in, or that cannot be made at all.
TEST_F(Vlinit, RefusesFoldersThatCannotServe) {
  std::ofstream(root_ / "plain") << "a file, not a folder";
  const FolderCase cases[] = {
      {"a backslash in the name", "a\\b", 2},
      {"a path too long for the program's buffers", std::string(250, 'p'), 2},
      {"a plain file", "plain", 2},
      {"a folder below a plain file", "plain/sub", 1},
  };
  for (const FolderCase& c : cases) {
    SCOPED_TRACE(c.what);
    Args args = kMinimal;
    args.insert(args.begin(), (root_ / c.folder).string());
    EXPECT_EQ(RunVlinit(args, root_ / "log.txt"), c.exitCode);
    EXPECT_NE(ReadAll(root_ / "log.txt").find("vlinit: "), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / c.folder / "VL.INI"));
    EXPECT_FALSE(fs::exists(root_ / c.folder / "Velloran.INI"));
  }
  EXPECT_EQ(ReadAll(root_ / "plain"), "a file, not a folder");
}

TEST_F(Vlinit, HelpDescribesTheOptionsAndWritesNothing) {
  EXPECT_EQ(Run({"--help"}), 0);
  for (const char* option : {"--machid", "--control-key", "--virtual-modem", "--phonebook", "--route", "--hub", "--force", "--plain-callers",
                             "--show-key", "--make-key", "--add-peer"})
    EXPECT_NE(Log().find(option), std::string::npos) << option;
  EXPECT_TRUE(FilesMade().empty());
}

TEST_F(Vlinit, KeepsExistingFilesUnlessForced) {
  fs::create_directories(machine_);
  const std::string longer(600, 'x');
  std::ofstream(machine_ / "VL.INI", std::ios::binary) << longer;
  EXPECT_EQ(Run(kMinimal), 2);
  EXPECT_NE(Log().find("--force"), std::string::npos);
  EXPECT_EQ(ReadAll(machine_ / "VL.INI"), longer);
  EXPECT_FALSE(fs::exists(machine_ / "Velloran.INI"));

  // Replaced whole: a longer old file must not leave a tail behind.
  ASSERT_EQ(Run(With({"--force"})), 0) << Log();
  EXPECT_STREQ(Record("VL.INI").Text(UnitField::MachID), "401");
  EXPECT_STREQ(Record("Velloran.INI").Text(SettingsField::Dial), "DT");
}

TEST_F(Vlinit, WritesPortSettingsTheLibraryAccepts) {
  ASSERT_EQ(Run(With({"--port", "4", "--virtual-modem", "127.0.0.1:7401", "--phonebook", "402=127.0.0.1:7402",
                      "--phonebook", "0403=localhost:7403"})),
            0)
      << Log();
  comm::SettingsFile file;
  std::string error;
  ASSERT_TRUE(comm::readSettingsFile((machine_ / "ruk_comm.ini").string(), file, error)) << error;
  comm::PortSettings port = comm::settingsForPort(file, 4);
  EXPECT_EQ(port.backend, comm::Backend::Virtual);
  ASSERT_TRUE(port.listen.has_value());
  EXPECT_EQ(port.listen->address, 0x7f000001u);
  EXPECT_EQ(port.listen->port, 7401);
  EXPECT_EQ(comm::settingsForPort(file, 1).backend, comm::Backend::Serial);
  ASSERT_EQ(file.phonebook.size(), 2u);
  const comm::PhoneEntry* second = comm::findNumber(file.phonebook, "403");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->address.port, 7403);
  EXPECT_EQ(comm::findNumber(file.phonebook, "402")->address.port, 7402);
  EXPECT_STREQ(Record("Velloran.INI").Text(SettingsField::Port), "4");
}

TEST_F(Vlinit, WritesRoutesAndHubsOneLineEachFoldedAsTheProgramReadsThem) {
  ASSERT_EQ(Run(With({"--route", "0402=0401", "--route", "05*=0401", "--route", "*=0900", "--hub", "ABC"})), 0) << Log();
  std::ifstream routes(machine_ / "ROUTES.TXT"), hubs(machine_ / "HUBS.TXT");
  const std::string routeText((std::istreambuf_iterator<char>(routes)), {});
  const std::string hubText((std::istreambuf_iterator<char>(hubs)), {});
  EXPECT_NE(routeText.find("\n0402 0401\n05* 0401\n* 0900\n"), std::string::npos) << routeText;
  EXPECT_NE(hubText.find("\nabc\n"), std::string::npos) << hubText;
  EXPECT_EQ(routeText[0], '#');
}

std::string Hex(const unsigned char* bytes) {
  PublicKey key;
  std::memcpy(key.bytes, bytes, kPublicKeySize);
  char hex[kKeyHexSize + 1];
  PublicKeyHex(key, hex);
  return hex;
}

TEST_F(Vlinit, MachineKeyIsItsOwnersAloneAndOnlyItsPublicHalfIsShown) {
  ASSERT_EQ(Run(kMinimal), 0) << Log();
  const fs::path keyFile = machine_ / "MACHINE.KEY";
  const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(fs::status(keyFile).permissions() & fs::perms::all, ownerOnly);
  MachineKey key;
  ASSERT_EQ(LoadMachineKey(keyFile.c_str(), key), kKeyRead);
  const std::string publicHex = Hex(key.publicKey.bytes), seedHex = Hex(key.secretKey);
  EXPECT_NE(Log().find("public key: " + publicHex + "\n"), std::string::npos) << Log();
  EXPECT_EQ(Log().find(seedHex.substr(0, 16)), std::string::npos);
  ASSERT_EQ(Run({"--show-key"}), 0) << Log();
  EXPECT_EQ(Log(), publicHex + "\n");

  // A key is replaced only on request: peers know this machine by it.
  const std::string before = ReadAll(keyFile);
  EXPECT_EQ(Run(kMinimal), 2);
  EXPECT_EQ(Run({"--make-key"}), 2);
  EXPECT_NE(Log().find("--force"), std::string::npos);
  EXPECT_EQ(ReadAll(keyFile), before);
  ASSERT_EQ(Run({"--make-key", "--force"}), 0) << Log();
  EXPECT_NE(ReadAll(keyFile), before);
  EXPECT_EQ(fs::status(keyFile).permissions() & fs::perms::all, ownerOnly);
  ASSERT_EQ(LoadMachineKey(keyFile.c_str(), key), kKeyRead);
  EXPECT_NE(Log().find("public key: " + Hex(key.publicKey.bytes)), std::string::npos);

  EXPECT_EQ(RunVlinit({(root_ / "nowhere").string(), "--show-key"}, root_ / "log.txt"), 2);
  EXPECT_NE(Log().find("not a machine folder"), std::string::npos);
}

// Mail is only scrambled: whatever a new machine's folder holds, made by
// vlinit or by the program through its file layer, is its owner's alone,
// whatever umask the user has.
TEST_F(Vlinit, NewMachineFolderIsItsOwnersAlone) {
  const mode_t before = umask(022);
  ASSERT_EQ(Run(With({"--virtual-modem", "127.0.0.1:7401"})), 0) << Log();
  MachineKey other;
  ASSERT_EQ(MakeMachineKey(other), 1);
  ASSERT_EQ(Run({"--add-peer", "402", Hex(other.publicKey.bytes)}), 0) << Log();
  const std::string post = machine_.string() + "/POST", spool = post + "/mail[@]";
  ASSERT_EQ(pDir(const_cast<char*>("mak"), const_cast<char*>(post.c_str()), 0), 1);
  char block[512] = {};
  ASSERT_EQ(pFileIO(1, spool.c_str(), 1, block, sizeof block), int32_t(sizeof block));
  umask(before);
  const fs::perms others = fs::perms::group_all | fs::perms::others_all;
  EXPECT_EQ(fs::status(machine_).permissions() & others, fs::perms::none);
  int checked = 0;
  for (const auto& entry : fs::recursive_directory_iterator(machine_)) {
    EXPECT_EQ(entry.status().permissions() & others, fs::perms::none) << entry.path();
    ++checked;
  }
  EXPECT_EQ(checked, 7);  // VL.INI, Velloran.INI, MACHINE.KEY, ruk_comm.ini, KNOWN.TXT, POST, the mail
}

TEST_F(Vlinit, AddPeerKeepsAListTheProgramAccepts) {
  ASSERT_EQ(Run(kMinimal), 0) << Log();
  ASSERT_EQ(Run({"--show-key"}), 0);
  const std::string own = Log().substr(0, kKeyHexSize);
  MachineKey other;
  ASSERT_EQ(MakeMachineKey(other), 1);
  const std::string peer = Hex(other.publicKey.bytes);

  ASSERT_EQ(Run({"--add-peer", "402", peer}), 0) << Log();
  ASSERT_EQ(Run({"--add-peer", "HARBOUR", peer}), 0) << Log();
  ASSERT_EQ(Run({"--add-peer", "402", own}), 0) << Log();
  EXPECT_NE(Log().find("402 replaced"), std::string::npos) << Log();
  const fs::path list = machine_ / "KNOWN.TXT";
  KnownMachines known;
  KnownProblem problem;
  ASSERT_EQ(LoadKnownMachines(list.c_str(), known, problem), kKnownRead) << problem.reason;
  EXPECT_EQ(known.count, 2);
  ASSERT_NE(FindKnownMachine(known, "402"), nullptr);
  ASSERT_NE(FindKnownMachine(known, "harbour"), nullptr);
  EXPECT_EQ(Hex(FindKnownMachine(known, "402")->bytes), own);
  EXPECT_EQ(Hex(FindKnownMachine(known, "harbour")->bytes), peer);

  const std::string text = ReadAll(list);
  const RefusalCase refused[] = {
      {"short key", "--add-peer 403: a key is 64 hex digits", {"--add-peer", "403", peer.substr(1)}},
      {"no key", "--add-peer needs a machine id and a key", {"--add-peer", "403"}},
      {"id with a dash", "--add-peer takes only", {"--add-peer", "4-3", peer}},
      {"key of no key pair", "--add-peer 403: not a public key", {"--add-peer", "403", std::string(64, '0')}},
  };
  for (const RefusalCase& c : refused) {
    EXPECT_EQ(Run(c.args), 2) << c.what;
    EXPECT_NE(Log().find(std::string("vlinit: ") + c.says), std::string::npos) << Log();
  }
  EXPECT_EQ(ReadAll(list), text);

  // A list the program would refuse is mended by a person, not written over.
  std::ofstream(list, std::ios::app) << "404\n";
  EXPECT_EQ(Run({"--add-peer", "405", peer}), 1);
  EXPECT_NE(Log().find("line 4: a line holds a machine id and a key"), std::string::npos) << Log();
  EXPECT_EQ(ReadAll(list), text + "404\n");
}

}  // namespace
