// vlsoak -- two real program instances on this computer carry mails both ways
// while their line is cut and either program is killed (kill -9) and started
// again, at moments drawn from a seed; once both are quiet, every mail must be
// in its recipient's mailbox exactly once and whole, and no spool, part or
// set-aside file may be left. It prints the seed first and four figures last
// (lost, duplicated, corrupted, left over) with the time taken; exit code 0
// when all four are 0.
//
//   vlsoak [--mails N] [--faults N] [--seed N] [--window S] [--quiet-limit S]
//          [--line-protocol plain|extended]
//          [--work DIR] [--keep] [--modem KEY=VALUE]...
//
// The machines (A = 401 with ann and amy, B = 402 with bob and ben) are made
// by vlinit and vlpost; mails are posted with vlpost while the programs run,
// and `vlpost --call` asks a machine with remote mail waiting for a posting
// pass. Each machine's phone book reaches the other through the soak's own
// relay (relay.h), which cuts calls and names the mail a fault struck. Mails
// are posted in the first 60% of the window, faults come all through it;
// after the window the machines run on until quiet: no call up and no spool
// or part file that could still move. The CTest soak runs it small, the
// benchmark (bench/soak) large. --modem adds a setting to both virtual
// modems' port sections (split=700, pace=1, corrupt_one_in=...: see
// commlib/settings.h).
#include <signal.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/programs.h"
#include "tests/soak/check.h"
#include "tests/soak/plan.h"
#include "tests/soak/relay.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace soak;

constexpr double kCallRequestEvery = 15;  // seconds at least between two pass requests to one machine
constexpr double kTriggerPatience = 40;   // seconds an armed fault waits for a call
constexpr double kBacklogPatience = 15;   // the same while more faults wait behind it
constexpr double kDeliveryPatience = 60;  // seconds an armed fault waits for a delivery
constexpr double kQuietLook = 2;          // seconds between two looks for quiet
constexpr int kQuietLooks = 3;            // looks in a row that must find quiet
constexpr int kLatestStartSecond = 20;    // of the minute, for the first mails
constexpr double kFollowPatience = 120;   // seconds a follower waits for its mail to leave

struct Options {
  int mails = 10;
  int faults = 6;
  uint32_t seed = 0;
  bool seedGiven = false;
  double window = 0;  // 0: from the counts
  double quietLimit = 170;
  fs::path work;
  bool keep = false;
  std::vector<std::string> modem;  // KEY=VALUE lines for both virtual modems
  std::string lineProtocol = "1";  // vlinit's --line-protocol for both machines
};

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--keep") {
      o.keep = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    const bool numeric = end != value.c_str() && *end == 0 && number >= 0;
    if (option == "--work") {
      o.work = value;
    } else if (option == "--line-protocol") {
      if (value != "plain" && value != "extended") return false;
      o.lineProtocol = value == "plain" ? "0" : "1";
    } else if (option == "--modem") {
      if (value.find('=') == std::string::npos) return false;
      o.modem.push_back(value);
    } else if (!numeric) {
      return false;
    } else if (option == "--mails") {
      o.mails = int(number);
    } else if (option == "--faults") {
      o.faults = int(number);
    } else if (option == "--seed") {
      o.seed = uint32_t(number);
      o.seedGiven = true;
    } else if (option == "--window") {
      o.window = number;
    } else if (option == "--quiet-limit") {
      o.quietLimit = number;
    } else {
      return false;
    }
  }
  return o.mails >= 1;
}

// The run's timeline: seconds since the start, on standard output and in the
// work folder.
class Journal {
 public:
  void Open(const fs::path& file) { file_.open(file, std::ios::app); }
  double Now() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
  void Restart() { start_ = Clock::now(); }
  void Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    char stamp[48];
    timespec wall{};
    clock_gettime(CLOCK_REALTIME, &wall);
    tm local{};
    localtime_r(&wall.tv_sec, &local);
    // The machines' logs stamp the time of day: both stamps, to match them.
    std::snprintf(stamp, sizeof stamp, "[%7.2f %02d:%02d:%02d.%03ld] ", Now(), local.tm_hour, local.tm_min,
                  local.tm_sec, wall.tv_nsec / 1000000);
    std::fputs((stamp + text + "\n").c_str(), stdout);
    std::fflush(stdout);
    if (file_) file_ << stamp << text << "\n" << std::flush;
  }

 private:
  Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  std::ofstream file_;
};

