#include "acquire/Adapter.h"

#include "platform/PortNames.h"
#include "platform/UsbSerialAdapters.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi::acquire {

namespace {

constexpr int kHighestSearchedPort = 256;
constexpr const char* kClassTtyDir = "/sys/class/tty";

std::string RealPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[PATH_MAX];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) + "/" + path : path;
}

// The lowest port number that opens the device at `real`, 0 when none does.
int NumberOfDevice(const std::string& real) {
    for (int n = 1; n <= kHighestSearchedPort; ++n) {
        if (RealPath(PortDevice(n)) == real)
            return n;
    }
    return 0;
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The serial number of the USB device above a tty's sysfs device folder.
std::string SerialOfDevice(const std::string& device) {
    const std::string name = device.substr(device.rfind('/') + 1);
    std::string dir = RealPath(std::string(kClassTtyDir) + "/" + name + "/device");
    struct stat st {};
    while (dir.size() > 1) {
        if (stat((dir + "/idVendor").c_str(), &st) == 0)
            return ReadLine(dir + "/serial");
        dir = dir.substr(0, dir.rfind('/'));
    }
    return {};
}

// A character device that is a terminal. One that this user may not open is taken for one: the
// open fails later with the access hint.
bool IsSerialPort(const std::string& real) {
    struct stat st {};
    if (stat(real.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const int fd = open(real.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES || errno == EBUSY;
    const bool terminal = isatty(fd) == 1;
    close(fd);
    return terminal;
}

} // namespace

TPortNumber::TPortNumber(const std::string& name) {
    number_ = platform::PortNumberFromName(name);
    if (number_ > 0)
        return;
    // A service instance names its port without the leading "/dev/" ("ttyUSB0") or, when
    // systemd unescapes it, without the leading "/" ("dev/ttyUSB0").
    std::string path = name;
    for (const char* folder : {"/dev/", "/"}) {
        if (RealPath(path).empty() && name[0] != '/')
            path = folder + name;
    }
    const std::string real = RealPath(path);
    if (real.empty())
        throw std::runtime_error("there is no device " + name);
    if (!IsSerialPort(real))
        throw std::runtime_error(name + " is not a serial port");
    number_ = NumberOfDevice(real);
    if (number_ > 0)
        return;
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvi-acquire-XXXXXX";
    if (mkdtemp(folder.data()) == nullptr ||
        symlink(Absolute(path).c_str(), (folder + "/COM1").c_str()) != 0) {
        const int err = errno;
        rmdir(folder.c_str());
        throw std::runtime_error("cannot name " + name + " as a port: " + std::strerror(err));
    }
    privateFolder_ = folder;
    platform::SetPortOverrideDir(folder);
    number_ = 1;
}

TPortNumber::~TPortNumber() {
    if (privateFolder_.empty())
        return;
    unlink((privateFolder_ + "/COM1").c_str());
    rmdir(privateFolder_.c_str());
    platform::SetPortOverrideDir("");
}

std::string PortDevice(int portNumber) {
    return platform::ResolvePortName(platform::ComDeviceName(portNumber));
}

std::string UsbSerialNumber(int portNumber) {
    const std::string real = RealPath(PortDevice(portNumber));
    return real.empty() ? std::string() : SerialOfDevice(real);
}

int FindUsbSerialNumber(const std::string& serial) {
    if (serial.empty())
        return 0;
    for (const platform::UsbSerialAdapter& a : platform::FindUsbSerialAdapters(kClassTtyDir)) {
        if (SerialOfDevice(a.device) == serial) {
            const int n = NumberOfDevice(RealPath(a.device));
            if (n > 0)
                return n;
        }
    }
    return 0;
}

std::string LossReason(int portNumber, const std::string& componentText) {
    const std::string device = PortDevice(portNumber);
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return errno == ENOENT ? "the adapter was unplugged" : std::strerror(errno);
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    close(fd);
    return componentText.substr(0, componentText.find_last_not_of(" .") + 1);
}

std::string AccessHint(int portNumber) {
    const std::string device = PortDevice(portNumber);
    if (access(device.c_str(), R_OK | W_OK) == 0 || errno != EACCES)
        return {};
    return "This user may not use " + device +
           ": add it to the group dialout (sudo usermod -aG dialout \"$USER\") and log in again.";
}

} // namespace orvi::acquire
