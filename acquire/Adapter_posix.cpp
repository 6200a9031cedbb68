#include "acquire/Adapter.h"

#include "platform/PortNames.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi::acquire {

namespace {

constexpr int kHighestSearchedPort = 256;

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

// The folder of the port's USB interface and of its USB device above the sysfs folder of a
// tty (class/tty/<name>/device: the interface itself for ttyACM, a port folder below it for
// ttyUSB).
struct TUsbFolders {
    std::string Interface;
    std::string Device;
};

TUsbFolders UsbFoldersOf(const std::string& ttyName, const std::string& sysRoot) {
    TUsbFolders found;
    std::string dir = RealPath(sysRoot + "/class/tty/" + ttyName + "/device");
    struct stat st {};
    while (dir.size() > 1 && found.Device.empty()) {
        if (found.Interface.empty() && stat((dir + "/bInterfaceNumber").c_str(), &st) == 0)
            found.Interface = dir;
        if (stat((dir + "/idVendor").c_str(), &st) == 0)
            found.Device = dir;
        dir = dir.substr(0, dir.rfind('/'));
    }
    return found;
}

TPortIdentity IdentityOfTty(const std::string& ttyName, const std::string& sysRoot) {
    const TUsbFolders usb = UsbFoldersOf(ttyName, sysRoot);
    TPortIdentity identity;
    if (usb.Device.empty())
        return identity;
    identity.Serial = ReadLine(usb.Device + "/serial");
    if (!usb.Interface.empty())
        identity.Interface = ReadLine(usb.Interface + "/bInterfaceNumber");
    if (identity.Serial.empty())
        identity.BusPath = usb.Interface.substr(usb.Interface.rfind('/') + 1);
    return identity;
}

bool operator==(const TPortIdentity& a, const TPortIdentity& b) {
    return a.Serial == b.Serial && a.Interface == b.Interface && a.BusPath == b.BusPath;
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

std::string TPortIdentity::Words() const {
    if (Serial.empty())
        return "USB port " + BusPath;
    return "USB serial number " + Serial + (Interface.empty() ? "" : ", interface " + Interface);
}

TPortIdentity IdentityOf(const std::string& device, const std::string& sysRoot) {
    const std::string real = RealPath(device);
    const std::string& path = real.empty() ? device : real;
    return IdentityOfTty(path.substr(path.rfind('/') + 1), sysRoot);
}

std::vector<std::string> PortsWithIdentity(const TPortIdentity& identity,
                                           const std::string& sysRoot, const std::string& devRoot) {
    std::vector<std::string> ports;
    if (!identity.Known())
        return ports;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(sysRoot + "/class/tty", error)) {
        const std::string name = entry.path().filename().string();
        if (IdentityOfTty(name, sysRoot) == identity)
            ports.push_back(devRoot + "/" + name);
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

int PortNumberOf(const std::string& device, TPortNumber* named) {
    const std::string real = RealPath(device);
    if (real.empty())
        return 0;
    if (const int n = NumberOfDevice(real); n > 0)
        return n;
    return named != nullptr && named->Repoint(device) ? named->Number() : 0;
}

bool TPortNumber::Repoint(const std::string& device) {
    if (privateFolder_.empty())
        return false;
    const std::string link = privateFolder_ + "/COM1";
    const std::string fresh = privateFolder_ + "/COM1.new";
    unlink(fresh.c_str());
    return symlink(Absolute(device).c_str(), fresh.c_str()) == 0 &&
           rename(fresh.c_str(), link.c_str()) == 0;
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
