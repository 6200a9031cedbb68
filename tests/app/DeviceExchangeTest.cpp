// The device exchange against the simulator on a pty, with the wait's sleeps counted: a
// silent device is no answer after exactly 500 sleeps of 10 ms (taken at once here, so the
// 5 s cost nothing), a poll stops after a missing housing reply, and a poll tells a reading
// from the end-of-data mark.
#include "app/DeviceExchange.h"
#include "platform/Clock.h"
#include "platform/MessageTarget.h"
#include "serial/ComPort.h"
#include "tools/simulator/DeviceSimulator.h"

#include <gtest/gtest.h>
#include <optional>

namespace orvi::app {
namespace {

struct Case {
    const char* name;
    sim::Scenario scenario;
    TPollResult expected;
    uint32_t slept; // ms of counted sleeps: exact for no answer, an upper bound otherwise
    uint64_t sensorRequests;
};

sim::Scenario Steady() {
    return sim::SteadyScenario();
}

sim::Scenario With(void (*change)(sim::Scenario&)) {
    sim::Scenario s = sim::SteadyScenario();
    change(s);
    return s;
}

TEST(DeviceExchange, PollResultsAndTheWaitsLength) {
    const Case cases[] = {
        {"reading", Steady(), TPollResult::Reading, 4990, 1},
        {"end of data", With([](sim::Scenario& s) { s.endAfterPolls = 0; }), TPollResult::DataEnded,
         4990, 1},
        {"silent", With([](sim::Scenario& s) { s.silent = true; }), TPollResult::NoAnswer, 5000, 0},
        // The housing wait's own sleeps come on top.
        {"no sensor reply", With([](sim::Scenario& s) { s.answerSensor = false; }),
         TPollResult::NoAnswer, 5500, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::DeviceSimulator device(c.scenario, sim::PortSetup{5, {}});
        TOrvComPort port;
        port.SetAutoOpen(false);
        port.SetComNumber(5);
        port.SetOpen(true);
        uint32_t slept = 0;
        // The first 500 ms of sleeps are real, time enough for a reply on a pty; the rest
        // of a wait for a reply that never comes costs nothing.
        TDeviceExchange exchange(port, {[] { platform::ProcessOneMessage(0); },
                                        {},
                                        [&](uint32_t ms) {
                                            slept += ms;
                                            if (slept <= 500)
                                                platform::SleepMs(ms);
                                        }});
        exchange.Record.Roll = 99;
        EXPECT_EQ(exchange.PollDevice(), c.expected);
        // The output worker may still be writing the last request.
        for (int i = 0; i < 200 && device.Counters().sensorRequests < c.sensorRequests; ++i)
            platform::SleepMs(5);
        device.Sync();
        EXPECT_EQ(device.Counters().sensorRequests, c.sensorRequests);
        if (c.sensorRequests == 0) {
            EXPECT_EQ(slept, c.slept) << "only a complete wait is no answer";
            EXPECT_EQ(exchange.Record.Roll, 99) << "the record stays as it was";
        } else if (c.expected == TPollResult::NoAnswer) {
            EXPECT_GE(slept, 5000u);
            EXPECT_LT(slept, c.slept);
            EXPECT_EQ(exchange.Record.Roll, 99) << "the record stays as it was";
        } else {
            EXPECT_LT(slept, c.slept);
            EXPECT_EQ(exchange.Record.Roll, -2) << "the reading is decoded, an end mark too";
        }
        port.SetOpen(false);
    }
}

} // namespace
} // namespace orvi::app