std::string LastLines(const fs::path& path, size_t count) {
  std::istringstream in(ReadFile(path));
  std::deque<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
    if (lines.size() > count) lines.pop_front();
  }
  std::string text;
  for (const std::string& line : lines) text += "    " + line + "\n";
  return text;
}

struct Machine {
  char letter = 'A';
  std::string id;
  fs::path folder, log;
  uint16_t modemPort = 0;
  std::unique_ptr<programs::Program> program;
  std::atomic<pid_t> pid{-1};          // for the relay's thread
  std::atomic<bool> killing{false};    // a kill of ours is under way
  double restartAt = -1;               // < 0: none due
  double lastRequest = -1e9;
  double lastDelivery = -1e9;          // when its log last told of a local delivery
  bool deliveryNow = false;            // that was seen at the latest look
  int starts = 0, kills = 0, crashes = 0;
  uintmax_t logSeen = 0;               // bytes of its log looked at

  // What the program wrote to its log since the last look.
  std::string NewLog() {
    std::ifstream in(log, std::ios::binary);
    in.seekg(0, std::ios::end);
    const uintmax_t size = uintmax_t(in.tellg());
    if (!in || size <= logSeen) return "";
    std::string text(size - logSeen, 0);
    in.seekg(std::streamoff(logSeen));
    in.read(text.data(), std::streamsize(text.size()));
    logSeen = size;
    return text;
  }

  bool SpoolHolds(const char* suffix) const {
    std::error_code ec;
    for (const fs::directory_entry& f : fs::directory_iterator(folder / "POST", ec))
      if (f.path().filename().string().find(suffix) != std::string::npos) return true;
    return false;
  }
};

// Something that happened in the relay's thread, for the main loop.
struct Notice {
  int fault = 0;
  int machine = -1;  // killed machine, -1 for a cut
  CallView call;
};

class Soak {
 public:
  Soak(const Options& options, Journal& journal) : options_(options), journal_(journal), relay_([this](const std::string& t) { journal_.Line(t); }) {}
  int Run();

 private:
  bool Prepare();
  bool MakeMachine(Machine& m, const std::string& otherId, uint16_t otherPort);
  bool Tool(const std::vector<std::string>& args);
  void StartMachine(Machine& m, const char* why);
  void KillMachine(Machine& m, double restartAfter, const std::string& why);

  void PostDueMails(double now);
  void PostMail(MailPlan& mail);
  bool InSpool(const MailPlan& mail);
  void HandleFaults(double now);
  void KillLater(FaultPlan fault);
  void StartFault(const FaultPlan& fault);
  Trigger MakeTrigger(const FaultPlan& fault);
  void TakeNotices();
  void HandleDeliveryKills(double now);
  std::string SpoolText(const Machine& m);
  void KeepMachinesRunning(double now);
  void RequestPasses(double now);
  void WatchLogs(double now);
  bool Quiet();
  bool Settled(double now);

  std::string Label(const std::string& name, bool remoteOnly);
  void NoteMailHit(const CallView& call, const std::string& what);
  int Report(bool quiet, double quietAt);

