#include "platform/PortNames.h"

#include <cstdlib>
#include <mutex>

namespace orvi::platform {

namespace {

constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr const char* kDefaultOverrideDir = "/dev/orvi";
// Windows numbers its ports up to 256; anything longer than this is not a port.
constexpr size_t kMaxDigits = 5;

std::mutex gOverrideLock;
std::string gOverrideDir; // guarded by gOverrideLock; empty: environment or default

bool IsComPrefix(const std::string& s, size_t at) {
    if (s.size() < at + 3)
        return false;
    auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; };
    return upper(s[at]) == 'C' && upper(s[at + 1]) == 'O' && upper(s[at + 2]) == 'M';
}

int ParsePortNumber(const std::string& digits) {
    if (digits.empty() || digits.size() > kMaxDigits || digits[0] == '0')
        return 0;
    int n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

} // namespace

std::string ComDeviceName(int portNumber) {
    return std::string(kDevicePrefix) + "COM" + std::to_string(portNumber);
}

int PortNumberFromName(const std::string& name) {
    const std::string prefix(kDevicePrefix);
    const size_t at = name.compare(0, prefix.size(), prefix) == 0 ? prefix.size() : 0;
    if (!IsComPrefix(name, at))
        return 0;
    return ParsePortNumber(name.substr(at + 3));
}

std::string PortOverrideDir() {
    {
        std::lock_guard<std::mutex> lock(gOverrideLock);
        if (!gOverrideDir.empty())
            return gOverrideDir;
    }
    const char* env = std::getenv("ORVI_PORT_DIR");
    return (env != nullptr && *env != '\0') ? std::string(env) : std::string(kDefaultOverrideDir);
}

void SetPortOverrideDir(const std::string& dir) {
    std::lock_guard<std::mutex> lock(gOverrideLock);
    gOverrideDir = dir;
}

} // namespace orvi::platform
