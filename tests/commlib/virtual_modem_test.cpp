// Two (or three) machines on loopback, each with its own virtual modem.
#include "harness.h"

namespace commtest {
namespace {

struct Station {
  Machine* machine;
  std::string extra;  // more lines for its [port1] section
};

class VirtualModemTest : public CommTest {
 protected:
  // Opens every station on a free loopback port, then gives every one a phone
  // book with the others' numbers (401, 402, ... in order) and opens them
  // again, which keeps their ports.
  void openStations(const std::vector<Station>& stations, int baud = 56000) {
    std::vector<int> ports;
    for (const Station& s : stations) {
      s.machine->writeSettings("[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\n");
      ASSERT_NE(s.machine->open(baud), 0) << s.machine->error();
      ports.push_back(s.machine->listenPort());
    }
    std::string book = "[phonebook]\n";
    for (size_t i = 0; i < ports.size(); ++i)
      book += std::to_string(401 + i) + " = 127.0.0.1:" + std::to_string(ports[i]) + "\n";
    for (size_t i = 0; i < stations.size(); ++i) {
      Machine& m = *stations[i].machine;
      m.writeSettings("[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\n" + stations[i].extra + book);
      ASSERT_NE(m.open(baud), 0) << m.error();
      EXPECT_EQ(m.listenPort(), ports[i]) << "a :0 listen keeps its port across opens";
    }
    pumpFor(10);
    for (const Station& s : stations) s.machine->events.clear();
  }

  // a answers by itself after one ring; b dials a.
  void call(Machine& a, Machine& b, const char* dial = "ATDT401") {
    ASSERT_EQ(a.command("ATS0=1"), 1);
    ASSERT_EQ(b.command(dial), 1);
    ASSERT_TRUE(pumpUntil([&] { return a.carrier() && b.carrier(); }, 10000)) << b.result();
  }

  bool waitReceived(Machine& m, size_t bytes, uint32_t limitMs = 20000) {
    return pumpUntil([&] { return m.received().size() >= bytes; }, limitMs);
  }

