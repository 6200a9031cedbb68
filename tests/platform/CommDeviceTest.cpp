#include "platform/CommDevice.h"
#include "platform/CallGate.h"
#include "platform/Clock.h"
#include "platform/PortNames.h"
#include "platform/SystemError.h"
#include "tools/pty/PtyPort.h"

#include <atomic>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvi::platform {
namespace {

using orvi::testing::PtyPort;

constexpr uint32_t kDispatcherMask = 0x01F9;
// Far more than any pty buffers, so a write of it blocks while the peer does not read.
constexpr uint32_t kHugeWrite = 4u << 20;
// Passes a wait may make while blocked for a moment (it re-checks every 10 ms at
// most); a spinning wait makes hundreds of thousands.
constexpr uint64_t kFewPasses = 200;

// Waits for a condition that must come true soon; false after five seconds.
bool Eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 2500; ++i) {
        if (condition())
            return true;
        SleepMs(2);
    }
    return condition();
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed = 0) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = uint8_t(i * 7 + seed);
    return bytes;
}

// Reads from the device until `n` bytes came or nothing more comes.
std::vector<uint8_t> ReadFromDevice(CommDevice& device, size_t n) {
    std::vector<uint8_t> got;
    uint8_t chunk[512];
    Eventually([&] {
        const int32_t r = device.Read(chunk, sizeof chunk);
        if (r > 0)
            got.insert(got.end(), chunk, chunk + r);
        return got.size() >= n || r < 0;
    });
    return got;
}

uint32_t InQue(CommDevice& device) {
    CommStatus status;
    device.ClearError(status);
    return status.InQue;
}

// A WaitEvent running on a thread of its own.
class BackgroundWait {
public:
    explicit BackgroundWait(CommDevice& device) : device_(device) {
        passesBefore_ = device.WaitPasses();
        thread_ = std::thread([this] {
            ok_ = device_.WaitEvent(word_);
            error_ = LastError();
            done_ = true;
        });
    }
    ~BackgroundWait() {
        if (thread_.joinable())
            thread_.join();
    }
    bool Done() const { return done_; }
    void Join() { thread_.join(); }
    bool Ok() const { return ok_; }
    uint32_t Word() const { return word_; }
    uint32_t Error() const { return error_; }
    uint64_t Passes() const { return device_.WaitPasses() - passesBefore_; }

private:
    CommDevice& device_;
    std::thread thread_;
    std::atomic<bool> done_{false};
    bool ok_ = false;
    uint32_t word_ = 0;
    uint32_t error_ = 0;
    uint64_t passesBefore_ = 0;
};

class CommDeviceOnPty : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(device.Open(pty.DeviceName()), syserr::Success); }

    PtyPort pty{5};
    CommDevice device;
};

TEST(CommDeviceOpen, MissingPortIsFileNotFound) {
    PtyPort pty(5); // points the override folder at a folder without COM9
    CommDevice device;
    EXPECT_EQ(device.Open("\\\\.\\COM65"), syserr::FileNotFound);
    EXPECT_EQ(LastError(), syserr::FileNotFound);
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(device.Open(pty.OverrideDir() + "/nothing-here"), syserr::FileNotFound);
}

TEST(CommDeviceOpen, SomethingThatIsNoTerminalIsNotAPort) {
    CommDevice device;
    EXPECT_EQ(device.Open("/dev/null"), syserr::FileNotFound);
    EXPECT_EQ(device.Open("/tmp"), syserr::FileNotFound);
    EXPECT_FALSE(device.IsOpen());
}

TEST(CommDeviceOpen, PortHeldByAnotherDeviceIsAccessDenied) {
    PtyPort pty(5);
    CommDevice first;
    CommDevice second;
    ASSERT_EQ(first.Open(pty.DeviceName()), syserr::Success);
    EXPECT_EQ(second.Open(pty.DeviceName()), syserr::AccessDenied);
    EXPECT_EQ(LastError(), syserr::AccessDenied);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(first.Close(), syserr::Success);
    EXPECT_EQ(second.Open(pty.DeviceName()), syserr::Success) << "the close released the port";
}

TEST(CommDeviceOpen, PortLockedByAnotherProgramIsAccessDenied) {
    PtyPort pty(5);
    const int holder = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    CommDevice device;
    EXPECT_EQ(device.Open(pty.DeviceName()), syserr::AccessDenied);
    close(holder);
    EXPECT_EQ(device.Open(pty.DeviceName()), syserr::Success);
}