  Options options_;
  Journal& journal_;
  Relay relay_;
  Plan plan_;
  Machine machines_[2];
  fs::path root_;
  std::vector<bool> posted_;
  std::vector<std::string> spoolNames_;           // per mail, its N as posted
  std::map<int, std::vector<std::string>> hits_;  // per mail, the faults that struck it
  std::mutex namesMutex_;
  std::map<std::string, std::vector<int>> mailsByName_;   // every mail under its N
  std::map<std::string, std::vector<int>> remoteByName_;  // mails that go over the line
  size_t nextFault_ = 0;
  std::deque<FaultPlan> waitingTriggers_;
  std::deque<FaultPlan> waitingDeliveries_;
  std::deque<FaultPlan> laterKills_;
  int deliveryFault_ = 0;      // armed: waits for a delivery with mail in the spool
  double deliveryArmedAt_ = 0;
  double deliveryKillAt_ = -1;
  int deliveryMachine_ = 0;
  int armedFault_ = 0;
  double armedAt_ = 0;
  int faultsDone_ = 0;
  double lastFaultAt_ = 0;
  std::mutex noticesMutex_;
  std::vector<Notice> notices_;
  bool callRefused_ = false;
  int quietLooks_ = 0;
  double lastQuietLook_ = 0;
};

bool Soak::Tool(const std::vector<std::string>& args) {
  return programs::RunTool(args, root_ / "tools.log") == 0;
}

bool Soak::MakeMachine(Machine& m, const std::string& otherId, uint16_t otherPort) {
  if (!Tool({VL_VLINIT, m.folder.string(), "--machid", m.id, "--owner", std::string("soak machine ") + m.letter,
             "--control-id", "admin", "--control-key", "secret", "--ecourier", "0", "--virtual-modem",
             "127.0.0.1:" + std::to_string(m.modemPort), "--phonebook",
             otherId + "=127.0.0.1:" + std::to_string(otherPort), "--line-protocol", options_.lineProtocol}))
    return false;
  if (options_.modem.empty()) return true;
  // Extra settings of the modem go into its port's section.
  const fs::path ini = m.folder / "ruk_comm.ini";
  std::string text = ReadFile(ini);
  const size_t section = text.find("[port1]\n");
  if (section == std::string::npos) return false;
  std::string extra;
  for (const std::string& line : options_.modem) extra += line.substr(0, line.find('=')) + " = " + line.substr(line.find('=') + 1) + "\n";
  text.insert(section + 8, extra);
  std::ofstream(ini, std::ios::binary | std::ios::trunc) << text;
  return true;
}

bool Soak::Prepare() {
  machines_[0].letter = 'A';
  machines_[0].id = "401";
  machines_[1].letter = 'B';
  machines_[1].id = "402";
  for (Machine& m : machines_) {
    m.folder = root_ / std::string(1, char(m.letter + 32));
    m.log = root_ / (std::string(1, char(m.letter + 32)) + ".log");
    m.modemPort = uint16_t(programs::FreePort());
    m.program = std::make_unique<programs::Program>(VL_VELLORAN, m.folder, m.log);
    if (m.modemPort == 0) return false;
  }
  if (!relay_.Start(machines_[0].modemPort, machines_[1].modemPort)) return false;
  relay_.SetNamer([this](const std::string& name) { return Label(name, true); });
  if (!MakeMachine(machines_[0], machines_[1].id, relay_.ToB()) ||
      !MakeMachine(machines_[1], machines_[0].id, relay_.ToA()))
    return false;
  for (int i = 0; i < 2; ++i)
    for (const char* account : kAccounts[i])
      if (!Tool({VL_VLPOST, "--account", machines_[i].folder.string(), account, "--key", std::string(account) + "key",
                 "--control-key", "secret"}))
        return false;
  fs::create_directories(root_ / "attachments");
  return true;
}

// "mail 4", or "mail 1 or 4" for mails that share a name.
std::string Soak::Label(const std::string& name, bool remoteOnly) {
  std::lock_guard<std::mutex> lock(namesMutex_);
  const auto& names = remoteOnly ? remoteByName_ : mailsByName_;
  const auto it = names.find(name);
  if (it == names.end()) return "";
  std::string text = "mail";
  for (size_t i = 0; i < it->second.size(); ++i) text += (i == 0 ? " " : " or ") + std::to_string(it->second[i]);
  return text;
}

