#include "acquire/Terminal.h"

#include <unistd.h>

namespace orvi::platform {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

void WriteLineEndsAsTheyAre(std::FILE*) {}

void UtcTime(std::time_t seconds, std::tm& parts) {
    gmtime_r(&seconds, &parts);
}

void LocalTime(std::time_t seconds, std::tm& parts) {
    localtime_r(&seconds, &parts);
}

} // namespace orvi::platform
