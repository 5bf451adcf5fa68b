#include "link_fixture.h"
#include "tests/common/store_bytes.h"
#include "tests/common/temp_folder.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "config/config.h"
#include "console/console.h"
#include "link/extended.h"
#include "link/link.h"
#include "platform/comm.h"
#include "platform/unit.h"
#include "toolkit/files.h"
#include "winapi/headless/driver.h"
#include "winapi/loop.h"

namespace linktest {

std::string Encoded(const std::string& text) {
  char buffer[256] = {};
  text.copy(buffer, text.size());
  vlData(1, buffer, int32_t(2 * text.size()));
  return std::string(buffer);
}

namespace {

void PutText(Bytes& bytes, size_t offset, const std::string& text) {
  std::copy(text.begin(), text.end(), bytes.begin() + long(offset));
}

Bytes MakeBlock(const MailShape& mail, int k) {
  Bytes block(4096, 0);
  const size_t h = 3576;
  const std::string number = mail.blockNumbers.empty() ? std::to_string(k) : mail.blockNumbers[size_t(k - 1)];
  PutText(block, h + 0, "[ML]");
  PutText(block, h + 8, mail.postedAt);
  PutText(block, h + 26, mail.sender);
  PutText(block, h + 98, "subject");
  PutText(block, h + 146, mail.destination);
  PutText(block, h + 234, number);
  PutText(block, h + 243, mail.totalBlocks.empty() ? std::to_string(mail.blocks) : mail.totalBlocks);
  PutText(block, h + 252, std::to_string(mail.blocks - 1));
  PutText(block, h + 256, "[N]");
  if (k == 1) {
    PutText(block, 0, "message text");
    PutText(block, 3520, "[MSG]");
    PutText(block, 3568, "12");
    vlData(1, block.data(), 3576);
  } else {
    for (int i = 0; i < 3519; ++i) block[size_t(i)] = static_cast<unsigned char>(k * 7 + i);
    PutText(block, 3520, "file.bin");
    PutText(block, 3568, "3519");
  }
  vlData(1, block.data() + h, 520);
  return block;
}

}  // namespace

Bytes MakeMail(const MailShape& mail) {
  Bytes all;
  for (int k = 1; k <= mail.blocks; ++k) {
    Bytes b = MakeBlock(mail, k);
    all.insert(all.end(), b.begin(), b.end());
  }
  return all;
}

Bytes MakeAnnounce(const std::string& name, const std::string& machine, const std::string& marker,
                   const std::string& from) {
  Bytes a(512, 0);
  std::copy(name.begin(), name.begin() + long(std::min<size_t>(name.size(), 137)), a.begin());
  PutText(a, 137, machine.substr(0, 24));
  PutText(a, 161, marker);
  PutText(a, 173, from);
  PutText(a, 197, "peer owner");
  vlData(1, a.data(), 512);
  return a;
}

void AddOffer(Bytes& announce, const Bytes& mail) {
  vlData(-1, announce.data(), kAnnounceSize);
  DigestWork work;
  DigestStart(work);
  DigestAdd(work, mail.data(), int32_t(mail.size()));
  MailDigest digest;
  DigestFinish(work, digest);
  WriteOffer(*reinterpret_cast<TransferAnnounce*>(announce.data()), int32_t(mail.size() / kBlockSize), digest, nullptr);
  vlData(1, announce.data(), kAnnounceSize);
}

std::string TextAt(const Bytes& bytes, size_t offset, size_t width) {
  std::string text;
  for (size_t i = 0; i < width && offset + i < bytes.size() && bytes[offset + i] != 0; ++i)
    text += char(bytes[offset + i]);
  return text;
}

Bytes HeaderOf(const Bytes& block) {
  Bytes header(block.begin() + 3576, block.begin() + 4096);
  vlData(-1, header.data(), 520);
  return header;
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void LinkFixture::SetUp() {
  root_ = MakeTempFolder("vllink");
  ASSERT_FALSE(root_.empty());
  fs::create_directory(Post());

  commReset(commDefault());
  headless::reset(true, 1000);
  ResetLink();
  ResetConfig();
  ResetConsole();
  std::string classic = storebytes::Classic(root_);
  ConfigState& config = Config();
  classic.copy(config.programFolder, sizeof config.programFolder - 1);
  (classic + "\\POST").copy(config.spoolPath, sizeof config.spoolPath - 1);
  config.unit.SetText(UnitField::MachID, "400");
  config.unit.SetText(UnitField::Owner, "link tests");
  config.settings.SetText(SettingsField::Signal, "1");
  config.settings.SetText(SettingsField::Port, "1");
  config.settings.SetText(SettingsField::Baud, "56000");
  config.settings.SetText(SettingsField::SetCmd, "E0");
  config.settings.SetText(SettingsField::InitCmd, "S0=1");
  config.settings.SetText(SettingsField::Dial, "DT");

  commSelect(nullptr);
  commSetSettingsFile(commDefault(), (root_ / "ruk_comm.ini").string().c_str());
  WriteProgramSettings({});
  ruk_pbx_Event(OnLinkEvent, 250);
  OpenConsoleWindow();
}

void LinkFixture::TearDown() {
  peers_.clear();
  commReset(commDefault());
  CloseConsoleWindow();
  headless::reset(true, 0);
  ResetLink();
  ResetConsole();
  ResetConfig();
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void LinkFixture::WriteProgramSettings(const std::map<std::string, int>& phonebook) {
  std::ofstream out(root_ / "ruk_comm.ini", std::ios::trunc);
  out << "[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\n[phonebook]\n";
  for (const auto& [number, port] : phonebook) out << number << " = 127.0.0.1:" << port << "\n";
}

Peer& LinkFixture::AddPeer(const std::string& number) {
  auto peer = std::make_unique<Peer>(root_, "peer" + number);
  peer->Open();
  Peer& ref = *peer;
  peers_[number] = std::move(peer);
  return ref;
}

void LinkFixture::BringLinkUp() {
  std::map<std::string, int> book;
  for (const auto& [number, peer] : peers_) book[number] = peer->ListenPort();
  WriteProgramSettings(book);
  ToggleLink();
  ASSERT_EQ(Link().online, 1);
  ASSERT_EQ(Link().modemReady, 1);
}

bool LinkFixture::RunUntil(const std::function<bool()>& done, uint32_t limitMs) {
  const uint32_t start = waNow();
  while (!done()) {
    if (waNow() - start >= limitMs) return false;
    pDoEvent(10);
  }
  return true;
}

void LinkFixture::Pump(uint32_t ms) { pDoEvent(int32_t(ms)); }

void LinkFixture::CallFrom(Peer& peer) {
  // The peer learns this machine's number only now: its listening port is
  // known once the link is up.
  peer.Close();
  peer.Open({{"400", commListenPort(commDefault())}});
  ASSERT_EQ(peer.Dial("400"), 1);
  ASSERT_TRUE(RunUntil([&] { return peer.carrier && Link().callState == -1; }, 20000));
  EXPECT_EQ(Link().lineBusy, 1);
}

void LinkFixture::SetConnected(const std::string& machine) {
  char* slot = Link().connectedMachine;
  std::fill(slot, slot + kMachineSlotSize, 0);
  machine.copy(slot, kMachineSlotSize - 1);
}

std::vector<std::string> LinkFixture::SpoolNames() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Post())) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> LinkFixture::AllFiles() const {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root_))
    if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root_).string());
  std::sort(files.begin(), files.end());
  return files;
}

fs::path LinkFixture::PutRemote(const MailShape& mail, const std::string& name) {
  fs::path path = Post() / (name.empty() ? SpoolNameOf(mail, "[@]") : name);
  WriteAll(path, MakeMail(mail));
  return path;
}

}  // namespace linktest
