#pragma once
// The system's map of serial devices: on Windows the registry key
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM (value name = driver device, data = "COMn").
// On POSIX an equivalent built when asked: the USB-serial adapters present
// (ttyUSB*, ttyACM* whose sysfs device is on USB) and the entries of the port
// override folder, listed as "\Device\USBSER000", "\Device\USBSER001", ... with the
// port name "COMn" each maps to.
#include <string>
#include <utility>
#include <vector>

namespace orvi::platform {

// Reads one value of the map. False when the key or the value does not exist.
bool ReadSerialDeviceMap(const std::string& valueName, std::string& portName);

// Every (value name, port name) pair of the map, in the order the system lists them.
std::vector<std::pair<std::string, std::string>> SerialDeviceMapEntries();

} // namespace orvi::platform