void Soak::StartMachine(Machine& m, const char* why) {
  std::ofstream(m.log, std::ios::app) << "---- soak: " << why << " at " << journal_.Now() << " s\n";
  m.program->Start();
  ++m.starts;
  m.pid = m.program->Pid();
  m.killing = false;
  m.restartAt = -1;
  m.lastRequest = journal_.Now() - kCallRequestEvery + 3;  // ask once it has come up
  journal_.Line(std::string("machine ") + m.letter + " " + why + " (pid " + std::to_string(m.pid) + ")");
}

void Soak::KillMachine(Machine& m, double restartAfter, const std::string& why) {
  m.killing = true;
  m.program->Kill();
  m.pid = -1;
  ++m.kills;
  m.restartAt = journal_.Now() + restartAfter;
  journal_.Line(why);
}

// --- mails -------------------------------------------------------------------------

bool Soak::InSpool(const MailPlan& mail) {
  const std::string& name = spoolNames_[size_t(mail.number - 1)];
  std::error_code ec;
  return !name.empty() && fs::exists(machines_[mail.fromMachine].folder / "POST" / (name + "[@]"), ec);
}

void Soak::PostMail(MailPlan& mail) {
  const Machine& from = machines_[mail.fromMachine];
  const Machine& to = machines_[mail.toMachine];
  const std::vector<std::string> args =
      PostCommand(VL_VLPOST, mail, from.folder.string(), to.id, (root_ / "attachments").string());
  std::string output;
  const int code = programs::RunToolOutput(args, output);
  posted_[size_t(mail.number - 1)] = true;
  // "posted <folder>\POST\<N>[@] blocks <n>"
  const size_t slash = output.rfind('\\');
  const size_t bracket = output.find('[', slash == std::string::npos ? 0 : slash);
  std::string name;
  if (code == 0 && slash != std::string::npos && bracket != std::string::npos)
    name = output.substr(slash + 1, bracket - slash - 1);
  spoolNames_[size_t(mail.number - 1)] = name;
  {
    std::lock_guard<std::mutex> lock(namesMutex_);
    if (!name.empty()) {
      mailsByName_[name].push_back(mail.number);
      if (mail.fromMachine != mail.toMachine) remoteByName_[name].push_back(mail.number);
    }
  }
  std::string line = "posted mail " + std::to_string(mail.number) + " " + mail.fromAccount + "@" + from.letter +
                     " -> " + mail.toAccount + "@" + to.letter + ", " + std::to_string(mail.attachments.size()) +
                     " attachments: " + (code == 0 ? output.substr(output.find("blocks")) : "FAILED " + output);
  while (!line.empty() && line.back() == '\n') line.pop_back();
  // Two mails over the line under one name: the receiver must keep them apart.
  for (const MailPlan& other : plan_.mails)
    if (other.number != mail.number && !name.empty() && spoolNames_[size_t(other.number - 1)] == name &&
        other.fromMachine != other.toMachine && mail.fromMachine != mail.toMachine)
      line += " -- same name as mail " + std::to_string(other.number) + ", which has left the spool";
  journal_.Line(line);
}

void Soak::PostDueMails(double now) {
  for (MailPlan& mail : plan_.mails) {
    if (posted_[size_t(mail.number - 1)]) continue;
    if (mail.follows > 0) {
      const MailPlan& first = plan_.mails[size_t(mail.follows - 1)];
      if (!posted_[size_t(first.number - 1)]) continue;
      if (InSpool(first) && now < kFollowPatience) continue;
    } else if (mail.postAt > now) {
      continue;
    }
    PostMail(mail);
  }
}

// --- faults --------------------------------------------------------------------------

void Soak::NoteMailHit(const CallView& call, const std::string& what) {
  std::lock_guard<std::mutex> lock(namesMutex_);
  const auto it = remoteByName_.find(call.reading.mailName);
  if (it != remoteByName_.end())
    for (int mail : it->second) hits_[mail].push_back(what);
}

