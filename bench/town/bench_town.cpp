// bench_town -- a town of machines on this computer: N headless programs,
// each with a virtual modem on loopback whose phone book reaches every other
// one, each with M mails (made by vlpost before the start, from a seed) to
// random accounts of random other machines, about half with attachments. The
// machines run with the default settings until every mail is in a mailbox
// and every POST folder is empty, or until the limit; then they are stopped
// and every mailbox is read (the soak's check, tests/soak/check.h). It prints
// what arrived exactly once and whole, what was lost, duplicated or damaged,
// the minutes to the last delivery, the calls against the pairs of machines
// that had mail between them, the dials that found no call, each machine's
// time on the line and the CPU the whole town took.
//
//   bench_town [--machines N (20)] [--mails M (5)] [--seed S (1)]
//              [--mode courier|call (courier)] [--hub] [--no-keys]
//              [--limit MINUTES (15)] [--work DIR] [--keep]
//
// courier: the courier every 5 minutes (the default settings).
// call:    the courier off; one `vlpost --call` per machine right after the
//          start, as a user's Send would ask.
// Every machine knows every other's public key (vlinit --show-key, then
// --add-peer), as a network set up by hand would; --no-keys leaves them
// strangers, so that their calls carry mail one way only.
// --hub: the second half of the machines (the far ones) can be dialled only by
// the first machine, the hub. The near machines' phone books leave the far
// ones out and route their mail through the hub; a far machine's phone book
// holds the hub alone and routes everything ("*") through it; the hub routes
// every other machine to itself (it dials them all), and every other machine
// takes the mail it relays.
// The machines' logs stay in the work folder with --keep (or --work).
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "store/format.h"
#include "tests/common/programs.h"
#include "tests/soak/check.h"
#include "tests/soak/plan.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace soak;

constexpr double kLookEvery = 1.0;  // seconds between two looks at the mailboxes

struct Options {
  int machines = 20;
  int mails = 5;
  uint32_t seed = 1;
  std::string mode = "courier";
  double limitMinutes = 15;
  fs::path work;
  bool keep = false;
  bool keys = true;
  bool hub = false;
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--keep" || option == "--no-keys" || option == "--hub") {
      (option == "--keep" ? o.keep : option == "--hub" ? o.hub : o.keys) = option != "--no-keys";
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    if (option == "--work") {
      o.work = value;
    } else if (option == "--mode") {
      o.mode = value;
    } else if (option == "--machines") {
      o.machines = std::atoi(value.c_str());
    } else if (option == "--mails") {
      o.mails = std::atoi(value.c_str());
    } else if (option == "--seed") {
      o.seed = uint32_t(std::strtoul(value.c_str(), nullptr, 10));
    } else if (option == "--limit") {
      o.limitMinutes = std::atof(value.c_str());
    } else {
      return false;
    }
  }
  return o.machines >= 2 && o.machines <= 26 && o.mails >= 1 && o.limitMinutes > 0 &&
         (o.mode == "courier" || o.mode == "call");
}

struct Machine {
  std::string id;
  char letter = 'A';
  fs::path folder, log;
  uint16_t port = 0;
  std::unique_ptr<programs::Program> program;
  double cpuSeconds = 0;
};

// What one machine's log tells of its calls.
struct LineFigures {
  int dials = 0;             // "Connecting to Velloran@..." (each dial, redials included)
  int carriers = 0;          // calls connected, either way
  double lineSeconds = 0;    // from carrier on to carrier off
};

// Seconds of the day of a log line ("2026-12-07 14:02:52.113 topic text").
bool LineTime(const std::string& line, double& seconds) {
  int h = 0, m = 0;
  double s = 0;
  if (line.size() < 23 || std::sscanf(line.c_str() + 11, "%d:%d:%lf", &h, &m, &s) != 3) return false;
  seconds = h * 3600 + m * 60 + s;
  return true;
}

LineFigures ReadLineFigures(const fs::path& log) {
  LineFigures f;
  std::istringstream lines(ReadFile(log));
  double carrierOn = -1;
  for (std::string line; std::getline(lines, line);) {
    double at = 0;
    if (!LineTime(line, at)) continue;
    if (line.find(" status Connecting to Velloran@") != std::string::npos) ++f.dials;
    if (line.find(" line   carrier on") != std::string::npos) {
      ++f.carriers;
      carrierOn = at;
    } else if (line.find(" line   carrier off") != std::string::npos && carrierOn >= 0) {
      f.lineSeconds += at >= carrierOn ? at - carrierOn : at + 86400 - carrierOn;
      carrierOn = -1;
    }
  }
  return f;
}

// User and system time of a running process, from /proc.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Mailbox entries of every account of a machine (each index entry is one
// 520-byte header).
int MailboxEntries(const fs::path& folder) {
  int entries = 0;
  std::error_code ec;
  for (const fs::directory_entry& account : fs::directory_iterator(folder, ec)) {
    const std::string name = account.path().filename().string();
    if (!account.is_directory() || name.size() <= 3 || name.compare(name.size() - 3, 3, kFolderSuffix) != 0)
      continue;
    const fs::path index = account.path() / (name.substr(0, name.size() - 3) + kMailboxSuffix);
    if (fs::exists(index, ec)) entries += int(fs::file_size(index, ec) / kHeaderSize);
  }
  return entries;
}

