#include "acquire/MqttOutput.h"

#include "acquire/MqttPublisher.h"

#include <stdexcept>
#include <unistd.h>

namespace orvi::acquire {

namespace {

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    return name;
}

} // namespace

bool MqttBuilt() {
    return true;
}

std::unique_ptr<TReportingOutput> MakeMqttOutput(const TAcquireOptions& options,
                                                 std::string& error) {
    std::string why;
    const auto url = mqtt::ParseBrokerUrl(options.Mqtt, why);
    if (!url) {
        error = "--mqtt: " + why;
        return nullptr;
    }
    const auto password = mqtt::ReadPassword(options.MqttPasswordFile, why);
    if (!password) {
        error = "--mqtt-password-file: " + why;
        return nullptr;
    }
    if (!options.MqttCa.empty() && !url->Tls) {
        error = "--mqtt-ca: the URL \"" + options.Mqtt + "\" asks for no TLS (mqtts://)";
        return nullptr;
    }
    TMqttSettings settings;
    settings.Client.Url = *url;
    if (!password->empty())
        settings.Client.Password = *password;
    settings.Client.CaFile = options.MqttCa;
    settings.Client.ClientId = options.MqttClientId.empty()
                                   ? mqtt::StableClientId("orvi_acquire", HostName(), url->Topic)
                                   : options.MqttClientId;
    settings.Logged = !options.LogFile.empty() || !options.LogDir.empty();
    settings.LogDir = options.LogDir;
    settings.QueueLimit = size_t(options.MqttQueue);
    settings.Drain = std::chrono::seconds(options.MqttDrainS);
    settings.Port = options.Port.empty() ? "found by search" : options.Port;
    settings.Version = ORVI_VERSION;
    try {
        return std::make_unique<TMqttPublisher>(std::move(settings));
    } catch (const std::exception& e) {
        error = std::string("--mqtt: ") + e.what();
        return nullptr;
    }
}

} // namespace orvi::acquire
