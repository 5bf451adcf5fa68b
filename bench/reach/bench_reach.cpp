// Two real machines, 400 and 401, each made by vlinit in a folder of its own
// with a virtual modem on a free loopback port and the other in its phone
// book, each with one mail (made by vlpost) for an account of the other, and
// with the courier at every tick (interval 0, written with the program's own
// record code). Both programs start headless in the same second -- the second
// one a random part of a second after the first, the first run back to back --
// and the benchmark prints, per run, when each mail had crossed the line (a
// complete "[=]" spool file on the receiving machine and the sender's "[@]"
// gone) and when both had. With the courier at every tick local delivery
// never runs, so the mails stay in the receivers' spool folders.
//
//   bench_reach [--runs N (10)] [--limit SECONDS (300)] [--bin DIR] [--keep]
//
// --bin takes velloran, tools/vlinit and tools/vlpost from another build
// folder (to measure another build); --keep keeps the machine folders and
// logs of runs that missed the limit. The bar: every run within 180 s.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "tests/common/programs.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using programs::FreePort;
using programs::Program;

struct Options {
  int runs = 10;
  int limitS = 300;
  std::string velloran = VL_VELLORAN, vlinit = VL_VLINIT, vlpost = VL_VLPOST;
  bool keep = false;
};

constexpr double kBarS = 180.0;

bool RunTool(const std::vector<std::string>& args, const fs::path& log) { return programs::RunTool(args, log) == 0; }

bool HasSuffix(const fs::path& folder, const std::string& suffix) {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  }
  return false;
}

// The mail of 'from' has crossed: complete at 'to', gone from 'from'.
bool Crossed(const fs::path& from, const fs::path& to) {
  return HasSuffix(to / "POST", "[=]") && !HasSuffix(from / "POST", "[@]");
}

bool MakeMachine(const Options& o, const fs::path& folder, const std::string& id, int port, const std::string& other,
                 int otherPort, const std::string& account, const fs::path& log) {
  if (!RunTool({o.vlinit, folder.string(), "--machid", id, "--owner", "machine " + id, "--control-id", "admin",
                "--control-key", "secret", "--virtual-modem", "127.0.0.1:" + std::to_string(port), "--phonebook",
                other + "=127.0.0.1:" + std::to_string(otherPort)},
               log))
    return false;
  ConfigRecord unit{};
  const std::string path = (folder / "VL.INI").string();
  if (ReadRecord(path.c_str(), unit) != kRecordSize) return false;
  unit.SetText(UnitField::ECourierInterval, "0");
  unit.SetText(UnitField::EnableECourier, "1");
  WriteRecord(path.c_str(), unit);
  return RunTool(
      {o.vlpost, "--account", folder.string(), account, "--key", account + "key", "--control-key", "secret"}, log);
}

struct RunResult {
  bool ok = false;
  double aToB = -1, bToA = -1, both = -1;
};

RunResult OneRun(const Options& o, int run, int offsetMs) {
  RunResult result;
  std::string pattern = (fs::temp_directory_path() / "vlreachXXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return result;
  const fs::path root = pattern, a = root / "a", b = root / "b", log = root / "tools.log";
  const int portA = FreePort(), portB = FreePort();
  if (portA == 0 || portB == 0 || portA == portB || !MakeMachine(o, a, "400", portA, "401", portB, "ann", log) ||
      !MakeMachine(o, b, "401", portB, "400", portA, "bob", log) ||
      !RunTool({o.vlpost, "--post", a.string(), "ann", "bob@401", "to bob", "hello bob", "--key", "annkey"}, log) ||
      !RunTool({o.vlpost, "--post", b.string(), "bob", "ann@400", "to ann", "hello ann", "--key", "bobkey"}, log)) {
    printf("run %2d: could not make the machines (see %s)\n", run, log.c_str());
    return result;
  }
  const auto start = Clock::now();
  const auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };
  Program first(o.velloran, a, root / "a.log");
  Program second(o.velloran, b, root / "b.log");
  bool running = first.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(offsetMs));
  running = second.Start() && running;
  while (running && seconds() < o.limitS && (result.aToB < 0 || result.bToA < 0)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (!first.Running() || !second.Running()) {
      running = false;
      break;
    }
    if (result.aToB < 0 && Crossed(a, b)) result.aToB = seconds();
    if (result.bToA < 0 && Crossed(b, a)) result.bToA = seconds();
  }
  first.Stop();
  second.Stop();
  result.ok = result.aToB >= 0 && result.bToA >= 0;
  if (result.ok) result.both = std::max(result.aToB, result.bToA);
  printf("run %2d (second machine %3d ms later): ", run, offsetMs);
  if (result.ok)
    printf("400->401 %6.1f s, 401->400 %6.1f s, both %6.1f s%s\n", result.aToB, result.bToA, result.both,
           result.both <= kBarS ? "" : "  (over the bar)");
  else
    printf("%s after %.0f s (400->401 %s, 401->400 %s)\n", running ? "not both delivered" : "a program ended",
           seconds(), result.aToB >= 0 ? "done" : "not done", result.bToA >= 0 ? "done" : "not done");
  fflush(stdout);
  std::error_code ignored;
  if (!result.ok && o.keep)
    printf("        kept: %s\n", root.c_str());
  else
    fs::remove_all(root, ignored);
  return result;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const bool hasValue = i + 1 < argc;
    if (word == "--runs" && hasValue) o.runs = atoi(argv[++i]);
    else if (word == "--limit" && hasValue) o.limitS = atoi(argv[++i]);
    else if (word == "--bin" && hasValue) {
      const fs::path dir = argv[++i];
      o.velloran = (dir / "velloran").string();
      o.vlinit = (dir / "tools" / "vlinit").string();
      o.vlpost = (dir / "tools" / "vlpost").string();
    } else if (word == "--keep") o.keep = true;
    else return false;
  }
  return o.runs > 0 && o.limitS > 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    fprintf(stderr, "usage: bench_reach [--runs N] [--limit SECONDS] [--bin BUILD_DIR] [--keep]\n");
    return 2;
  }
  printf("two machines, courier at every tick, started in the same second: %d runs, limit %d s\n", o.runs, o.limitS);
  std::random_device seed;
  std::mt19937 random(seed());
  std::vector<double> times;
  int withinBar = 0;
  for (int run = 1; run <= o.runs; ++run) {
    const int offsetMs = run == 1 ? 0 : int(random() % 1000);
    const RunResult r = OneRun(o, run, offsetMs);
    if (r.ok) times.push_back(r.both);
    if (r.ok && r.both <= kBarS) ++withinBar;
  }
  std::sort(times.begin(), times.end());
  printf("both mails delivered within %.0f s: %d of %d runs", kBarS, withinBar, o.runs);
  if (!times.empty())
    printf("; time to both: min %.1f s, median %.1f s, max %.1f s", times.front(), times[times.size() / 2],
           times.back());
  printf("\n");
  return 0;
}