  // What a sees of the messages b sends with the given faults, over as many
  // calls as asked (b reopens its port between calls, as a dialler does).
  struct FaultRun {
    std::vector<std::string> received;         // per call, all bytes
    std::vector<std::vector<Event>> pieces;    // per call, the data events
    std::vector<bool> dropped;                 // per call: the carrier went
    std::string reply;                         // a's answer as b got it
  };
  FaultRun sendWithFaults(const std::string& faults, const std::vector<std::string>& messages, int calls = 1) {
    FaultRun run;
    Machine& a = machine("a");
    Machine& b = machine("b");
    openStations({{&a, ""}, {&b, faults}});
    for (int k = 0; k < calls; ++k) {
      if (k > 0) {
        b.close();
        EXPECT_NE(b.open(), 0);
        EXPECT_TRUE(pumpUntil([&] { return a.line(4) == 0; }, 5000));
      }
      a.events.clear();
      b.events.clear();
      call(a, b);
      size_t total = 0;
      for (const std::string& m : messages) {
        if (b.send(m) == 0) break;  // the carrier is gone
        total += m.size();
      }
      pumpUntil([&] { return a.received().size() >= total || a.line(4) == 0; }, 60000);
      pumpFor(500);
      if (a.carrier() && a.send("[OK]") == 4) {
        pumpUntil([&] { return b.received().size() >= 4; }, 5000);
        run.reply = b.received();
      }
      run.received.push_back(a.received());
      run.pieces.push_back(a.of(5));
      run.dropped.push_back(a.line(4) == 0 && b.line(4) == 0);
    }
    machines.clear();
    return run;
  }
};

std::string pattern(size_t length, int salt) {
  std::string s(length, '\0');
  for (size_t i = 0; i < length; ++i) s[i] = char((i * 131 + size_t(salt) * 17 + 7) & 0xff);
  return s;
}

size_t bytesChanged(const std::string& sent, const std::string& received) {
  size_t changed = 0;
  for (size_t i = 0; i < std::min(sent.size(), received.size()); ++i) changed += sent[i] != received[i];
  return changed;
}

TEST_F(VirtualModemTest, OpenReportsReadyLinesAtTheNextPumpOnly) {
  Machine& a = machine("a");
  a.writeSettings("[port1]\nbackend = virtual\n");
  ASSERT_NE(a.open(), 0) << a.error();
  EXPECT_TRUE(a.events.empty()) << "events come from the loop, not from inside ruk_pbx_Open";
  pumpFor(10);
  ASSERT_EQ(a.events.size(), 2u);
  EXPECT_EQ(a.events[0].type, 1);
  EXPECT_EQ(a.events[0].state, 1);
  EXPECT_EQ(a.events[1].type, 2);
  EXPECT_EQ(a.events[1].state, 1);
  EXPECT_EQ(a.close(), 0);
  EXPECT_EQ(a.close(), 0) << "closing a closed port is still closed";
}

TEST_F(VirtualModemTest, OpeningAgainAfterTheLoopWasEmptiedStillDelivers) {
  Machine& a = machine("a");
  a.writeSettings("[port1]\nbackend = virtual\nlisten = 127.0.0.1:0\n");
  ASSERT_NE(a.open(), 0);
  waResetLoop();  // as a test of another part does between its cases
  ASSERT_NE(a.open(), 0) << a.error();
  pumpFor(10);
  EXPECT_EQ(a.of(1).size(), 2u) << "the CTS of both opens arrives";
  EXPECT_EQ(a.line(2), 1);
}

TEST_F(VirtualModemTest, CommandsAreAnsweredOkOrError) {
  Machine& a = machine("a");
  a.writeSettings("[port1]\nbackend = virtual\n");
  ASSERT_NE(a.open(), 0);
  struct Case {
    const char* command;
    int32_t accepted;
    const char* result;
  };
  const Case cases[] = {
      {"AT", 1, "OK"},           {"ATZ", 1, "OK"},          {"ATE0V1", 1, "OK"},
      {"AT&FX3", 1, "OK"},       {"ATE0S0=1", 1, "OK"},     {"at s7=30 &c1 \\n3", 1, "OK"},
      {"AT+MS=V34;E1", 1, "OK"}, {"ATS0?", 1, "OK"},        {"ATH0", 1, "OK"},
      {"ATS0=256", 0, "ERROR"},  {"ATE2", 0, "ERROR"},      {"ATS=1", 0, "ERROR"},
      {"ATS0", 0, "ERROR"},      {"hello", 0, "ERROR"},     {"", 0, "ERROR"},
      {"AT\x01", 0, "ERROR"},    {"AT$", 0, "ERROR"},       {"ATD", 0, "ERROR"},
      {"ATDTabc", 0, "ERROR"},   {"ATA", 0, "NO CARRIER"},  {"A", 0, "ERROR"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(a.command(c.command), c.accepted) << c.command;
    EXPECT_EQ(a.result(), c.result) << c.command;
  }
  EXPECT_EQ(a.command(std::string(2000, 'A').c_str()), 0) << "overlong command";
}

TEST_F(VirtualModemTest, DialRingsAutoAnswersAndRaisesCarrierOnBothSides) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, ""}});
  ASSERT_EQ(a.command("ATE0S0=2"), 1);
  uint32_t dialled = waNow();
  ASSERT_EQ(b.command("ATDT401"), 1);
  ASSERT_TRUE(pumpUntil([&] { return a.carrier() && b.carrier(); }, 10000));

  // The answering side: two rings (each on, then off), then the carrier.
  std::vector<std::pair<int, int>> seen;
  for (const Event& e : a.events) seen.push_back({e.type, e.state});
  std::vector<std::pair<int, int>> expected = {{3, 1}, {3, 0}, {3, 1}, {3, 0}, {4, 1}};
  EXPECT_EQ(seen, expected);
  auto rings = a.of(3);
  EXPECT_EQ(rings[2].at - rings[0].at, 2000u) << "rings come every 2 s";
  EXPECT_GE(a.of(4)[0].at - dialled, 3000u);
  // The dialling side sees only its carrier.
  ASSERT_EQ(b.events.size(), 1u);
  EXPECT_EQ(b.events[0].type, 4);
  EXPECT_EQ(b.events[0].state, 1);
  EXPECT_EQ(b.result(), "CONNECT");
  EXPECT_EQ(a.result(), "CONNECT");
}

