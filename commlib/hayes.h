// commlib/hayes.h -- reading a modem command line.
//
// A command line is "AT" followed by commands, as a Hayes modem reads them:
//   D<dial string>   dial; the rest of the line is the number (T, P, W, ",",
//                    "@", "!", ";", blanks, "-", "(", ")" are modifiers)
//   A                answer            H[0|1]   hang up / off hook
//   Z[n]             reset             E[0|1]   echo
//   Sr=v / Sr?       set / read register r (0..255), v 0..255
//   &x[n] \x[n] %x[n] and any other letter with an optional number: settings
//                    the emulation accepts and ignores (V1, X3, &F, &C1 ...)
//   +xxx             extended command, accepted and ignored up to ";"
// Anything else makes the whole line an ERROR, before any of it is obeyed.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace comm {

enum class AtOp { Dial, Answer, HangUp, OffHook, Reset, Echo, SetRegister, ReadRegister, Ignored };

struct AtStep {
  AtOp op = AtOp::Ignored;
  int reg = 0;          // SetRegister, ReadRegister
  int value = 0;        // SetRegister, Echo, Reset
  std::string number;   // Dial: the digits (and "*", "#") to dial
};

constexpr size_t kMaxCommandLength = 1024;

// Parses one command line (a trailing CR or LF is allowed); false = ERROR.
bool parseCommandLine(std::string_view line, std::vector<AtStep>& steps);

}  // namespace comm
