// What one soak run will do, drawn from its seed before anything starts: the
// mails (who writes to whom, when, with which attachments) and the faults
// (what breaks, and when).
#pragma once
#include <stdint.h>

#include <random>
#include <string>
#include <vector>

namespace soak {

struct Attachment {
  std::string name;   // unique within the run, so every mail's files can be told apart
  std::string bytes;
};

struct MailPlan {
  int number = 0;
  int fromMachine = 0, toMachine = 0;  // 0 = A, 1 = B (a town: 0 .. machines - 1)
  std::string fromAccount, toAccount;
  std::string subject, text;
  std::vector<Attachment> attachments;
  double postAt = 0;   // seconds after the start of the run
  int follows = 0;     // posted as soon as this mail has left its sender's spool
};

enum class FaultKind {
  Cut,         // the relay cuts the next call at a byte
  KillInCall,  // kill -9 of the caller or the callee at a byte of the next call
  Kill,        // kill -9 of a machine at a moment
  KillInDelivery,  // kill -9 of whichever machine first delivers local mail
};

struct FaultPlan {
  int number = 0;
  FaultKind kind = FaultKind::Cut;
  double at = 0;            // when it is due (a Cut or KillInCall is armed then)
  bool backwards = false;   // the byte counts callee-to-caller bytes ("[OK]" answers)
  uint64_t bytes = 1;
  bool killCaller = false;  // KillInCall: which end
  int machine = 0;          // Kill: which machine (also when another fault falls back to a kill)
  double delay = 0;         // KillInDelivery: seconds into the delivery
  double restartAfter = 1;  // seconds until a killed machine starts again
};

struct Plan {
  std::vector<MailPlan> mails;
  std::vector<FaultPlan> faults;
  double secondStart = 0;  // B starts this many seconds after A: their timers tick apart
};

// Machines A and B with two accounts each.
extern const char* const kAccounts[2][2];

// A town's machines each have these two accounts.
extern const char* const kTownAccounts[2];

// A town of machines 0 .. machines - 1: each posts mailsEach mails to a
// random account of a random other machine, about half with attachments.
std::vector<MailPlan> MakeTownMails(uint32_t seed, int machines, int mailsEach);

// The mails and faults of a run. window: the seconds in which mails are
// posted and faults happen.
Plan MakePlan(uint32_t seed, int mails, int faults, double window);

// The command line of `vlpost --post` that posts mail from its sender's
// folder to toMachine (its ID); its attachments are written into
// attachmentFolder first. Every account's key is its id followed by "key".
std::vector<std::string> PostCommand(const std::string& vlpost, const MailPlan& mail, const std::string& fromFolder,
                                     const std::string& toMachine, const std::string& attachmentFolder);

const char* FaultKindName(FaultKind kind);
std::string DescribeFault(const FaultPlan& fault);

}  // namespace soak
