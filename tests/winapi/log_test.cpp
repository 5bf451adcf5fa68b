// The machine's log: a count that goes on (a transfer's bytes) is one line,
// written after the mail it belongs to; a machine idling through the same
// round of status texts writes that round once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/files.h"
#include "winapi/headless/driver.h"
#include "winapi/log.h"
#include "winapi/loop.h"

namespace {

// One step: "s TEXT" a new status text, shown until the loop's next pass;
// "l TOPIC TEXT" another line; "w MS" time passing.
void Play(const std::string& step) {
  const std::string rest = step.substr(2);
  if (step[0] == 's') {
    waLogStatus(rest.c_str(), 1);
    waLogFlush();
  } else if (step[0] == 'l') {
    const size_t blank = rest.find(' ');
    waLog(WA_LOG_NOTE, rest.substr(0, blank).c_str(), rest.substr(blank + 1).c_str());
  } else {
    pDoEvent(std::stoi(rest));
  }
}

struct Case {
  const char* what;
  std::vector<std::string> steps;
  std::vector<std::string> lines;  // "topic text", in order
};

TEST(Log, CountsAreOneLineAndIdleRoundsAreWrittenOnce) {
  const std::string received = "Comm Action Is Ok : Bytes Received - ";
  const Case cases[] = {
      {"a transfer's count, plain and extended texts alike",
       {"s " + received + "4096 (extended)", "s " + received + "8192 (extended)", "s " + received + "12289",
        "s " + received + "12288 (extended)", "l mail received anna@401 to bob@402, 3 blocks",
        "l line carrier off: call ended"},
       {"mail received anna@401 to bob@402, 3 blocks", "status " + received + "12288 (extended)",
        "line carrier off: call ended"}},
      {"a count alone, once nothing changes it",
       {"s DCE 1 ONLINE", "w 2500"},
       {"status DCE 1 ONLINE"}},
      {"other words end a count",
       {"s Verifying Velloran@402...", "s Velloran@402 Verified OK", "w 2500"},
       {"status Verifying Velloran@402...", "status Velloran@402 Verified OK"}},
      {"an idle machine's rounds",
       {"s Delivering local mails...", "s All local mails delivered", "w 30000", "s Delivering local mails...",
        "s All local mails delivered", "w 30000", "s Delivering local mails...", "s All local mails delivered"},
       {"status Delivering local mails...", "status All local mails delivered"}},
      {"a round that moved a mail",
       {"s Delivering local mails...", "s All local mails delivered", "w 30000", "s Delivering local mails...",
        "l mail delivered anna@401 to bob@401, 1 blocks", "s All local mails delivered"},
       {"status Delivering local mails...", "status All local mails delivered",
        "mail delivered anna@401 to bob@401, 1 blocks", "status All local mails delivered"}},
      {"a round after news",
       {"s Delivering local mails...", "s All local mails delivered", "l call a call was asked for",
        "s Delivering local mails...", "s All local mails delivered"},
       {"status Delivering local mails...", "status All local mails delivered", "call a call was asked for",
        "status Delivering local mails...", "status All local mails delivered"}},
  };
  for (const Case& c : cases) {
    headless::reset(true, 1000);
    std::vector<std::string> caught;
    waLogCatch([&](const WaLogLine& line) { caught.push_back(line.topic + " " + line.text); });
    for (const std::string& step : c.steps) Play(step);
    EXPECT_EQ(caught, c.lines) << c.what;
    waLogCatch(nullptr);
  }
}

}  // namespace
