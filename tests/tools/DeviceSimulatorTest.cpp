#include "tools/simulator/DeviceSimulator.h"
#include "tests/tools/ConsoleEnd.h"
#include "tools/simulator/DeviceModel.h"

#include "platform/PortNames.h"
#include "platform/SerialDeviceMap.h"
#include "tests/support/WaitFor.h"

#include "tests/tools/ByteHelpers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace orvi::sim {
namespace {

using orvi::testing::ConsoleEnd;
using orvi::testing::WaitFor;
using test::Bytes;
using test::Concat;
using test::Of;

class ManualClock final : public SimClock {
public:
    int64_t NowMs() const override { return now_; }
    void Advance(int64_t ms) { now_ += ms; }

private:
    std::atomic<int64_t> now_{1000};
};

bool RequestsSeen(const DeviceSimulator& sim, uint64_t n) {
    return WaitFor([&] { return sim.Counters().Requests() >= n; });
}

TEST(DeviceSimulator, FoundThroughTheDeviceMapAndAnswersEachRequest) {
    const Scenario scenario = SteadyScenario();
    DeviceSimulator sim(scenario);
    std::string port;
    ASSERT_TRUE(platform::ReadSerialDeviceMap("\\Device\\USBSER000", port));
    EXPECT_EQ(port, "COM5");
    ConsoleEnd console(platform::ResolvePortName(platform::ComDeviceName(5)));

    const DeviceModel expected(scenario);
    console.Send(kHousingRequest);
    const Bytes housing = console.Receive(20);
    EXPECT_EQ(housing, Of(expected.HousingAt(0)));
    EXPECT_EQ(Bytes(housing.begin() + 4, housing.begin() + 6), (Bytes{0x3A, 0x66})); // 25.85
    EXPECT_EQ(Bytes(housing.begin() + 12, housing.begin() + 18),
              (Bytes{0xFF, 0x38, 0x00, 0x4B, 0x00, 0x0C})); // -2.00, 0.75, 12
    console.Send(kSensorRequest);
    EXPECT_EQ(console.Receive(20), Of(expected.SensorAt(0)));
    console.Send(kFlashRequest);
    EXPECT_EQ(console.Receive(20), Of(FlashReply('f', {})));

    sim.Sync(); // the console may see the bytes before the counters are updated
    const SimCounters c = sim.Counters();
    EXPECT_EQ(c.housingRequests, 1u);
    EXPECT_EQ(c.sensorRequests, 1u);
    EXPECT_EQ(c.flashRequests, 1u);
    EXPECT_EQ(c.bytesReceived, 20u);
    EXPECT_EQ(c.repliesSent, 3u);
    EXPECT_EQ(c.bytesSent, 60u);
}

TEST(DeviceSimulator, SplitFramesAreJoined) {
    DeviceSimulator sim(SteadyScenario());
    ConsoleEnd console(sim.SlavePath());
    const Bytes frame = Of(kSensorRequest);
    for (size_t i = 0; i < frame.size(); ++i) {
        console.Send(Bytes{frame[i]});
        ASSERT_TRUE(WaitFor([&] { return sim.Counters().bytesReceived == i + 1; }));
    }
    EXPECT_EQ(console.Receive(20), Of(DeviceModel(SteadyScenario()).SensorAt(0)));
}

TEST(DeviceSimulator, MergedFramesAreAnsweredInOrder) {
    Scenario scenario = SteadyScenario();
    scenario.flash = MakeFlashRecords(1);
    DeviceSimulator sim(scenario);
    ConsoleEnd console(sim.SlavePath());
    console.Send(
        Concat({Of(kFlashRequest), Of(kHousingRequest), Of(kSensorRequest), Of(kFlashRequest)}));
    const DeviceModel m(scenario);
    EXPECT_EQ(console.Receive(80),
              Concat({Of(m.FlashAt(0)), Of(m.HousingAt(0)), Of(m.SensorAt(0)), Of(m.FlashAt(1))}));
}

TEST(DeviceSimulator, GarbageAndBadCrcAreSkipped) {
    DeviceSimulator sim(SteadyScenario());
    ConsoleEnd console(sim.SlavePath());
    Bytes bad = Of(kHousingRequest);
    bad[5] ^= 0xFF;
    console.Send(Concat({Bytes{0x00, 0x81, 0x7F}, bad, Of(kSensorRequest)}));
    EXPECT_EQ(console.Receive(20), Of(DeviceModel(SteadyScenario()).SensorAt(0)));
    sim.Sync();
    const SimCounters c = sim.Counters();
    EXPECT_EQ(c.badCrc, 1u);
    EXPECT_EQ(c.skippedBytes, 3u + bad.size());
    EXPECT_EQ(c.housingRequests, 0u);
    EXPECT_EQ(c.repliesSent, 1u);
}

// With line time no reply is complete before its bytes, and its request's, could have
// crossed the line at the port's rate, one after another, plus the reaction: at 2400 baud
// a byte takes 4.17 ms, so two requests sent together are answered no sooner than
// 7 + 20 bytes and 20 bytes more (plus 20 ms) after sending.
TEST(DeviceSimulator, LineTimeTakesAsLongAsTheWire) {
    Scenario scenario = SteadyScenario();
    scenario.lineTime = true;
    scenario.reactUs = 20000;
    DeviceSimulator sim(scenario);
    ConsoleEnd console(sim.SlavePath());
    {
        const int fd = open(sim.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        cfsetspeed(&t, B2400);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
        close(fd);
    }
    const double byteMs = 10.0 * 1000 / 2400;
    const auto sent = std::chrono::steady_clock::now();
    const auto since = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - sent)
            .count();
    };
    console.Send(Concat({Of(kHousingRequest), Of(kSensorRequest)}));
    const DeviceModel m(scenario);
    EXPECT_EQ(console.Receive(20), Of(m.HousingAt(0)));
    EXPECT_GE(since(), (7 + 20) * byteMs + 20);
    EXPECT_EQ(console.Receive(20), Of(m.SensorAt(0)));
    EXPECT_GE(since(), (7 + 20 + 20) * byteMs + 20) << "the reply line carries one at a time";
}

