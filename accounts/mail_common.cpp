#include "accounts/mail_common.h"

#include "accounts/open_account.h"
#include "console/console.h"
#include "toolkit/dialog.h"
#include "toolkit/text.h"

namespace mailui {

namespace {

// The status accumulator holds 256 bytes with its terminator; stay clear of it.
constexpr int32_t kStatusRoom = 250;

// Appends at most 'room' bytes of text; a text that does not fit keeps its
// start and its end around "...", so a long path still shows its file name.
void AppendCut(char* dest, const char* text, int32_t room) {
  int32_t n = pLen(text);
  int32_t used = pLen(dest);
  if (n <= room) {
    pCopyMem(text, dest + used, n);
    return;
  }
  if (room < 3) return;
  int32_t head = (room - 3) / 2;
  int32_t tail = room - 3 - head;
  pCopyMem(text, dest + used, head);
  pCopyMem("...", dest + used + head, 3);
  pCopyMem(text + n - tail, dest + used + head + 3, tail);
}

}  // namespace

void StatusLine(const char* a, const char* b, const char* c, const char* d, const char* e) {
  const char* pieces[5] = {a, b, c, d, e};
  int32_t lengths[5] = {};
  int32_t total = 0;
  int32_t longest = 0;
  for (int32_t i = 0; i < 5; i++) {
    if (pieces[i] == nullptr) pieces[i] = "";
    lengths[i] = pLen(pieces[i]);
    total += lengths[i];
    if (lengths[i] > lengths[longest]) longest = i;
  }
  char line[kPathSize] = {};
  for (int32_t i = 0; i < 5; i++) {
    int32_t room = lengths[i];
    if (i == longest && total > kStatusRoom) room = lengths[i] - (total - kStatusRoom);
    AppendCut(line, pieces[i], room < 0 ? 0 : room);
  }
  pWriteWndTxt(Console().statusLine, 0, line, 1, 0);
}

void Progress(uint32_t done, uint32_t total) {
  // The bar's own arithmetic multiplies by 100 in 32 bits; hand it a percent
  // so that mails of more than 21 MB still show a sane figure.
  uint32_t percent = 0;
  if (total > 0) percent = static_cast<uint32_t>(static_cast<uint64_t>(done) * 100u / total);
  if (percent > 100) percent = 100;
  pProgressBar(1, Console().record.handle, kProgressBarId, static_cast<int32_t>(percent), 100);
}

namespace {

// Characters that would make a name reach another folder, match other files
// in a wildcard search, or that a file system refuses.
int32_t IsUnsafeChar(unsigned char c) {
  if (c < 32 || c == 127) return 1;
  const char* bad = "\\/:*?\"<>|";
  for (const char* p = bad; *p; p++)
    if (c == static_cast<unsigned char>(*p)) return 1;
  return 0;
}

// Device names that name no file on the classic platform, with or without
// an extension ("nul.txt" is still the null device there).
int32_t IsDeviceName(const char* name) {
  static const char* const devices[] = {"con", "prn", "aux", "nul", "com1", "com2", "com3", "com4", "com5",
                                        "com6", "com7", "com8", "com9", "lpt1", "lpt2", "lpt3", "lpt4",
                                        "lpt5", "lpt6", "lpt7", "lpt8", "lpt9"};
  char stem[kMaxBareName + 1] = {};
  int32_t n = 0;
  while (name[n] != 0 && name[n] != '.' && n < kMaxBareName) {
    char c = name[n];
    stem[n] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    n++;
  }
  for (const char* device : devices)
    if (pCmp(stem, device) == 1) return 1;
  return 0;
}

}  // namespace

int32_t IsSafeBareName(const char* name) {
  int32_t n = pLen(name);
  if (n == 0 || n > kMaxBareName) return 0;
  for (int32_t i = 0; i < n; i++)
    if (IsUnsafeChar(static_cast<unsigned char>(name[i]))) return 0;
  // "." and ".." name folders; trailing dots and blanks are dropped by the
  // classic platform, so "a." would land on "a".
  if (name[n - 1] == '.' || name[n - 1] == ' ') return 0;
  if (name[0] == ' ') return 0;
  // A leading dot makes a hidden file (".bashrc" saved into a home folder)
  // and is the unit library's mark for its temporary files.
  if (name[0] == '.') return 0;
  if (IsDeviceName(name)) return 0;
  return 1;
}

int32_t MakeSafeBareName(const char* name, char* out) {
  pClrMem(out, kMaxBareName + 1);
  int32_t n = pLen(name);
  int32_t start = 0;
  for (int32_t i = 0; i < n; i++)
    if (name[i] == '\\' || name[i] == '/') start = i + 1;
  int32_t w = 0;
  for (int32_t i = start; i < n && w < kMaxBareName; i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (w == 0 && (c == ' ' || c == '.')) continue;
    out[w++] = IsUnsafeChar(c) ? '_' : static_cast<char>(c);
  }
  while (w > 0 && (out[w - 1] == '.' || out[w - 1] == ' ')) out[--w] = 0;
  if (w > 0 && IsDeviceName(out)) {
    // Keep the name recognisable but out of the device's reach.
    char moved[kMaxBareName + 1] = {};
    moved[0] = '_';
    pCopyMem(out, moved + 1, w < kMaxBareName ? w : kMaxBareName - 1);
    pCopyMem(moved, out, kMaxBareName);
    out[kMaxBareName] = 0;
    w = pLen(out);
  }
  if (w == 0) pCopyMem("attachment", out, 10);
  return pCmp(out, name) == 1 ? 0 : 1;
}

int32_t ChunkEndsFile(const BlockPayload& chunk) {
  if (chunk.zero == kFileEndMark) return 1;
  int32_t count = SlotNumber(chunk.contentLength, sizeof chunk.contentLength);
  return count >= 0 && count < kContentSize ? 1 : 0;
}

void MarkFileEnd(BlockPayload& chunk) { chunk.zero = kFileEndMark; }

namespace {

int32_t SameNameIgnoringCase(const std::string& a, const char* b) {
  if (a.size() != static_cast<size_t>(pLen(b))) return 0;
  for (size_t i = 0; i < a.size(); i++) {
    char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char d = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (c != d) return 0;
  }
  return 1;
}

int32_t IsNameTaken(const std::vector<std::string>& taken, const char* name) {
  for (const std::string& used : taken)
    if (SameNameIgnoringCase(used, name)) return 1;
  return 0;
}

// "report.txt" -> "report(2).txt", kept within the tag's length.
void NumberedName(const char* name, int32_t number, char* out) {
  pClrMem(out, kMaxBareName + 1);
  int32_t n = pLen(name);
  int32_t dot = n;
  for (int32_t i = n - 1; i > 0; i--)
    if (name[i] == '.') {
      dot = i;
      break;
    }
  char suffix[16] = {};
  AppendBounded("(", suffix, sizeof suffix);
  AppendBounded(pStr(number), suffix, sizeof suffix);
  AppendBounded(")", suffix, sizeof suffix);
  int32_t ext = n - dot;
  int32_t stem = dot;
  int32_t room = kMaxBareName - pLen(suffix) - ext;
  if (stem > room) stem = room;
  if (stem < 1) {
    // An extension too long to keep: number the name's start instead.
    stem = kMaxBareName - pLen(suffix);
    ext = 0;
    if (stem > n) stem = n;
  }
  pCopyMem(name, out, stem);
  pBuildStr(suffix, out);
  if (ext > 0) pCopyMem(name + dot, out + pLen(out), ext);
}

}  // namespace

int32_t SaveNameFor(const char* tag, const std::vector<std::string>& taken, char* out) {
  pClrMem(out, kMaxBareName + 1);
  int32_t reduced = 0;
  if (IsSafeBareName(tag)) {
    AppendBounded(tag, out, kMaxBareName + 1);
  } else {
    MakeSafeBareName(tag, out);
    reduced = 1;
  }
  if (IsNameTaken(taken, out)) {
    char base[kMaxBareName + 1] = {};
    AppendBounded(out, base, sizeof base);
    for (int32_t k = 2; IsNameTaken(taken, out); k++) NumberedName(base, k, out);
  }
  return reduced;
}

void InstallListEnterFilter(TkEnterFilter& filter, HWND dialog, int32_t listId, WNDPROC procedure) {
  pWndFocus(dialog, listId);
  const WPARAM doubleClick = static_cast<WPARAM>(listId) | (static_cast<WPARAM>(LBN_DBLCLK) << 16);
  tkInstallEnterFilter(&filter, dialog, listId, doubleClick, procedure);
}

int32_t CommandId(WPARAM wParam) {
  char selector[] = "lword";
  return pGetW(selector, static_cast<int32_t>(wParam));
}

int32_t CommandCode(WPARAM wParam) {
  char selector[] = "hword";
  return pGetW(selector, static_cast<int32_t>(wParam));
}

void ShowAccountTitle(HWND dialog, const char* title) {
  char id[sizeof(AccountRecord::accountId) + 1];
  SlotText(ActiveAccount().record.accountId, id);
  char text[kPathSize] = {};
  AppendBounded(title, text, sizeof text);
  AppendBounded(" :: ", text, sizeof text);
  AppendBounded(id, text, sizeof text);
  pWriteWndStr(dialog, 0, text);
}

}  // namespace mailui
