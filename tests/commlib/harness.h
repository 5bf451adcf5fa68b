// Test harness: library instances that play machines in one process, each
// recording the events its handler receives, and a pump that runs the event
// loop until something has happened.
#pragma once
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commlib/instance.h"
#include "platform/comm.h"
#include "winapi/loop.h"

namespace commtest {

struct Event {
  int32_t type;
  int32_t state;
  std::string data;
  bool terminated;  // a zero byte followed the data
  uint32_t at;      // loop clock when it was handled
};

// Runs the loop until done() holds or limitMs of loop time have passed.
// When nothing is ready it first gives the kernel a real millisecond (bytes
// on loopback and pseudo-terminals arrive a moment after they were written)
// before the clock may move on.
inline bool pumpUntil(const std::function<bool()>& done, uint32_t limitMs) {
  uint32_t start = waNow();
  for (;;) {
    if (done()) return true;
    uint32_t spent = waNow() - start;
    if (spent >= limitMs) return false;
    if (waPump(0)) continue;
    poll(nullptr, 0, 1);
    if (waPump(0)) continue;
    waPump(int32_t(std::min<uint32_t>(limitMs - spent, 50)));
  }
}

inline void pumpFor(uint32_t ms) {
  pumpUntil([] { return false; }, ms);
}

class Machine;

// Which machine an instance belongs to, for the shared handler.
inline std::map<CommInstance*, Machine*>& owners() {
  static std::map<CommInstance*, Machine*> map;
  return map;
}

class Machine {
 public:
  using Reaction = std::function<void(Machine&, const Event&)>;

  explicit Machine(const std::string& folder, const std::string& name) {
    instance = commCreate();
    settings = folder + "/" + name + ".ini";
    commSetSettingsFile(instance, settings.c_str());
    owners()[instance] = this;
    commSelect(instance);
    ruk_pbx_Event(&Machine::onEvent, 250);
  }
  ~Machine() {
    owners().erase(instance);
    commDestroy(instance);
  }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  void writeSettings(const std::string& text) {
    std::ofstream(settings, std::ios::trunc) << text;
  }
  intptr_t open(int baud = 56000, int port = 1) {
    commSelect(instance);
    handle = ruk_pbx_Open(port, baud, 8, 4100, 4100);
    return handle;
  }
  int32_t close() {
    commSelect(instance);
    handle = 0;
    return ruk_pbx_Close();
  }
  int32_t command(const char* text) {
    commSelect(instance);
    return ruk_pbx_Cmd(text);
  }
  int32_t send(const std::string& bytes) {
    commSelect(instance);
    return pRS232IO(1, handle, bytes.data(), int32_t(bytes.size()));
  }
  std::string result() const { return commLastResult(instance); }
  std::string error() const { return commLastError(instance); }
  int listenPort() const { return commListenPort(instance); }

  // Events of one type, in order.
  std::vector<Event> of(int32_t type) const {
    std::vector<Event> out;
    for (const Event& e : events)
      if (e.type == type) out.push_back(e);
    return out;
  }
  std::string received() const {
    std::string all;
    for (const Event& e : of(5)) all += e.data;
    return all;
  }
  // The last reported state of a line, -1 before any report.
  int line(int32_t type) const {
    int state = -1;
    for (const Event& e : events)
      if (e.type == type) state = e.state;
    return state;
  }
  bool carrier() const { return line(4) == 1; }

  CommInstance* instance = nullptr;
  std::string settings;
  intptr_t handle = 0;
  std::vector<Event> events;
  Reaction reaction;  // runs inside the handler, after the event is recorded
  bool wrongInstance = false;

 private:
  static int32_t onEvent(int32_t type, int32_t state, const char* data, int32_t length) {
    auto it = owners().find(commSelected());
    if (it == owners().end()) return 1;
    Machine& m = *it->second;
    Event e{type, state, {}, true, waNow()};
    if (type == 5) {
      e.data.assign(data, size_t(length));
      e.terminated = data[length] == '\0';
    }
    m.events.push_back(e);
    if (m.reaction) m.reaction(m, e);
    return 1;
  }
};

// A fresh folder and the virtual clock for every test.
class CommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vlcomm-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    waResetLoop();
    waSetVirtualClock(1, 100000);
  }
  void TearDown() override {
    machines.clear();
    commSelect(nullptr);
    waResetLoop();
    waSetVirtualClock(0, 0);
    std::filesystem::remove_all(folder);
  }
  Machine& machine(const std::string& name) {
    machines.push_back(std::make_unique<Machine>(folder, name));
    return *machines.back();
  }

  std::string folder;
  std::vector<std::unique_ptr<Machine>> machines;
};

}  // namespace commtest
