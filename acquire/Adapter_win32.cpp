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

// The serial device map names no USB serial numbers or interfaces: a reconnect waits for the
// same port.
std::string TPortIdentity::Words() const {
    return {};
}

TPortIdentity IdentityOf(const std::string&, const std::string&) {
    return {};
}

std::vector<std::string> PortsWithIdentity(const TPortIdentity&, const std::string&,
                                           const std::string&) {
    return {};
}

int PortNumberOf(const std::string& device, TPortNumber*) {
    return platform::PortNumberFromName(device);
}

bool TPortNumber::Repoint(const std::string&) {
    return false;
}

std::string LossReason(int, const std::string& componentText) {
    return componentText;
}

std::string AccessHint(int) {
    return {};
}

} // namespace orvi::acquire
