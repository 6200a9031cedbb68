#pragma once
// The search for the USB-serial port in the system's serial device map: the values named
// "\Device\USBSER00" followed by 0, 1, 2, ... are read in turn, each port they name is probed,
// and the first that opens is the result. No Widgets; the probe is the caller's.
#include <functional>
#include <string>

namespace orvi::app {

// Reads one value of the serial device map; false (or empty text) when it is missing.
using TReadDeviceMapValue = std::function<bool(const std::string& valueName, std::string& data)>;
// Tries to open a port by number; true when it opened.
using TProbePort = std::function<bool(int portNumber)>;

// "\Device\USBSER00" followed by the index in decimal: 0 gives \Device\USBSER000,
// 10 gives \Device\USBSER0010.
std::string UsbSerialValueName(int index);

// The number of the first listed port that opens, 0 when none does. The scan stops at the
// first index whose text is 3 characters or shorter (a missing value reads as empty). The
// rest of a text after its 3-character prefix must be a whole number; otherwise the
// conversion error (EConvertError) leaves the scan.
int FindUsbSerialPort(const TReadDeviceMapValue& read, const TProbePort& tryOpen);

} // namespace orvi::app
