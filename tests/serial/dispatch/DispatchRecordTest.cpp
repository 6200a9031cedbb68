// What the running dispatcher records and tells: trace and dispatch-log entries of real
// traffic written to files, window handlers on their own thread (one that never answers
// is skipped), and synchronised event handlers run on the owning thread.
#include "platform/MessageTarget.h"
#include "serial/ErrorCodes.h"
#include "serial/dispatch/DispatcherHooks.h"
#include "tests/serial/dispatch/DispatcherProbe.h"
#include "tests/support/WaitFor.h"
#include "tools/pty/PtyPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace orvi::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Pumps the calling thread's messages until `done`.
template <class Pred> bool PumpFor(Pred done, int limitMs = 10000) {
    return WaitFor(
        [&] {
            platform::ProcessOneMessage(1);
            return done();
        },
        limitMs);
}

class DispatchRecordTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("orvi-record-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        ASSERT_EQ(d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0), ecOK);
    }
    void TearDown() override { fs::remove_all(dir); }

    void Send(const std::string& s) { pty.Write(s.data(), s.size()); }

    fs::path dir;
    PtyPort pty{5};
    DispatcherProbe d;
};

TEST_F(DispatchRecordTest, TraceHoldsQueuedAndTakenBytesInOrder) {
    ASSERT_EQ(d.TraceLog().TraceStart(100), ecOK);
    const std::string out = "AB";
    ASSERT_EQ(d.QueueBlock(reinterpret_cast<const uint8_t*>(out.data()), 2), ecOK);
    Send("xy");
    ASSERT_TRUE(WaitFor([&] { return d.InputCount() == 2; }));
    uint8_t b;
    ASSERT_EQ(d.TakeByte(b), ecOK);
    ASSERT_EQ(d.TakeByte(b), ecOK);
    const fs::path file = dir / "ORVI.TRC";
    ASSERT_EQ(d.TraceLog().TraceWrite(file.string(), false, true, false), ecOK);
    EXPECT_EQ(ReadFile(file), "Transmit: \r\nAB\r\n\r\nReceive: \r\nxy");
}

// Two threads queue blocks of their own letter: in the trace each block stays whole.
TEST_F(DispatchRecordTest, BlocksQueuedByTwoThreadsStayWholeInTheTrace) {
    constexpr int kBlocks = 400;
    constexpr size_t kBlock = 64;
    ASSERT_EQ(d.TraceLog().TraceStart(2 * kBlocks * kBlock), ecOK);
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        while (!stop)
            pty.ReadAvailable(5);
    });
    auto queue = [&](char letter) {
        const std::string block(kBlock, letter);
        for (int i = 0; i < kBlocks; ++i)
            while (d.QueueBlock(reinterpret_cast<const uint8_t*>(block.data()), kBlock) != ecOK)
                std::this_thread::yield(); // the output ring is full for a moment
    };
    std::thread other([&] { queue('b'); });
    queue('a');
    other.join();
    stop = true;
    drain.join();
    const fs::path file = dir / "ORVI.TRC";
    ASSERT_EQ(d.TraceLog().TraceWrite(file.string(), false, true, false), ecOK);
    std::string bytes;
    for (char c : ReadFile(file).substr(std::string("Transmit: \r\n").size()))
        if (c == 'a' || c == 'b')
            bytes.push_back(c);
    ASSERT_EQ(bytes.size(), 2 * kBlocks * kBlock);
    size_t split = 0;
    for (size_t i = 0; i < bytes.size(); i += kBlock)
        split += bytes.find_first_not_of(bytes[i], i) < i + kBlock ? 1 : 0;
    EXPECT_EQ(split, 0u) << "blocks interleaved with another caller's in the trace";
}

TEST_F(DispatchRecordTest, LogHoldsDeviceReadsAndQueuedBlocks) {
    d.SetDeviceName("COM5");
    d.TraceLog().SetClock([] { return 1234u; });
    d.TraceLog().Reset(0);
    d.TraceLog().LogStart(10000);
    const std::string out = "Hi";
    ASSERT_EQ(d.QueueBlock(reinterpret_cast<const uint8_t*>(out.data()), 2), ecOK);
    Send("ok");
    ASSERT_TRUE(WaitFor([&] { return d.InputCount() == 2; }));
    const fs::path file = dir / "ORVI.LOG";
    ASSERT_EQ(d.TraceLog().LogWrite(file.string(), false, true, false), ecOK);
    const std::string text = ReadFile(file);
    const std::string write = "0001.234  Dispatch  WriteCom      00000002  Hi\r\n";
    const std::string read = "0001.234  Dispatch  ReadCom       00000002  ok\r\n";
    const size_t w = text.find(write), r = text.find(read);
    ASSERT_NE(w, std::string::npos) << text;
    ASSERT_NE(r, std::string::npos) << text;
    EXPECT_LT(w, r);
    EXPECT_NE(text.find("Device: COM5\r\n"), std::string::npos) << text;
}

TEST_F(DispatchRecordTest, WindowThatNeverAnswersIsSkippedAndTheNextStillHearsIt) {
    // The first window belongs to a thread that never processes its messages.
    std::atomic<platform::WindowHandle> deaf{0};
    std::atomic<bool> release{false};
    std::atomic<int> deafCalls{0};
    std::thread deafThread([&] {
        platform::MessageTarget target([&](uint32_t, uintptr_t, intptr_t) {
            ++deafCalls;
            return intptr_t(0);
        });
        deaf = target.Handle();
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    });
    ASSERT_TRUE(WaitFor([&] { return deaf.load() != 0; }));

    uint32_t heardMsg = 0, heardCount = 0;
    platform::MessageTarget listener([&](uint32_t msg, uintptr_t w, intptr_t) {
        heardMsg = msg;
        heardCount = uint32_t(w);
        return intptr_t(0);
    });
    d.Triggers().AddNotifyWindow(deaf);
    d.Triggers().AddNotifyWindow(listener.Handle());
    d.Triggers().SetAvailThreshold(1);
    Send("z");
    EXPECT_TRUE(PumpFor([&] { return heardMsg != 0; }));
    EXPECT_EQ(heardMsg, MsgTriggerAvail);
    EXPECT_EQ(heardCount, 1u);
    EXPECT_EQ(deafCalls.load(), 0);

    d.ClosePort();
    release = true;
    deafThread.join();
    EXPECT_EQ(deafCalls.load(), 0) << "a message that timed out must not arrive late";
}

TEST_F(DispatchRecordTest, SynchronisedHandlerRunsOnTheOwningThread) {
    const auto owner = std::this_thread::get_id();
    platform::MessageTarget runnerTarget([](uint32_t, uintptr_t w, intptr_t) {
        (*reinterpret_cast<const std::function<void()>*>(w))();
        return intptr_t(0);
    });
    SetOwningThreadRunner([&](const std::function<void()>& work) {
        intptr_t ignored;
        platform::SendMessageWithTimeout(runnerTarget.Handle(), 0x7F00,
                                         reinterpret_cast<uintptr_t>(&work), 0, platform::kInfinite,
                                         &ignored);
    });
    std::atomic<bool> onOwner{false}, called{false};
    d.Triggers().AddEventHandler(
        [&](uint32_t, uint32_t, uint32_t) {
            onOwner = std::this_thread::get_id() == owner;
            called = true;
        },
        true);
    d.Triggers().SetAvailThreshold(1);
    Send("q");
    EXPECT_TRUE(PumpFor([&] { return called.load(); }));
    EXPECT_TRUE(onOwner.load());
    d.ClosePort();
    SetOwningThreadRunner(nullptr);
}

} // namespace
} // namespace orvi::testing
