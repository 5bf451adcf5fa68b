// One machine under test on the virtual clock: a throw-away program folder
// (the current folder while the test runs) with its two configuration files
// made by the configuration code, the headless presenter, and the console's
// calls out replaced by recorders, so a test sees when local delivery and the
// posting pass ran and can make the link come up or fail.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>

#include <filesystem>
#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "config/config.h"
#include "platform/comm.h"
#include "toolkit/window.h"
#include "winapi/headless/driver.h"
#include "winapi/types.h"

namespace consoletest {

namespace fs = std::filesystem;

// Field values for a record of a test machine, by slot.
using Fields = std::vector<std::pair<FieldSlot, std::string>>;

// What the console's calls out did.
struct Calls {
  std::vector<uint32_t> localAt;   // clock readings of DeliverLocalMails
  std::vector<uint32_t> remoteAt;  // clock readings of DeliverRemoteMails
  int toggles = 0;
  bool linkOpens = true;           // the link comes up when toggled
  std::vector<std::pair<bool, int32_t>> registrations;  // (handler given, value)
  ruk_pbx_Handler handler = nullptr;                     // the last one given
  int32_t registerResult = 1;
  int opens = 0, creates = 0, removes = 0, clears = 0;
  std::vector<int32_t> exits;      // codes given to the exit hook
  std::function<void()> duringRemote;  // runs inside each posting pass
  std::function<void()> duringLocal;   // runs inside each local delivery
  std::function<void()> duringToggle;  // runs inside each link toggle
};

class ConsoleFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes both records of a machine with the defaults below, overridden by
  // unit and settings.
  void WriteMachine(const Fields& unit = {}, const Fields& settings = {});
  // The raw bytes of a file in the program folder.
  std::vector<unsigned char> FileBytes(const std::string& name) const;
  // A record as the configuration code reads it back from its file.
  ConfigRecord ReadBack(const std::string& name) const;
  std::string Slot(const ConfigRecord& record, FieldSlot slot) const;

  // Runs the console modally; scenario runs once it is ready. A console the
  // scenario left open is ended with 77 so that the run always returns.
  int32_t RunConsole(const std::function<void(HWND)>& scenario);
  // Pumps for ms of virtual time.
  void Wait(uint32_t ms);
  // Answers the next prompt: types answer into its visible edit and submits
  // it with two Enter releases (the first only arms the filter); then runs
  // after, if given, inside the same prompt hook.
  void AnswerPrompt(const std::string& answer, std::function<void()> after = nullptr);
  // How many boxes so far showed this text.
  int CountBoxes(const std::string& text) const;
  // Logs into control mode (an unscripted failure fails the test).
  void ControlLogin(HWND console, const std::string& id, const std::string& key, const std::string& confirm);

  WindowContext context_{};
  fs::path root_;
  fs::path previous_;
};

Calls& Recorded();

}  // namespace consoletest
