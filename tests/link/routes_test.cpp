// Relaying through a hub: route files read whole or not at all, the route a
// destination takes, and mail carried from 400 through the hub 401 to 402
// (which 400 cannot dial) exactly once, only where every machine's files
// allow it and never in circles.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/link.h"
#include "link/routes.h"
#include "link_fixture.h"
#include "tests/common/two_machines.h"
#include "toolkit/files.h"

namespace {

namespace fs = std::filesystem;
using linktest::Bytes;
using twomachines::Machine;

TEST(RouteFiles, AreTakenWholeOrRefusedAtTheirFirstBadLine) {
  const struct {
    const char* what;
    std::string text;
    int32_t columns;
    int32_t routes;  // -1: refused
    int32_t line;
  } cases[] = {
      {"routes, patterns, comments and blank lines", "# hub\n0403 0402\n\n05* 0402  # all of 05\n* 0402\r\n", 2, 3, 0},
      {"ids in capitals are folded", "ABC 0402\n", 2, 1, 0},
      {"hubs, one id a line", "0402\n+4912\n", 1, 2, 0},
      {"a route without its machine", "0403 0402\n0404\n", 2, -1, 2},
      {"three words", "0403 0402 0401\n", 2, -1, 1},
      {"a star inside a pattern", "0*3 0402\n", 2, -1, 1},
      {"two stars", "** 0402\n", 2, -1, 1},
      {"a path for a machine", "0403 ../x\n", 2, -1, 1},
      {"a pattern as the machine to dial", "0403 04*\n", 2, -1, 1},
      {"a destination listed twice", "0403 0402\n0403 0405\n", 2, -1, 2},
      {"an id longer than 22", "12345678901234567890123 0402\n", 2, -1, 1},
      {"a pattern in the hubs", "04*\n", 1, -1, 1},
      {"a zero byte", std::string("0403 0402\n04\0003 0402\n", 20), 2, -1, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RouteTable table;
    RouteProblem problem{};
    const bool read = ParseRouteLines(c.text.data(), int32_t(c.text.size()), c.columns, table, problem);
    EXPECT_EQ(read, c.routes >= 0);
    EXPECT_EQ(table.count, c.routes >= 0 ? c.routes : 0);
    EXPECT_EQ(problem.line, c.line);
  }
}

TEST(RouteFiles, AnExactIdWinsOverPatternsAndTheLongestPatternOverShorterOnes) {
  const std::string text = "* 0900\n04* 0402\n0403 0410\n045* 0450\n0401 0401\n";
  RouteTable table;
  RouteProblem problem{};
  ASSERT_TRUE(ParseRouteLines(text.data(), int32_t(text.size()), 2, table, problem));
  const struct {
    const char* destination;
    const char* next;  // "" : no route
  } cases[] = {{"0403", "0410"}, {"403", "0410"}, {"0455", "0450"}, {"0499", "0402"},
               {"0401", "0401"}, {"0777", "0900"}, {"../0403", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.destination);
    const Route* route = FindRoute(table, c.destination);
    EXPECT_EQ(route == nullptr ? std::string() : std::string(route->next), c.next);
  }
}

class Relay : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = twomachines::BeginTest("vlrelay");
    ASSERT_FALSE(root_.empty());
  }
  void TearDown() override { twomachines::EndTest(root_); }

  static std::string At(const Machine& m) { return "127.0.0.1:" + std::to_string(twomachines::ListenPort(m)); }

