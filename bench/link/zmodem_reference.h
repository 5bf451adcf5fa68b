// bench/link/zmodem_reference.h -- the reference figure of the link
// benchmark: lrzsz's sz and rz move a file over a line paced like ours.
//
// sz and rz run as child processes, each on its own socket pair; the
// benchmark relays the bytes between the two in both directions through the
// communication library's line writer, so each way carries baud/10 bytes per
// second in the same slices as the virtual line, with the same seeded
// corruption. The clock is real: 1 MiB at 56000 baud takes about 3 minutes.
#pragma once
#include <stdint.h>

#include <string>

struct ZmodemFigures {
  bool ran = false;                // sz and rz started and rz finished in time
  bool identical = false;          // rz's file equals the one sz sent
  double seconds = 0;              // first byte on the line .. rz's exit
  uint64_t lineBytesForward = 0;   // bytes sz put on the line
  uint64_t lineBytesBack = 0;      // bytes rz put on the line
  double efficiency = 0;           // file bytes / (seconds x baud/10)
  std::string note;                // what went wrong, empty when nothing did
};

// Sends `file` from sz to rz over the paced line. corruptOneIn changes each
// byte on the line (both ways) with chance 1/corruptOneIn, drawn from `seed`;
// 0 keeps the line clean. Never throws: a missing sz or rz, a failed start or
// a transfer that does not finish comes back as ran == false with a note.
ZmodemFigures RunZmodemReference(const std::string& file, int baud, uint32_t corruptOneIn, uint64_t seed);
