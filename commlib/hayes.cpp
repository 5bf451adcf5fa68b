// Reading a modem command line (grammar in hayes.h).
#include "commlib/hayes.h"

namespace comm {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Reads an optional decimal number of at most three digits at pos; -1 when
// there is none, -2 when it is out of 0..255.
int readNumber(std::string_view s, size_t& pos) {
  size_t start = pos;
  int value = 0;
  while (pos < s.size() && isDigit(s[pos]) && pos - start < 4) value = value * 10 + (s[pos++] - '0');
  if (pos == start) return -1;
  if (pos - start > 3 || value > 255) return -2;
  return value;
}

bool readDial(std::string_view rest, AtStep& step) {
  static constexpr std::string_view kModifiers = "TPW,@!; -()";
  step.op = AtOp::Dial;
  for (char c : rest) {
    if (isDigit(c) || c == '*' || c == '#') step.number += c;
    else if (kModifiers.find(upper(c)) == std::string_view::npos) return false;
  }
  return !step.number.empty();
}

bool readRegister(std::string_view s, size_t& pos, AtStep& step) {
  int reg = readNumber(s, pos);
  if (reg < 0 || pos >= s.size()) return false;
  step.reg = reg;
  if (s[pos] == '?') {
    ++pos;
    step.op = AtOp::ReadRegister;
    return true;
  }
  if (s[pos] != '=') return false;
  ++pos;
  int value = readNumber(s, pos);
  if (value < 0) return false;
  step.op = AtOp::SetRegister;
  step.value = value;
  return true;
}

// E, H, Q, V take 0 or 1 (nothing meaning 0).
bool readSwitch(std::string_view s, size_t& pos, int& value) {
  int n = readNumber(s, pos);
  if (n == -2 || n > 1) return false;
  value = n < 0 ? 0 : n;
  return true;
}

bool readExtended(std::string_view s, size_t& pos) {
  ++pos;  // '+'
  size_t start = pos;
  while (pos < s.size() && s[pos] != ';') {
    char c = s[pos];
    if (!(isLetter(c) || isDigit(c) || c == '=' || c == '?' || c == ',' || c == '.')) return false;
    ++pos;
  }
  if (pos < s.size()) ++pos;  // ';'
  return pos > start;
}

}  // namespace

bool parseCommandLine(std::string_view line, std::vector<AtStep>& steps) {
  steps.clear();
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
  if (line.size() < 2 || line.size() > kMaxCommandLength) return false;
  if (upper(line[0]) != 'A' || upper(line[1]) != 'T') return false;
  for (char c : line)
    if (c < 32 || c > 126) return false;
  size_t pos = 2;
  while (pos < line.size()) {
    char c = upper(line[pos]);
    if (c == ' ') {
      ++pos;
      continue;
    }
    AtStep step;
    if (c == 'D') {
      if (!readDial(line.substr(pos + 1), step)) return false;
      steps.push_back(step);
      return true;
    }
    ++pos;
    if (c == 'S') {
      if (!readRegister(line, pos, step)) return false;
    } else if (c == 'A') {
      step.op = AtOp::Answer;
    } else if (c == 'E' || c == 'H' || c == 'Q' || c == 'V') {
      if (!readSwitch(line, pos, step.value)) return false;
      if (c == 'E') step.op = AtOp::Echo;
      else if (c == 'H') step.op = step.value == 0 ? AtOp::HangUp : AtOp::OffHook;
    } else if (c == 'Z') {
      if (readNumber(line, pos) == -2) return false;
      step.op = AtOp::Reset;
    } else if (c == '&' || c == '\\' || c == '%') {
      if (pos >= line.size() || !isLetter(line[pos])) return false;
      ++pos;
      if (readNumber(line, pos) == -2) return false;
    } else if (c == '+') {
      --pos;
      if (!readExtended(line, pos)) return false;
    } else if (c >= 'A' && c <= 'Z') {
      if (readNumber(line, pos) == -2) return false;
    } else {
      return false;
    }
    steps.push_back(step);
  }
  return true;
}

}  // namespace comm
