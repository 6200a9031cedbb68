// The device exchange against the simulator on a pty, with the wait's sleeps counted: a
// silent device is no answer after exactly 500 sleeps of 10 ms (taken at once here, so the
// 5 s cost nothing), a poll stops after a missing housing reply, and a poll tells a reading
// from the end-of-data mark. And a device that answers one request late or with 25 bytes:
// every later poll still decodes what the device meant for it.
#include "app/DataLog.h"
#include "app/DeviceExchange.h"
#include "platform/Clock.h"
#include "platform/MessageTarget.h"
#include "serial/ComPort.h"
#include "tools/simulator/DeviceModel.h"
#include "tools/simulator/DeviceSimulator.h"

#include <atomic>

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
                                        },
                                        TStrayBytes::Discard,
                                        {}});
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

// The simulator's time, moved on by the exchange's counted sleeps: a reply 5.5 s late costs
// about a second of real time.
class TManualClock final : public sim::SimClock {
public:
    int64_t NowMs() const override { return now_; }
    void Advance(uint32_t ms) { now_ += ms; }

private:
    std::atomic<int64_t> now_{0};
};

// Each poll's record against the device's replies to the last housing and sensor request it
// received; the bytes discarded on the way are told once. At either pace, and at the line's
// with the reply read on the exchange's thread or taken on the dispatcher worker: at the
// line's the simulator's time moves on with every look at the wait's clock.
TEST(DeviceExchange, AfterALateOrLongReplyEveryPollDecodesItsOwnReplies) {
    struct OddCase {
        const char* name;
        uint32_t delayMs;
        size_t length;
        const char* warning;
        TPace pace;
        bool onWorker = false; // line pace: the reply taken on the dispatcher worker
    };
    const OddCase cases[] = {
        {"late reply", 5500, sim::kReplyLength, "20 bytes that came after the reply wait",
         TPace::Console},
        {"25-byte reply", 0, 25, "5 bytes beyond a 20-byte reply were discarded", TPace::Console},
        {"late reply, line pace", 5500, sim::kReplyLength,
         "20 bytes that came after the reply wait", TPace::Line},
        {"25-byte reply, line pace", 0, 25, "5 bytes beyond a 20-byte reply were discarded",
         TPace::Line},
        {"late reply, line pace, on the worker", 5500, sim::kReplyLength,
         "20 bytes that came after the reply wait", TPace::Line, true},
        {"25-byte reply, line pace, on the worker", 0, 25,
         "5 bytes beyond a 20-byte reply were discarded", TPace::Line, true},
    };
    for (const OddCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Scenario s; // sweeping values: a shifted reply decodes to other numbers
        s.oddHousing = 2;
        s.oddDelayMs = c.delayMs;
        s.oddLength = c.length;
        TManualClock clock;
        sim::DeviceSimulator device(s, sim::PortSetup{5, {}}, &clock);
        const sim::DeviceModel meant(s);
        TOrvComPort port;
        port.SetAutoOpen(false);
        port.SetComNumber(5);
        port.SetOpen(true);
        std::vector<std::string> warnings;
        TDeviceExchange exchange(port, {[] { platform::ProcessOneMessage(0); },
                                        {},
                                        [&](uint32_t ms) {
                                            clock.Advance(ms);
                                            device.Sync();
                                            platform::SleepMs(2);
                                        },
                                        TStrayBytes::Discard,
                                        [&](const std::string& w) { warnings.push_back(w); },
                                        c.pace,
                                        [&] {
                                            clock.Advance(50);
                                            device.Sync();
                                            return uint32_t(clock.NowMs());
                                        },
                                        c.onWorker});
        EXPECT_EQ(port.ReadOnCaller(), c.pace == TPace::Line && !c.onWorker);
        size_t readings = 0, silences = 0;
        for (int poll = 0; poll < 8; ++poll) {
            SCOPED_TRACE(poll);
            clock.Advance(200); // polls 200 ms apart: the late reply comes between two
            device.Sync();
            platform::SleepMs(5);
            const TPollResult result = exchange.PollDevice();
            if (result == TPollResult::NoAnswer) {
                ++silences;
                continue;
            }
            ASSERT_EQ(result, TPollResult::Reading);
            ++readings;
            device.Sync();
            const sim::SimCounters n = device.Counters();
            TMeasurementRecord expected;
            DecodePoll(meant.HousingAt(n.housingRequests - 1), meant.SensorAt(n.sensorRequests - 1),
                       expected);
            EXPECT_EQ(LogLine(exchange.Record), LogLine(expected));
        }
        EXPECT_EQ(silences, c.delayMs > 0 ? 1u : 0u);
        EXPECT_EQ(readings + silences, 8u);
        EXPECT_EQ(warnings.size(), 1u);
        for (const std::string& warning : warnings) {
            EXPECT_NE(warning.find(c.warning), std::string::npos) << warning;
        }
        port.SetOpen(false);
    }
}

} // namespace
} // namespace orvi::app