TEST(CommDeviceOpen, OpenTwiceKeepsTheFirstAndReopenWorks) {
    PtyPort pty(5);
    CommDevice device;
    ASSERT_EQ(device.Open(pty.DeviceName()), syserr::Success);
    EXPECT_EQ(device.Open(pty.DeviceName()), syserr::AccessDenied);
    EXPECT_TRUE(device.IsOpen());
    EXPECT_EQ(device.Close(), syserr::Success);
    EXPECT_EQ(device.Close(), syserr::InvalidHandle);
    ASSERT_EQ(device.Open(pty.DeviceName()), syserr::Success);
    pty.Write("x", 1);
    EXPECT_EQ(ReadFromDevice(device, 1), std::vector<uint8_t>{'x'});
}

TEST(CommDeviceOpen, ClosedDeviceRefusesEverythingQuietly) {
    CommDevice device;
    Event abort(false);
    uint8_t buffer[4] = {};
    uint32_t written = 99;
    uint32_t word = 99;
    DeviceState state;
    CommStatus status{1, 2, 3};
    uint32_t modem = 0;
    EXPECT_EQ(device.Read(buffer, 4), -1);
    EXPECT_EQ(LastError(), syserr::InvalidHandle);
    EXPECT_EQ(device.Write(buffer, 4, written, abort), IoResult::Failed);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(device.WaitEvent(word));
    EXPECT_FALSE(device.SetEventMask(1));
    EXPECT_FALSE(device.Purge(purge::RxClear));
    EXPECT_EQ(device.ClearError(status), 0u);
    EXPECT_EQ(status.InQue + status.OutQue + status.Flags, 0u);
    EXPECT_FALSE(device.GetState(state));
    EXPECT_FALSE(device.SetState(state));
    EXPECT_FALSE(device.Escape(escape::SetDtr));
    EXPECT_FALSE(device.GetModemStatus(modem));
    EXPECT_FALSE(device.SetupQueues(64, 64));
}

TEST_F(CommDeviceOnPty, BytesTravelBothWaysInOrder) {
    const std::vector<uint8_t> in = Pattern(3000, 1);
    pty.Write(in.data(), in.size());
    EXPECT_EQ(ReadFromDevice(device, in.size()), in);

    const std::vector<uint8_t> out = Pattern(3000, 2);
    Event abort(false);
    uint32_t written = 0;
    EXPECT_EQ(device.Write(out.data(), uint32_t(out.size()), written, abort), IoResult::Done);
    EXPECT_EQ(written, out.size());
    std::vector<uint8_t> got(out.size());
    EXPECT_EQ(pty.ReadExact(got.data(), got.size(), 5000), out.size());
    EXPECT_EQ(got, out);
}

TEST_F(CommDeviceOnPty, ReadNeverWaits) {
    uint8_t buffer[16];
    EXPECT_EQ(device.Read(buffer, sizeof buffer), 0);
    EXPECT_EQ(device.Read(buffer, 0), 0);
}

TEST_F(CommDeviceOnPty, QueueSizesNeedNothing) {
    EXPECT_TRUE(device.SetupQueues(4096, 2048));
}

struct AbortCase {
    bool manualReset;
};

void PrintTo(const AbortCase& c, std::ostream* os) {
    *os << (c.manualReset ? "manual" : "auto");
}

class WriteAbort : public CommDeviceOnPty, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(WriteAbort, EndsAWriteThePeerDoesNotRead) {
    const std::vector<uint8_t> data = Pattern(kHugeWrite, 3);
    Event abort(GetParam().manualReset);
    uint32_t written = 0;
    IoResult result = IoResult::Done;
    std::thread writer(
        [&] { result = device.Write(data.data(), uint32_t(data.size()), written, abort); });
    abort.Set();
    writer.join();
    EXPECT_EQ(result, IoResult::Aborted);
    EXPECT_LT(written, data.size());
    EXPECT_EQ(abort.Wait(0), GetParam().manualReset) << "an auto-reset abort is consumed";
    // What was accepted arrives, in order, and nothing else.
    std::vector<uint8_t> got(written);
    EXPECT_EQ(pty.ReadExact(got.data(), got.size(), 5000), written);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
    EXPECT_TRUE(pty.ReadAvailable(50).empty());
}

