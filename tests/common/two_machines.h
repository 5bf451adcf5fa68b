// Two whole machines' links in one process, on one event loop and one clock.
//
// The program keeps its link and configuration in one struct each (Link(),
// Config()). A second machine gets copies of its own, and whichever machine
// an event or a step belongs to has its copies swapped in while it runs: the
// sender's posting pass runs as machine A, and every library event of
// machine B's modem (its receiving role) runs as machine B. Both use the very
// code of the program, so the extended protocol can be run against itself on
// the virtual clock, deterministically, with the virtual modem's pacing and
// faults on the line between them.
#pragma once
#include <stdint.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "commlib/instance.h"
#include "config/config.h"
#include "link/link.h"
#include "platform/comm.h"
#include "tests/common/temp_folder.h"
#include "winapi/headless/driver.h"
#include "winapi/loop.h"

namespace twomachines {

namespace fs = std::filesystem;

struct Machine {
  std::unique_ptr<LinkState> link = std::make_unique<LinkState>();
  std::unique_ptr<ConfigState> config = std::make_unique<ConfigState>();
  CommInstance* comm = nullptr;  // nullptr: the library's default instance
  fs::path root;
  // What its modem delivered: data events, their bytes, and when the first
  // and the last of them came (virtual milliseconds).
  int dataEvents = 0;
  uint64_t bytesIn = 0;
  uint32_t firstDataAt = 0, secondDataAt = 0, lastDataAt = 0;
  std::string received;  // every byte, in order
};

inline Machine*& Active() {
  static Machine* active = nullptr;
  return active;
}

// Parks the active machine's state and brings in m's.
inline void Activate(Machine* m) {
  Machine*& active = Active();
  if (active == m) return;
  if (active != nullptr) {
    std::memcpy(static_cast<void*>(active->link.get()), &Link(), sizeof(LinkState));
    std::memcpy(static_cast<void*>(active->config.get()), &Config(), sizeof(ConfigState));
  }
  std::memcpy(static_cast<void*>(&Link()), m->link.get(), sizeof(LinkState));
  std::memcpy(static_cast<void*>(&Config()), m->config.get(), sizeof(ConfigState));
  active = m;
}

// Runs f as machine m (with its modem selected), then gives the state back.
template <class F>
void As(Machine& m, F f) {
  Machine* before = Active();
  CommInstance* selected = commSelected();
  Activate(&m);
  commSelect(m.comm);
  f();
  commSelect(selected == commDefault() ? nullptr : selected);
  if (before != nullptr) Activate(before);
}

template <int N>
Machine& Slot() {
  static Machine machine;
  return machine;
}

template <int N>
int32_t OnEvent(int32_t type, int32_t state, const char* data, int32_t length) {
  Machine* before = Active();
  Machine& m = Slot<N>();
  Activate(&m);
  if (type == 5 && length > 0) {
    if (m.dataEvents == 0) m.firstDataAt = waNow();
    if (m.dataEvents == 1) m.secondDataAt = waNow();
    ++m.dataEvents;
    m.lastDataAt = waNow();
    m.bytesIn += uint64_t(length);
    m.received.append(data, size_t(length));
  }
  const int32_t result = OnLinkEvent(type, state, data, length);
  if (before != nullptr) Activate(before);
  return result;
}

inline std::string Classic(const fs::path& path) {
  std::string text = (path.has_root_name() ? "" : "C:") + path.string();
  for (char& c : text)
    if (c == '/') c = '\\';
  return text;
}

// Makes machine N: its folder (with POST), its configuration (MachID id,
// LineProtocol "0" when plain), its modem settings (a virtual modem that
// answers by itself, listening on a free loopback port, with extra lines
// such as "pace = 1" or faults), and brings its link up. Returns it.
template <int N>
Machine& Start(const fs::path& root, const std::string& id, bool extended, const std::string& modemLines,
               const std::string& phonebook = "") {
  Machine& m = Slot<N>();
  m.root = root;
  m.dataEvents = 0;
  m.bytesIn = 0;
  m.firstDataAt = m.secondDataAt = m.lastDataAt = 0;
  m.received.clear();
  fs::create_directories(root / "POST");
  if (m.comm == nullptr && N != 0) m.comm = commCreate();
  {
    std::ofstream ini(root / "ruk_comm.ini", std::ios::trunc);
    ini << "[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\nauto_answer = 1\n" << modemLines;
    if (!phonebook.empty()) ini << "[phonebook]\n" << phonebook;
  }
  commSetSettingsFile(m.comm == nullptr ? commDefault() : m.comm, (root / "ruk_comm.ini").string().c_str());
  As(m, [&] {
    ResetLink();
    ResetConfig();
    ConfigState& config = Config();
    Classic(root).copy(config.programFolder, sizeof config.programFolder - 1);
    (Classic(root) + "\\POST").copy(config.spoolPath, sizeof config.spoolPath - 1);
    config.unit.SetText(UnitField::MachID, id.c_str());
    config.settings.SetText(SettingsField::Signal, "1");
    config.settings.SetText(SettingsField::Port, "1");
    config.settings.SetNumber(SettingsField::Baud, 56000);
    config.settings.SetText(SettingsField::Dial, "DT");
    config.settings.SetText(SettingsField::LineProtocol, extended ? "" : "0");
    ruk_pbx_Event(OnEvent<N>, 250);
    ToggleLink();
  });
  return m;
}

inline int ListenPort(const Machine& m) { return commListenPort(m.comm == nullptr ? commDefault() : m.comm); }

template <int N>
void Stop() {
  Machine& m = Slot<N>();
  As(m, [&] {
    if (Link().online == 1) ToggleLink();
  });
  if (m.comm != nullptr) commDestroy(m.comm);
  m.comm = nullptr;
  if (Active() == &m) Active() = nullptr;
}

inline std::string Hex(const MachineKey& key) {
  char hex[kKeyHexSize + 1];
  PublicKeyHex(key.publicKey, hex);
  return hex;
}

// A machine's key file in folder, its owner's alone as the program wants it.
inline void WriteKey(const fs::path& folder, const MachineKey& key) {
  unsigned char record[kMachineKeyFileSize];
  MachineKeyRecord(key, record);
  std::ofstream(folder / kMachineKeyName, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(record), kMachineKeyFileSize);
  fs::permissions(folder / kMachineKeyName, fs::perms::owner_read | fs::perms::owner_write);
}

// KNOWN.TXT in folder: the one machine id and its key.
inline void WriteKnown(const fs::path& folder, const std::string& id, const MachineKey& key) {
  std::ofstream(folder / kKnownMachinesName, std::ios::trunc) << id << " " << Hex(key) << "\n";
}

// A test's own folder for its machines, with the library and the presenter
// (on the virtual clock) fresh; empty when no folder could be made.
inline fs::path BeginTest(const char* stem) {
  fs::path root = MakeTempFolder(stem);
  commReset(commDefault());
  headless::reset(true, 1000);
  return root;
}

// Stops every machine a test may have started and removes its folder.
inline void EndTest(const fs::path& root) {
  Stop<0>();
  Stop<1>();
  Stop<2>();
  commReset(commDefault());
  headless::reset(true, 0);
  std::error_code ignored;
  fs::remove_all(root, ignored);
}

}  // namespace twomachines
