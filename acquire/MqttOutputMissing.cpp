#include "acquire/MqttOutput.h"

namespace orvi::acquire {

bool MqttBuilt() {
    return false;
}

std::unique_ptr<TRunListener> MakeMqttOutput(const TAcquireOptions&, std::function<uint32_t()>,
                                             std::string& error) {
    error = "--mqtt: this orvi_acquire was built without MQTT (libmosquitto was not found "
            "when it was built)";
    return nullptr;
}

} // namespace orvi::acquire
