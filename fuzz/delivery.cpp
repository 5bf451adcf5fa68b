// Local delivery (DeliverLocalMails) over spool files of any bytes, on the
// store tests' machine: accounts bob and carl, bob already holding another
// mail of the fixtures' default name (so a mail of that name is restamped),
// and a mail for another machine waiting in POST.
//
// Input: up to three spool files separated by kPartSeparator, written to POST
// as "[=]" files under three mail names.
//
// Invariants after every run (no mail lost, nothing else touched):
//  - every spool file is still there as it was, or set aside as "[u]" or "[!]"
//    byte for byte, or (only when it was empty) removed, or delivered: then
//    exactly one new mail file holds its blocks (payloads byte for byte,
//    headers the same but for the stamp) under the name its first header
//    gives, and the recipient's index grew by that header, earlier entries
//    untouched; or, when a mail file holds its very bytes already, only
//    removed;
//  - account files, earlier mail files and the remote spool file are untouched;
//  - nothing is written outside the machine folder.
#include "console/console.h"
#include "fuzz/harness.h"
#include "resources/resources.h"
#include "store/delivery.h"
#include "tests/store/store_fixture.h"
#include "toolkit/dialog.h"
#include "winapi/headless/driver.h"

using namespace fuzz;

namespace {

LRESULT QuietConsole(HWND, UINT, WPARAM, LPARAM) { return 0; }

storetest::StoreFolder* store = nullptr;
Tree kept;
const char* const kAccounts[] = {"bob", "carl"};

storetest::MailShape SpecOf(size_t part) {
  storetest::MailShape mail;
  mail.postedAt = "7/12/2026 9:0" + std::to_string(5 + part);
  return mail;
}

std::string Rel(const fs::path& path) { return fs::relative(path, store->Root()).string(); }

// A block's header unscrambled with its stamp slot cleared.
Bytes HeaderWithoutStamp(const Bytes& file, int k) {
  Bytes header = storebytes::HeaderOf(file, k);
  std::fill(header.begin() + 8, header.begin() + 26, 0);
  return header;
}

bool SameMailButStamp(const Bytes& spool, const Bytes& mail) {
  if (spool.size() != mail.size() || spool.size() % kBlockSize != 0) return false;
  for (int k = 1; k <= int(spool.size() / kBlockSize); ++k) {
    const long at = long(k - 1) * kBlockSize;
    if (!std::equal(spool.begin() + at, spool.begin() + at + kPayloadSize, mail.begin() + at)) return false;
    if (HeaderWithoutStamp(spool, k) != HeaderWithoutStamp(mail, k)) return false;
  }
  return true;
}

// The new mail files and index entries of one account since the snapshot.
void TakeDeliveries(const std::string& id, const Tree& now, std::vector<std::pair<std::string, Bytes>>& mails) {
  const std::string folder = Rel(store->AccountFolder(id));
  const std::string index = Rel(store->MailboxIndex(id));
  const Bytes before = kept.count(index) ? kept.at(index) : Bytes();
  const Bytes after = now.count(index) ? now.at(index) : Bytes();
  size_t fresh = 0;
  for (const auto& [name, bytes] : now)
    if (!kept.count(name) && name.rfind(folder + "/", 0) == 0 && name != index) {
      mails.emplace_back(name, bytes);
      ++fresh;
      FUZZ_CHECK(bytes.size() >= size_t(kBlockSize), name + ": a mail file without a block");
      const Bytes first = storebytes::HeaderOf(bytes, 1);
      const std::string named = storebytes::Encoded(storebytes::TextAt(first, 26, 48) + storebytes::TextAt(first, 8, 18));
      FUZZ_CHECK(name == folder + "/" + named + "[=]", name + " is not named by its header");
    }
  FUZZ_CHECK(after.size() >= before.size() && std::equal(before.begin(), before.end(), after.begin()),
             index + ": earlier entries changed");
  const size_t whole = (before.size() + kHeaderSize - 1) / kHeaderSize * kHeaderSize;
  FUZZ_CHECK(after.size() == (fresh == 0 ? before.size() : whole + fresh * kHeaderSize),
             index + ": grew by " + std::to_string(after.size() - before.size()) + " for " + std::to_string(fresh));
  if (fresh == 1) {
    Bytes entry(after.end() - kHeaderSize, after.end());
    vlData(-1, entry.data(), kHeaderSize);
    FUZZ_CHECK(entry == storebytes::HeaderOf(mails.back().second, 1), index + ": the entry is not the mail's header");
  }
}

// The mail of these spool bytes went back to its sender: a new report in
// POST names that sender as its recipient (or the mail was a report itself,
// which is dropped, never answered).
bool Returned(const Tree& now, const Bytes& part) {
  if (part.size() < size_t(kBlockSize)) return false;
  const std::string sender = storebytes::TextAt(storebytes::HeaderOf(part, 1), 26, 48);
  if (sender.rfind("velloran-report@", 0) == 0) return true;
  for (const auto& [name, bytes] : now) {
    if (kept.count(name) || name.rfind("POST/", 0) != 0 || bytes.size() != size_t(kBlockSize)) continue;
    const Bytes report = storebytes::HeaderOf(bytes, 1);
    if (storebytes::TextAt(report, 26, 48).rfind("velloran-report@", 0) == 0 &&
        storebytes::TextAt(report, 146, 48) == sender)
      return true;
  }
  return false;
}

void CheckRun(const std::vector<Bytes>& parts) {
  const Tree now = Snapshot(store->Root());
  for (const auto& [name, bytes] : kept) {
    if (name == Rel(store->MailboxIndex("bob")) || name == Rel(store->MailboxIndex("carl"))) continue;
    auto found = now.find(name);
    FUZZ_CHECK(found != now.end() && found->second == bytes, name + " was touched");
  }
  std::vector<std::pair<std::string, Bytes>> mails;
  for (const char* id : kAccounts) TakeDeliveries(id, now, mails);
  std::vector<bool> used(mails.size(), false);
  for (size_t p = 0; p < parts.size(); ++p) {
    const fs::path spool = store->SpoolFile(SpecOf(p));
    const std::string name = Rel(spool);
    const std::string stem = name.substr(0, name.size() - 3);
    if (now.count(name)) {
      FUZZ_CHECK(now.at(name) == parts[p], name + " was changed in place");
      continue;
    }
    if ((now.count(stem + "[u]") && now.at(stem + "[u]") == parts[p]) ||
        (now.count(stem + "[!]") && now.at(stem + "[!]") == parts[p]) || parts[p].empty() || Returned(now, parts[p]))
      continue;
    bool found = false;
    for (size_t m = 0; m < mails.size() && !found; ++m)
      if (!used[m] && SameMailButStamp(parts[p], mails[m].second)) used[m] = found = true;
    // A mail whose very bytes are filed already (a run stopped before it
    // could delete the spool file) is not filed twice.
    for (const auto& [kept_name, bytes] : kept)
      found = found || (kept_name.rfind("POST/", 0) != 0 && bytes == parts[p] && now.count(kept_name));
    FUZZ_CHECK(found, name + " was lost");
  }
  for (size_t m = 0; m < mails.size(); ++m) FUZZ_CHECK(used[m], mails[m].first + " came from no spool file");
  for (const auto& [name, bytes] : now) {
    if (kept.count(name) || name.rfind("POST/", 0) != 0) continue;
    const std::string suffix = name.size() > 3 ? name.substr(name.size() - 3) : name;
    FUZZ_CHECK(suffix == "[=]" || suffix == "[@]" || suffix == "[u]" || suffix == "[!]", "a new file in POST: " + name);
  }
  CheckOutside({store->Root()});
}

void Restore() {
  const Tree now = Snapshot(store->Root());
  for (const auto& [name, bytes] : now)
    if (!kept.count(name)) fs::remove_all(store->Root() / name);
  for (const auto& [name, bytes] : kept)
    if (name.back() != '/' && now.count(name) && now.at(name) != bytes) storebytes::WriteAll(store->Root() / name, bytes);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  EnterScratch();
  store = new storetest::StoreFolder;
  for (const char* id : kAccounts) store->MakeAccount(id);
  // bob already holds a mail of the first spool file's name.
  storetest::MailShape earlier = SpecOf(0);
  earlier.message = "an earlier mail of the same minute";
  storebytes::WriteAll(store->MailFile("bob", earlier.sender, earlier.postedAt), storetest::MakeMail(earlier));
  Bytes index = storetest::MakeBlock(earlier, {"1", "1"});
  storebytes::WriteAll(store->MailboxIndex("bob"), Bytes(index.begin() + kPayloadSize, index.end()));
  storetest::MailShape remote;
  remote.destination = "dan@402";
  store->PutSpool(remote, storetest::MakeMail(remote), "[@]");
  kept = Snapshot(store->Root());

  headless::reset(true, 1000);
  ResetConsole();
  HWND console = tkCreateDialog(tkModuleHandle(&VelloranResources()), res::kConsoleDialog, 0, QuietConsole, 0);
  Console().record.handle = console;
  Console().statusLine = tkGetDlgItem(console, kStatusLineId);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<Bytes> parts = SplitParts(data, size);
  if (parts.size() > 3) parts.resize(3);
  for (size_t p = 0; p < parts.size(); ++p) store->PutSpool(SpecOf(p), parts[p]);
  ResetDelivery();
  FUZZ_CHECK(DeliverLocalMails() == 1, "the run failed");
  Trace("delivered " + std::to_string(Delivery().delivered) + ", restamped " + std::to_string(Delivery().renamed) +
        ", returned " + std::to_string(Delivery().returned) + ", unknown " +
        std::to_string(Delivery().unknownAccount) + ", damaged " + std::to_string(Delivery().damaged) + ", kept " +
        std::to_string(Delivery().kept));
  CheckRun(parts);
  Restore();
  return 0;
}