Trigger Soak::MakeTrigger(const FaultPlan& fault) {
  Trigger t;
  t.direction = fault.backwards ? Direction::CalleeToCaller : Direction::CallerToCallee;
  t.bytes = fault.bytes;
  t.cut = fault.kind == FaultKind::Cut;
  const int number = fault.number;
  const bool killCaller = fault.killCaller;
  t.action = [this, number, killCaller, cut = t.cut](const CallView& call) {
    Notice notice{number, -1, call};
    if (!cut) {
      const int victim = (killCaller ? call.caller : call.callee) - 'A';
      Machine& m = machines_[victim];
      m.killing = true;
      const pid_t pid = m.pid;
      if (pid > 0) kill(pid, SIGKILL);
      notice.machine = victim;
    }
    std::lock_guard<std::mutex> lock(noticesMutex_);
    notices_.push_back(notice);
  };
  return t;
}

void Soak::StartFault(const FaultPlan& fault) {
  if (fault.kind == FaultKind::KillInDelivery) {
    waitingDeliveries_.push_back(fault);
    return;
  }
  if (fault.kind != FaultKind::Kill) {
    waitingTriggers_.push_back(fault);
    return;
  }
  Machine* m = &machines_[fault.machine];
  std::string note;
  if (m->restartAt >= 0) {
    note = std::string(" (") + m->letter + " is down)";
    m = &machines_[1 - fault.machine];
  }
  if (m->restartAt >= 0) {
    journal_.Line(DescribeFault(fault) + ": both machines are down; a kill -9 a little later");
    KillLater(fault);
    return;
  }
  ++faultsDone_;
  lastFaultAt_ = journal_.Now();
  KillMachine(*m, fault.restartAfter,
              DescribeFault(fault) + ": killed " + m->letter + note + " during " + relay_.DescribeCalls());
}

// A fault that found nothing to strike comes back as a plain kill, so that a
// run always has its count of faults.
void Soak::KillLater(FaultPlan fault) {
  fault.kind = FaultKind::Kill;
  fault.at = journal_.Now() + 3;
  laterKills_.push_back(fault);
}

void Soak::HandleFaults(double now) {
  while (nextFault_ < plan_.faults.size() && plan_.faults[nextFault_].at <= now) StartFault(plan_.faults[nextFault_++]);
  if (!laterKills_.empty() && laterKills_.front().at <= now) {
    const FaultPlan fault = laterKills_.front();
    laterKills_.pop_front();
    StartFault(fault);
  }
  if (armedFault_ != 0 && !relay_.Armed()) armedFault_ = 0;
  const double patience = waitingTriggers_.empty() ? kTriggerPatience : kBacklogPatience;
  if (armedFault_ != 0 && now - armedAt_ > patience) {
    // No call came: a kill at this moment keeps the count of faults.
    relay_.Disarm();
    FaultPlan fault = plan_.faults[size_t(armedFault_ - 1)];
    journal_.Line(DescribeFault(fault) + ": no call within " + std::to_string(int(patience)) +
                  " s, a kill -9 of " + char('A' + fault.machine) + " instead");
    fault.kind = FaultKind::Kill;
    armedFault_ = 0;
    StartFault(fault);
  }
  if (armedFault_ == 0 && !waitingTriggers_.empty()) {
    const FaultPlan fault = waitingTriggers_.front();
    waitingTriggers_.pop_front();
    armedFault_ = fault.number;
    armedAt_ = now;
    relay_.Arm(MakeTrigger(fault));
    journal_.Line(DescribeFault(fault) + " armed");
  }
}

// The spool's files, named by their mails, for the log.
std::string Soak::SpoolText(const Machine& m) {
  std::string text;
  std::error_code ec;
  for (const fs::directory_entry& f : fs::directory_iterator(m.folder / "POST", ec)) {
    const std::string name = f.path().filename().string();
    const std::string label = Label(name.substr(0, name.find('[')), false);
    text += (text.empty() ? "" : ", ") + (label.empty() ? name : label) + " " + name.substr(name.find('['));
  }
  return text.empty() ? "nothing" : text;
}

