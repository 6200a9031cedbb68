// orvi_acquire: the console's acquisition run without a window, for scripts and services.
// See --help.
#include "acquire/Acquisition.h"
#include "acquire/Terminal.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace orvi::acquire;
    orvi::platform::WriteLineEndsAsTheyAre(stdout);
    const TParsedCommandLine line =
        ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.Options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return kEndedAsAsked;
    }
    if (line.Options.Version && line.Error.empty()) {
        std::fputs("orvi_acquire " ORVI_VERSION "\n", stdout);
        return kEndedAsAsked;
    }
    if (!line.Error.empty()) {
        std::fprintf(stderr, "orvi_acquire: %s\n\n%s", line.Error.c_str(), UsageText().c_str());
        return kBadCommandLine;
    }
    static TStopRequests requests;
    InstallStopHandlers(requests);
    try {
        TAcquisition run(line.Options, requests);
        return run.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvi_acquire: %s\n", e.what());
        return kRunFailed;
    }
}
