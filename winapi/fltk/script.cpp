// The script player: one step at a time from loop deadlines, never blocking,
// so the program's own timers and the display keep running between steps.
#include "winapi/fltk/script.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace vlfl {
namespace {

constexpr uint32_t kPaceMs = 60;       // between two steps, so the screen catches up
constexpr uint32_t kPollMs = 50;       // while a step waits for something
constexpr uint32_t kGiveUpMs = 60000;  // a wait that long has failed

struct OpShape {
  const char* word;
  Op op;
  size_t minWords, maxWords;  // including the verb
};

constexpr OpShape kShapes[] = {
    {"wait", Op::Wait, 2, 2},       {"gone", Op::Gone, 2, 2},       {"restore", Op::Restore, 2, 2},
    {"click", Op::Click, 3, 3},     {"type", Op::Type, 3, 4},       {"key", Op::Key, 5, 5},
    {"select", Op::Select, 4, 5},   {"pick", Op::Pick, 4, 4},       {"close", Op::Close, 2, 2},
    {"mouseup", Op::MouseUp, 4, 4}, {"uistate", Op::UiState, 2, 2}, {"answer", Op::Answer, 3, 4},
    {"sleep", Op::Sleep, 2, 2},     {"snap", Op::Snap, 3, 3},       {"text", Op::Text, 4, 4},
    {"snapbox", Op::SnapBox, 3, 3},
};

enum class Outcome { Done, Again, Fail };

// The whole state of the player.
struct Player {
  std::vector<Step> steps;
  size_t next = 0;
  std::string logPath;
  FILE* log = nullptr;
  uint32_t deadline = 0;
  uint32_t stepStarted = 0;
  bool stepBegun = false;
  bool snapAnnounced = false;
  bool failed = false;
  int done = 0;
  std::string why;
  std::map<uint32_t, WaBox> boxes;
  void (*flush)() = nullptr;
  bool (*boxPlace)(uint32_t, RECT&, std::string&) = nullptr;
};

Player player;

bool toNumber(const std::string& word, int32_t& out) {
  if (word.empty() || word.size() > 11) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(word.c_str(), &end, 10);
  if (*end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  out = int32_t(v);
  return true;
}

// Fills the step's fields from its words (the count is already checked).
bool fillStep(const std::vector<std::string>& w, Step& s, std::string& why) {
  auto number = [&](size_t i, int32_t& out) {
    if (toNumber(w[i], out)) return true;
    why = "not a number: " + w[i];
    return false;
  };
  s.title = w[1];
  switch (s.op) {
    case Op::Click: return number(2, s.id);
    case Op::Type:
      s.text = w.size() > 3 ? w[3] : "";
      return number(2, s.id);
    case Op::Key:
      if (w[4] != "down" && w[4] != "up") {
        why = "a key goes down or up";
        return false;
      }
      s.b = w[4] == "down" ? 1 : 0;
      return number(2, s.id) && number(3, s.a);
    case Op::Select:
      if (w.size() > 4 && w[4] != "double") {
        why = "select takes only 'double' after the row";
        return false;
      }
      s.b = w.size() > 4 ? 1 : 0;
      return number(2, s.id) && number(3, s.a);
    case Op::Pick:
    case Op::Text:
      s.text = w[3];
      return number(2, s.id);
    case Op::MouseUp: return number(2, s.a) && number(3, s.b);
    case Op::Answer:
      s.text = w.size() > 3 ? w[3] : "";
      return number(2, s.a);
    case Op::Sleep:
      if (!number(1, s.a)) return false;
      if (s.a < 0) why = "a pause cannot be negative";
      return s.a >= 0;
    case Op::Snap:
    case Op::SnapBox:
      for (char c : s.title)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')) {
          why = "a snap name is letters, digits, '-' and '_'";
          return false;
        }
      s.text = w[2];
      return !s.title.empty();
    default: return true;
  }
}

void logLine(const std::string& line) {
  FILE* out = player.log ? player.log : stderr;
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}

HWND findDialog(const std::string& pattern) {
  HWND found = 0;
  for (HWND h : waDialogs())  // the newest match wins
    if (const WaWindow* w = waWindow(h); w && titleMatches(pattern, w->text)) found = h;
  return found;
}

const WaBox* findBox(const std::string& caption) {
  for (auto& [id, box] : player.boxes)
    if (titleMatches(caption, box.caption)) return &box;
  return nullptr;
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

// Acts on a control of a shown dialog; false with a reason otherwise.
HWND controlOf(const Step& s) {
  HWND d = findDialog(s.title);
  if (d == 0) {
    player.why = "no dialog " + s.title;
    return 0;
  }
  HWND c = s.id == 0 ? d : waGetDlgItem(d, s.id);
  if (c == 0) player.why = "no control " + std::to_string(s.id) + " in " + s.title;
  return c;
}

Outcome acted(bool ok, const char* what) {
  if (!ok && player.why.empty()) player.why = std::string(what) + " refused";
  return ok ? Outcome::Done : Outcome::Fail;
}

Outcome pickRow(const Step& s) {
  HWND c = controlOf(s);
  if (c == 0) return Outcome::Fail;
  const WaWindow* w = waWindow(c);
  for (size_t row = 0; w && row < w->items.size(); row++)
    if (w->items[row].text == s.text) return acted(waUserSelect(c, int32_t(row), false), "pick");
  player.why = "no row " + s.text;
  return Outcome::Fail;
}

// What a snap photographs: its window text and place; false while there
// is none (a box may not have its window yet).
bool snapTarget(const Step& s, std::string& text, RECT& r) {
  if (s.op == Op::Snap) {
    HWND d = findDialog(s.text);
    if (d == 0) return false;
    waGetWindowRect(d, &r);
    text = waWindow(d)->text;
    return true;
  }
  const WaBox* box = findBox(s.text);
  return box != nullptr && player.boxPlace != nullptr && player.boxPlace(box->id, r, text);
}

Outcome snap(const Step& s) {
  std::string doneFile = player.logPath + "." + s.title + ".done";
  if (!player.snapAnnounced) {
    if (player.flush) player.flush();
    std::string text;
    RECT r;
    if (!snapTarget(s, text, r)) {
      if (s.op == Op::SnapBox) return Outcome::Again;  // the box may still come
      player.why = "no window " + s.text;
      return Outcome::Fail;
    }
    logLine("snap " + s.title + "\t" + text + "\t" + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
            std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
    player.snapAnnounced = true;
    return player.logPath.empty() ? Outcome::Done : Outcome::Again;
  }
  if (!fileExists(doneFile)) return Outcome::Again;
  player.snapAnnounced = false;
  return Outcome::Done;
}

Outcome runStep(const Step& s) {
  player.why.clear();
  switch (s.op) {
    case Op::Wait: {
      HWND d = findDialog(s.title);
      return d && waWindow(d)->visible && !waWindow(d)->minimized ? Outcome::Done : Outcome::Again;
    }
    case Op::Gone: return findDialog(s.title) ? Outcome::Again : Outcome::Done;
    case Op::Restore: {
      HWND d = controlOf(Step{Op::Restore, s.line, s.title, 0, 0, 0, ""});
      return d ? acted(waUserRestore(d), "restore") : Outcome::Fail;
    }
    case Op::Click: {
      HWND c = controlOf(s);
      return c ? acted(waUserClick(c), "click") : Outcome::Fail;
    }
    case Op::Type: {
      HWND c = controlOf(s);
      return c ? acted(waUserType(c, s.text), "type") : Outcome::Fail;
    }
    case Op::Key: {
      HWND c = controlOf(s);
      return c ? acted(waUserKey(c, s.a, s.b == 1), "key") : Outcome::Fail;
    }
    case Op::Select: {
      HWND c = controlOf(s);
      return c ? acted(waUserSelect(c, s.a, s.b == 1), "select") : Outcome::Fail;
    }
    case Op::Pick: return pickRow(s);
    case Op::Text: {
      HWND c = controlOf(s);
      if (c == 0) return Outcome::Fail;
      return titleMatches(s.text, waWindow(c)->text) ? Outcome::Done : Outcome::Again;
    }
    case Op::Close: {
      HWND d = controlOf(Step{Op::Close, s.line, s.title, 0, 0, 0, ""});
      return d ? acted(waUserClose(d), "close") : Outcome::Fail;
    }
    case Op::MouseUp: {
      HWND d = controlOf(Step{Op::MouseUp, s.line, s.title, 0, 0, 0, ""});
      return d ? acted(waUserMouseUp(d, s.a, s.b), "mouseup") : Outcome::Fail;
    }
    case Op::UiState: {
      HWND d = controlOf(Step{Op::UiState, s.line, s.title, 0, 0, 0, ""});
      if (d) waUserUpdateUiState(d);
      return d ? Outcome::Done : Outcome::Fail;
    }
    case Op::Answer: {
      const WaBox* box = findBox(s.title);
      if (box == nullptr) return Outcome::Again;
      return acted(waAnswerBox(box->id, s.a, s.text), "answer");
    }
    case Op::Sleep: return Outcome::Done;
    case Op::Snap:
    case Op::SnapBox: return snap(s);
  }
  return Outcome::Fail;
}

void schedule(uint32_t ms);

// Logs a step as done and goes on to the next one, or logs the end.
void finishStep(const Step& s) {
  player.stepBegun = false;
  player.next++;
  player.done++;
  logLine("done " + std::to_string(s.line));
  if (player.next < player.steps.size())
    schedule(kPaceMs);
  else
    logLine("end");
}

void advance(void*) {
  player.deadline = 0;
  if (player.next >= player.steps.size() || player.failed) return;
  const Step& s = player.steps[player.next];
  if (!player.stepBegun) {
    player.stepBegun = true;
    player.stepStarted = waNow();
    if (s.op == Op::Sleep) {  // the pause itself is the wait
      schedule(uint32_t(s.a));
      return;
    }
  } else if (s.op == Op::Sleep) {
    finishStep(s);
    return;
  }
  Outcome o = runStep(s);
  if (o == Outcome::Again && uint32_t(waNow() - player.stepStarted) > kGiveUpMs) {
    o = Outcome::Fail;
    player.why = "waited too long";
  }
  if (o == Outcome::Again) {
    schedule(kPollMs);
    return;
  }
  if (o == Outcome::Fail) {
    player.stepBegun = false;
    player.failed = true;
    logLine("fail " + std::to_string(s.line) + ": " + player.why);
    return;
  }
  finishStep(s);
}

void schedule(uint32_t ms) { player.deadline = waAddDeadline(ms, advance, nullptr); }

}  // namespace

bool splitWords(const std::string& line, std::vector<std::string>& words) {
  words.clear();
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) i++;
    if (i >= line.size()) break;
    std::string word;
    if (line[i] == '"') {
      i++;
      bool closed = false;
      while (i < line.size()) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < line.size()) c = line[i++];
        word += c;
      }
      if (!closed) return false;
      if (i < line.size() && line[i] != ' ' && line[i] != '\t') return false;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') word += line[i++];
    }
    words.push_back(word);
  }
  return true;
}

