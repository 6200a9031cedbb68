#include "acquire/Terminal.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi::platform {

bool IsTerminal(std::FILE* stream) {
    return isatty(fileno(stream)) == 1;
}

bool IsJournal(std::FILE* stream) {
    const char* named = std::getenv("JOURNAL_STREAM");
    struct stat st {};
    if (!named || fstat(fileno(stream), &st) != 0)
        return false;
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) == named;
}

void WriteLineEndsAsTheyAre(std::FILE*) {}

void UtcTime(std::time_t seconds, std::tm& parts) {
    gmtime_r(&seconds, &parts);
}

void LocalTime(std::time_t seconds, std::tm& parts) {
    localtime_r(&seconds, &parts);
}

} // namespace orvi::platform
