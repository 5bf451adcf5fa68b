#include "tests/soak/plan.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "store/format.h"

namespace soak {

const char* const kAccounts[2][2] = {{"ann", "amy"}, {"bob", "ben"}};
const char* const kTownAccounts[2] = {"ann", "bob"};

namespace {

using Random = std::mt19937;

double Uniform(Random& random, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(random);
}

int Between(Random& random, int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); }

// An attachment whose compressed form takes about `blocks` blocks: random
// bytes do not compress, text does; some sizes sit right at a chunk's edge.
Attachment MakeAttachment(Random& random, int mail, int index, int blocks) {
  Attachment a;
  a.name = "m" + std::to_string(mail) + "-" + std::to_string(index) + ".bin";
  size_t size = size_t(blocks - 1) * kContentSize;
  switch (Between(random, 0, 3)) {
    case 0: size += kContentSize - 64; break;  // the compressed form near a chunk's end
    case 1: size += 1; break;
    default: size += size_t(Between(random, 1, kContentSize)); break;
  }
  const bool text = Between(random, 0, 3) == 0;
  for (size_t i = 0; a.bytes.size() < size; ++i) {
    if (text)
      a.bytes += "line " + std::to_string(i) + " of attachment " + a.name + "\n";
    else
      a.bytes += char(random());
  }
  a.bytes.resize(size);
  return a;
}

MailPlan MakeMail(Random& random, uint32_t seed, int number, int from, const char* fromAccount, int to,
                  const char* toAccount, const std::vector<int>& attachmentBlocks) {
  MailPlan m;
  m.number = number;
  m.fromMachine = from;
  m.toMachine = to;
  m.fromAccount = fromAccount;
  m.toAccount = toAccount;
  m.subject = "soak " + std::to_string(number);
  m.text = "soak mail " + std::to_string(number) + " of seed " + std::to_string(seed) + ": " + m.fromAccount +
           " writes to " + m.toAccount + ".";
  const int words = Between(random, 0, 40);
  for (int i = 0; i < words; ++i) m.text += " word" + std::to_string(Between(random, 0, 999));
  for (size_t i = 0; i < attachmentBlocks.size(); ++i)
    m.attachments.push_back(MakeAttachment(random, number, int(i + 1), attachmentBlocks[i]));
  return m;
}

// Bytes into a call where a fault strikes: towards the callee anywhere in the
// first blocks, often exactly at a message's end; back towards the caller
// just before, inside or after one of the first "[OK]" answers ("CONNECT\n"
// comes first).
uint64_t FaultByte(Random& random, bool backwards) {
  if (backwards) return uint64_t(8 + 4 * Between(random, 0, 4) + Between(random, 0, 3));
  if (Between(random, 0, 2) == 0) return uint64_t(kAnnounceSize + kBlockSize * Between(random, 0, 3));
  return uint64_t(Between(random, 1, kAnnounceSize + 3 * kBlockSize));
}

// None, one or two attachments of 1 to 5 blocks (none half of the time).
std::vector<int> SomeAttachments(Random& random) {
  std::vector<int> blocks;
  for (int k = Between(random, -1, 2); k > 0; --k) blocks.push_back(Between(random, 1, 5));
  return blocks;
}

}  // namespace

std::vector<MailPlan> MakeTownMails(uint32_t seed, int machines, int mailsEach) {
  Random random(seed);
  std::vector<MailPlan> mails;
  if (machines < 2) return mails;
  for (int from = 0; from < machines; ++from)
    for (int i = 0; i < mailsEach; ++i) {
      int to = Between(random, 0, machines - 2);
      if (to >= from) ++to;  // another machine
      const std::vector<int> blocks = SomeAttachments(random);
      const int fromAccount = Between(random, 0, 1);
      const int toAccount = Between(random, 0, 1);
      mails.push_back(MakeMail(random, seed, int(mails.size()) + 1, from, kTownAccounts[fromAccount], to,
                               kTownAccounts[toAccount], blocks));
    }
  return mails;
}