bool parseScript(const std::string& source, std::vector<Step>& steps, std::string& error) {
  steps.clear();
  std::istringstream in(source);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> words;
    auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      steps.clear();
      return false;
    };
    if (!splitWords(line, words)) return fail("unclosed quote");
    if (words.empty() || words[0][0] == '#') continue;
    const OpShape* shape = nullptr;
    for (const OpShape& k : kShapes)
      if (words[0] == k.word) shape = &k;
    if (shape == nullptr) return fail("unknown action " + words[0]);
    if (words.size() < shape->minWords || words.size() > shape->maxWords)
      return fail("wrong number of words for " + words[0]);
    Step s;
    s.op = shape->op;
    s.line = number;
    std::string why;
    if (!fillStep(words, s, why)) return fail(why);
    steps.push_back(s);
  }
  return true;
}

bool titleMatches(const std::string& pattern, const std::string& text) {
  if (!pattern.empty() && pattern.back() == '*')
    return text.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  return pattern == text;
}

void noteBoxShown(const WaBox& box) { player.boxes[box.id] = box; }
void noteBoxHidden(uint32_t boxId) { player.boxes.erase(boxId); }
void setSnapFlush(void (*flush)()) { player.flush = flush; }
void setBoxPlace(bool (*place)(uint32_t, RECT&, std::string&)) { player.boxPlace = place; }