  // 402 (c) is in the phone book of the hub 401 (b) only; 400 (a) knows 401.
  void StartMachines(bool hubExtended, bool withDestination = true) {
    c_ = nullptr;
    std::string hubBook;
    if (withDestination) {
      c_ = &twomachines::Start<2>(root_ / "c", "402", true, "");
      hubBook = "402 = " + At(*c_) + "\n";
    }
    b_ = &twomachines::Start<1>(root_ / "b", "401", hubExtended, "", hubBook);
    a_ = &twomachines::Start<0>(root_ / "a", "400", true, "", "401 = " + At(*b_) + "\n");
  }
  // Stops the machines StartMachines started and removes their folders.
  void EndMachines() {
    twomachines::Stop<0>();
    twomachines::Stop<1>();
    if (c_ != nullptr) twomachines::Stop<2>();
    for (const char* folder : {"a", "b", "c"}) fs::remove_all(root_ / folder);
  }
  void Write(const fs::path& path, const std::string& text, fs::perms perms = fs::perms(0644)) const {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, perms);
  }
  static void Pass(Machine& m) {
    twomachines::As(m, [] { DeliverRemoteMails(); });
  }
  static std::vector<std::string> Named(const Machine& m, const std::string& suffix) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(m.root / "POST")) {
      const std::string name = entry.path().filename().string();
      if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
        names.push_back(name);
    }
    return names;
  }
  // x (machine xId) and y (yId) get keys and know each other's.
  static void KnowEachOther(const Machine& x, const std::string& xId, const Machine& y, const std::string& yId) {
    MachineKey keyX, keyY;
    ASSERT_EQ(MakeMachineKey(keyX), 1);
    ASSERT_EQ(MakeMachineKey(keyY), 1);
    twomachines::WriteKey(x.root, keyX);
    twomachines::WriteKey(y.root, keyY);
    twomachines::WriteKnown(x.root, yId, keyY);
    twomachines::WriteKnown(y.root, xId, keyX);
  }
  static Bytes Mail(const std::string& sender, const std::string& destination = "bob@402") {
    linktest::MailShape shape;
    shape.sender = sender;
    shape.destination = destination;
    shape.blocks = 3;
    return linktest::MakeMail(shape);
  }

  fs::path root_;
  Machine* a_ = nullptr;
  Machine* b_ = nullptr;
  Machine* c_ = nullptr;
};