bool SpoolEmpty(const fs::path& folder) {
  std::error_code ec;
  return fs::is_empty(folder / kSpoolFolderName, ec);
}

class Town {
 public:
  Town(const Options& options) : o_(options) {}
  int Run();

 private:
  bool Tool(const std::vector<std::string>& args) { return programs::RunTool(args, root_ / "tools.log") == 0; }
  bool MakeMachines();
  bool Far(int i) const { return o_.hub && i >= o_.machines / 2; }
  std::vector<std::string> DialingArgs(int i) const;
  bool ExchangeKeys();
  std::string ModeName() const;
  bool PostMails();
  double Elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  void RunUntilDelivered();
  void Report();

  Options o_;
  fs::path root_;
  std::vector<Machine> machines_;
  std::vector<MailPlan> mails_;
  Clock::time_point start_;
  double lastDelivery_ = -1;
  double ranFor_ = 0;
};

bool Town::MakeMachines() {
  machines_.resize(size_t(o_.machines));
  for (int i = 0; i < o_.machines; ++i) {
    Machine& m = machines_[size_t(i)];
    m.id = std::to_string(401 + i);
    m.letter = char('A' + i);
    m.folder = root_ / m.id;
    m.log = root_ / (m.id + ".log");
    m.port = uint16_t(programs::FreePort());
    if (m.port == 0) return false;
    m.program = std::make_unique<programs::Program>(VL_VELLORAN, m.folder, m.log);
  }
  const bool courier = o_.mode == "courier";
  for (int i = 0; i < o_.machines; ++i) {
    const Machine& m = machines_[size_t(i)];
    std::vector<std::string> args = {VL_VLINIT, m.folder.string(), "--machid", m.id, "--owner",
                                     std::string("town machine ") + m.letter, "--control-id", "admin",
                                     "--control-key", "secret", "--ecourier", courier ? "1" : "0", "--interval", "5",
                                     "--virtual-modem", "127.0.0.1:" + std::to_string(m.port)};
    const std::vector<std::string> dialing = DialingArgs(i);
    args.insert(args.end(), dialing.begin(), dialing.end());
    if (!Tool(args)) return false;
    for (const char* account : kTownAccounts)
      if (!Tool({VL_VLPOST, "--account", m.folder.string(), account, "--key", std::string(account) + "key",
                 "--control-key", "secret"}))
        return false;
  }
  return true;
}

// The phone book, routes and hubs of machine i. Without a hub every machine
// dials every other; with one, see the top of this file.
std::vector<std::string> Town::DialingArgs(int i) const {
  std::vector<std::string> args;
  const std::string& hub = machines_[0].id;
  for (int j = 0; j < o_.machines; ++j) {
    if (j == i) continue;
    const Machine& other = machines_[size_t(j)];
    const bool dialled = !o_.hub || i == 0 || (Far(i) ? j == 0 : !Far(j));
    if (dialled) args.insert(args.end(), {"--phonebook", other.id + "=127.0.0.1:" + std::to_string(other.port)});
    if (o_.hub && i == 0) args.insert(args.end(), {"--route", other.id + "=" + other.id});
    if (o_.hub && i != 0 && !Far(i) && Far(j)) args.insert(args.end(), {"--route", other.id + "=" + hub});
  }
  if (Far(i)) args.insert(args.end(), {"--route", "*=" + hub});
  if (o_.hub && i != 0) args.insert(args.end(), {"--hub", hub});
  return args;
}

// Every machine learns every other's public key: each key is read once, then
// one vlinit --add-peer per ordered pair.
bool Town::ExchangeKeys() {
  std::vector<std::string> keys;
  for (const Machine& m : machines_) {
    std::string output;
    if (programs::RunToolOutput({VL_VLINIT, m.folder.string(), "--show-key"}, output) != 0) return false;
    std::istringstream words(output);
    std::string key;
    words >> key;
    if (key.size() != 64) return false;
    keys.push_back(key);
  }
  for (const Machine& m : machines_)
    for (size_t j = 0; j < machines_.size(); ++j)
      if (machines_[j].id != m.id && !Tool({VL_VLINIT, m.folder.string(), "--add-peer", machines_[j].id, keys[j]}))
        return false;
  return true;
}

std::string Town::ModeName() const {
  return o_.mode + (o_.hub ? ", through a hub" : "") + (o_.keys ? ", with keys" : ", without keys");
}

bool Town::PostMails() {
  fs::create_directories(root_ / "attachments");
  for (const MailPlan& mail : mails_) {
    const Machine& from = machines_[size_t(mail.fromMachine)];
    const Machine& to = machines_[size_t(mail.toMachine)];
    if (!Tool(PostCommand(VL_VLPOST, mail, from.folder.string(), to.id, (root_ / "attachments").string()))) {
      std::fprintf(stderr, "bench_town: mail %d could not be posted (see %s)\n", mail.number,
                   (root_ / "tools.log").c_str());
      return false;
    }
  }
  return true;
}

