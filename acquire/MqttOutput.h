#pragma once
// The MQTT publisher as the run's output, where the build has it: MqttOutput.cpp with
// libmosquitto, MqttOutputMissing.cpp without (the Windows build).
#include "acquire/Options.h"
#include "acquire/OutputReport.h"

#include <memory>
#include <string>

namespace orvi::acquire {

bool MqttBuilt();

// The publisher that --mqtt asks for; null, with `error` in words naming what the user gave,
// when the options do not make one (a bad URL, a password or CA file that cannot be read).
std::unique_ptr<TReportingOutput> MakeMqttOutput(const TAcquireOptions& options,
                                                 std::string& error);

} // namespace orvi::acquire
