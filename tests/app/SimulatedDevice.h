#pragma once
// Helpers for window tests against the device simulator on a pty.
#include "tests/app/ConsoleFixture.h"
#include "tools/simulator/DeviceSimulator.h"
#include "tools/simulator/Protocol.h"
#include "tools/simulator/Scenario.h"

#include <map>

namespace orvi::app::test {

// The data fields of a steady-scenario line (everything after the tick).
inline const std::string kSteadyFields =
    "25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 -2 0.75 12";

// A serial device map made of the given values only.
inline std::function<bool(const std::string&, std::string&)>
DeviceMap(std::map<std::string, std::string> values) {
    return [values](const std::string& name, std::string& data) {
        const auto it = values.find(name);
        if (it == values.end())
            return false;
        data = it->second;
        return true;
    };
}

// Opens port `com` by hand, as the operator would with "Открыть".
inline void OpenByHand(TForm1& f, int com) {
    f.PortN->setCurrentIndex(com - 1);
    f.OpenPortButton->click();
}

class SimulatedRun : public ConsoleTest {
protected:
    // Starts the simulator on COM5 (found through the port override folder) and the window.
    TForm1& Start(sim::Scenario scenario, int com = 5) {
        device =
            std::make_unique<sim::DeviceSimulator>(std::move(scenario), sim::PortSetup{com, {}});
        return MakeForm();
    }

    void TearDown() override {
        ConsoleTest::TearDown();
        device.reset();
    }

    // Waits for `polls` complete sensor requests answered since the start.
    bool WaitForPolls(uint64_t polls) {
        return PumpUntil([&] { return device->Counters().sensorRequests >= polls; });
    }

    bool WaitForRunEnd() {
        return PumpUntil([&] { return !form->Running; });
    }

    std::unique_ptr<sim::DeviceSimulator> device;
};

} // namespace orvi::app::test