// A kill -9 in a local delivery waits for either machine to start one while
// its spool holds local mail, then strikes a moment into it.
void Soak::HandleDeliveryKills(double now) {
  if (deliveryFault_ == 0) {
    if (waitingDeliveries_.empty()) return;
    deliveryFault_ = waitingDeliveries_.front().number;
    waitingDeliveries_.pop_front();
    deliveryArmedAt_ = now;
    deliveryKillAt_ = -1;
    journal_.Line(DescribeFault(plan_.faults[size_t(deliveryFault_ - 1)]) + " armed");
    return;
  }
  FaultPlan fault = plan_.faults[size_t(deliveryFault_ - 1)];
  if (deliveryKillAt_ >= 0) {
    if (now < deliveryKillAt_) return;
    Machine& m = machines_[deliveryMachine_];
    deliveryFault_ = 0;
    if (m.restartAt >= 0) {
      journal_.Line(DescribeFault(fault) + ": " + m.letter + " went down before; a kill -9 a little later");
      KillLater(fault);
      return;
    }
    ++faultsDone_;
    lastFaultAt_ = journal_.Now();
    KillMachine(m, fault.restartAfter,
                DescribeFault(fault) + ": killed " + m.letter + " in a delivery; its spool: " + SpoolText(m));
    return;
  }
  for (int i = 0; i < 2; ++i) {
    Machine& m = machines_[i];
    if (m.restartAt < 0 && m.deliveryNow && m.SpoolHolds("[=]")) {
      deliveryMachine_ = i;
      deliveryKillAt_ = now + fault.delay;
      return;
    }
  }
  if (now - deliveryArmedAt_ > kDeliveryPatience) {
    journal_.Line(DescribeFault(fault) + ": no delivery of mail within " + std::to_string(int(kDeliveryPatience)) +
                  " s, a kill -9 of " + char('A' + fault.machine) + " instead");
    deliveryFault_ = 0;
    fault.kind = FaultKind::Kill;
    StartFault(fault);
  }
}

void Soak::TakeNotices() {
  std::vector<Notice> notices;
  {
    std::lock_guard<std::mutex> lock(noticesMutex_);
    notices.swap(notices_);
  }
  for (const Notice& n : notices) {
    const FaultPlan& fault = plan_.faults[size_t(n.fault - 1)];
    ++faultsDone_;
    lastFaultAt_ = journal_.Now();
    std::string what = DescribeFault(fault);
    if (n.machine >= 0 && machines_[n.machine].restartAt >= 0) {
      journal_.Line(what + ": " + machines_[n.machine].letter + " was down already; a kill -9 a little later");
      KillLater(fault);
    } else if (n.machine >= 0) {
      Machine& m = machines_[n.machine];
      what += ": killed " + std::string(1, m.letter) + " in " + relay_.Describe(n.call);
      NoteMailHit(n.call, what);
      KillMachine(m, fault.restartAfter, what);
    } else {
      what += ": cut " + relay_.Describe(n.call);
      NoteMailHit(n.call, what);
    }
  }
}

// --- the machines --------------------------------------------------------------------

void Soak::KeepMachinesRunning(double now) {
  for (Machine& m : machines_) {
    if (m.restartAt >= 0) {
      if (now >= m.restartAt) StartMachine(m, m.starts == 0 ? "started" : "restarted");
      continue;
    }
    if (m.killing || m.program->Running()) continue;
    ++m.crashes;
    journal_.Line(std::string("machine ") + m.letter + " STOPPED BY ITSELF; its log ends:\n" + LastLines(m.log, 15));
    m.restartAt = now + 1;
  }
}

// What the machines' logs tell: when each last began a local delivery.
void Soak::WatchLogs(double now) {
  for (Machine& m : machines_) {
    m.deliveryNow = m.NewLog().find("Delivering local mails...") != std::string::npos;
    if (m.deliveryNow) m.lastDelivery = now;
  }
}