// Each machine's files decide: 400 routes 402 through 401; the hub relays
// for 400 and 402; 402 takes relayed mail from 401. Take one away and the
// mail stays where it is, whole.
TEST_F(Relay, MailArrivesThroughTheHubExactlyOnceOnlyWhereEveryMachineAllowsIt) {
  const struct {
    const char* what;
    bool hubExtended;
    std::string hubRoutes;
    std::string destinationHubs;
    fs::perms routePerms;
    bool keyed;    // 400 and the hub know each other's keys
    char staysAt;  // 'c': arrived
  } cases[] = {
      {"every machine allows it", true, "402 402\n400 400\n", "401\n", fs::perms(0644), false, 'c'},
      {"the hub serves a caller that proves its key", true, "402 402\n", "401\n", fs::perms(0644), true, 'c'},
      {"the destination names no hub", true, "402 402\n400 400\n", "", fs::perms(0644), false, 'b'},
      {"the hub does not serve the caller", true, "402 402\n", "401\n", fs::perms(0644), false, 'a'},
      {"the hub has no route to the destination", true, "400 400\n", "401\n", fs::perms(0644), false, 'a'},
      {"the hub speaks only plain", false, "402 402\n400 400\n", "401\n", fs::perms(0644), false, 'a'},
      {"the sender's routes are writable by others", true, "402 402\n400 400\n", "401\n", fs::perms(0666), false, 'a'},
  };
  MachineKey keyA, keyB;
  ASSERT_EQ(MakeMachineKey(keyA), 1);
  ASSERT_EQ(MakeMachineKey(keyB), 1);
  // Windows keeps who may write a file in an access list, not in permission
  // bits: there a route file cannot be made writable by others this way.
  const fs::path probe = root_ / "probe";
  Write(probe, "probe", fs::perms(0666));
  const bool hostHasBits = (tkFileSharing(twomachines::Classic(probe).c_str()) & kSharedWrite) != 0;
  fs::remove(probe);
  const Bytes mail = Mail("ann@400");
  const std::string name = linktest::Encoded("ann@4007/12/2026 9:05");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.routePerms != fs::perms(0644) && !hostHasBits) {
      std::printf("not played on this host (no permission bits): %s\n", c.what);
      continue;
    }
    StartMachines(c.hubExtended);
    Write(a_->root / kRoutesName, "402 401\n", c.routePerms);
    Write(b_->root / kRoutesName, c.hubRoutes);
    Write(c_->root / kHubsName, c.destinationHubs);
    if (c.keyed) {
      twomachines::WriteKey(a_->root, keyA);
      twomachines::WriteKey(b_->root, keyB);
      twomachines::WriteKnown(a_->root, "401", keyB);
      twomachines::WriteKnown(b_->root, "400", keyA);
    }
    linktest::WriteAll(a_->root / "POST" / "mail[@]", mail);
    Pass(*a_);
    // The hub sends what it took at its next tick, not at its next courier pass.
    int32_t due = 0;
    twomachines::As(*b_, [&] { due = RetryDue(); });
    EXPECT_EQ(due, c.staysAt == 'a' ? 0 : 1);
    Pass(*b_);
    EXPECT_EQ(Named(*a_, "[@]").size(), c.staysAt == 'a' ? 1u : 0u);
    EXPECT_EQ(Named(*b_, "[@]").size(), c.staysAt == 'b' ? 1u : 0u);
    EXPECT_EQ(Named(*b_, "[=]").size(), 0u) << "mail to relay is never local at the hub";
    const std::vector<std::string> arrived = Named(*c_, "[=]");
    ASSERT_EQ(arrived.size(), c.staysAt == 'c' ? 1u : 0u);
    if (c.staysAt == 'b') {
      EXPECT_TRUE(fs::exists(b_->root / "POST" / (name + "[^]"))) << "its hops stay with it";
      // Not sent on within its time: it goes back to its sender from the hub.
      const fs::path held = b_->root / "POST" / (name + "[@]");
      fs::last_write_time(held, fs::last_write_time(held) - std::chrono::hours(24 * (kGiveUpDays + 1)));
      Pass(*b_);
      EXPECT_FALSE(fs::exists(held));
      const std::vector<std::string> reports = Named(*b_, "[@]");
      ASSERT_EQ(reports.size(), 1u);
      const Bytes header = linktest::HeaderOf(linktest::ReadAll(b_->root / "POST" / reports[0]));
      EXPECT_EQ(linktest::TextAt(header, 26, 48), "velloran-report@401");
      EXPECT_EQ(linktest::TextAt(header, 146, 48), "ann@400");
    }
    if (c.staysAt == 'c') {
      EXPECT_EQ(arrived[0], name + "[=]");
      EXPECT_TRUE(Named(*b_, "[^]").empty()) << "the relay note goes in the pass that sent its mail on";
      EXPECT_TRUE(linktest::ReadAll(c_->root / "POST" / arrived[0]) == mail);
      // The hub's last ack was lost, say: the mail comes again and is not filed again.
      linktest::WriteAll(a_->root / "POST" / "mail[@]", mail);
      Pass(*a_);
      Pass(*b_);
      EXPECT_TRUE(Named(*a_, "[@]").empty());
      EXPECT_TRUE(Named(*b_, "[@]").empty());
      EXPECT_TRUE(Named(*b_, "[^]").empty()) << "the relay note goes with its mail";
      EXPECT_EQ(Named(*c_, "[=]").size(), 1u);
    }
    EndMachines();
  }
}

