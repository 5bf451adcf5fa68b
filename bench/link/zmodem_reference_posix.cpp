// The ZMODEM reference over a paced line (see zmodem_reference.h).
//
// Each program talks through one end of a socket pair; the relay holds the
// other ends, reads what the programs write and hands it to a line writer,
// which corrupts the bytes as they are queued and writes them to the other
// program when the paced line would have carried them. The socket buffers
// are kept small and a lane holds no more than a virtual modem's line
// writer, so a sender that runs ahead of the line is held back after a few
// kilobytes, as a modem's buffer holds back a real one; after an error the
// bytes already on their way are then few, as on a real line.
//
// Socket pairs rather than pseudo-terminals: sz ends by writing "OO", then
// drains and flushes its terminal. On a real line the drain waits until the
// bytes have left; on a pseudo-terminal they count as sent while they still
// wait in the master, and the flush throws them away, so rz would wait 30 s
// for them before it gives up.
#include "bench/link/zmodem_reference.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
// glibc 2.36's header forgets the C linkage of its declarations.
extern "C" {
#include <sys/pidfd.h>
}
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "commlib/line_writer.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// sz -b: the file goes as it is, never translated as text. -8: data
// subpackets may grow to 8 KiB, so the framing of each (about 6 bytes with
// its CRC-32) weighs less; a common extension that every lrzsz rz takes. It
// is ZMODEM at its best on a clean line; a corrupted byte then costs more,
// since rz finds it only at the end of its subpacket (1 MiB, one byte in
// 100 000 corrupted: 0.79 of the line with -8, 0.85 with 1 KiB subpackets).
// Escaping stays ZMODEM's default (XON, XOFF, DLE, ZDLE and high-bit twins,
// CR after "@"): that is what every ZMODEM peer expects. On random data the
// escapes and the framing cost 2.9 % of the line (1 MiB takes 1 078 540
// bytes); -T would spare the DLEs, 0.8 %, but no peer does that unless told.
// -q: no progress lines. rz -b: store the bytes as they come; -y: the folder
// is new, but never stop to ask about an existing file.
const char* const kSenderOptions[] = {"-b", "-8", "-q"};
const char* const kReceiverOptions[] = {"-b", "-y", "-q"};

// Bytes a lane holds between the two programs, like the line writer of a
// virtual modem.
constexpr size_t kLaneCapacity = 8192;
// The kernel doubles it and counts its own bookkeeping: about 3.5 KiB of
// data wait in a socket.
const int kSocketBuffer = 4096;
// Once one program has ended and the other has had all its bytes, the other
// gets this long to end by itself before it is stopped.
constexpr int kEndGraceMs = 5000;

enum { kSender = 0, kReceiver = 1 };

// One program and the relay's end of its socket pair.
struct End {
  const char* program = "";
  pid_t pid = -1;
  int pidfd = -1;
  int socket = -1;
  bool readable = true;   // false once the program's end is closed
  bool hungUp = false;    // the program's end is gone: write no more
  bool exited = false;
  int status = 0;
  uint64_t exitUs = 0;
};

// One direction of the line. What the program writes gathers in `pending`
// while the line writer is busy and goes to it as one message once it is
// empty, so the line leaves in whole slices, as a virtual modem's 4096-byte
// blocks do, not in the small pieces a socket happens to deliver.
struct Lane {
  End* from = nullptr;
  End* to = nullptr;
  std::vector<uint8_t> pending;
  comm::FaultRandom random;
  comm::LineWriter writer;
  comm::LineWriter::Step step = comm::LineWriter::Step::Idle;
  uint64_t wakeUs = 0;
};

struct Relay {
  End ends[2];
  Lane lanes[2];  // kSender: sz to rz; kReceiver: rz to sz
  uint64_t firstByteUs = 0;
  fs::path root;  // logs; the receiver's folder "in" below it
};

fs::path LogPath(const Relay& relay, const End& end) { return relay.root / (std::string(end.program) + ".log"); }

uint64_t NowUs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1'000'000u + uint64_t(t.tv_nsec) / 1000u;
}

