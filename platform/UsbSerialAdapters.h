#pragma once
// The pieces of the POSIX serial device map, split out so that they can be run on
// a folder tree made for the purpose (tests) as well as on /sys/class/tty.
#include <string>
#include <utility>
#include <vector>

namespace orvi::platform {

struct UsbSerialAdapter {
    int port = 0;       // the COMn number the default mapping gives the node
    std::string device; // "/dev/ttyUSB0"
};

// The ttyUSB* and ttyACM* entries of a sysfs tty class folder whose link target lies
// on USB (and not under "virtual"), with a port number under the default mapping
// (nodes past the mapped range are left out); sorted by port number.
std::vector<UsbSerialAdapter> FindUsbSerialAdapters(const std::string& classTtyDir);

// The map listing: the override folder's COMn entries by number, then the adapters
// whose port number and device are not taken by one of those entries. Value names are
// "\Device\USBSER00" followed by the index in decimal, as the console asks for them.
std::vector<std::pair<std::string, std::string>>
BuildSerialDeviceMap(const std::string& overrideDir, const std::vector<UsbSerialAdapter>& adapters);

} // namespace orvi::platform
