#pragma once
// Port numbers and device names. Ports are named "\\.\COMn" throughout the serial
// stack. On Windows that is the device name itself; on POSIX the name is resolved to
// a device node:
//   1. <override folder>/COMn when it exists (a symbolic link made by a udev rule,
//      by the device simulator, or by hand);
//   2. otherwise COM1..COM16 are /dev/ttyUSB0..15 and COM17..COM32 /dev/ttyACM0..15
//      (USB-serial adapters), COM33..COM64 /dev/ttyS0..31.
// The override folder is $ORVI_PORT_DIR when set, else /dev/orvi (a udev rule with
// SYMLINK+="orvi/COM5" names an adapter COM5).
#include <string>

namespace orvi::platform {

// "\\.\COM%d".
std::string ComDeviceName(int portNumber);

// The port number in a "\\.\COMn" or "COMn" name; 0 when the name is not one.
int PortNumberFromName(const std::string& name);

// The folder of COMn links; SetPortOverrideDir replaces it for this process (tests),
// and an empty folder name goes back to $ORVI_PORT_DIR or /dev/orvi.
std::string PortOverrideDir();
void SetPortOverrideDir(const std::string& dir);

// The device path that a port name opens. On Windows the name itself. Names that are
// not "\\.\COMn" or "COMn" are returned unchanged.
std::string ResolvePortName(const std::string& name);

} // namespace orvi::platform
