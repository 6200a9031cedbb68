// The run inside the test process, where the reply wait's sleeps are shortened ten times: a
// device that falls silent ends the run with status 1 after its whole wait and the log keeps
// the lines before; with --reconnect a silent device is asked again until a stop request,
// and a gone one is waited for until the run's duration is over. And the command line's
// times.
#include "acquire/Acquisition.h"
#include "platform/Clock.h"
#include "tests/support/TempDir.h"
#include "tools/simulator/DeviceSimulator.h"

#include <gtest/gtest.h>
#include <thread>

namespace orvi::acquire {
namespace {

using orvi::testing::FileBytes;

struct Captured {
    Captured() : err(std::tmpfile()) {}
    ~Captured() { std::fclose(err); }
    std::string Text() const {
        std::rewind(err);
        std::string text;
        for (int c; (c = std::fgetc(err)) != EOF;)
            text += char(c);
        return text;
    }
    std::FILE* err;
};

TAcquireHooks Quick(std::FILE* err) {
    TAcquireHooks hooks;
    hooks.Sleep = [](uint32_t ms) { platform::SleepMs(std::max<uint32_t>(1, ms / 10)); };
    hooks.Err = err;
    return hooks;
}

TEST(AcquireRun, ASilentDeviceEndsTheRunOrIsAskedAgain) {
    for (const bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect);
        orvi::testing::TempDir dir;
        sim::Scenario s = sim::SteadyScenario();
        s.answerFirst = 3;
        sim::DeviceSimulator device(s, sim::PortSetup{5, {}});
        TAcquireOptions options;
        options.Port = "COM5";
        options.LogFile = dir.FilePath("silent.txt");
        options.Reconnect = reconnect;
        TStopRequests requests;
        Captured err;
        uint32_t tick = 1000;
        TAcquireHooks hooks = Quick(err.err);
        hooks.Tick = [&] { return tick++; };
        TAcquisition run(options, requests, hooks);
        std::thread stopper;
        if (reconnect) {
            stopper = std::thread([&] {
                while (device.Counters().housingRequests < 6)
                    platform::SleepMs(5);
                requests.Stop = true;
            });
        }
        EXPECT_EQ(run.Run(), reconnect ? 0 : 1);
        if (stopper.joinable())
            stopper.join();
        EXPECT_EQ(FileBytes(options.LogFile),
                  "1000 25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 -2 0.75 12\r\n"
                  "1001 25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 -2 0.75 12\r\n"
                  "1002 25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 -2 0.75 12\r\n");
        const std::string said = err.Text();
        EXPECT_NE(said.find("orvi_acquire: no answer from the device on COM5 within 5 s"),
                  std::string::npos)
            << said;
        EXPECT_EQ(said.find("polling again") != std::string::npos, reconnect) << said;
    }
}

// An adapter that never comes back does not hold a run past its duration.
TEST(AcquireRun, TheDurationEndsTheWaitForTheAdapter) {
    orvi::testing::TempDir dir;
    sim::DeviceSimulator device(sim::SteadyScenario(), sim::PortSetup{5, {}});
    TAcquireOptions options;
    options.Port = "COM5";
    options.LogFile = dir.FilePath("gone.txt");
    options.Reconnect = true;
    options.DurationMs = 2000;
    TStopRequests requests;
    Captured err;
    TAcquisition run(options, requests, Quick(err.err));
    std::thread unplug([&] {
        while (device.Counters().sensorRequests < 3)
            platform::SleepMs(5);
        device.Unplug();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run.Run(), 0) << err.Text();
    unplug.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_NE(err.Text().find("waiting for the adapter"), std::string::npos) << err.Text();
    EXPECT_EQ(err.Text().find("polling again"), std::string::npos) << err.Text();
}

TEST(AcquireOptions, Durations) {
    const std::pair<const char*, std::optional<uint64_t>> cases[] = {
        {"90s", 90000},
        {"10m", 600000},
        {"12h", 43200000},
        {"1s", 1000},
        {"0s", {}},
        {"10", 10000},
        {"s", {}},
        {"1.5m", {}},
        {"-1m", {}},
        {"10d", {}},
        {"1000000h", 3600000000000},
        {"1000001h", {}},
        {"3000000h", {}},
        {"3600000000s", 3600000000000},
        {"3600000001", {}},
        {"18446744073709551615s", {}},
    };
    for (const auto& [text, ms] : cases)
        EXPECT_EQ(ParseDuration(text), ms) << text;
}

} // namespace
} // namespace orvi::acquire
