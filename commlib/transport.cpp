// The one place that turns a port's settings into its backend.
#include "commlib/transport.h"

namespace comm {

std::unique_ptr<Transport> makeTransport(Owner& owner, const TransportConfig& config) {
  switch (config.settings.backend) {
    case Backend::Virtual: return makeVirtualModem(owner, config);
    case Backend::Serial: return makeSerialPort(owner, config);
  }
  return nullptr;
}

}  // namespace comm
