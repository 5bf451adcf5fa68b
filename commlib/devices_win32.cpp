// Serial device names on Windows (see settings.h): "COMn" or "\\.\COMn",
// n from 1; the default device of port n is COMn.
#include "commlib/settings.h"

namespace comm {
namespace {

bool isComName(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || name[3] == '0') return false;
  if ((name[0] | 32) != 'c' || (name[1] | 32) != 'o' || (name[2] | 32) != 'm') return false;
  for (char c : name.substr(3))
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

bool IsSerialDevicePath(std::string_view device) {
  if (device.substr(0, 4) == "\\\\.\\") device.remove_prefix(4);
  return isComName(device);
}
const char* const kSerialDeviceRule = "COMn or \\\\.\\COMn";
std::string DefaultSerialDevice(int port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace comm
