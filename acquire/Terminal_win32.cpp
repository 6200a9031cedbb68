#include "acquire/Terminal.h"

#include <fcntl.h>
#include <io.h>

namespace orvi::platform {

bool IsTerminal(std::FILE* stream) {
    return _isatty(_fileno(stream)) != 0;
}

// No journal on Windows.
bool IsJournal(std::FILE*) {
    return false;
}

void WriteLineEndsAsTheyAre(std::FILE* stream) {
    std::fflush(stream);
    _setmode(_fileno(stream), _O_BINARY);
}

void UtcTime(std::time_t seconds, std::tm& parts) {
    gmtime_s(&parts, &seconds);
}

void LocalTime(std::time_t seconds, std::tm& parts) {
    localtime_s(&parts, &seconds);
}

} // namespace orvi::platform