// A machine with remote mail waiting is asked for a posting pass; while it
// holds local mail too, only once it has delivered since the last request: a
// tick that posts does not deliver, so asking at every tick would starve its
// local delivery.
void Soak::RequestPasses(double now) {
  if (callRefused_) return;
  for (Machine& m : machines_) {
    if (m.restartAt >= 0 || now - m.lastRequest < kCallRequestEvery) continue;
    if (!m.SpoolHolds("[@]")) continue;
    if (m.SpoolHolds("[=]") && m.lastDelivery < m.lastRequest) continue;
    m.lastRequest = now;
    std::string output;
    if (programs::RunToolOutput({VL_VLPOST, "--call", m.folder.string()}, output) != 0) {
      callRefused_ = true;
      journal_.Line("vlpost --call refused (" + output.substr(0, output.find('\n')) +
                    "): passes come only with the courier interval");
    }
  }
}

// No call up, and nothing in either spool that could still move.
bool Soak::Quiet() {
  if (relay_.CallsUp() > 0) return false;
  for (Machine& m : machines_) {
    if (m.restartAt >= 0) return false;
    std::error_code ec;
    for (const fs::directory_entry& f : fs::directory_iterator(m.folder / "POST", ec)) {
      const std::string name = f.path().filename().string();
      for (const char* moving : {"[@]", "[=]", "[~]"})
        if (name.find(moving) != std::string::npos) return false;
    }
  }
  return true;
}

bool Soak::Settled(double now) {
  if (now < options_.window) return false;
  for (size_t i = 0; i < posted_.size(); ++i)
    if (!posted_[i]) return false;
  if (nextFault_ < plan_.faults.size() || armedFault_ != 0 || !waitingTriggers_.empty() || deliveryFault_ != 0 ||
      !waitingDeliveries_.empty() || !laterKills_.empty())
    return false;
  if (now - lastQuietLook_ < kQuietLook) return false;
  lastQuietLook_ = now;
  quietLooks_ = Quiet() ? quietLooks_ + 1 : 0;
  return quietLooks_ >= kQuietLooks;
}

// --- the run -------------------------------------------------------------------------

