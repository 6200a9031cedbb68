#pragma once
// What orvi_acquire asks of the system about a serial adapter: which port number a device
// path is, the adapter's USB serial number, where an adapter with that number is now, and
// why a port cannot be used. One backend per platform: Adapter_posix.cpp, Adapter_win32.cpp.
//
// Threads: the run loop's thread only.
#include <memory>
#include <string>
#include <vector>

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
    // Points the private link at another device (the same port after a replug); false when
    // there is no private link or it cannot be made.
    bool Repoint(const std::string& device);

private:
    int number_ = 0;
    std::string privateFolder_; // empty when none was made
};

// The device a port number opens now (POSIX: the node behind the link; Windows: "COMn").
std::string PortDevice(int portNumber);

// How the kernel tells one port of a USB adapter from every other: the adapter's USB serial
// number and the port's interface number (bInterfaceNumber: one adapter of two or four ports
// has one serial number and an interface per port), as /dev/serial/by-id names it; without a
// serial number, the interface's place on the bus ("1-1.2:1.1"), as /dev/serial/by-path
// names it. All empty for a port that is no USB port (Windows: always).
struct TPortIdentity {
    std::string Serial;
    std::string Interface;
    std::string BusPath;

    bool Known() const { return !Serial.empty() || !BusPath.empty(); }
    // "USB serial number FT12AB, interface 01" or "USB port 1-1.2:1.1".
    std::string Words() const;
};

// The identity of the port at `device` (/dev/ttyUSB1) from the sysfs tree at `sysRoot`.
TPortIdentity IdentityOf(const std::string& device, const std::string& sysRoot = "/sys");

// The devices (devRoot/<tty>) of the ports whose identity is exactly `identity` now, sorted.
std::vector<std::string> PortsWithIdentity(const TPortIdentity& identity,
                                           const std::string& sysRoot = "/sys",
                                           const std::string& devRoot = "/dev");

// The port number that opens `device` now: a number of the port folder or the default
// mapping, else `named`'s private link pointed at it; 0 when there is none.
int PortNumberOf(const std::string& device, TPortNumber* named);

// Why a port in use failed, in the system's words: POSIX tells an adapter that is gone as
// unplugged, or gives the error of opening its device now; `componentText` (the serial
// component's message) otherwise.
std::string LossReason(int portNumber, const std::string& componentText);

// A sentence to add to an open failure: how to get access when this user may not use the
// port; empty otherwise.
std::string AccessHint(int portNumber);

} // namespace orvi::acquire
