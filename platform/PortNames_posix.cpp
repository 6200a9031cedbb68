#include "platform/PortNames.h"

#include <sys/stat.h>

namespace orvi::platform {

namespace {

struct DeviceRange {
    int firstPort;
    int count;
    const char* node;
};

// Where COMn lands when the override folder has no link for it.
constexpr DeviceRange kRanges[] = {
    {1, 16, "/dev/ttyUSB"},
    {17, 16, "/dev/ttyACM"},
    {33, 32, "/dev/ttyS"},
};

} // namespace

std::string ResolvePortName(const std::string& name) {
    const int port = PortNumberFromName(name);
    if (port == 0)
        return name;
    // A link counts even when it dangles: the port it names is then missing, and an
    // adapter that happens to sit at the fallback node must not be opened instead.
    const std::string link = PortOverrideDir() + "/COM" + std::to_string(port);
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0)
        return link;
    for (const DeviceRange& r : kRanges) {
        if (port >= r.firstPort && port < r.firstPort + r.count)
            return r.node + std::to_string(port - r.firstPort);
    }
    // No device node for this number: the missing link makes the open report
    // "file not found".
    return link;
}

} // namespace orvi::platform