// 400 holds mail relayed to it (from 399, with its hops so far) and routes
// it on through 401: a mail that has passed the most hubs a mail may, or
// that comes back to where it started, goes no further.
TEST_F(Relay, AMailThatPassedTooManyHubsOrComesBackIsRefused) {
  const struct {
    const char* what;
    std::string origin;
    int hops;
    bool taken;
  } cases[] = {
      {"one hop below the limit", "399", kRelayHopLimit - 1, true},
      {"at the limit", "399", kRelayHopLimit, false},
      {"back at its origin", "401", 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StartMachines(true, false);
    Write(a_->root / kRoutesName, "402 401\n");
    Write(b_->root / kRoutesName, "402 402\n400 400\n");
    Write(b_->root / kHubsName, "400\n");
    linktest::WriteAll(a_->root / "POST" / "mail[@]", Mail("ann@" + c.origin));
    Write(a_->root / "POST" / "mail[^]", std::string("VLR^") + char(c.hops));
    Pass(*a_);
    EXPECT_EQ(Named(*a_, "[@]").size(), c.taken ? 0u : 1u);
    const std::vector<std::string> notes = Named(*b_, "[^]");
    ASSERT_EQ(notes.size(), c.taken ? 1u : 0u);
    if (c.taken) {
      EXPECT_EQ(linktest::ReadAll(b_->root / "POST" / notes[0]).back(), char(c.hops + 1));
    }
    EndMachines();
  }
}

// The hub 401 holds mail relayed from 399 for 400; when 400 calls it (with
// keys: mail goes back only to a machine that proved its key), the mail goes
// back in the same call, taken only where 400 names 401 its hub.
TEST_F(Relay, RelayedMailGoesBackInTheCallOfTheMachineItIsFor) {
  const struct {
    const char* what;
    std::string hubs;
    bool taken;
  } cases[] = {{"the caller names the hub", "401\n", true}, {"the caller names no hub", "", false}};
  const Bytes relayed = Mail("ann@399", "bob@400");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StartMachines(true, false);
    KnowEachOther(*a_, "400", *b_, "401");
    Write(a_->root / kHubsName, c.hubs);
    linktest::WriteAll(b_->root / "POST" / "relayed[@]", relayed);
    Write(b_->root / "POST" / "relayed[^]", std::string("VLR^") + char(1));
    linktest::WriteAll(a_->root / "POST" / "mail[@]", Mail("ann@400", "bob@401"));  // the reason to call
    Pass(*a_);
    EXPECT_TRUE(Named(*a_, "[@]").empty());
    EXPECT_EQ(Named(*b_, "[@]").size(), c.taken ? 0u : 1u);
    const std::vector<std::string> arrived = Named(*a_, "[=]");
    ASSERT_EQ(arrived.size(), c.taken ? 1u : 0u);
    if (c.taken) {
      EXPECT_TRUE(linktest::ReadAll(a_->root / "POST" / arrived[0]) == relayed);
    }
    EndMachines();
  }
}

// The hub 401 calls 402 with mail for it; 402's mail for 400 that its route
// sends through 401 goes back in that call (402 need not reach the busy hub
// itself), and the hub holds it to send on. Mail routed elsewhere stays.
TEST_F(Relay, MailRoutedThroughTheHubGoesBackInTheHubsCall) {
  const struct {
    const char* what;
    std::string route;
    bool taken;
  } cases[] = {{"routed through the caller", "400 401\n", true}, {"routed through another hub", "400 405\n", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StartMachines(true);
    KnowEachOther(*b_, "401", *c_, "402");
    Write(b_->root / kRoutesName, "400 400\n402 402\n");
    Write(c_->root / kRoutesName, c.route);
    linktest::WriteAll(c_->root / "POST" / "onward[@]", Mail("ann@402", "bob@400"));
    linktest::WriteAll(b_->root / "POST" / "mail[@]", Mail("ann@401"));  // the reason to call
    Pass(*b_);
    EXPECT_EQ(Named(*c_, "[=]").size(), 1u);
    EXPECT_EQ(Named(*c_, "[@]").size(), c.taken ? 0u : 1u);
    EXPECT_EQ(Named(*b_, "[@]").size(), c.taken ? 1u : 0u) << "held by the hub for 400";
    EXPECT_EQ(Named(*b_, "[^]").size(), c.taken ? 1u : 0u) << "with its relay note";
    EndMachines();
  }
}

}  // namespace
