// The script player: one step at a time from loop deadlines, never blocking,
// so the program's own timers and the display keep running between steps.
#include "winapi/fltk/script.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "winapi/loop.h"
#include "winapi/winapi.h"

namespace vlfl {
namespace {

constexpr uint32_t kPaceMs = 60;      // between two steps, so the screen catches up
constexpr uint32_t kPollMs = 50;      // while a step waits for something
constexpr uint32_t kGiveUpMs = 30000; // a wait that long has failed

struct OpShape {
  const char* word;
  Op op;
  int minWords, maxWords;  // including the verb
};

constexpr OpShape kShapes[] = {
    {"wait", Op::Wait, 2, 2},       {"gone", Op::Gone, 2, 2},       {"restore", Op::Restore, 2, 2},
    {"click", Op::Click, 3, 3},     {"type", Op::Type, 3, 4},       {"key", Op::Key, 5, 5},
    {"select", Op::Select, 4, 5},   {"pick", Op::Pick, 4, 4},       {"close", Op::Close, 2, 2},
    {"mouseup", Op::MouseUp, 4, 4}, {"uistate", Op::UiState, 2, 2}, {"answer", Op::Answer, 3, 4},
    {"sleep", Op::Sleep, 2, 2},     {"snap", Op::Snap, 3, 3},
};

// The whole state of the player.
struct Player {
  std::vector<Step> steps;
  size_t next = 0;
  std::string logPath;
  FILE* log = nullptr;
  uint32_t deadline = 0;
  uint32_t stepStarted = 0;
  bool stepBegun = false;
  bool failed = false;
  int done = 0;
  std::map<uint32_t, WaBox> boxes;
  void (*flush)() = nullptr;
};

Player player;

bool toNumber(const std::string& word, int32_t& out) {
  if (word.empty() || word.size() > 10) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(word.c_str(), &end, 10);
  if (*end != 0 || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
  out = int32_t(v);
  return true;
}

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
        why = "key needs down or up";
        return false;
      }
      s.value = w[4] == "down" ? 1 : 0;
      return number(2, s.id) && number(3, s.value == 1 ? s.value : s.value) && toNumber(w[3], s.value)
                 ? (s.value = w[4] == "down" ? 1 : 0, toNumber(w[3], s.text.empty() ? s.id : s.id), true)
                 : false;
    default: break;
  }
  return true;
}

}  // namespace
}  // namespace vlfl
