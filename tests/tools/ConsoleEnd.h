#pragma once
// The console's end of a simulated device line: the pty slave, opened and driven with
// plain termios calls.
#include "tests/support/WaitFor.h"

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <iterator>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace orvi::testing {

class ConsoleEnd {
public:
    explicit ConsoleEnd(const std::string& path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {
        termios t{};
        if (fd_ < 0 || tcgetattr(fd_, &t) != 0)
            throw std::runtime_error("cannot open " + path);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~ConsoleEnd() { close(fd_); }
    ConsoleEnd(const ConsoleEnd&) = delete;
    ConsoleEnd& operator=(const ConsoleEnd&) = delete;

    template <class Bytes> void Send(const Bytes& bytes) {
        Send(std::vector<uint8_t>(std::begin(bytes), std::end(bytes)));
    }
    void Send(const std::vector<uint8_t>& bytes) {
        if (write(fd_, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
            throw std::runtime_error("short write to the slave");
    }

    // The next `n` bytes; fewer only when they do not come within the safety limit.
    std::vector<uint8_t> Receive(size_t n) {
        std::vector<uint8_t> got;
        WaitFor([&] {
            uint8_t chunk[256];
            const size_t want = std::min(sizeof chunk, n - got.size());
            const ssize_t r = read(fd_, chunk, want);
            if (r > 0)
                got.insert(got.end(), chunk, chunk + r);
            return got.size() == n;
        });
        return got;
    }

    // Bytes that have reached this end and are not read yet.
    int Waiting() const {
        int n = 0;
        ioctl(fd_, FIONREAD, &n);
        return n;
    }

private:
    int fd_;
};

} // namespace orvi::testing