void Town::RunUntilDelivered() {
  start_ = Clock::now();
  for (Machine& m : machines_) m.program->Start();
  if (o_.mode == "call") {
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the machines come up
    for (const Machine& m : machines_) Tool({VL_VLPOST, "--call", m.folder.string()});
  }
  const int total = int(mails_.size());
  int seen = 0;
  while (Elapsed() < o_.limitMinutes * 60) {
    std::this_thread::sleep_for(std::chrono::duration<double>(kLookEvery));
    int entries = 0;
    bool spoolsEmpty = true;
    for (const Machine& m : machines_) {
      entries += MailboxEntries(m.folder);
      spoolsEmpty = spoolsEmpty && SpoolEmpty(m.folder);
    }
    if (entries > seen) {
      seen = entries;
      lastDelivery_ = Elapsed();
      std::printf("[%6.1f s] %d of %d mails in their mailboxes\n", lastDelivery_, seen, total);
      std::fflush(stdout);
    }
    if (entries >= total && spoolsEmpty) break;
  }
  ranFor_ = Elapsed();
  for (Machine& m : machines_) m.cpuSeconds = ProcessCpuSeconds(m.program->Pid());
  for (Machine& m : machines_) m.program->Stop();
}

void Town::Report() {
  std::vector<MachineFolder> folders;
  for (const Machine& m : machines_) folders.push_back({m.folder, m.letter, {kTownAccounts[0], kTownAccounts[1]}});
  const Verdict v = Check(VL_VLPOST, mails_, folders, root_ / "read", [](const std::string&) { return std::string(); });
  for (const std::string& finding : v.findings) std::printf("  %s\n", finding.c_str());

  std::set<std::pair<int, int>> pairs;
  int withAttachments = 0;
  for (const MailPlan& m : mails_) {
    pairs.insert({std::min(m.fromMachine, m.toMachine), std::max(m.fromMachine, m.toMachine)});
    if (!m.attachments.empty()) ++withAttachments;
  }
  int dials = 0, carriers = 0;
  double cpu = 0;
  std::vector<double> lineTimes;
  for (const Machine& m : machines_) {
    const LineFigures f = ReadLineFigures(m.log);
    dials += f.dials;
    carriers += f.carriers;
    lineTimes.push_back(f.lineSeconds);
    cpu += m.cpuSeconds;
  }
  std::sort(lineTimes.begin(), lineTimes.end());
  const int calls = carriers / 2;  // each call shows its carrier at both ends
  std::printf("town: %d machines x %d mails (%zu, %d with attachments), seed %u, mode %s\n", o_.machines, o_.mails,
              mails_.size(), withAttachments, o_.seed, ModeName().c_str());
  std::printf("delivered exactly once and intact: %d of %zu\n", v.whole, mails_.size());
  std::printf("lost: %d   duplicated: %d   corrupted: %d   left over: %d\n", v.lost, v.duplicated, v.corrupted,
              v.leftOver);
  if (lastDelivery_ >= 0)
    std::printf("last delivery: %.2f minutes after the start\n", lastDelivery_ / 60);
  else
    std::printf("last delivery: none\n");
  std::printf("calls: %d (unordered pairs of machines with mail between them: %zu)   dials: %d, failed: %d\n", calls,
              pairs.size(), dials, dials - calls);
  std::printf("line time per machine: min %.1f s, median %.1f s, max %.1f s (of %.1f s)\n", lineTimes.front(),
              lineTimes[lineTimes.size() / 2], lineTimes.back(), ranFor_);
  std::printf("CPU of the whole town: %.2f s in %.1f s = %.2f %% of a core\n", cpu, ranFor_,
              ranFor_ > 0 ? 100 * cpu / ranFor_ : 0.0);
}

int Town::Run() {
  if (o_.work.empty()) {
    char folder[] = "/tmp/vltown-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 2;
    root_ = folder;
  } else {
    root_ = o_.work;
    fs::create_directories(root_);
  }
  mails_ = MakeTownMails(o_.seed, o_.machines, o_.mails);
  std::printf("bench_town: %d machines, %zu mails, seed %u, mode %s, in %s\n", o_.machines, mails_.size(), o_.seed,
              ModeName().c_str(), root_.c_str());
  std::fflush(stdout);
  if (!MakeMachines() || (o_.keys && !ExchangeKeys()) || !PostMails()) {
    std::fprintf(stderr, "bench_town: the town could not be made (see %s)\n", (root_ / "tools.log").c_str());
    return 2;
  }
  RunUntilDelivered();
  Report();
  if (!o_.keep && o_.work.empty()) fs::remove_all(root_);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: bench_town [--machines 2-26 (20)] [--mails M (5)] [--seed S (1)] [--mode courier|call]\n"
                 "                  [--hub] [--no-keys] [--limit MINUTES (15)] [--work DIR] [--keep]\n");
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  return Town(options).Run();
}