TEST_F(VirtualModemTest, NumbersWithLeadingZerosReachTheBookEntry) {
  for (const char* dial : {"ATDT401", "ATDT0401", "ATD 00401", "ATDP4-01", "atdt401;"}) {
    Machine& a = machine(std::string("a") + dial);
    Machine& b = machine(std::string("b") + dial);
    openStations({{&a, ""}, {&b, ""}});
    call(a, b, dial);
    EXPECT_TRUE(b.carrier()) << dial;
    machines.clear();
  }
}

TEST_F(VirtualModemTest, MessagesUpTo512BytesArriveInOneTerminatedEvent) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, "pace = 1\n"}, {&b, "pace = 1\n"}});
  call(a, b);
  for (size_t length : {4u, 5u, 100u, 512u}) {
    std::string message;
    for (size_t i = 0; i < length; ++i) message += char('A' + (i * 7 + length) % 26);
    a.events.clear();
    ASSERT_EQ(b.send(message), int32_t(length));
    ASSERT_TRUE(waitReceived(a, length));
    pumpFor(200);
    auto data = a.of(5);
    ASSERT_EQ(data.size(), 1u) << length << " bytes were split";
    EXPECT_EQ(data[0].data, message);
    EXPECT_TRUE(data[0].terminated);
  }
}

TEST_F(VirtualModemTest, BlocksAreReassembledExactlyWithOrWithoutPacing) {
  for (const char* shape : {"pace = 0\n", "pace = 1\n"}) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    openStations({{&a, shape}, {&b, shape}});
    call(a, b);
    std::string block(4096, '\0');
    for (size_t i = 0; i < block.size(); ++i) block[i] = char((i * 131 + 7) & 0xff);  // zero bytes included
    a.events.clear();
    ASSERT_EQ(b.send(block), 4096);
    ASSERT_TRUE(waitReceived(a, 4096)) << shape;
    pumpFor(100);
    EXPECT_EQ(a.received(), block) << shape;
    for (const Event& e : a.of(5)) EXPECT_TRUE(e.terminated);
    if (std::string(shape) == "pace = 1\n") {
      EXPECT_EQ(a.of(5).size(), 8u) << "a paced line carries 512-byte slices";
    }
    // And the answer the other way, in one piece.
    ASSERT_EQ(a.send("[OK]"), 4);
    ASSERT_TRUE(waitReceived(b, 4));
    EXPECT_EQ(b.of(5).back().data, "[OK]");
    machines.clear();
  }
}

TEST_F(VirtualModemTest, PacingCarriesBaudOverTenBytesPerSecond) {
  for (int baud : {56000, 9600}) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    openStations({{&a, "pace = 1\n"}, {&b, "pace = 1\n"}}, baud);
    call(a, b);
    a.events.clear();
    const int blocks = 5;
    uint32_t start = waNow();
    for (int k = 0; k < blocks; ++k) {
      ASSERT_EQ(b.send(std::string(4096, char('a' + k))), 4096);
      ASSERT_TRUE(waitReceived(a, size_t(k + 1) * 4096, 60000));
    }
    double seconds = double(waNow() - start) / 1000.0;
    double rate = blocks * 4096 / seconds;
    EXPECT_NEAR(rate, baud / 10.0, baud / 10.0 * 0.02) << baud;
    uint64_t sent = 0, received = 0;
    commLineCounters(b.instance, &sent, nullptr);
    commLineCounters(a.instance, nullptr, &received);
    EXPECT_EQ(sent, uint64_t(blocks) * 4096);
    EXPECT_EQ(received, uint64_t(blocks) * 4096);
    machines.clear();
  }
}

TEST_F(VirtualModemTest, DelayHoldsEveryWriteBack) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, "delay_ms = 750\n"}});
  call(a, b);
  uint32_t start = waNow();
  ASSERT_EQ(b.send("[END]"), 5);
  ASSERT_TRUE(waitReceived(a, 5));
  EXPECT_GE(a.of(5)[0].at - start, 750u);
  EXPECT_LT(a.of(5)[0].at - start, 800u);
}

