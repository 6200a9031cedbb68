// The dispatcher over a real pseudo-terminal: bytes both ways through the rings and
// the worker threads, the input ring's wrap and full stop, purge, close while data
// flows, unplug, open failures and repeated open/close cycles.
#include "platform/CallGate.h"
#include "platform/PortNames.h"
#include "platform/SystemError.h"
#include "serial/ErrorCodes.h"
#include "serial/dispatch/DeviceDispatcher.h"
#include "serial/dispatch/DispatcherHooks.h"
#include "tests/serial/dispatch/DispatcherProbe.h"
#include "tests/support/WaitFor.h"
#include "tools/pty/PtyPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace orvi::testing {
namespace {

constexpr uint32_t kQueueSize = 4096;
constexpr uint32_t kOptions = openopt::DtrOn | openopt::RtsOn;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = uint8_t(i * 7 + seed + i / 251);
    return v;
}

int32_t Open(TOrvBaseDispatcher& d, const PtyPort& pty, uint32_t outSize = kQueueSize) {
    return d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, kQueueSize, outSize, kOptions);
}

// Takes `n` bytes as they arrive.
std::vector<uint8_t> TakeBytes(TOrvBaseDispatcher& d, size_t n) {
    std::vector<uint8_t> got;
    WaitFor([&] {
        uint8_t b;
        while (got.size() < n && d.TakeByte(b) == ecOK)
            got.push_back(b);
        return got.size() == n;
    });
    return got;
}

double ProcessCpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

class DataPathTest : public ::testing::Test {
protected:
    PtyPort pty{5};
    TOrvPosixDispatcher dispatcher{nullptr};
};

TEST_F(DataPathTest, BytesTravelBothWaysInOrder) {
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    EXPECT_TRUE(dispatcher.WorkersActive());
    EXPECT_EQ(dispatcher.WorkerCount(), 3);

    const auto request = Pattern(7);
    ASSERT_EQ(dispatcher.QueueBlock(request.data(), 7), ecOK);
    std::vector<uint8_t> sent(7);
    ASSERT_EQ(pty.ReadExact(sent.data(), 7, 5000), 7u);
    EXPECT_EQ(sent, request);

    const auto reply = Pattern(20, 3);
    pty.Write(reply.data(), reply.size());
    ASSERT_TRUE(WaitFor([&] { return dispatcher.InputCount() == 20; }));
    EXPECT_EQ(TakeBytes(dispatcher, 20), reply);
    EXPECT_EQ(dispatcher.InputCount(), 0u);
}

