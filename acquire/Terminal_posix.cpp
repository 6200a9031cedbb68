#include "acquire/Terminal.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi::platform {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

void WriteLineEndsAsTheyAre(std::FILE*) {}

bool WriteAllTo(std::FILE* stream, const char* data, size_t size, std::string& reason) {
    const int fd = fileno(stream);
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            reason = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// A pipe reports POLLOUT while a page of it is free: a line then goes in without waiting. A
// terminal may take less than a line when it says it has room, a socket likewise: those are
// left to the writer thread.
bool WritableNow(std::FILE* stream) {
    struct stat st {};
    if (fstat(fileno(stream), &st) != 0)
        return false;
    if (S_ISREG(st.st_mode))
        return true;
    if (!S_ISFIFO(st.st_mode))
        return false;
    pollfd fd{fileno(stream), POLLOUT, 0};
    return poll(&fd, 1, 0) == 1 && (fd.revents & POLLOUT) != 0 &&
           (fd.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0;
}

void UtcTime(std::time_t seconds, std::tm& parts) {
    gmtime_r(&seconds, &parts);
}

void LocalTime(std::time_t seconds, std::tm& parts) {
    localtime_r(&seconds, &parts);
}

} // namespace orvi::platform