// Each fault hits the bytes the faulty modem sends, nothing else, and the
// seeded ones repeat exactly for one seed.
TEST_F(VirtualModemTest, FaultOptionsShapeWhatThePeerReceives) {
  const std::string block = pattern(4096, 1);
  const std::vector<std::string> fiveBlocks = {pattern(4096, 1), pattern(4096, 2), pattern(4096, 3),
                                               pattern(4096, 4), pattern(4096, 5)};
  std::string fiveJoined;
  for (const std::string& m : fiveBlocks) fiveJoined += m;

  struct Case {
    const char* name;
    std::string faults;
    std::vector<std::string> messages;
    int calls;
    std::function<void(const FaultRun&)> check;
  };
  FaultRun firstRandomDrop, firstCorrupt;
  const Case cases[] = {
      {"drop at N, every call", "drop_after = 1000\n", {block}, 2,
       [&](const FaultRun& r) {
         for (int k = 0; k < 2; ++k) {
           EXPECT_EQ(r.received[k], block.substr(0, 1000)) << "call " << k;
           EXPECT_TRUE(r.dropped[k]) << "call " << k;
         }
       }},
      {"drop at random, drawn per call", "drop_random = 4000\nseed = 11\n", {block}, 3,
       [&](const FaultRun& r) {
         for (int k = 0; k < 3; ++k) {
           EXPECT_TRUE(r.dropped[k]) << "call " << k;
           EXPECT_GE(r.received[k].size(), 1u);
           EXPECT_LE(r.received[k].size(), 4000u);
           EXPECT_EQ(r.received[k], block.substr(0, r.received[k].size())) << "a prefix, unchanged";
         }
         EXPECT_FALSE(r.received[0].size() == r.received[1].size() && r.received[1].size() == r.received[2].size())
             << "a dialler that reopens meets a new drop point";
         firstRandomDrop = r;
       }},
      {"the same seed drops at the same points", "drop_random = 4000\nseed = 11\n", {block}, 3,
       [&](const FaultRun& r) { EXPECT_EQ(r.received, firstRandomDrop.received); }},
      {"the earlier of the two drops wins", "drop_after = 10\ndrop_random = 4000\nseed = 11\n", {block}, 1,
       [&](const FaultRun& r) { EXPECT_EQ(r.received[0], block.substr(0, 10)); }},
      {"one byte in 50 corrupted", "corrupt_one_in = 50\nseed = 5\n", fiveBlocks, 1,
       [&](const FaultRun& r) {
         ASSERT_EQ(r.received[0].size(), fiveJoined.size()) << "nothing lost or added";
         size_t changed = bytesChanged(fiveJoined, r.received[0]);
         EXPECT_GT(changed, fiveJoined.size() / 50 * 3 / 4);
         EXPECT_LT(changed, fiveJoined.size() / 50 * 5 / 4);
         EXPECT_FALSE(r.dropped[0]);
         EXPECT_EQ(r.reply, "[OK]") << "the other way is clean";
         firstCorrupt = r;
       }},
      {"the same seed corrupts the same bytes", "corrupt_one_in = 50\nseed = 5\n", fiveBlocks, 1,
       [&](const FaultRun& r) { EXPECT_EQ(r.received, firstCorrupt.received); }},
      {"another seed other bytes", "corrupt_one_in = 50\nseed = 6\n", fiveBlocks, 1,
       [&](const FaultRun& r) { EXPECT_NE(r.received, firstCorrupt.received); }},
      {"every byte corrupted, the answer intact", "corrupt_one_in = 1\n", {"[OK]", "[END]"}, 1,
       [&](const FaultRun& r) {
         ASSERT_EQ(r.received[0].size(), 9u);
         EXPECT_EQ(bytesChanged("[OK][END]", r.received[0]), 9u);
         EXPECT_EQ(r.reply, "[OK]");
       }},
      {"split into pieces", "split = 100\n", {pattern(512, 2), "[OK]"}, 1,
       [&](const FaultRun& r) {
         EXPECT_EQ(r.received[0], pattern(512, 2) + "[OK]");
         ASSERT_EQ(r.pieces[0].size(), 7u) << "512 bytes in 6 pieces, then the short message";
         for (size_t i = 0; i < 5; ++i) EXPECT_EQ(r.pieces[0][i].data.size(), 100u);
         EXPECT_EQ(r.pieces[0][5].data.size(), 12u);
         for (const Event& e : r.pieces[0]) EXPECT_TRUE(e.terminated);
       }},
      {"split pieces keep their gap", "split = 1024\nsplit_gap_ms = 300\npace = 1\n", {block}, 1,
       [&](const FaultRun& r) {
         EXPECT_EQ(r.received[0], block);
         ASSERT_GE(r.pieces[0].size(), 4u);
         size_t gaps = 0;
         for (size_t i = 1; i < r.pieces[0].size(); ++i) gaps += r.pieces[0][i].at - r.pieces[0][i - 1].at >= 300;
         EXPECT_EQ(gaps, 3u) << "one pause between each two of the four pieces";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultRun run = sendWithFaults(c.faults, c.messages, c.calls);
    ASSERT_EQ(run.received.size(), size_t(c.calls));
    c.check(run);
  }
}

TEST_F(VirtualModemTest, CarrierDropsOnBothSides) {
  enum How { kHangUp, kClose, kPeerGone, kInjectedFault };
  for (How how : {kHangUp, kClose, kPeerGone, kInjectedFault}) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    openStations({{&a, ""}, {&b, how == kInjectedFault ? "drop_after = 1000\n" : ""}});
    call(a, b);
    switch (how) {
      case kHangUp: EXPECT_EQ(b.command("ATH"), 1); break;
      case kClose: EXPECT_EQ(b.close(), 0); break;
      case kPeerGone: commReset(b.instance); break;
      case kInjectedFault: ASSERT_EQ(b.send(std::string(4096, 'x')), 4096); break;
    }
    ASSERT_TRUE(pumpUntil([&] { return a.line(4) == 0; }, 5000)) << how;
    EXPECT_EQ(a.result(), "NO CARRIER");
    if (how != kPeerGone) {
      ASSERT_TRUE(pumpUntil([&] { return b.line(4) == 0; }, 5000)) << how;
      EXPECT_EQ(b.of(4).size(), 2u) << "one carrier on, one off";
    }
    if (how == kInjectedFault) {
      EXPECT_EQ(a.received(), std::string(1000, 'x'));
    }
    EXPECT_EQ(b.send("late"), 0) << "nothing is sent without a carrier";
    machines.clear();
  }
}

TEST_F(VirtualModemTest, HangUpLetsTheLineBeCalledAgain) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, ""}});
  call(a, b);
  // The program hangs up by closing and reopening its port.
  EXPECT_EQ(b.close(), 0);
  ASSERT_NE(b.open(), 0);
  ASSERT_TRUE(pumpUntil([&] { return a.line(4) == 0; }, 5000));
  a.events.clear();
  b.events.clear();
  call(a, b);
  ASSERT_EQ(b.send("again"), 5);
  ASSERT_TRUE(waitReceived(a, 5));
  EXPECT_EQ(a.received(), "again");
}