INSTANTIATE_TEST_SUITE_P(AutoAndManual, WriteAbort,
                         ::testing::Values(AbortCase{false}, AbortCase{true}));

TEST_F(CommDeviceOnPty, TransmitAbortPurgeEndsABlockedWrite) {
    const std::vector<uint8_t> data = Pattern(kHugeWrite);
    Event abort(false);
    uint32_t written = 0;
    IoResult result = IoResult::Done;
    uint32_t error = 0;
    std::atomic<bool> finished{false};
    std::thread writer([&] {
        result = device.Write(data.data(), uint32_t(data.size()), written, abort);
        error = LastError();
        finished = true;
    });
    // A purge before the write started would have nothing to end: repeat until it ends.
    EXPECT_TRUE(
        Eventually([&] { return device.Purge(purge::TxAbort | purge::TxClear) && finished; }));
    writer.join();
    EXPECT_EQ(result, IoResult::Failed);
    EXPECT_EQ(error, syserr::OperationAborted);
    EXPECT_LT(written, data.size());
}

TEST_F(CommDeviceOnPty, RxCharOnceForTheSameUnreadBytes) {
    ASSERT_TRUE(device.SetEventMask(kDispatcherMask));
    pty.Write("abc", 3);
    uint32_t word = 0;
    ASSERT_TRUE(device.WaitEvent(word));
    EXPECT_EQ(word, ev::RxChar);
    ASSERT_TRUE(Eventually([&] { return InQue(device) == 3; }));
    // Three bytes may have come as two reports; the next wait starts when all are there.
    BackgroundWait wait(device);
    SleepMs(200);
    EXPECT_FALSE(wait.Done()) << "the same unread bytes were reported again";
    EXPECT_LT(wait.Passes(), kFewPasses) << "the wait spins while bytes sit unread";

    pty.Write("de", 2);
    wait.Join();
    EXPECT_TRUE(wait.Ok());
    EXPECT_EQ(wait.Word(), ev::RxChar);
    ASSERT_TRUE(Eventually([&] { return InQue(device) == 5; }));
    EXPECT_EQ(ReadFromDevice(device, 5), (std::vector<uint8_t>{'a', 'b', 'c', 'd', 'e'}));
}

TEST_F(CommDeviceOnPty, BytesArrivingAfterAReadAreNewAgain) {
    ASSERT_TRUE(device.SetEventMask(ev::RxChar));
    pty.Write("12", 2);
    ASSERT_TRUE(Eventually([&] { return InQue(device) == 2; }));
    uint32_t word = 0;
    ASSERT_TRUE(device.WaitEvent(word));
    EXPECT_EQ(ReadFromDevice(device, 2).size(), 2u);
    pty.Write("34", 2); // as many bytes as were reported before, all there before the wait
    ASSERT_TRUE(Eventually([&] { return InQue(device) == 2; }));
    BackgroundWait wait(device);
    const bool reported = Eventually([&] { return wait.Done(); });
    if (!reported)
        device.SetEventMask(0);
    wait.Join();
    EXPECT_TRUE(reported);
    EXPECT_EQ(wait.Word(), ev::RxChar);
}

TEST_F(CommDeviceOnPty, MaskOfZeroEndsABlockedWait) {
    ASSERT_TRUE(device.SetEventMask(kDispatcherMask));
    BackgroundWait wait(device);
    SleepMs(50);
    EXPECT_FALSE(wait.Done());
    ASSERT_TRUE(device.SetEventMask(0));
    wait.Join();
    EXPECT_TRUE(wait.Ok());
    EXPECT_EQ(wait.Word(), 0u);
    EXPECT_LT(wait.Passes(), kFewPasses);

    uint32_t word = 99;
    EXPECT_FALSE(device.WaitEvent(word)) << "nothing to wait for with a mask of 0";
    EXPECT_EQ(LastError(), syserr::InvalidParameter);
}

TEST_F(CommDeviceOnPty, MaskChangeBeforeTheWaitDoesNotEndIt) {
    ASSERT_TRUE(device.SetEventMask(ev::Cts));
    ASSERT_TRUE(device.SetEventMask(ev::RxChar));
    BackgroundWait wait(device);
    SleepMs(50);
    EXPECT_FALSE(wait.Done());
    pty.Write("z", 1);
    wait.Join();
    EXPECT_EQ(wait.Word(), ev::RxChar);
}

