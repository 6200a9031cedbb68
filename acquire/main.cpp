// orvi_acquire: the console's acquisition run without a window, for scripts and services.
// See --help.
#include "acquire/Acquisition.h"
#include "acquire/MqttOutput.h"
#include "acquire/Terminal.h"

#include <cstdio>
#include <exception>
#include <memory>
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
        std::printf("orvi_acquire %s%s\n", ORVI_VERSION, MqttBuilt() ? "" : " (without MQTT)");
        return kEndedAsAsked;
    }
    if (!line.Error.empty()) {
        std::fprintf(stderr, "orvi_acquire: %s\n\n%s", line.Error.c_str(), UsageText().c_str());
        return kBadCommandLine;
    }
    TAcquireHooks hooks;
    std::unique_ptr<TReportingOutput> mqtt;
    if (!line.Options.Mqtt.empty()) {
        std::string error;
        mqtt = MakeMqttOutput(line.Options, error);
        if (!mqtt) {
            std::fprintf(stderr, "orvi_acquire: %s\n", error.c_str());
            return kBadCommandLine;
        }
        hooks.Listeners.push_back(mqtt.get());
        hooks.Report = mqtt.get();
    }
    static TStopRequests requests;
    InstallStopHandlers(requests);
    try {
        TAcquisition run(line.Options, requests, hooks);
        return run.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvi_acquire: %s\n", e.what());
        return kRunFailed;
    }
}
