#include "acquire/Adapter.h"

#include "platform/PortNames.h"

#include <stdexcept>

namespace orvi::acquire {

// Ports are named COMn here; no private folder is ever needed.
TPortNumber::TPortNumber(const std::string& name) {
    number_ = platform::PortNumberFromName(name);
    if (number_ <= 0)
        throw std::runtime_error("\"" + name + "\" names no port (COMn expected)");
}

TPortNumber::~TPortNumber() = default;

std::string PortDevice(int portNumber) {
    return "COM" + std::to_string(portNumber);
}

// The serial device map names no USB serial numbers: a reconnect waits for the same port.
std::string UsbSerialNumber(int) {
    return {};
}

int FindUsbSerialNumber(const std::string&) {
    return 0;
}

std::string LossReason(int, const std::string& componentText) {
    return componentText;
}

std::string AccessHint(int) {
    return {};
}

} // namespace orvi::acquire