TEST_F(VirtualModemTest, SecondCallerGetsBusy) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  Machine& c = machine("c");
  openStations({{&a, ""}, {&b, ""}, {&c, ""}});
  call(a, b);
  ASSERT_EQ(c.command("ATDT401"), 1);
  ASSERT_TRUE(pumpUntil([&] { return c.result() == "BUSY"; }, 5000)) << c.result();
  pumpFor(10);
  ASSERT_EQ(c.of(4).size(), 1u);
  EXPECT_EQ(c.of(4)[0].state, 0) << "the failed dial shows as the carrier off";
  EXPECT_TRUE(a.carrier());
  ASSERT_EQ(b.send("still here"), 10);
  ASSERT_TRUE(waitReceived(a, 10));
  EXPECT_EQ(a.received(), "still here");
}

// The program learns a dial's outcome from the carrier alone: a dial that
// cannot connect must say so at once, as the carrier going off, or the
// program waits out its whole time limit.
TEST_F(VirtualModemTest, FailedDialsReportTheCarrierOffAtOnce) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, ""}});
  struct Case {
    const char* name;
    const char* dial;
    bool closeCallee;  // a machine whose port is closed does not take calls
    const char* result;
  };
  const Case cases[] = {
      {"number not in the phone book", "ATDT999", false, "NO CARRIER"},
      {"dialling itself: its own modem is busy dialling", "ATDT402", false, "BUSY"},
      {"nobody listening", "ATDT401", true, "NO CARRIER"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.closeCallee) EXPECT_EQ(a.close(), 0);
    b.events.clear();
    uint32_t dialled = waNow();
    EXPECT_EQ(b.command(c.dial), 1);
    EXPECT_TRUE(b.events.empty()) << "events come from the loop, not from inside ruk_pbx_Cmd";
    ASSERT_TRUE(pumpUntil([&] { return b.line(4) == 0; }, 5000)) << b.result();
    EXPECT_LT(waNow() - dialled, 100u);
    EXPECT_EQ(b.result(), c.result);
    pumpFor(100);
    ASSERT_EQ(b.of(4).size(), 1u) << "one carrier event, off, never on";
    EXPECT_EQ(b.of(4)[0].state, 0);
  }
}