TEST(DeviceSimulator, EndOfDataMarkAfterTwoPolls) {
    Scenario scenario;
    scenario.endAfterPolls = 2;
    DeviceSimulator sim(scenario);
    ConsoleEnd console(sim.SlavePath());
    for (int poll = 0; poll < 3; ++poll) {
        console.Send(Concat({Of(kHousingRequest), Of(kSensorRequest)}));
        const Bytes replies = console.Receive(40);
        ASSERT_EQ(replies.size(), 40u);
        const bool marked = Bytes(replies.begin() + 24, replies.begin() + 32) == Bytes(8, 0xFF);
        EXPECT_EQ(marked, poll == 2) << poll;
    }
}

// Four requests (housing, sensor, housing, sensor); the replies expected of them.
TEST(DeviceSimulator, SilenceSendsNothingItShouldNot) {
    struct Case {
        const char* what;
        std::function<void(Scenario&)> set;
        std::vector<int> answered; // which of the four requests get a reply
    };
    const Case cases[] = {
        {"silent", [](Scenario& s) { s.silent = true; }, {}},
        {"no sensor reply", [](Scenario& s) { s.answerSensor = false; }, {0, 2}},
        {"first poll only", [](Scenario& s) { s.answerFirst = 1; }, {0, 1}},
    };
    for (const Case& c : cases) {
        Scenario scenario = SteadyScenario();
        c.set(scenario);
        DeviceSimulator sim(scenario);
        ConsoleEnd console(sim.SlavePath());
        const Bytes poll = Concat({Of(kHousingRequest), Of(kSensorRequest)});
        console.Send(Concat({poll, poll}));
        ASSERT_TRUE(RequestsSeen(sim, 4)) << c.what;
        const DeviceModel m(scenario);
        const Reply replies[] = {m.HousingAt(0), m.SensorAt(0), m.HousingAt(1), m.SensorAt(1)};
        Bytes expected;
        for (const int i : c.answered)
            expected = Concat({expected, Of(replies[i])});
        EXPECT_EQ(sim.Counters().bytesSent, expected.size()) << c.what;
        EXPECT_EQ(console.Receive(expected.size()), expected) << c.what;
        EXPECT_EQ(console.Waiting(), 0) << c.what;
    }
}

