#pragma once
// What orvi_acquire asks of the system about a serial adapter: which port number a device
// path is, the adapter's USB serial number, where an adapter with that number is now, and
// why a port cannot be used. One backend per platform: Adapter_posix.cpp, Adapter_win32.cpp.
//
// Threads: the run loop's thread only.
#include <memory>
#include <string>

namespace orvi::acquire {

// A port name resolved to the component's port number: "COM5", a device path, or a device
// named without its folder ("ttyUSB0" is /dev/ttyUSB0, as a service instance names it). A
// device path that no port number
// names gets one of its own: a link COM1 in a private port folder that the process's port
// lookup is pointed at, removed again with this object.
class TPortNumber {
public:
    // Throws std::runtime_error with the reason when `name` names no port.
    explicit TPortNumber(const std::string& name);
    ~TPortNumber();
    TPortNumber(const TPortNumber&) = delete;
    TPortNumber& operator=(const TPortNumber&) = delete;

    int Number() const { return number_; }

private:
    int number_ = 0;
    std::string privateFolder_; // empty when none was made
};

// The device a port number opens now (POSIX: the node behind the link; Windows: "COMn").
std::string PortDevice(int portNumber);

// The USB serial number of the adapter behind a port; empty when it has none or is no USB
// adapter.
std::string UsbSerialNumber(int portNumber);

// The port number of the USB adapter whose serial number is `serial`, 0 when none is
// attached now.
int FindUsbSerialNumber(const std::string& serial);

// Why a port in use failed, in the system's words: POSIX tells an adapter that is gone as
// unplugged, or gives the error of opening its device now; `componentText` (the serial
// component's message) otherwise.
std::string LossReason(int portNumber, const std::string& componentText);

// A sentence to add to an open failure: how to get access when this user may not use the
// port; empty otherwise.
std::string AccessHint(int portNumber);

} // namespace orvi::acquire
