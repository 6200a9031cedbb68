#include "tools/pty/PtyPort.h"

#include "platform/PortNames.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <set>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace orvi::testing {

namespace {

using Clock = std::chrono::steady_clock;

// The override folder shared by the live PtyPorts.
struct SharedFolder {
    std::mutex lock;
    std::string path;     // empty while no PtyPort lives
    std::string previous; // the override folder before the first PtyPort
    std::set<int> ports;  // numbers linked in the folder
};

SharedFolder& Folder() {
    static SharedFolder folder;
    return folder;
}

[[noreturn]] void Throw(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Adds COM<n> -> target to the shared folder, creating the folder if needed.
std::string LinkPort(int n, const std::string& target) {
    SharedFolder& f = Folder();
    std::lock_guard<std::mutex> lock(f.lock);
    if (f.ports.count(n) != 0)
        throw std::runtime_error("PtyPort: COM" + std::to_string(n) + " is already in use");
    if (f.path.empty()) {
        char name[] = "/tmp/orvi-pty-XXXXXX";
        if (mkdtemp(name) == nullptr)
            Throw("PtyPort: mkdtemp");
        f.previous = platform::PortOverrideDir();
        f.path = name;
        platform::SetPortOverrideDir(f.path);
    }
    const std::string link = f.path + "/COM" + std::to_string(n);
    if (symlink(target.c_str(), link.c_str()) != 0)
        Throw("PtyPort: symlink " + link);
    f.ports.insert(n);
    return link;
}

// Adds COM<n> -> target to a folder the caller keeps.
std::string LinkPortIn(const std::string& folder, int n, const std::string& target) {
    const std::string link = folder + "/COM" + std::to_string(n);
    if (symlink(target.c_str(), link.c_str()) != 0)
        Throw("PtyPort: symlink " + link);
    return link;
}

void UnlinkPort(int n, const std::string& link) {
    SharedFolder& f = Folder();
    std::lock_guard<std::mutex> lock(f.lock);
    unlink(link.c_str());
    f.ports.erase(n);
    if (!f.ports.empty())
        return;
    rmdir(f.path.c_str());
    platform::SetPortOverrideDir(f.previous);
    f.path.clear();
}

int OpenMaster(std::string& slavePath) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        Throw("PtyPort: posix_openpt");
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        Throw("PtyPort: slave of the pty");
    }
    slavePath = name;
    return master;
}

// Raw slave, set on the slave itself: termios calls on the master would reach the
// slave too, and later overwrite what a test has set there.
int OpenRawSlave(const std::string& path) {
    const int slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        Throw("PtyPort: open " + path);
    termios t{};
    if (tcgetattr(slave, &t) != 0) {
        close(slave);
        Throw("PtyPort: tcgetattr");
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(slave, TCSANOW, &t) != 0) {
        close(slave);
        Throw("PtyPort: tcsetattr");
    }
    return slave;
}

int MsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

// Reads what the master has within `ms`; -1 when the master is gone.
ssize_t ReadSome(int fd, void* data, size_t n, int ms) {
    pollfd p{fd, POLLIN, 0};
    const int r = poll(&p, 1, ms);
    if (r <= 0)
        return 0;
    const ssize_t got = read(fd, data, n);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    return got;
}

} // namespace

PtyPort::PtyPort(int comNumber) : PtyPort(comNumber, std::string()) {}

PtyPort::PtyPort(int comNumber, const std::string& folder)
    : comNumber_(comNumber), folder_(folder) {
    if (comNumber <= 0)
        throw std::runtime_error("PtyPort: port numbers start at 1");
    master_ = OpenMaster(slavePath_);
    try {
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        slave_ = OpenRawSlave(slavePath_);
        linkPath_ = folder_.empty() ? LinkPort(comNumber_, slavePath_)
                                    : LinkPortIn(folder_, comNumber_, slavePath_);
    } catch (...) {
        if (slave_ >= 0)
            close(slave_);
        close(master_);
        throw;
    }
}

PtyPort::~PtyPort() {
    if (folder_.empty())
        UnlinkPort(comNumber_, linkPath_);
    else
        unlink(linkPath_.c_str());
    CloseMaster();
    close(slave_);
}

int PtyPort::ComNumber() const {
    return comNumber_;
}

std::string PtyPort::DeviceName() const {
    return platform::ComDeviceName(comNumber_);
}

std::string PtyPort::SlavePath() const {
    return slavePath_;
}

std::string PtyPort::OverrideDir() const {
    if (!folder_.empty())
        return folder_;
    std::lock_guard<std::mutex> lock(Folder().lock);
    return Folder().path;
}

int PtyPort::MasterFd() const {
    return master_;
}

void PtyPort::Write(const void* data, size_t n) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < n && master_ >= 0) {
        const ssize_t w = write(master_, bytes + done, n - done);
        if (w > 0) {
            done += size_t(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EINTR)
            Throw("PtyPort: write to the master");
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, -1);
    }
}

size_t PtyPort::ReadExact(void* data, size_t n, int timeoutMs) {
    auto* bytes = static_cast<uint8_t*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    size_t got = 0;
    while (got < n && master_ >= 0) {
        const ssize_t r = ReadSome(master_, bytes + got, n - got, MsUntil(deadline));
        if (r < 0)
            break;
        got += size_t(r);
        if (r == 0 && MsUntil(deadline) == 0)
            break;
    }
    return got;
}

std::vector<uint8_t> PtyPort::ReadAvailable(int timeoutMs) {
    std::vector<uint8_t> out;
    uint8_t chunk[4096];
    const ssize_t first = master_ >= 0 ? ReadSome(master_, chunk, sizeof chunk, timeoutMs) : 0;
    if (first <= 0)
        return out;
    out.assign(chunk, chunk + first);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const ssize_t r = ReadSome(master_, chunk, sizeof chunk, MsUntil(deadline));
        if (r > 0)
            out.insert(out.end(), chunk, chunk + r);
        else if (r < 0 || MsUntil(deadline) == 0)
            break;
    }
    return out;
}

void PtyPort::CloseMaster() {
    if (master_ >= 0)
        close(master_);
    master_ = -1;
}

} // namespace orvi::testing