Plan MakePlan(uint32_t seed, int mails, int faults, double window) {
  Random random(seed);
  Plan plan;
  plan.secondStart = Uniform(random, 0.5, 7.5);
  const double postingEnd = window * 0.6;
  // Fixed openers: two mails of one sender in one minute, a reply with a
  // large attachment the other way, a mail of the same sender posted once the
  // first has left (same minute: the same name), a local mail.
  const struct {
    int from, fromAccount, to, toAccount, follows;
    std::vector<int> blocks;
  } openers[] = {
      {0, 0, 1, 0, 0, {}},
      {0, 0, 1, 0, 0, {3, 1}},
      {1, 0, 0, 0, 0, {4}},
      {0, 0, 1, 1, 1, {2}},
      {1, 1, 1, 0, 0, {2}},
  };
  for (int n = 1; n <= mails; ++n) {
    MailPlan m;
    if (n <= int(std::size(openers))) {
      const auto& o = openers[n - 1];
      m = MakeMail(random, seed, n, o.from, kAccounts[o.from][o.fromAccount], o.to, kAccounts[o.to][o.toAccount],
                   o.blocks);
      m.follows = o.follows;
      m.postAt = n == 5 ? Uniform(random, 0, postingEnd) : 0;
    } else {
      const int direction = Between(random, 0, 9);  // 0..4 A->B, 5..8 B->A, 9 local
      const int from = direction < 5 ? 0 : 1;
      const int to = direction == 9 ? from : 1 - from;
      const std::vector<int> blocks = SomeAttachments(random);
      const int fromAccount = Between(random, 0, 1);
      const int toAccount = Between(random, 0, 1);
      m = MakeMail(random, seed, n, from, kAccounts[from][fromAccount], to, kAccounts[to][toAccount], blocks);
      m.postAt = Uniform(random, 0, postingEnd);
    }
    plan.mails.push_back(std::move(m));
  }

  std::vector<FaultKind> kinds;
  const FaultKind cycle[] = {FaultKind::Cut, FaultKind::KillInCall, FaultKind::Kill, FaultKind::KillInDelivery};
  for (int i = 0; i < faults; ++i) kinds.push_back(cycle[i % std::size(cycle)]);
  std::shuffle(kinds.begin(), kinds.end(), random);
  std::vector<double> times;
  for (int i = 0; i < faults; ++i) times.push_back(Uniform(random, 5, window));
  std::sort(times.begin(), times.end());
  for (int i = 0; i < faults; ++i) {
    FaultPlan f;
    f.number = i + 1;
    f.kind = kinds[size_t(i)];
    f.at = times[size_t(i)];
    f.backwards = Between(random, 0, 2) == 0;
    f.bytes = FaultByte(random, f.backwards);
    f.killCaller = Between(random, 0, 1) == 1;
    f.machine = Between(random, 0, 1);
    f.restartAfter = Uniform(random, 0.3, 3.0);
    f.delay = Uniform(random, 0, 1.2);
    plan.faults.push_back(f);
  }
  return plan;
}

std::vector<std::string> PostCommand(const std::string& vlpost, const MailPlan& mail, const std::string& fromFolder,
                                     const std::string& toMachine, const std::string& attachmentFolder) {
  std::vector<std::string> args = {vlpost, "--post", fromFolder, mail.fromAccount, mail.toAccount + "@" + toMachine,
                                   mail.subject, mail.text, "--key", mail.fromAccount + "key"};
  for (const Attachment& a : mail.attachments) {
    const std::string file = attachmentFolder + "/" + a.name;
    std::ofstream(file, std::ios::binary) << a.bytes;
    args.push_back(file);
  }
  return args;
}

const char* FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Cut: return "carrier cut";
    case FaultKind::KillInCall: return "kill -9 in a call";
    case FaultKind::Kill: return "kill -9";
    case FaultKind::KillInDelivery: return "kill -9 in a local delivery";
  }
  return "?";
}

std::string DescribeFault(const FaultPlan& f) {
  std::string text = "fault " + std::to_string(f.number) + " (" + FaultKindName(f.kind);
  if (f.kind == FaultKind::Kill) return text + " of " + char('A' + f.machine) + ")";
  if (f.kind == FaultKind::KillInDelivery) {
    char delay[32];
    std::snprintf(delay, sizeof delay, "%.2f", f.delay);
    return text + ", " + delay + " s in)";
  }
  if (f.kind == FaultKind::KillInCall) text += std::string(" of the ") + (f.killCaller ? "caller" : "callee");
  text += " after " + std::to_string(f.bytes) + (f.backwards ? " bytes back" : " bytes out") + ")";
  return text;
}

}  // namespace soak