TEST_F(CommDeviceOnPty, CloseEndsBlockedWaitAndWriteFirst) {
    ASSERT_TRUE(device.SetEventMask(ev::RxChar));
    const std::vector<uint8_t> data = Pattern(kHugeWrite);
    Event abort(false);
    uint32_t written = 0;
    IoResult result = IoResult::Done;
    std::thread writer(
        [&] { result = device.Write(data.data(), uint32_t(data.size()), written, abort); });
    BackgroundWait wait(device);
    ASSERT_TRUE(Eventually([&] { return wait.Passes() > 0; }));
    EXPECT_EQ(device.Close(), syserr::Success);
    wait.Join();
    writer.join();
    EXPECT_FALSE(wait.Ok());
    EXPECT_EQ(result, IoResult::Failed);
    EXPECT_FALSE(device.IsOpen());
    ASSERT_EQ(device.Open(pty.DeviceName()), syserr::Success) << "the port is free again";
}

// The dispatcher worker's wait for input or its events: a close ends it at once, not
// when its time-out runs out (here none). If the close did not, the event set at the end
// ends the wait so that the test fails instead of hanging.
TEST_F(CommDeviceOnPty, CloseEndsAWaitForInputFirst) {
    Event other(false);
    std::atomic<int> woken{-5};
    std::thread waiter([&] { woken = device.WaitEventsOrInput({&other}, true, kInfinite); });
    SleepMs(20); // the waiter is most likely inside its poll by now; if not, it finds the gate shut
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        device.Close();
        closed = true;
    });
    const bool closedAlone = Eventually([&] { return closed.load(); });
    // A waiter that came too late for the poll waits for its event alone: end it too.
    if (!closedAlone || !Eventually([&] { return woken != -5; }))
        other.Set();
    closer.join();
    waiter.join();
    EXPECT_TRUE(closedAlone) << "the close waited for the input wait";
}

TEST_F(CommDeviceOnPty, CloseWaitsForReadsAndQueriesOnOtherThreads) {
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::atomic<int> refused{0};
    std::thread user([&] {
        uint8_t buffer[64];
        CommStatus status;
        uint32_t lines = 0;
        while (!stop) {
            const int32_t n = device.Read(buffer, sizeof buffer);
            if (n > 0)
                ++reads;
            else if (n < 0 && LastError() == syserr::InvalidHandle)
                ++refused;
            device.ClearError(status);
            device.GetModemStatus(lines);
        }
    });
    pty.Write("abc", 3);
    ASSERT_TRUE(Eventually([&] { return reads > 0; }));
    EXPECT_EQ(device.Close(), syserr::Success);
    EXPECT_TRUE(Eventually([&] { return refused > 0; }));
    stop = true;
    user.join();
    ASSERT_EQ(device.Open(pty.DeviceName()), syserr::Success);
}

// A call that entered the gate and ignores every wake (a driver that never ends a
// cancelled request): the shut gives up after its limit and says so, still refuses new
// calls, and a later shut succeeds once the call has left.
TEST(CallGateShut, GivesUpOnACallThatNeverLeavesAndSaysSo) {
    CallGate gate;
    gate.Open();
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};
    std::thread stuck([&] {
        const CallGate::Call call(gate);
        entered = call.Entered();
        while (!release)
            SleepMs(1);
    });
    ASSERT_TRUE(Eventually([&] { return entered.load(); }));
    std::atomic<int> wakes{0};
    const auto wake = [&] { ++wakes; };
    using std::chrono::milliseconds;
    const bool left = gate.Shut(wake, milliseconds(5), milliseconds(100));
    const bool lateEntered = CallGate::Call(gate).Entered();
    release = true;
    stuck.join();
    EXPECT_FALSE(left);
    EXPECT_GT(wakes.load(), 0);
    EXPECT_FALSE(lateEntered);
    EXPECT_TRUE(gate.Shut(wake, milliseconds(5), milliseconds(100)));
}

struct UnplugCase {
    const char* name;
    bool unreadBytes;
};

void PrintTo(const UnplugCase& c, std::ostream* os) {
    *os << c.name;
}

