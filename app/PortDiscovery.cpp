#include "app/PortDiscovery.h"

#include "app/Conversions.h"

namespace orvi::app {

std::string UsbSerialValueName(int index) {
    return "\\Device\\USBSER00" + std::to_string(index);
}

int FindUsbSerialPort(const TReadDeviceMapValue& read, const TProbePort& tryOpen) {
    constexpr size_t kPrefixLength = 3; // "COM"
    for (int index = 0;; ++index) {
        std::string text;
        if (!read(UsbSerialValueName(index), text))
            text.clear();
        if (text.size() <= kPrefixLength)
            return 0;
        const int port = IntFromText(text.substr(kPrefixLength));
        if (tryOpen(port))
            return port;
    }
}

} // namespace orvi::app
