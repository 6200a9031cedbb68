#pragma once
// The command line of orvi_collect and its usage text. Pure functions. The exit statuses are
// orvi_acquire's (acquire/Options.h).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvi::collect {

struct TCollectOptions {
    std::string Mqtt; // mqtt://[user@]host[:port]/prefix: the stands publish to prefix/<stand>
    std::string Dir;  // the folder of the collected logs
    std::string MqttCa;
    std::string MqttPasswordFile;
    std::string MqttClientId;
    std::optional<uint64_t> DurationMs;
    bool Help = false;
    bool Version = false;
};

struct TParsedCommandLine {
    TCollectOptions Options;
    std::string Error;
};

TParsedCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText();

} // namespace orvi::collect
