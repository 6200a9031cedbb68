#include "platform/SerialDeviceMap.h"

#include "platform/PortNames.h"
#include "platform/UsbSerialAdapters.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <set>
#include <unistd.h>

namespace orvi::platform {

namespace {

constexpr const char* kClassTtyDir = "/sys/class/tty";

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

std::vector<std::string> FolderEntries(const std::string& dir) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> d(opendir(dir.c_str()));
    if (!d)
        return names;
    while (const dirent* e = readdir(d.get()))
        names.emplace_back(e->d_name);
    return names;
}

std::string LinkTarget(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

// The canonical path of a device node. A node that does not resolve (an unplugged
// adapter) is named by what its link says, or by its own path.
std::string CanonicalPath(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    if (real)
        return std::string(real.get());
    const std::string target = LinkTarget(path);
    if (target.empty())
        return path;
    if (target[0] == '/')
        return target;
    return path.substr(0, path.rfind('/') + 1) + target;
}

// The k of a "ttyUSB<k>" style suffix, -1 when it is not a plain decimal number.
int NodeIndex(const std::string& digits) {
    if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0'))
        return -1;
    int k = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return -1;
        k = k * 10 + (c - '0');
    }
    return k;
}

// The port number of a ttyUSB<k> / ttyACM<k> node under the default mapping, 0 if none.
int DefaultPortOfNode(const std::string& name) {
    struct Family {
        const char* prefix;
        int firstPort;
    };
    static const Family kFamilies[] = {{"ttyUSB", 1}, {"ttyACM", 17}};
    constexpr int kNodesPerFamily = 16;
    for (const Family& f : kFamilies) {
        const std::string prefix(f.prefix);
        if (name.compare(0, prefix.size(), prefix) != 0)
            continue;
        const int k = NodeIndex(name.substr(prefix.size()));
        return (k >= 0 && k < kNodesPerFamily) ? f.firstPort + k : 0;
    }
    return 0;
}

struct OverrideEntry {
    int port;
    std::string path;
};

std::vector<OverrideEntry> OverrideEntries(const std::string& dir) {
    std::vector<OverrideEntry> entries;
    for (const std::string& name : FolderEntries(dir)) {
        const int port = PortNumberFromName(name);
        // Only the exact "COMn" spelling, the one ResolvePortName looks for.
        if (port > 0 && name == "COM" + std::to_string(port))
            entries.push_back({port, dir + "/" + name});
    }
    std::sort(entries.begin(), entries.end(),
              [](const OverrideEntry& a, const OverrideEntry& b) { return a.port < b.port; });
    return entries;
}

std::string ValueName(size_t index) {
    return "\\Device\\USBSER00" + std::to_string(index);
}

} // namespace

std::vector<UsbSerialAdapter> FindUsbSerialAdapters(const std::string& classTtyDir) {
    std::vector<UsbSerialAdapter> adapters;
    for (const std::string& name : FolderEntries(classTtyDir)) {
        const int port = DefaultPortOfNode(name);
        if (port == 0)
            continue;
        const std::string target = LinkTarget(classTtyDir + "/" + name);
        if (target.find("usb") == std::string::npos || target.find("virtual") != std::string::npos)
            continue;
        adapters.push_back({port, "/dev/" + name});
    }
    std::sort(adapters.begin(), adapters.end(),
              [](const UsbSerialAdapter& a, const UsbSerialAdapter& b) { return a.port < b.port; });
    return adapters;
}

std::vector<std::pair<std::string, std::string>>
BuildSerialDeviceMap(const std::string& overrideDir,
                     const std::vector<UsbSerialAdapter>& adapters) {
    std::vector<std::pair<std::string, std::string>> map;
    std::set<int> ports;
    std::set<std::string> devices;
    for (const OverrideEntry& e : OverrideEntries(overrideDir)) {
        ports.insert(e.port);
        devices.insert(CanonicalPath(e.path));
        map.emplace_back(ValueName(map.size()), "COM" + std::to_string(e.port));
    }
    for (const UsbSerialAdapter& a : adapters) {
        if (ports.count(a.port) != 0 || devices.count(CanonicalPath(a.device)) != 0)
            continue;
        ports.insert(a.port);
        map.emplace_back(ValueName(map.size()), "COM" + std::to_string(a.port));
    }
    return map;
}

std::vector<std::pair<std::string, std::string>> SerialDeviceMapEntries() {
    return BuildSerialDeviceMap(PortOverrideDir(), FindUsbSerialAdapters(kClassTtyDir));
}

bool ReadSerialDeviceMap(const std::string& valueName, std::string& portName) {
    for (const auto& [name, port] : SerialDeviceMapEntries()) {
        if (name == valueName) {
            portName = port;
            return true;
        }
    }
    return false;
}

} // namespace orvi::platform
