#pragma once
// The options of the orvi_device_sim command and the scenario they choose.
#include "tools/simulator/DeviceSimulator.h"
#include "tools/simulator/Scenario.h"

#include <string>
#include <vector>

namespace orvi::sim {

struct CommandLine {
    Scenario scenario;
    PortSetup port;
    bool help = false;
    std::string error; // empty when every argument was understood
};

// `args` without the program name. Options take their value as the next argument or
// after "=" ("--port 7", "--port=7"). Later options override earlier ones, except that
// --steady and --sweep pick the base that the single-value options then change.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

// One line saying what the device will do, for the operator.
std::string DescribeScenario(const Scenario& scenario);

} // namespace orvi::sim