int Soak::Run() {
  std::string pattern = (options_.work.empty() ? fs::temp_directory_path() / "vlsoakXXXXXX"
                                               : options_.work / "vlsoakXXXXXX").string();
  fs::create_directories(fs::path(pattern).parent_path());
  if (mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "vlsoak: cannot make a work folder in %s\n", pattern.c_str());
    return 2;
  }
  root_ = pattern;
  journal_.Open(root_ / "soak.log");
  if (options_.window <= 0) options_.window = std::max(90.0, 10.0 * options_.faults + 2.0 * options_.mails);
  plan_ = MakePlan(options_.seed, options_.mails, options_.faults, options_.window);
  posted_.assign(plan_.mails.size(), false);
  spoolNames_.assign(plan_.mails.size(), "");
  journal_.Line("vlsoak: seed " + std::to_string(options_.seed) + ", " + std::to_string(options_.mails) + " mails, " +
                std::to_string(options_.faults) + " faults in " + std::to_string(int(options_.window)) +
                " s, work folder " + root_.string());
  for (const std::string& line : options_.modem) journal_.Line("both modems: " + line);
  // The first two mails of one sender share a minute; so, with luck, does the
  // mail that follows the first once it has left (about half a minute later),
  // which gives the receiver two different mails under one name.
  const time_t wall = time(nullptr);
  if (wall % 60 >= kLatestStartSecond) {
    journal_.Line("waiting for the next minute to begin; the clock starts then");
    std::this_thread::sleep_for(std::chrono::seconds(60 - wall % 60));
    journal_.Restart();
  }
  if (!Prepare()) {
    journal_.Line("vlsoak: the machines could not be made; see " + (root_ / "tools.log").string());
    std::fputs(ReadFile(root_ / "tools.log").c_str(), stdout);
    return 2;
  }
  PostDueMails(0);
  StartMachine(machines_[0], "started");
  machines_[1].restartAt = plan_.secondStart;

  bool quiet = false;
  // The machines get quietLimit seconds after the window, or after the last
  // fault when faults that waited for a call ran on past it; never more than
  // a second window.
  const double latest = 2 * options_.window + options_.quietLimit;
  double now = 0;
  while ((now = journal_.Now()) < std::min(latest, std::max(options_.window, lastFaultAt_) + options_.quietLimit)) {
    TakeNotices();
    WatchLogs(now);
    KeepMachinesRunning(now);
    PostDueMails(now);
    HandleFaults(now);
    HandleDeliveryKills(now);
    RequestPasses(now);
    if (Settled(now)) {
      quiet = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const double quietAt = journal_.Now();
  journal_.Line(quiet ? "quiet: stopping both machines" : "NOT QUIET by the deadline: stopping both machines");
  relay_.Disarm();
  for (Machine& m : machines_) m.program->Stop();
  relay_.Stop();
  return Report(quiet, quietAt);
}

int Soak::Report(bool quiet, double quietAt) {
  const std::vector<MachineFolder> folders = {{machines_[0].folder, 'A', {kAccounts[0][0], kAccounts[0][1]}},
                                              {machines_[1].folder, 'B', {kAccounts[1][0], kAccounts[1][1]}}};
  const Verdict v = Check(VL_VLPOST, plan_.mails, folders, root_ / "read",
                          [this](const std::string& name) { return Label(name, false); });
  int directions[3] = {0, 0, 0};
  for (const MailPlan& m : plan_.mails)
    ++directions[m.fromMachine == m.toMachine ? 2 : m.fromMachine];
  int kills = 0, crashes = 0;
  for (const Machine& m : machines_) {
    kills += m.kills;
    crashes += m.crashes;
  }
  journal_.Line("vlsoak: seed " + std::to_string(options_.seed) + "; mails A->B " + std::to_string(directions[0]) +
                ", B->A " + std::to_string(directions[1]) + ", local " + std::to_string(directions[2]) +
                "; faults " + std::to_string(faultsDone_) + " of " + std::to_string(options_.faults) + " (kills " +
                std::to_string(kills) + "); programs that stopped by themselves " + std::to_string(crashes) +
                (quiet ? "; quiet after " : "; not quiet after ") + std::to_string(int(quietAt)) + " s");
  for (const std::string& finding : v.findings) journal_.Line("  " + finding);
  for (const auto& [mail, hits] : hits_)
    for (const std::string& hit : hits) journal_.Line("  mail " + std::to_string(mail) + " was struck: " + hit);
  const bool good = quiet && crashes == 0 && faultsDone_ >= options_.faults && v.lost == 0 && v.duplicated == 0 &&
                    v.corrupted == 0 && v.leftOver == 0;
  if (!good) {
    for (const Machine& m : machines_)
      journal_.Line(std::string("log of ") + m.letter + " ends:\n" + LastLines(m.log, 40));
    journal_.Line("kept for a look: " + root_.string());
  }
  char figures[200];
  std::snprintf(figures, sizeof figures, "lost %d, duplicated %d, corrupted %d, left over %d; elapsed %.1f s",
                v.lost, v.duplicated, v.corrupted, v.leftOver, journal_.Now());
  journal_.Line(figures);
  if (good && !options_.keep) {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  return good ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: vlsoak [--mails N] [--faults N] [--seed N] [--window SECONDS] [--quiet-limit SECONDS]\n"
                 "              [--line-protocol plain|extended]\n"
                 "              [--work DIR] [--keep] [--modem KEY=VALUE]...\n");
    return 2;
  }
  if (!options.seedGiven) options.seed = std::random_device()();
  Journal journal;
  Soak soak(options, journal);
  return soak.Run();
}