TEST_F(DataPathTest, LongStreamsArriveWholeAndInOrderBothWays) {
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    const auto outgoing = Pattern(100000, 1);
    std::thread sender([&] {
        for (size_t at = 0; at < outgoing.size();) {
            const uint32_t n = uint32_t(std::min<size_t>(1000, outgoing.size() - at));
            if (dispatcher.QueueBlock(outgoing.data() + at, n) == ecOK)
                at += n;
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<uint8_t> received(outgoing.size());
    EXPECT_EQ(pty.ReadExact(received.data(), received.size(), 20000), received.size());
    sender.join();
    EXPECT_EQ(received, outgoing);

    const auto incoming = Pattern(50000, 9);
    std::thread writer([&] { pty.Write(incoming.data(), incoming.size()); });
    EXPECT_EQ(TakeBytes(dispatcher, incoming.size()), incoming);
    writer.join();
}

// Blocks of random sizes, each written on the caller's thread or queued for the output
// worker as the switch and the driver's room fall, while the reader lags now and then so
// that the driver fills and blocks wait in the ring: every byte arrives once, in order.
TEST_F(DataPathTest, WritingAtOnceKeepsEveryQueuedByteInOrder) {
    const uint32_t seed = uint32_t(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    const auto outgoing = Pattern(400000, 5);
    std::thread sender([&] {
        std::mt19937 rng(seed);
        for (size_t at = 0; at < outgoing.size();) {
            dispatcher.SetWriteAtOnce(rng() % 4 != 0);
            const uint32_t n =
                uint32_t(std::min<size_t>(1 + rng() % kQueueSize, outgoing.size() - at));
            if (dispatcher.QueueBlock(outgoing.data() + at, n) == ecOK)
                at += n;
            else
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::mt19937 rng(seed + 1);
    std::vector<uint8_t> received(outgoing.size());
    for (size_t got = 0; got < received.size();) {
        const size_t n = std::min<size_t>(1 + rng() % 6000, received.size() - got);
        const size_t read = pty.ReadExact(received.data() + got, n, 5000);
        got += read;
        if (read < n)
            break;
        if (rng() % 3 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 2000));
    }
    sender.join();
    EXPECT_TRUE(received == outgoing);
    EXPECT_EQ(dispatcher.Rings().OutHead, dispatcher.Rings().OutTail);
}

// Reading on the caller's thread: a wait with nothing coming takes its time and gives
// nothing, and bytes that come wait in the driver for the caller, not read by the worker;
// then a stream in chunks of random sizes, with pauses, read by the caller while the
// switch falls at random (the worker reads whenever it is off): every byte arrives once, in
// order, and takes at random sizes never see a torn or repeated piece.
TEST_F(DataPathTest, ReadingOnTheCallerKeepsEveryIncomingByteInOrder) {
    const uint32_t seed = uint32_t(std::random_device{}());
    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    ASSERT_TRUE(dispatcher.SetReadOnCaller(true));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(dispatcher.WaitAndRead(60), 0u);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(50))
        << "a wait with nothing coming does not return early";
    const auto first = Pattern(100, 1);
    pty.Write(first.data(), first.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(120)); // two dispatch passes
    EXPECT_EQ(dispatcher.InputCount(), 0u) << "the worker leaves input to the caller";
    ASSERT_EQ(dispatcher.WaitAndRead(1000), first.size());
    std::vector<uint8_t> taken(first.size());
    ASSERT_EQ(dispatcher.TakeBlock(taken.data(), uint32_t(taken.size())), ecOK);
    EXPECT_EQ(taken, first);

    const auto incoming = Pattern(200000, 3);
    std::thread writer([&] {
        std::mt19937 rng(seed);
        for (size_t at = 0; at < incoming.size();) {
            const size_t n = std::min<size_t>(1 + rng() % 3000, incoming.size() - at);
            pty.Write(incoming.data() + at, n);
            at += n;
            if (rng() % 4 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
        }
    });
    std::mt19937 rng(seed + 1);
    std::vector<uint8_t> received(incoming.size());
    size_t got = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (got < received.size() && std::chrono::steady_clock::now() < limit) {
        dispatcher.SetReadOnCaller(rng() % 4 != 0);
        const uint32_t waiting = dispatcher.WaitAndRead(rng() % 20);
        const uint32_t n = std::min<uint32_t>(uint32_t(1 + rng() % 5000), waiting);
        if (n > 0 && dispatcher.TakeBlock(received.data() + got, n) == ecOK)
            got += n;
    }
    writer.join();
    EXPECT_EQ(got, received.size());
    EXPECT_TRUE(received == incoming);
}

TEST_F(DataPathTest, InputRingStopsWhenFullAndWrapsWhenTaken) {
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    const auto stream = Pattern(kInRingSize + 100, 5);
    pty.Write(stream.data(), kInRingSize);
    ASSERT_TRUE(WaitFor([&] { return dispatcher.InputCount() == kInRingSize; }));
    EXPECT_TRUE(dispatcher.Rings().InRingFull);

    pty.Write(stream.data() + kInRingSize, 100);
    std::this_thread::sleep_for(std::chrono::milliseconds(120)); // two dispatch passes
    EXPECT_EQ(dispatcher.InputCount(), kInRingSize);             // the rest waits in the driver

    const auto firstPart = TakeBytes(dispatcher, 1000);
    EXPECT_TRUE(std::equal(firstPart.begin(), firstPart.end(), stream.begin()));
    ASSERT_TRUE(WaitFor([&] { return dispatcher.InputCount() == kInRingSize - 900; }));
    const auto rest = TakeBytes(dispatcher, kInRingSize - 900);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), stream.begin() + 1000));
    const RingState rings = dispatcher.Rings();
    EXPECT_EQ(rings.InHead, 100u); // wrapped past the end of the ring
    EXPECT_EQ(rings.InTail, 100u);
}

TEST(DataPathPurgeTest, PurgeOutputEndsABlockedWriteAndSendsNothingStale) {
    PtyPort pty{5};
    DispatcherProbe dispatcher;
    ASSERT_EQ(Open(dispatcher, pty, 60000), ecOK);
    // The peer reads nothing, so the pseudo-terminal fills and the output worker
    // blocks inside its write.
    const auto block = Pattern(60000);
    ASSERT_EQ(dispatcher.QueueBlock(block.data(), 60000), ecOK);
    ASSERT_EQ(dispatcher.QueueBlock(block.data(), 1), ecOutputBufferTooSmall);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    // Another worker ending while the purge waits must not release it: only the output
    // worker, once out of its write, may.
    dispatcher.Device().SetEventMask(0);
    EXPECT_EQ(dispatcher.PurgeOutput(), ecOK);
    EXPECT_EQ(dispatcher.OutputUsed(), 0u);
    const RingState rings = dispatcher.Rings();
    EXPECT_EQ(rings.OutHead, 0u);
    EXPECT_EQ(rings.OutTail, 0u);

    // The port still sends afterwards, and nothing of the purged block comes again:
    // the peer gets what the driver had taken before the purge, then the marker.
    const std::vector<uint8_t> marker = {'E', 'N', 'D'};
    ASSERT_EQ(dispatcher.QueueBlock(marker.data(), 3), ecOK);
    std::vector<uint8_t> got;
    WaitFor([&] {
        const auto more = pty.ReadAvailable(20);
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= 3 && std::equal(marker.begin(), marker.end(), got.end() - 3);
    });
    ASSERT_GE(got.size(), 3u);
    EXPECT_TRUE(std::equal(marker.begin(), marker.end(), got.end() - 3));
    EXPECT_TRUE(std::equal(got.begin(), got.end() - 3, block.begin()));
    EXPECT_EQ(dispatcher.OutputUsed(), 0u);
}

TEST_F(DataPathTest, BlockTakeTakesAllAskedForOrNothing) {
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    const auto bytes = Pattern(30, 4);
    pty.Write(bytes.data(), bytes.size());
    ASSERT_TRUE(WaitFor([&] { return dispatcher.InputCount() == 30; }));
    std::vector<uint8_t> got(40, 0);
    EXPECT_EQ(dispatcher.TakeBlock(got.data(), 40), ecGetBlockFail);
    EXPECT_EQ(dispatcher.InputCount(), 30u);
    ASSERT_EQ(dispatcher.TakeBlock(got.data(), 30), ecOK);
    got.resize(30);
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(dispatcher.InputCount(), 0u);
}

TEST_F(DataPathTest, PurgeInputDiscardsWaitingBytes) {
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    const auto bytes = Pattern(300);
    pty.Write(bytes.data(), bytes.size());
    ASSERT_TRUE(WaitFor([&] { return dispatcher.InputCount() == 300; }));
    EXPECT_EQ(dispatcher.PurgeInput(), ecOK);
    EXPECT_EQ(dispatcher.InputCount(), 0u);
    uint8_t b;
    EXPECT_EQ(dispatcher.TakeByte(b), ecBufferIsEmpty);
}

// A program flushes its input, sends a request and waits for the reply: the reply, written
// after the purge returned, arrives even when the worker was inside its device read
// while the purge ran. (The purge waits for that read; where it does not, the reply is
// written before the read is let go, and the read then holds it.)
TEST(DataPathPurgeTest, BytesArrivingAfterAPurgeReturnedAreKeptWhateverTheReadDid) {
    PtyPort pty{5};
    DispatcherProbe d;
    ASSERT_EQ(Open(d, pty), ecOK);
    d.Reads.Arm();
    pty.Write("x", 1);
    ASSERT_TRUE(d.Reads.WaitHeld());
    auto purge = std::async(std::launch::async, [&] { return d.PurgeInput(); });
    const auto reply = Pattern(21, 6);
    if (purge.wait_for(std::chrono::milliseconds(200)) == std::future_status::ready) {
        pty.Write(reply.data(), reply.size());
        d.Reads.Release();
    } else {
        d.Reads.Release();
        ASSERT_EQ(purge.get(), ecOK);
        pty.Write(reply.data(), reply.size());
    }
    EXPECT_EQ(TakeBytes(d, reply.size()), reply);
    std::this_thread::sleep_for(std::chrono::milliseconds(60)); // a timed pass
    EXPECT_EQ(d.InputCount(), 0u) << "a byte from before the purge came through";
}

// The ring has 100 bytes of room when a 3000-byte frame arrives, and the caller takes
// everything while the worker reads: the ring is not full after that read, so the worker
// watches for input again at once instead of waiting for room nobody will announce.
TEST(DataPathPurgeTest, ARingWithRoomAfterAReadIsWatchedForInputAtOnce) {
    PtyPort pty{5};
    DispatcherProbe d;
    ASSERT_EQ(Open(d, pty), ecOK);
    const uint32_t kept = kInRingSize - 100;
    const auto first = Pattern(kept, 1);
    pty.Write(first.data(), first.size());
    ASSERT_TRUE(WaitFor([&] { return d.InputCount() == kept; }));
    d.Reads.Arm();
    const auto frame = Pattern(3000, 2);
    pty.Write(frame.data(), frame.size());
    ASSERT_TRUE(d.Reads.WaitHeld());
    std::vector<uint8_t> got(kept);
    ASSERT_EQ(d.TakeBlock(got.data(), kept), ecOK);
    EXPECT_EQ(got, first);
    d.Reads.Release();
    ASSERT_TRUE(WaitFor([&] { return d.InputCount() >= 100; }));
    EXPECT_FALSE(d.InputRingFull()) << "a ring with room waits as if full";
    EXPECT_EQ(TakeBytes(d, frame.size()), frame);
}

TEST_F(DataPathTest, CloseWhileDataFlowsBothWays) {
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    std::atomic<bool> stop{false};
    // The peer never blocks: once the port is closed nobody reads its writes.
    const int flags = fcntl(pty.MasterFd(), F_GETFL);
    fcntl(pty.MasterFd(), F_SETFL, flags | O_NONBLOCK);
    std::thread peer([&] {
        const auto chunk = Pattern(512);
        std::vector<uint8_t> sink(4096);
        while (!stop) {
            (void)!::write(pty.MasterFd(), chunk.data(), chunk.size());
            (void)!::read(pty.MasterFd(), sink.data(), sink.size());
            std::this_thread::yield();
        }
    });
    const auto block = Pattern(700);
    for (int i = 0; i < 50; ++i)
        dispatcher.QueueBlock(block.data(), uint32_t(block.size()));
    dispatcher.ClosePort();
    stop = true;
    peer.join();
    fcntl(pty.MasterFd(), F_SETFL, flags);
    EXPECT_FALSE(dispatcher.IsOpen());
    // A stopped worker reports its end a moment after it stops running.
    EXPECT_TRUE(WaitFor([&] { return dispatcher.WorkerCount() == 0; }));
    EXPECT_FALSE(dispatcher.WorkersActive());
}

TEST_F(DataPathTest, UnplugEndsTheEventWaitWithoutSpinningAndTheCloseIsClean) {
    ASSERT_EQ(Open(dispatcher, pty), ecOK);
    pty.CloseMaster();
    ASSERT_TRUE(WaitFor([&] { return !dispatcher.EventWorkerRunning(); }));

    const double before = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double used = ProcessCpuMs() - before;
    EXPECT_LT(used, 150.0) << "a worker spins on the hung-up device";

    const std::vector<uint8_t> frame(7, 1);
    EXPECT_EQ(dispatcher.QueueBlock(frame.data(), 7), ecOK); // dropped by the device
    uint8_t b;
    EXPECT_EQ(dispatcher.TakeByte(b), ecBufferIsEmpty); // the device fell silent
    dispatcher.ClosePort();
    EXPECT_TRUE(WaitFor([&] { return dispatcher.WorkerCount() == 0; }));
}

TEST(DispatcherOpenTest, MissingPortFailsWithFileNotFound) {
    PtyPort pty{5}; // provides the override folder, which has no COM6
    TOrvPosixDispatcher dispatcher{nullptr};
    const int32_t result = dispatcher.OpenPort(platform::ComDeviceName(6), 19200, 0, 8, 1,
                                               kQueueSize, kQueueSize, kOptions);
    EXPECT_EQ(result, -int32_t(platform::syserr::FileNotFound));
    EXPECT_FALSE(dispatcher.IsOpen());
    EXPECT_EQ(dispatcher.WorkerCount(), 0);
}

TEST(DispatcherOpenTest, PortHeldByAnotherProgramFailsWithAccessDenied) {
    PtyPort pty{5};
    const int holder = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    TOrvPosixDispatcher dispatcher{nullptr};
    EXPECT_EQ(Open(dispatcher, pty), -int32_t(platform::syserr::AccessDenied));
    EXPECT_EQ(dispatcher.WorkerCount(), 0);
    ::close(holder);

    TOrvPosixDispatcher second{nullptr};
    EXPECT_EQ(Open(second, pty), ecOK);
    TOrvPosixDispatcher third{nullptr};
    EXPECT_EQ(Open(third, pty), -int32_t(platform::syserr::AccessDenied));
}

TEST(DispatcherWorkersTest, SecondStartRaisesDispatcherAlreadyStarted) {
    PtyPort pty{5};
    DispatcherProbe probe;
    ASSERT_EQ(Open(probe, pty), ecOK);
    try {
        probe.StartWorkers();
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Dispatcher already started");
    }
    EXPECT_EQ(probe.WorkerCount(), 3);
}

// Each of the three worker threads in turn cannot be created.
TEST(DispatcherWorkersTest, AFailedWorkerStartFailsTheOpenAndLeavesNothingHanging) {
    PtyPort pty{5};
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE("worker " + std::to_string(failing));
        int started = 0;
        SetWorkerStartGate([&] { return started++ != failing; });
        {
            DispatcherProbe probe;
            EXPECT_LT(Open(probe, pty), 0);
            SetWorkerStartGate(nullptr);
            EXPECT_EQ(probe.WorkerCount(), 0);
            EXPECT_FALSE(probe.WorkersActive());
            EXPECT_FALSE(probe.RingsAllocated());
        } // the destructor returns
        SetWorkerStartGate(nullptr);
    }
    TOrvPosixDispatcher after{nullptr}; // the port is free again
    EXPECT_EQ(Open(after, pty), ecOK);
}

TEST(DispatcherCyclesTest, RepeatedOpenCloseWithTrafficLeavesNothingBehind) {
    PtyPort pty{5};
    const auto frame = Pattern(7);
    const auto reply = Pattern(20, 2);
    for (int cycle = 0; cycle < 200; ++cycle) {
        TOrvPosixDispatcher dispatcher{nullptr};
        ASSERT_EQ(Open(dispatcher, pty), ecOK) << "cycle " << cycle;
        ASSERT_EQ(dispatcher.QueueBlock(frame.data(), 7), ecOK);
        std::vector<uint8_t> sent(7);
        ASSERT_EQ(pty.ReadExact(sent.data(), 7, 5000), 7u);
        pty.Write(reply.data(), reply.size());
        if (cycle % 2 == 0) {
            ASSERT_EQ(TakeBytes(dispatcher, 20), reply);
        }
        dispatcher.ClosePort();
        ASSERT_TRUE(WaitFor([&] { return dispatcher.WorkerCount() == 0; }));
        pty.ReadAvailable(0);
    }
}

// A close that returned has ended its workers, so an open of the same dispatcher right
// after it starts new ones. Cycled with a peer writing all the time and a second thread
// peeking, which move the workers' ends against the close.
TEST(DispatcherCyclesTest, ACloseThatReturnedHasEndedItsWorkers) {
    PtyPort pty{5};
    TOrvPosixDispatcher d{nullptr};
    const int flags = fcntl(pty.MasterFd(), F_GETFL);
    fcntl(pty.MasterFd(), F_SETFL, flags | O_NONBLOCK);
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        const auto noise = Pattern(64);
        std::vector<uint8_t> sink(4096);
        while (!stop) {
            (void)!::write(pty.MasterFd(), noise.data(), noise.size());
            (void)!::read(pty.MasterFd(), sink.data(), sink.size());
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread peeker([&] {
        uint8_t b;
        while (!stop)
            (void)(d.PeekByte(1, b) + int32_t(d.InputCount()));
    });
    int refused = 0, left = 0;
    for (int cycle = 0; cycle < 500; ++cycle) {
        int32_t opened = ecOK;
        try {
            opened = Open(d, pty);
        } catch (const std::exception&) { // "Dispatcher already started"
            ++refused;
            WaitFor([&] { return d.WorkerCount() == 0; });
        }
        if (opened != ecOK) {
            ADD_FAILURE() << "open failed with " << opened << " in cycle " << cycle;
            break;
        }
        d.ClosePort();
        if (d.WorkerCount() != 0 || d.WorkersActive())
            ++left;
    }
    stop = true;
    peer.join();
    peeker.join();
    fcntl(pty.MasterFd(), F_SETFL, flags);
    EXPECT_EQ(left, 0) << "closes that returned with workers still counted";
    EXPECT_EQ(refused, 0) << "opens refused right after a close";
}

// A fill's device read that the driver ends only much later. An input purge gives up
// waiting for it after the close's limit, purges what it can and says so; a close behind
// it has one limit for all its waits (not the purge's, then the device's, then the
// workers'), gives up on the read and lets the worker go.
TEST(HeldReadTest, APurgeAndACloseBehindAReadThatDoesNotEndAreBounded) {
    PtyPort pty{5};
    DispatcherProbe d;
    ASSERT_EQ(Open(d, pty), ecOK);
    pty.Write("ab", 2);
    ASSERT_TRUE(WaitFor([&] { return d.InputCount() == 2; }));
    d.Reads.Arm(true);
    pty.Write("c", 1);
    ASSERT_TRUE(d.Reads.WaitHeld());
    const auto limit = platform::CallGate::kShutLimit;
    auto purge = std::async(std::launch::async, [&] { return d.PurgeInput(); });
    if (purge.wait_for(3 * limit) != std::future_status::ready) {
        d.Reads.Release();
        FAIL() << "the purge waits for the read without a limit";
    }
    EXPECT_EQ(purge.get(), -int32_t(platform::syserr::TimedOut));
    EXPECT_EQ(d.InputCount(), 0u) << "the purge left the ring's bytes";

    const auto start = std::chrono::steady_clock::now();
    auto close = std::async(std::launch::async, [&] { return d.ClosePort(); });
    const bool closed = close.wait_for(3 * limit) == std::future_status::ready;
    const auto took = std::chrono::steady_clock::now() - start;
    d.Reads.Release();
    ASSERT_TRUE(closed) << "the close waits for the read without a limit";
    EXPECT_EQ(close.get(), -int32_t(platform::syserr::TimedOut));
    EXPECT_TRUE(d.WorkersLetGo());
    EXPECT_LT(took, 2 * limit) << "the close's waits add up beyond its limit";
    EXPECT_TRUE(WaitFor([&] { return d.WorkerCount() == 0; }));
}

// A close gave up on a fill's read that returns, with a byte, after the close returned:
// the worker it let go of neither scans nor calls a handler any more.
TEST(HeldReadTest, NoHandlerRunsAfterACloseThatGaveUpOnARead) {
    PtyPort pty{5};
    DispatcherProbe d;
    ASSERT_EQ(Open(d, pty), ecOK);
    std::atomic<int> calls{0};
    d.Triggers().AddEventHandler([&](uint32_t, uint32_t, uint32_t) { ++calls; }, false);
    d.Triggers().AddDataTrigger("c", false);
    d.Triggers().SetAvailThreshold(1);
    d.Reads.Arm(true);
    pty.Write("c", 1);
    ASSERT_TRUE(d.Reads.WaitHeld());
    auto close = std::async(std::launch::async, [&] { return d.ClosePort(); });
    const bool closed =
        close.wait_for(3 * platform::CallGate::kShutLimit) == std::future_status::ready;
    const int before = calls;
    d.Reads.Release();
    ASSERT_TRUE(closed);
    close.get();
    ASSERT_TRUE(WaitFor([&] { return d.WorkerCount() == 0; }));
    EXPECT_EQ(before, 0);
    EXPECT_EQ(calls, before) << "a handler ran after the close returned";
}

} // namespace
} // namespace orvi::testing
