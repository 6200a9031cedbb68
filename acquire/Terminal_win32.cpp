#include "acquire/Terminal.h"

#include <fcntl.h>
#include <cerrno>
#include <cstring>
#include <io.h>

namespace orvi::platform {

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

void WriteLineEndsAsTheyAre(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

bool WriteAllTo(std::FILE* stream, const char* data, size_t size, std::string& reason) {
    const int fd = _fileno(stream);
    while (size > 0) {
        const unsigned chunk = size > 0x10000000 ? 0x10000000u : unsigned(size);
        const int n = _write(fd, data, chunk);
        if (n <= 0) {
            reason = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Windows has no cheap test for room in a pipe: every line goes through the writer thread.
bool WritableNow(std::FILE*) {
    return false;
}

void UtcTime(std::time_t seconds, std::tm& parts) {
    gmtime_s(&parts, &seconds);
}

void LocalTime(std::time_t seconds, std::tm& parts) {
    localtime_s(&parts, &seconds);
}

} // namespace orvi::platform
