#include "tools/simulator/CommandLine.h"
#include "tools/simulator/DeviceModel.h"
#include "tools/simulator/Scenario.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace orvi::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Of(const Reply& r) {
    return Bytes(r.begin(), r.end());
}

uint16_t Be16(const Bytes& b, size_t at) {
    return uint16_t((b[at] << 8) | b[at + 1]);
}

double Celsius(uint16_t code) {
    return (2.0 * code - 27315.0) / 100.0;
}

// ---- Signals

TEST(SimulatorSignal, SteadyWrapAndBounce) {
    struct Case {
        Signal signal;
        uint64_t n;
        int32_t value;
    };
    const Case cases[] = {
        {Signal::Steady(7), 0, 7},
        {Signal::Steady(7), 100000, 7},
        {Signal::Sweep(10, 3, 0, 20), 0, 10},
        {Signal::Sweep(10, 3, 0, 20), 3, 19},
        {Signal::Sweep(10, 3, 0, 20), 4, 1},   // 22 wraps to 1 in 0..20
        {Signal::Sweep(10, -3, 0, 20), 4, 19}, // -2 wraps to 19
        {Signal::Sweep(25, 1, 0, 9), 0, 5},    // a start outside the range is taken modulo
        {Signal::Sweep(0, 5, 0, 10, SweepShape::Bounce), 2, 10},
        {Signal::Sweep(0, 5, 0, 10, SweepShape::Bounce), 3, 5},
        {Signal::Sweep(0, 5, 0, 10, SweepShape::Bounce), 4, 0},
        {Signal::Sweep(0, 5, 0, 10, SweepShape::Bounce), 5, 5},
        {Signal::Sweep(10, 4, 0, 10, SweepShape::Bounce), 1, 6},
        {Signal::Sweep(-3000, 20, -3000, 3000, SweepShape::Bounce), 300, 3000},
        {Signal::Sweep(-3000, 20, -3000, 3000, SweepShape::Bounce), 600, -3000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.signal.At(c.n), c.value)
            << c.signal.start << " " << c.signal.step << " " << c.n;
}

TEST(SimulatorSignal, ExtremeRangesStayInside) {
    for (const SweepShape shape : {SweepShape::Wrap, SweepShape::Bounce}) {
        const Signal s = Signal::Sweep(INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, shape);
        for (const uint64_t n : {uint64_t(1), uint64_t(3), UINT64_MAX / 3, UINT64_MAX}) {
            const int32_t v = s.At(n);
            EXPECT_GE(v, s.low);
            EXPECT_LE(v, s.high);
        }
    }
}

TEST(SimulatorSignal, CodesFromCelsius) {
    EXPECT_EQ(CodeFromCelsius(25.85), 14950);
    EXPECT_EQ(CodeFromCelsius(-273.15), 0);
    EXPECT_EQ(CodeFromCelsius(1037.55), 65535);
    EXPECT_EQ(CodeFromCelsius(-300), 0);
    EXPECT_EQ(CodeFromCelsius(5000), 65535);
}

// ---- What the device answers

TEST(SimulatorModel, DefaultScenarioLooksAlive) {
    const DeviceModel m{Scenario{}};
    EXPECT_NE(m.GetScenario().zeroCount, 0);
    for (uint64_t n = 0; n < 5000; n += 7) {
        const Bytes h = Of(m.HousingAt(n)), s = Of(m.SensorAt(n));
        for (size_t at = 4; at < 12; at += 2) {
            EXPECT_GE(Celsius(Be16(h, at)), 20.0);
            EXPECT_LE(Celsius(Be16(h, at)), 40.0);
            EXPECT_GE(Celsius(Be16(s, at)), 20.0);
            EXPECT_LE(Celsius(Be16(s, at)), 40.0);
        }
        for (size_t at : {12, 14}) {
            EXPECT_GE(int16_t(Be16(h, at)), -3000);
            EXPECT_LE(int16_t(Be16(h, at)), 3000);
        }
    }
    EXPECT_NE(m.HousingAt(0), m.HousingAt(1));
    EXPECT_NE(m.SensorAt(0), m.SensorAt(1));
    const Bytes first = Of(m.SensorAt(0));
    EXPECT_NE(Be16(first, 4), Be16(first, 6));
}

TEST(SimulatorModel, SuccessiveRequestsOfAKindMoveTheSweep) {
    Scenario s;
    s.housing[1] = Signal::Sweep(100, 10, 0, 1000);
    s.roll = Signal::Sweep(-5, 5, -100, 100);
    s.sensor[3] = Signal::Sweep(200, -1, 0, 1000);
    DeviceModel m(s);
    const Bytes h0 = *m.Answer(RequestKind::Housing);
    const Bytes s0 = *m.Answer(RequestKind::Sensor);
    const Bytes h1 = *m.Answer(RequestKind::Housing);
    EXPECT_EQ(Be16(h0, 6), 100);
    EXPECT_EQ(Be16(h1, 6), 110);
    EXPECT_EQ(int16_t(Be16(h0, 12)), -5);
    EXPECT_EQ(int16_t(Be16(h1, 12)), 0);
    EXPECT_EQ(Be16(s0, 10), 200);
    EXPECT_EQ(Be16(*m.Answer(RequestKind::Sensor), 10), 199);
}

TEST(SimulatorModel, ValuesOutsideTheirFieldsAreClamped) {
    Scenario s = SteadyScenario();
    s.housing[0] = Signal::Steady(70000);
    s.housing[1] = Signal::Steady(-5);
    s.roll = Signal::Steady(40000);
    s.pitch = Signal::Steady(-40000);
    s.zeroCount = 0;
    const Bytes h = Of(DeviceModel(s).HousingAt(0));
    EXPECT_EQ(Be16(h, 4), 0xFFFF);
    EXPECT_EQ(Be16(h, 6), 0);
    EXPECT_EQ(Be16(h, 12), 0x7FFF);
    EXPECT_EQ(Be16(h, 14), 0x8000);
    EXPECT_EQ(Be16(h, 16), 0);
}

TEST(SimulatorModel, EndOfDataMarkAfterNPolls) {
    for (const uint64_t n : {0, 1, 3}) {
        Scenario s;
        s.endAfterPolls = n;
        DeviceModel m(s);
        for (uint64_t k = 0; k < n + 2; ++k) {
            const bool marked = *m.Answer(RequestKind::Sensor) == Of(EndOfDataReply());
            EXPECT_EQ(marked, k >= n) << "after " << n << ", poll " << k;
        }
    }
}

TEST(SimulatorModel, SilenceVariants) {
    using K = RequestKind;
    const std::vector<K> requests = {K::Housing, K::Sensor, K::Flash,  K::Housing,
                                     K::Sensor,  K::Flash,  K::Housing};
    struct Case {
        const char* what;
        void (*set)(Scenario&);
        std::vector<bool> answered;
    };
    const Case cases[] = {
        {"talkative", [](Scenario&) {}, {1, 1, 1, 1, 1, 1, 1}},
        {"silent", [](Scenario& s) { s.silent = true; }, {0, 0, 0, 0, 0, 0, 0}},
        {"no sensor", [](Scenario& s) { s.answerSensor = false; }, {1, 0, 1, 1, 0, 1, 1}},
        {"no housing", [](Scenario& s) { s.answerHousing = false; }, {0, 1, 1, 0, 1, 1, 0}},
        {"no flash", [](Scenario& s) { s.answerFlash = false; }, {1, 1, 0, 1, 1, 0, 1}},
        {"first 1", [](Scenario& s) { s.answerFirst = 1; }, {1, 1, 1, 0, 0, 0, 0}},
        {"first 2", [](Scenario& s) { s.answerFirst = 2; }, {1, 1, 1, 1, 1, 1, 0}},
    };
    for (const Case& c : cases) {
        Scenario s;
        c.set(s);
        DeviceModel m(s);
        for (size_t i = 0; i < requests.size(); ++i)
            EXPECT_EQ(m.Answer(requests[i]).has_value(), c.answered[i]) << c.what << " " << i;
    }
}

TEST(SimulatorModel, FlashRecordsInOrderThenTheEndRecordForEver) {
    struct Case {
        std::vector<FlashRecord> flash;
        std::string kinds;
    };
    const Case cases[] = {
        {MakeFlashRecords(3), "aoaffff"},
        {MakeFlashRecords(2, 'x'), "aoxxx"},
        {MakeFlashRecords(0), "fff"},
        {{}, "ff"},
        {{FlashRecord{'o', {1, 2, 3, 4}}}, "off"}, // no end record: 'f' follows
    };
    for (const Case& c : cases) {
        Scenario s;
        s.flash = c.flash;
        DeviceModel m(s);
        std::string kinds;
        for (size_t i = 0; i < c.kinds.size(); ++i) {
            const Bytes r = *m.Answer(RequestKind::Flash);
            kinds += char(r[3]);
            if (i < c.flash.size() && (r[3] == 'a' || r[3] == 'o')) {
                EXPECT_EQ(Be16(r, 4), c.flash[i].codes[0]);
            }
        }
        EXPECT_EQ(kinds, c.kinds);
    }
}

TEST(SimulatorModel, CheckScenario) {
    EXPECT_EQ(CheckScenario(Scenario{}), "");
    EXPECT_EQ(CheckScenario(SteadyScenario()), "");
    Scenario reversed;
    reversed.sensor[2] = Signal::Sweep(5, 1, 10, 0);
    EXPECT_NE(CheckScenario(reversed), "");
    Scenario huge;
    huge.replyLength = kMaxReplyLength + 1;
    EXPECT_NE(CheckScenario(huge), "");
}

// ---- Command line

CommandLine Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

TEST(SimulatorCommandLine, DefaultsSweepOnCom5InATemporaryFolder) {
    const CommandLine c = Parse({});
    EXPECT_EQ(c.error, "");
    EXPECT_FALSE(c.help);
    EXPECT_EQ(c.port.comNumber, 5);
    EXPECT_EQ(c.port.folder, "");
    EXPECT_NE(c.scenario.housing[0].step, 0);
    EXPECT_NE(c.scenario.roll.step, 0);
    EXPECT_TRUE(c.scenario.flash.empty());
}

TEST(SimulatorCommandLine, OptionsSetTheScenario) {
    const CommandLine c = Parse({"--port=12",       "--port-dir",
                                 "/tmp/x",          "--housing",
                                 "1,2,3,4",         "--steady",
                                 "--roll",          "-150",
                                 "--zero-count",    "0",
                                 "--end-after",     "3",
                                 "--late",          "200",
                                 "--long-replies",  "--no-reply",
                                 "sensor",          "--no-reply=flash",
                                 "--answer-first",  "9",
                                 "--flash-records", "4",
                                 "--flash-end",     "0x78"});
    ASSERT_EQ(c.error, "");
    EXPECT_EQ(c.port.comNumber, 12);
    EXPECT_EQ(c.port.folder, "/tmp/x");
    EXPECT_EQ(c.scenario.housing[3].At(5), 4);
    EXPECT_EQ(c.scenario.sensor[0].step, 0); // --steady
    EXPECT_EQ(c.scenario.roll.At(9), -150);
    EXPECT_EQ(c.scenario.zeroCount, 0);
    EXPECT_EQ(c.scenario.endAfterPolls, 3u);
    EXPECT_EQ(c.scenario.replyDelayMs, 200u);
    EXPECT_EQ(c.scenario.replyLength, 25u);
    EXPECT_TRUE(c.scenario.answerHousing);
    EXPECT_FALSE(c.scenario.answerSensor);
    EXPECT_FALSE(c.scenario.answerFlash);
    EXPECT_EQ(c.scenario.answerFirst, 9u);
    ASSERT_EQ(c.scenario.flash.size(), 5u);
    EXPECT_EQ(c.scenario.flash.back().kind, 'x');
    EXPECT_EQ(Parse({"--flash-end", "x"}).scenario.flash.back().kind, 'x');
    EXPECT_EQ(Parse({"--short-replies"}).scenario.replyLength, 15u);
    EXPECT_TRUE(Parse({"--silent"}).scenario.silent);
    const CommandLine odd = Parse({"--odd-reply", "2,5500,25"});
    EXPECT_EQ(odd.scenario.oddHousing, 2u);
    EXPECT_EQ(odd.scenario.oddDelayMs, 5500u);
    EXPECT_EQ(odd.scenario.oddLength, 25u);
    EXPECT_NE(Parse({"--odd-reply", "2,5500"}).error, "");
    EXPECT_TRUE(Parse({"--port", "3", "--help"}).help);
}

TEST(SimulatorCommandLine, BadArgumentsAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {"--port", "0"},
        {"--port", "257"},
        {"--port", "x"},
        {"--port"},
        {"--bogus"},
        {"--silent=1"},
        {"--housing", "1,2,3"},
        {"--housing", "1,2,3,4,5"},
        {"--housing", "1,2,3,70000"},
        {"--housing", "1,,3,4"},
        {"--no-reply", "temps"},
        {"--reply-length", "5000"},
        {"--late", "-1"},
        {"--port-dir="},
        {"--zero-count", "40000"},
        {"--flash-end", "0x100"},
        {"--end-after", "1e3"},
        {"--roll", "12.5"},
    };
    for (const auto& args : cases)
        EXPECT_NE(Parse(args).error, "") << args[0] << " " << (args.size() > 1 ? args[1] : "");
}

} // namespace
} // namespace orvi::sim