// A hang-up that has been reported frees the line: the next call, placed in
// the same loop round, is taken even though the callee's modem has not yet
// looked at the end of the call before, and the callee still receives the
// last bytes of the old call before its carrier goes.
TEST_F(VirtualModemTest, LineIsFreeOnceTheHangUpIsReported) {
  enum How { kRedialAfterClose, kRedialAfterAth, kThirdCaller };
  for (How how : {kRedialAfterClose, kRedialAfterAth, kThirdCaller}) {
    SCOPED_TRACE(how);
    Machine& a = machine("a");
    Machine& b = machine("b");
    Machine& c = machine("c");
    openStations({{&a, ""}, {&b, ""}, {&c, ""}});
    call(a, b);
    a.events.clear();
    b.events.clear();
    ASSERT_EQ(b.send("[END]"), 5);
    Machine* caller = &b;
    switch (how) {
      case kRedialAfterClose:  // as the program's HangUp does
        EXPECT_EQ(b.close(), 0);
        ASSERT_NE(b.open(), 0);
        break;
      case kRedialAfterAth: ASSERT_EQ(b.command("ATH"), 1); break;
      case kThirdCaller:
        EXPECT_EQ(b.close(), 0);
        caller = &c;
        break;
    }
    ASSERT_EQ(caller->command("ATDT401"), 1);
    ASSERT_TRUE(pumpUntil([&] { return caller->line(4) == 1 || caller->result() == "BUSY"; }, 10000));
    EXPECT_EQ(caller->result(), "CONNECT");
    ASSERT_TRUE(pumpUntil([&] { return a.of(4).size() == 2; }, 10000));
    std::vector<std::pair<int, int>> seen;
    for (const Event& e : a.events)
      if (e.type != 3) seen.push_back({e.type, e.state});
    std::vector<std::pair<int, int>> expected = {{5, 0}, {4, 0}, {4, 1}};
    EXPECT_EQ(seen, expected) << "the old call's last bytes, its end, the new call";
    EXPECT_EQ(a.received(), "[END]");
    ASSERT_EQ(caller->send("again"), 5);
    ASSERT_TRUE(waitReceived(a, 10));
    EXPECT_EQ(a.received(), "[END]again");
    machines.clear();
  }
}

TEST_F(VirtualModemTest, UnansweredCallRingsUntilNoAnswer) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, ""}});  // a keeps S0=0: it never answers by itself
  uint32_t start = waNow();
  ASSERT_EQ(b.command("ATDT401"), 1);
  ASSERT_TRUE(pumpUntil([&] { return b.result() == "NO ANSWER"; }, 70000)) << b.result();
  EXPECT_NEAR(double(waNow() - start), 60000.0, 100.0);
  pumpFor(5000);
  size_t rings = 0;
  for (const Event& e : a.of(3)) rings += e.state == 1;
  // A ring every 2 s for 60 s; the last one may fall on the very moment the
  // caller gives up.
  EXPECT_GE(rings, 30u);
  EXPECT_LE(rings, 31u);
  EXPECT_EQ(a.line(3), 0);
  EXPECT_TRUE(a.of(4).empty());
  ASSERT_EQ(b.of(4).size(), 1u) << "the caller's dial ends as the carrier off";
  EXPECT_EQ(b.of(4)[0].state, 0);
  EXPECT_NEAR(double(b.of(4)[0].at - start), 60000.0, 100.0);
}

