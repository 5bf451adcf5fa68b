// The ZMODEM reference on Windows: lrzsz's sz and rz are Linux programs, so
// the figure is measured by the Linux build only (zmodem_reference.h).
#include "bench/link/zmodem_reference.h"

ZmodemFigures RunZmodemReference(const std::string&, int, uint32_t, uint64_t) {
  ZmodemFigures figures;
  figures.note = "lrzsz runs on Linux only; see the Linux build's figure";
  return figures;
}
