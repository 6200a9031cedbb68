// orvi_device_sim: the measuring device on a pseudo-terminal, for running the console
// without hardware. See --help.
#include "tools/simulator/CommandLine.h"
#include "tools/simulator/DeviceSimulator.h"

#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <pthread.h>

namespace {

using namespace orvi::sim;

void PrintBanner(const DeviceSimulator& sim, const Scenario& scenario) {
    std::cout << "Device simulator on COM" << sim.ComNumber() << " (" << sim.DeviceName()
              << "), pseudo-terminal " << sim.SlavePath() << "\n"
              << "Port folder: " << sim.Folder() << "\n"
              << "Scenario: " << DescribeScenario(scenario) << "\n"
              << "Start the console with:\n"
              << "export ORVI_PORT_DIR=" << sim.Folder() << "\n"
              << "Stop with Ctrl+C." << std::endl;
}

void PrintCounters(const SimCounters& c) {
    std::cout << "Requests: " << c.housingRequests << " housing, " << c.sensorRequests
              << " sensor, " << c.flashRequests << " flash; replies sent: " << c.repliesSent
              << "; bad CRC: " << c.badCrc << "; bytes skipped: " << c.skippedBytes << std::endl;
}

// The folder as an absolute path, so that the printed ORVI_PORT_DIR works from any
// working directory; empty when it does not exist.
std::string AbsoluteFolder(const std::string& folder) {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(folder.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

int Run(CommandLine line, const sigset_t& stopSignals) {
    if (!line.port.folder.empty()) {
        const std::string absolute = AbsoluteFolder(line.port.folder);
        if (absolute.empty()) {
            std::cerr << "orvi_device_sim: no folder " << line.port.folder << "\n";
            return 1;
        }
        line.port.folder = absolute;
    }
    DeviceSimulator sim(line.scenario, line.port);
    PrintBanner(sim, line.scenario);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    sim.Stop();
    PrintCounters(sim.Counters());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (line.help) {
        std::cout << UsageText();
        return 0;
    }
    if (!line.error.empty()) {
        std::cerr << "orvi_device_sim: " << line.error << "\nTry --help.\n";
        return 2;
    }
    // Blocked before the device thread starts, so that it inherits the mask and the
    // signals reach sigwait here; the simulator then shuts down and removes its link.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    try {
        return Run(line, stopSignals);
    } catch (const std::exception& e) {
        std::cerr << "orvi_device_sim: " << e.what() << "\n";
        return 1;
    }
}