TEST(DeviceSimulator, LateReplyWaitsForItsTime) {
    ManualClock clock;
    Scenario scenario = SteadyScenario();
    scenario.replyDelayMs = 300;
    DeviceSimulator sim(scenario, {}, &clock);
    ConsoleEnd console(sim.SlavePath());
    console.Send(kHousingRequest);
    ASSERT_TRUE(RequestsSeen(sim, 1));
    clock.Advance(299);
    sim.Sync();
    EXPECT_EQ(sim.Counters().repliesQueued, 1u);
    EXPECT_EQ(sim.Counters().bytesSent, 0u);
    clock.Advance(1);
    sim.Sync();
    EXPECT_EQ(sim.Counters().repliesSent, 1u);
    EXPECT_EQ(console.Receive(20), Of(DeviceModel(scenario).HousingAt(0)));
}

TEST(DeviceSimulator, LongAndShortReplies) {
    for (const size_t length : {size_t(25), size_t(15)}) {
        Scenario scenario = SteadyScenario();
        scenario.replyLength = length;
        DeviceSimulator sim(scenario);
        ConsoleEnd console(sim.SlavePath());
        console.Send(Concat({Of(kHousingRequest), Of(kSensorRequest)}));
        const DeviceModel m(scenario);
        EXPECT_EQ(console.Receive(2 * length),
                  Concat({ShapeReply(m.HousingAt(0), length), ShapeReply(m.SensorAt(0), length)}))
            << length;
    }
}

TEST(DeviceSimulator, FlashRecordsEndInFOrInABadKind) {
    for (const uint8_t end : {uint8_t('f'), uint8_t('x')}) {
        Scenario scenario;
        scenario.flash = MakeFlashRecords(3, end);
        DeviceSimulator sim(scenario);
        ConsoleEnd console(sim.SlavePath());
        std::string kinds;
        for (int i = 0; i < 6; ++i) {
            console.Send(kFlashRequest);
            const Bytes r = console.Receive(20);
            ASSERT_EQ(r.size(), 20u);
            EXPECT_EQ(r, Of(DeviceModel(scenario).FlashAt(uint64_t(i))));
            kinds += char(r[3]);
        }
        EXPECT_EQ(kinds, std::string("aoa") + std::string(3, char(end)));
    }
}

TEST(DeviceSimulator, StopIsSafeTwiceAndEndsSync) {
    DeviceSimulator sim(SteadyScenario());
    ConsoleEnd console(sim.SlavePath());
    console.Send(kHousingRequest);
    EXPECT_EQ(console.Receive(20).size(), 20u);
    sim.Stop();
    sim.Stop();
    sim.Sync(); // returns at once instead of waiting for a thread that is gone
    EXPECT_EQ(sim.Counters().repliesSent, 1u);
}

TEST(DeviceSimulator, LinkInAGivenFolderLeavesTheProcessLookupAlone) {
    char name[] = "/tmp/orvi-sim-test-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    const std::string folder = name;
    const std::string before = platform::PortOverrideDir();
    {
        DeviceSimulator sim(SteadyScenario(), {6, folder});
        EXPECT_EQ(sim.Folder(), folder);
        EXPECT_EQ(platform::PortOverrideDir(), before);
        char target[256] = {};
        ASSERT_GT(readlink((folder + "/COM6").c_str(), target, sizeof target - 1), 0);
        EXPECT_EQ(std::string(target), sim.SlavePath());
        EXPECT_THROW(DeviceSimulator(SteadyScenario(), {6, folder}), std::runtime_error);
    }
    struct stat st {};
    EXPECT_NE(lstat((folder + "/COM6").c_str(), &st), 0);
    EXPECT_EQ(rmdir(name), 0); // the folder itself stays, and is empty
}

} // namespace
} // namespace orvi::sim