TEST_F(VirtualModemTest, ProgramAnswersWithAta) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, "auto_answer = 0\n"}, {&b, ""}});
  a.reaction = [](Machine& m, const Event& e) {
    if (e.type == 3 && e.state == 1) {
      EXPECT_EQ(m.command("ATA"), 1);
    }
  };
  ASSERT_EQ(b.command("ATD401"), 1);
  ASSERT_TRUE(pumpUntil([&] { return a.carrier() && b.carrier(); }, 10000));
  EXPECT_EQ(a.of(3).front().state, 1);
}

TEST_F(VirtualModemTest, AutoAnswerSettingAndResetPowerOnValues) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, "auto_answer = 1\n"}, {&b, ""}});
  ASSERT_EQ(b.command("ATDT401"), 1);
  ASSERT_TRUE(pumpUntil([&] { return a.carrier() && b.carrier(); }, 10000));
  ASSERT_EQ(a.command("ATZ"), 1) << "reset hangs up";
  ASSERT_TRUE(pumpUntil([&] { return b.line(4) == 0; }, 5000));
  ASSERT_EQ(b.command("ATDT401"), 1);
  ASSERT_TRUE(pumpUntil([&] { return a.carrier(); }, 10000)) << "S0 is back at its configured value";
}

TEST_F(VirtualModemTest, HandlerMayAnswerAndCloseFromInsideItsEvent) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, ""}});
  call(a, b);
  // The receiver answers every message with "[OK]" from inside its handler,
  // as the program does; the sender closes its port on the answer.
  a.reaction = [](Machine& m, const Event& e) {
    if (e.type == 5) {
      EXPECT_EQ(m.send("[OK]"), 4);
    }
  };
  b.reaction = [](Machine& m, const Event& e) {
    if (e.type == 5 && e.data == "[OK]") {
      EXPECT_EQ(m.close(), 0);
    }
  };
  ASSERT_EQ(b.send(std::string(512, 'n')), 512);
  ASSERT_TRUE(pumpUntil([&] { return b.line(4) == 0 && a.line(4) == 0; }, 5000));
  EXPECT_EQ(b.of(5).size(), 1u);
  EXPECT_EQ(a.received(), std::string(512, 'n'));
}

TEST_F(VirtualModemTest, WritesAreRefusedWithoutAPortOrWithAStaleHandle) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, ""}});
  call(a, b);
  intptr_t old = b.handle;
  EXPECT_EQ(b.send(""), 0);
  commSelect(b.instance);
  EXPECT_EQ(pRS232IO(0, old, "x", 1), 0) << "only direction 1 writes";
  EXPECT_EQ(pRS232IO(1, old + 1, "x", 1), 0);
  EXPECT_EQ(pRS232IO(1, old, nullptr, 1), 0);
  EXPECT_EQ(pRS232IO(1, old, "x", -1), 0);
  b.close();
  ASSERT_NE(b.open(), 0);
  EXPECT_NE(b.handle, old);
  commSelect(b.instance);
  EXPECT_EQ(pRS232IO(1, old, "x", 1), 0) << "a handle of an earlier open";
  EXPECT_EQ(ruk_pbx_Cmd(nullptr), 0);
}

TEST_F(VirtualModemTest, OneWriteOfTwoBlocksWaitsWholeAndTooMuchIsRefused) {
  Machine& a = machine("a");
  Machine& b = machine("b");
  openStations({{&a, ""}, {&b, "pace = 1\n"}});
  call(a, b);
  ASSERT_EQ(b.send(std::string(4096, '1')), 4096);
  ASSERT_EQ(b.send(std::string(4096, '2')), 4096) << "two blocks fit the transmit buffer";
  EXPECT_EQ(b.send(std::string(4096, '3')), 0) << "a third does not, and is refused whole";
  ASSERT_TRUE(waitReceived(a, 8192));
  pumpFor(500);
  EXPECT_EQ(a.received(), std::string(4096, '1') + std::string(4096, '2'));
}

}  // namespace
}  // namespace commtest