bool ReadWhole(const fs::path& path, std::vector<char>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The last line a program wrote to its log, for the note.
std::string LastLogLine(const fs::path& path) {
  std::vector<char> bytes;
  if (!ReadWhole(path, bytes)) return "";
  std::string text(bytes.begin(), bytes.end());
  for (char& c : text)
    if (c == '\r') c = '\n';
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  const size_t start = text.find_last_of('\n');
  return start == std::string::npos ? text : text.substr(start + 1);
}

// The socket pair of one program: the relay's end non-blocking, both with
// small buffers. Returns the program's end, or -1.
int OpenLine(End& end, std::string& note) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
    note = std::string("no socket pair: ") + strerror(errno);
    return -1;
  }
  for (int fd : pair) {
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
  }
  fcntl(pair[0], F_SETFL, O_NONBLOCK);
  end.socket = pair[0];
  return pair[1];
}

// Starts the program in a session of its own, without a terminal, so it can
// neither change nor read the one the benchmark runs in; stdin and stdout are
// its end of the line, stderr the log.
bool StartProgram(End& end, std::vector<std::string> args, int line, const fs::path& folder, const fs::path& log,
                  std::string& note) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_adddup2(&actions, line, 0);
  posix_spawn_file_actions_adddup2(&actions, line, 1);
  posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int number : {SIGPIPE, SIGHUP, SIGINT, SIGTERM, SIGCHLD, SIGALRM}) sigaddset(&defaults, number);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int failed = posix_spawnp(&end.pid, end.program, &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    end.pid = -1;
    note = std::string("cannot start ") + end.program + ": " + strerror(failed) +
           (failed == ENOENT ? " (Debian package lrzsz)" : "");
    return false;
  }
  end.pidfd = pidfd_open(end.pid, 0);
  if (end.pidfd < 0) {
    note = std::string("cannot watch ") + end.program + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool StartEnd(Relay& relay, int index, std::vector<std::string> args, const fs::path& folder, std::string& note) {
  End& end = relay.ends[index];
  const int line = OpenLine(end, note);
  if (line < 0) return false;
  const bool started = StartProgram(end, std::move(args), line, folder, LogPath(relay, end), note);
  close(line);
  return started;
}

void ConfigureLanes(Relay& relay, int baud, uint32_t corruptOneIn, uint64_t seed) {
  for (int k : {kSender, kReceiver}) {
    Lane& lane = relay.lanes[k];
    lane.from = &relay.ends[k];
    lane.to = &relay.ends[1 - k];
    lane.random.seed(k == kSender ? seed : ~seed);
    comm::LineShape shape;
    shape.pacedBaud = baud;
    shape.corruptOneIn = corruptOneIn;
    shape.random = &lane.random;
    shape.capacity = kLaneCapacity;
    lane.writer.configure(shape);
    lane.writer.startCall();
  }
}

bool Writing(const Lane& lane) { return !lane.to->exited && !lane.to->hungUp; }

void DrainLanes(Relay& relay, uint64_t nowUs) {
  for (Lane& lane : relay.lanes) {
    lane.step = comm::LineWriter::Step::Idle;
    if (!Writing(lane)) continue;
    // The writer may empty while it drains: what gathered meanwhile follows.
    do {
      if (lane.writer.empty() && !lane.pending.empty()) {
        lane.writer.queue(lane.pending.data(), lane.pending.size(), nowUs);
        lane.pending.clear();
      }
      lane.step = lane.writer.drain(lane.to->socket, nowUs, lane.wakeUs);
    } while (lane.step == comm::LineWriter::Step::Idle && !lane.pending.empty());
    if (lane.step == comm::LineWriter::Step::Failed) lane.to->hungUp = true;
  }
}

size_t Room(const Lane& lane) { return kLaneCapacity - lane.writer.waiting() - lane.pending.size(); }

bool WantsRead(const Lane& lane) { return lane.from->readable && Room(lane) > 0; }

void ReadLane(Relay& relay, Lane& lane, uint64_t nowUs) {
  const size_t held = lane.pending.size();
  lane.pending.resize(held + Room(lane));
  const ssize_t n = read(lane.from->socket, lane.pending.data() + held, lane.pending.size() - held);
  lane.pending.resize(held + size_t(std::max<ssize_t>(n, 0)));
  if (n > 0) {
    if (relay.firstByteUs == 0) relay.firstByteUs = nowUs;
    return;
  }
  if (n == 0 || (errno != EAGAIN && errno != EINTR)) lane.from->readable = false;
}

void NoteExit(End& end, uint64_t nowUs) {
  end.exited = true;
  end.exitUs = nowUs;
  if (waitpid(end.pid, &end.status, 0) != end.pid) end.status = 0;
}

// Sleeps until a program's line can be read or written, a slice is due, a
// program ends or the deadline passes; then does what became possible.
void RelayOnce(Relay& relay, uint64_t deadlineUs) {
  pollfd watched[4];
  for (int k : {kSender, kReceiver}) {
    End& end = relay.ends[k];
    short events = 0;
    if (WantsRead(relay.lanes[k])) events |= POLLIN;
    if (relay.lanes[1 - k].step == comm::LineWriter::Step::WaitWritable && !end.hungUp) events |= POLLOUT;
    watched[k] = {events != 0 ? end.socket : -1, events, 0};
    watched[2 + k] = {end.exited ? -1 : end.pidfd, POLLIN, 0};
  }
  uint64_t wakeUs = deadlineUs;
  for (const Lane& lane : relay.lanes)
    if (lane.step == comm::LineWriter::Step::WaitUntil) wakeUs = std::min(wakeUs, lane.wakeUs);
  const uint64_t nowUs = NowUs();
  const uint64_t waitUs = wakeUs > nowUs ? wakeUs - nowUs : 0;
  const timespec timeout{time_t(waitUs / 1'000'000u), long(waitUs % 1'000'000u) * 1000};
  if (ppoll(watched, 4, &timeout, nullptr) <= 0) return;
  const uint64_t readyUs = NowUs();
  for (int k : {kSender, kReceiver}) {
    End& end = relay.ends[k];
    if (watched[k].revents & POLLHUP) end.hungUp = true;
    if ((watched[k].revents & (POLLIN | POLLHUP | POLLERR)) && (watched[k].events & POLLIN))
      ReadLane(relay, relay.lanes[k], readyUs);
    if (watched[2 + k].revents & POLLIN) NoteExit(end, readyUs);
  }
}

// Stops what still runs: sz gets its grace after rz ended, anything else
// (a deadline passed, a start failed) is stopped at once.
void StopPrograms(Relay& relay) {
  End& sender = relay.ends[kSender];
  if (sender.pidfd >= 0 && !sender.exited && relay.ends[kReceiver].exited) {
    pollfd watched{sender.pidfd, POLLIN, 0};
    if (poll(&watched, 1, kEndGraceMs) == 1) NoteExit(sender, NowUs());
  }
  for (End& end : relay.ends) {
    if (end.pid > 0 && !end.exited) {
      kill(end.pid, SIGKILL);
      NoteExit(end, NowUs());
    }
    if (end.pidfd >= 0) close(end.pidfd);
    if (end.socket >= 0) close(end.socket);
  }
}

std::string ExitNote(const End& end) {
  if (WIFEXITED(end.status) && WEXITSTATUS(end.status) == 0) return "";
  char text[96];
  if (WIFSIGNALED(end.status))
    snprintf(text, sizeof text, "%s ended by signal %d", end.program, WTERMSIG(end.status));
  else
    snprintf(text, sizeof text, "%s exited with status %d", end.program, WEXITSTATUS(end.status));
  return text;
}

void AddNote(std::string& note, const std::string& more) {
  if (more.empty()) return;
  if (!note.empty()) note += "; ";
  note += more;
}

// What the programs last said on stderr, when something went wrong.
void AddLogs(const Relay& relay, std::string& note) {
  for (const End& end : relay.ends) {
    const std::string line = LastLogLine(LogPath(relay, end));
    if (!line.empty()) AddNote(note, std::string(end.program) + ": " + line);
  }
}

// Fills the figures from a relay that has ended; `note` already says why a
// run was given up.
void Measure(const Relay& relay, const std::vector<char>& sent, const fs::path& received, int baud,
             ZmodemFigures& figures) {
  figures.lineBytesForward = relay.lanes[kSender].writer.sentInCall();
  figures.lineBytesBack = relay.lanes[kReceiver].writer.sentInCall();
  figures.ran = figures.note.empty() && relay.firstByteUs != 0;
  if (!figures.ran) {
    if (figures.note.empty()) figures.note = "rz ended before a byte crossed the line";
    AddLogs(relay, figures.note);
    return;
  }
  figures.seconds = double(relay.ends[kReceiver].exitUs - relay.firstByteUs) / 1e6;
  if (figures.seconds > 0) figures.efficiency = double(sent.size()) / (figures.seconds * baud / 10.0);
  std::vector<char> got;
  figures.identical = ReadWhole(received, got) && got == sent;
  for (const End& end : relay.ends) AddNote(figures.note, ExitNote(end));
  std::error_code error;
  if (!figures.identical) AddNote(figures.note, fs::exists(received, error) ? "rz's file differs" : "rz stored no file");
  if (!figures.note.empty()) AddLogs(relay, figures.note);
}

// sz has closed its line and all it wrote has reached rz.
bool SenderDone(const Relay& relay) {
  const Lane& lane = relay.lanes[kSender];
  return !relay.ends[kSender].readable && lane.writer.empty() && lane.pending.empty();
}

// Relays until rz ends. Gives up when the run takes three times what its
// bytes need on the line and a minute more, or when rz does not end soon
// after sz has. Returns why it gave up, or "".
std::string RelayUntilDone(Relay& relay, size_t fileBytes, int baud) {
  const int limitSeconds = int(3 * double(fileBytes) * 1.1 / (baud / 10.0) + 60);
  uint64_t deadlineUs = NowUs() + uint64_t(limitSeconds) * 1'000'000u;
  bool senderDone = false;
  while (!relay.ends[kReceiver].exited && NowUs() < deadlineUs) {
    DrainLanes(relay, NowUs());
    if (!senderDone && SenderDone(relay)) {
      senderDone = true;
      deadlineUs = std::min(deadlineUs, NowUs() + uint64_t(kEndGraceMs) * 1000u);
    }
    RelayOnce(relay, deadlineUs);
  }
  if (relay.ends[kReceiver].exited) return "";
  if (senderDone) return "rz did not end after sz had";
  return "rz did not finish in " + std::to_string(limitSeconds) + " s";
}

void Transfer(Relay& relay, const fs::path& file, const std::vector<char>& sent, int baud, ZmodemFigures& figures) {
  const fs::path folder = relay.root / "in";
  std::error_code error;
  fs::create_directory(folder, error);
  if (error) {
    figures.note = "cannot make " + folder.string() + ": " + error.message();
    return;
  }
  std::vector<std::string> rz{"rz"}, sz{"sz"};
  rz.insert(rz.end(), std::begin(kReceiverOptions), std::end(kReceiverOptions));
  sz.insert(sz.end(), std::begin(kSenderOptions), std::end(kSenderOptions));
  const fs::path whole = fs::absolute(file, error);
  sz.push_back((error ? file : whole).string());
  if (StartEnd(relay, kReceiver, rz, folder, figures.note) && StartEnd(relay, kSender, sz, relay.root, figures.note))
    figures.note = RelayUntilDone(relay, sent.size(), baud);
  StopPrograms(relay);
  Measure(relay, sent, folder / file.filename(), baud, figures);
}

}  // namespace

ZmodemFigures RunZmodemReference(const std::string& file, int baud, uint32_t corruptOneIn, uint64_t seed) {
  ZmodemFigures figures;
  std::vector<char> sent;
  if (baud <= 0) {
    figures.note = "no line speed";
    return figures;
  }
  if (!ReadWhole(file, sent) || sent.empty()) {
    figures.note = "cannot read " + file;
    return figures;
  }
  std::error_code error;
  const fs::path temporary = fs::temp_directory_path(error);
  std::string pattern = ((error ? fs::path("/tmp") : temporary) / "vlzmodemXXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    figures.note = std::string("no temporary folder: ") + strerror(errno);
    return figures;
  }
  Relay relay;
  relay.root = pattern;
  relay.ends[kSender].program = "sz";
  relay.ends[kReceiver].program = "rz";
  ConfigureLanes(relay, baud, corruptOneIn, seed);
  Transfer(relay, file, sent, baud, figures);
  fs::remove_all(relay.root, error);
  return figures;
}
