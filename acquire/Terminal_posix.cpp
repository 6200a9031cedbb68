#include "acquire/Terminal.h"

#include <cerrno>
#include <cstring>
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

void UtcTime(std::time_t seconds, std::tm& parts) {
    gmtime_r(&seconds, &parts);
}

void LocalTime(std::time_t seconds, std::tm& parts) {
    localtime_r(&seconds, &parts);
}

} // namespace orvi::platform
