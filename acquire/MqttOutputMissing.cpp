#include "acquire/MqttOutput.h"

namespace orvi::acquire {

bool MqttBuilt() {
    return false;
}

std::unique_ptr<TReportingOutput> MakeMqttOutput(const TAcquireOptions&, std::string& error) {
    error = "--mqtt: this orvi_acquire was built without MQTT (libmosquitto was not found "
            "when it was built)";
    return nullptr;
}

} // namespace orvi::acquire