void startScript(const std::vector<Step>& steps, const std::string& logPath) {
  auto keepBoxes = player.boxes;
  auto keepFlush = player.flush;
  auto keepPlace = player.boxPlace;
  resetScript();
  player.boxes = keepBoxes;
  player.flush = keepFlush;
  player.boxPlace = keepPlace;
  player.steps = steps;
  player.logPath = logPath;
  if (!logPath.empty()) player.log = std::fopen(logPath.c_str(), "a");
  logLine("start " + std::to_string(steps.size()));
  if (steps.empty()) {
    logLine("end");
    return;
  }
  schedule(0);
}

bool startScriptFromEnvironment() {
  const char* path = std::getenv("VL_SCRIPT");
  if (path == nullptr || *path == 0) return true;
  const char* log = std::getenv("VL_SCRIPT_LOG");
  std::string logPath = log ? log : "";
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  if (in) text << in.rdbuf();
  std::vector<Step> steps;
  std::string error;
  if (!in || !parseScript(text.str(), steps, error)) {
    resetScript();
    player.logPath = logPath;
    if (!logPath.empty()) player.log = std::fopen(logPath.c_str(), "a");
    player.failed = true;
    logLine(std::string("fail 0: ") + (in ? error : std::string("cannot read ") + path));
    return false;
  }
  startScript(steps, logPath);
  return true;
}

bool scriptRunning() { return !player.failed && player.next < player.steps.size(); }
int scriptStepsDone() { return player.done; }
bool scriptFailed() { return player.failed; }

void resetScript() {
  if (player.deadline) waCancelDeadline(player.deadline);
  if (player.log) std::fclose(player.log);
  player = Player{};
}

}  // namespace vlfl