class Unplug : public CommDeviceOnPty, public ::testing::WithParamInterface<UnplugCase> {};

TEST_P(Unplug, EndsTheWaitWithoutSpinning) {
    ASSERT_TRUE(device.SetEventMask(kDispatcherMask));
    if (GetParam().unreadBytes) {
        pty.Write("q", 1);
        uint32_t word = 0;
        ASSERT_TRUE(device.WaitEvent(word));
    }
    BackgroundWait wait(device);
    SleepMs(50);
    EXPECT_FALSE(wait.Done());
    pty.CloseMaster();
    wait.Join();
    EXPECT_FALSE(wait.Ok());
    EXPECT_EQ(wait.Error(), syserr::DeviceGone);
    EXPECT_LT(wait.Passes(), kFewPasses);

    // Everything else on the hung-up device fails or reports nothing, and close works.
    uint32_t word = 0;
    EXPECT_FALSE(device.WaitEvent(word));
    EXPECT_EQ(LastError(), syserr::DeviceGone);
    Event abort(false);
    uint32_t written = 0;
    EXPECT_EQ(device.Write(reinterpret_cast<const uint8_t*>("x"), 1, written, abort),
              IoResult::Failed);
    EXPECT_EQ(LastError(), syserr::DeviceGone);
    CommStatus status{1, 2, 3};
    EXPECT_EQ(device.ClearError(status), 0u);
    EXPECT_EQ(status.Flags + status.InQue + status.OutQue, 0u);
    DeviceState state;
    EXPECT_FALSE(device.GetState(state));
    EXPECT_EQ(device.Close(), syserr::Success);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutData, Unplug,
                         ::testing::Values(UnplugCase{"Idle", false}, UnplugCase{"Unread", true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(CommDeviceOnPty, ClearErrorCountsWaitingBytes) {
    pty.Write("1234567", 7);
    ASSERT_TRUE(Eventually([&] { return InQue(device) == 7; }));
    CommStatus status;
    EXPECT_EQ(device.ClearError(status), 0u);
    EXPECT_EQ(status.InQue, 7u);
    EXPECT_EQ(status.OutQue, 0u);
    EXPECT_EQ(ReadFromDevice(device, 7).size(), 7u);
    EXPECT_EQ(InQue(device), 0u);
}

TEST_F(CommDeviceOnPty, ReceivePurgeDropsWaitingBytes) {
    pty.Write("junk", 4);
    ASSERT_TRUE(Eventually([&] { return InQue(device) == 4; }));
    EXPECT_TRUE(device.Purge(purge::RxAbort | purge::RxClear));
    EXPECT_EQ(InQue(device), 0u);
    pty.Write("ok", 2);
    EXPECT_EQ(ReadFromDevice(device, 2), (std::vector<uint8_t>{'o', 'k'}));
}

TEST_F(CommDeviceOnPty, ModemFunctionsAreNotSupportedAndHarmless) {
    for (uint32_t f :
         {escape::SetRts, escape::ClrRts, escape::SetDtr, escape::ClrDtr, escape::GetBaseIrq}) {
        EXPECT_FALSE(device.Escape(f)) << f;
        EXPECT_EQ(LastError(), syserr::NotSupported) << f;
    }
    EXPECT_FALSE(device.Escape(77));
    EXPECT_EQ(LastError(), syserr::InvalidParameter);
    uint32_t modem = 99;
    EXPECT_FALSE(device.GetModemStatus(modem));
    EXPECT_EQ(LastError(), syserr::NotSupported);

    pty.Write("still", 5);
    EXPECT_EQ(ReadFromDevice(device, 5).size(), 5u);
    Event abort(false);
    uint32_t written = 0;
    EXPECT_EQ(device.Write(reinterpret_cast<const uint8_t*>("fine"), 4, written, abort),
              IoResult::Done);
}

DeviceState FullState(uint32_t baud) {
    DeviceState s;
    s.BaudRate = baud;
    s.Flags = dcb::fBinary | dcb::fParity | dcb::fOutX | dcb::fInX | dcb::fTXContinueOnXoff |
              dcb::fOutxDsrFlow | dcb::fNull;
    s.Flags = dcb::WithDtrControl(s.Flags, dcb::ControlHandshake);
    s.Flags = dcb::WithRtsControl(s.Flags, dcb::ControlHandshake);
    s.XonLim = 100;
    s.XoffLim = 200;
    s.XonChar = 0x21;
    s.XoffChar = 0x23;
    s.ErrorChar = '?';
    s.EofChar = 0x1A;
    s.EvtChar = '\r';
    return s;
}

TEST_F(CommDeviceOnPty, StateRoundTripsThroughThePty) {
    for (uint32_t baud : {4800u, 19200u, 115200u, 921600u, 250000u, 14400u}) {
        SCOPED_TRACE(baud);
        const DeviceState wanted = FullState(baud);
        ASSERT_TRUE(device.SetState(wanted));
        DeviceState got;
        ASSERT_TRUE(device.GetState(got));
        EXPECT_EQ(got, wanted);
    }
}

TEST_F(CommDeviceOnPty, PtyForcesEightBitsWithoutParity) {
    DeviceState wanted = FullState(9600);
    wanted.ByteSize = 7;
    wanted.Parity = 2;
    wanted.StopBits = 2;
    ASSERT_TRUE(device.SetState(wanted));
    DeviceState got;
    ASSERT_TRUE(device.GetState(got));
    EXPECT_EQ(got.ByteSize, 8);
    EXPECT_EQ(got.Parity, 0);
    DeviceState rest = got;
    rest.ByteSize = wanted.ByteSize;
    rest.Parity = wanted.Parity;
    EXPECT_EQ(rest, wanted) << "everything but the forced framing is what was set";
}

TEST_F(CommDeviceOnPty, InvalidStateIsRefusedAndChangesNothing) {
    ASSERT_TRUE(device.SetState(FullState(38400)));
    DeviceState bad = FullState(57600);
    bad.StopBits = 1; // 1.5 stop bits with 8 data bits
    EXPECT_FALSE(device.SetState(bad));
    EXPECT_EQ(LastError(), syserr::InvalidParameter);
    DeviceState got;
    ASSERT_TRUE(device.GetState(got));
    EXPECT_EQ(got, FullState(38400));
}

TEST(PtyPortTest, SeveralPortsShareTheOverrideFolder) {
    PtyPort a(3);
    std::string folder;
    {
        PtyPort b(4);
        EXPECT_EQ(a.OverrideDir(), b.OverrideDir());
        EXPECT_EQ(PortOverrideDir(), a.OverrideDir());
        EXPECT_EQ(ResolvePortName(a.DeviceName()), a.OverrideDir() + "/COM3");
        EXPECT_EQ(ResolvePortName(b.DeviceName()), a.OverrideDir() + "/COM4");
        EXPECT_THROW(PtyPort(3), std::runtime_error);
        CommDevice da;
        CommDevice db;
        EXPECT_EQ(da.Open(a.DeviceName()), syserr::Success);
        EXPECT_EQ(db.Open(b.DeviceName()), syserr::Success);
        b.Write("b", 1);
        EXPECT_EQ(ReadFromDevice(db, 1), std::vector<uint8_t>{'b'});
    }
    folder = a.OverrideDir();
    EXPECT_EQ(access((folder + "/COM4").c_str(), F_OK), -1) << "the link went with its port";
    EXPECT_EQ(ResolvePortName(a.DeviceName()), folder + "/COM3");
}

TEST(PtyPortTest, FolderGoesWithTheLastPort) {
    std::string folder;
    {
        PtyPort p(6);
        folder = p.OverrideDir();
        EXPECT_EQ(p.DeviceName(), "\\\\.\\COM6");
        EXPECT_EQ(p.ComNumber(), 6);
    }
    EXPECT_EQ(access(folder.c_str(), F_OK), -1);
    EXPECT_NE(PortOverrideDir(), folder);
}

TEST(PtyPortTest, ReadAvailableCollectsWhatArrives) {
    PtyPort p(5);
    EXPECT_TRUE(p.ReadAvailable(20).empty());
    const int slave = open(p.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(write(slave, "hello", 5), 5);
    const std::vector<uint8_t> got = p.ReadAvailable(100);
    EXPECT_EQ(std::string(got.begin(), got.end()), "hello");
    uint8_t buffer[4];
    EXPECT_EQ(p.ReadExact(buffer, sizeof buffer, 20), 0u);
    close(slave);
}

} // namespace
} // namespace orvi::platform
