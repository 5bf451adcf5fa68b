// Serial device names on a POSIX host (see settings.h).
#include "commlib/settings.h"

namespace comm {

bool IsSerialDevicePath(std::string_view device) { return !device.empty() && device[0] == '/'; }
const char* const kSerialDeviceRule = "an absolute path";
std::string DefaultSerialDevice(int port) { return "/dev/ttyS" + std::to_string(port - 1); }

}  // namespace comm
