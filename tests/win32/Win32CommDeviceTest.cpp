// The Win32 communications device over wine: ports opened by number through
// "\\.\COMn", the missing port, handles left behind by opens, data both ways, reads
// that never wait, line settings through the device control block, the event wait, and
// the error of a write that a close ends.
#include "platform/CommDevice.h"
#include "platform/Event.h"
#include "platform/PortNames.h"
#include "platform/SystemError.h"
#include "tests/support/WaitFor.h"
#include "tests/win32/WineSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <numeric>
#include <thread>
#include <vector>

namespace orvi::testing {
namespace {

using namespace platform;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
    std::vector<uint8_t> v(n);
    std::iota(v.begin(), v.end(), seed);
    return v;
}

// Reads until `n` bytes came or the wait limit passed.
std::vector<uint8_t> ReadBytes(CommDevice& device, size_t n) {
    std::vector<uint8_t> got;
    WaitFor([&] {
        uint8_t buffer[256];
        const int32_t r = device.Read(buffer, uint32_t(std::min(sizeof buffer, n - got.size())));
        if (r > 0)
            got.insert(got.end(), buffer, buffer + r);
        return got.size() == n;
    });
    return got;
}

class Win32CommDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        echo_ = PeerPort("ORVI_WINE_ECHO_PORT");
        missing_ = PeerPort("ORVI_WINE_MISSING_PORT");
        if (echo_ == 0 || missing_ == 0)
            GTEST_SKIP() << SkipText("ORVI_WINE_ECHO_PORT");
    }

    // Opens the echo port and drops whatever an earlier test left in it.
    void OpenEcho() {
        ASSERT_EQ(device_.Open(ComDeviceName(echo_)), syserr::Success);
        ASSERT_TRUE(device_.Purge(purge::RxAbort | purge::RxClear));
    }

    int echo_ = 0;
    int missing_ = 0;
    int sink_ = PeerPort("ORVI_WINE_SINK_PORT");
    CommDevice device_;
    Event abort_{false};
};

TEST_F(Win32CommDeviceTest, PortOpenedByNumberCarriesBytesBothWays) {
    EXPECT_EQ(ComDeviceName(echo_), "\\\\.\\COM" + std::to_string(echo_));
    OpenEcho();
    EXPECT_TRUE(device_.IsOpen());
    const auto bytes = Pattern(300, 1);
    uint32_t written = 0;
    ASSERT_EQ(device_.Write(bytes.data(), uint32_t(bytes.size()), written, abort_), IoResult::Done);
    EXPECT_EQ(written, bytes.size());
    EXPECT_EQ(ReadBytes(device_, bytes.size()), bytes);
    EXPECT_EQ(device_.Close(), syserr::Success);
    EXPECT_FALSE(device_.IsOpen());
}

TEST_F(Win32CommDeviceTest, ReadReturnsAtOnceWhenNothingWaits) {
    OpenEcho();
    uint8_t buffer[16];
    EXPECT_EQ(device_.Read(buffer, sizeof buffer), 0);
}

TEST_F(Win32CommDeviceTest, MissingPortIsFileNotFoundAndLeavesNoHandle) {
    const DWORD before = HandleCount();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(device_.Open(ComDeviceName(missing_)), syserr::FileNotFound);
        EXPECT_FALSE(device_.IsOpen());
    }
    EXPECT_EQ(HandleCount(), before);
}

TEST_F(Win32CommDeviceTest, OpenCloseCyclesLeaveNoHandle) {
    OpenEcho();
    ASSERT_EQ(device_.Close(), syserr::Success);
    const DWORD before = HandleCount();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(device_.Open(ComDeviceName(echo_)), syserr::Success);
        ASSERT_EQ(device_.Close(), syserr::Success);
    }
    EXPECT_EQ(HandleCount(), before);
}

TEST_F(Win32CommDeviceTest, SecondOpenOnTheSameObjectIsRefused) {
    OpenEcho();
    EXPECT_EQ(device_.Open(ComDeviceName(echo_)), syserr::AccessDenied);
    EXPECT_TRUE(device_.IsOpen());
}

TEST_F(Win32CommDeviceTest, BaudRatesGoThroughTheDeviceControlBlock) {
    OpenEcho();
    for (uint32_t baud : {4800u, 9600u, 19200u, 38400u, 115200u, 921600u}) {
        SCOPED_TRACE(baud);
        DeviceState state;
        ASSERT_TRUE(device_.GetState(state));
        state.BaudRate = baud;
        ASSERT_TRUE(device_.SetState(state));
        DeviceState back;
        ASSERT_TRUE(device_.GetState(back));
        EXPECT_EQ(back.BaudRate, baud);
        EXPECT_EQ(back.ByteSize, 8);
        EXPECT_EQ(back.Parity, 0);
    }
}

TEST_F(Win32CommDeviceTest, FlowControlFlagsGoThroughTheDeviceControlBlock) {
    OpenEcho();
    DeviceState state;
    ASSERT_TRUE(device_.GetState(state));
    state.Flags |= dcb::fOutX | dcb::fInX;
    state.XonChar = 0x11;
    state.XoffChar = 0x13;
    ASSERT_TRUE(device_.SetState(state));
    DeviceState back;
    ASSERT_TRUE(device_.GetState(back));
    EXPECT_TRUE(back.Flags & dcb::fOutX);
    EXPECT_TRUE(back.Flags & dcb::fInX);
    EXPECT_EQ(back.XonChar, 0x11);
    EXPECT_EQ(back.XoffChar, 0x13);

    state.Flags &= ~(dcb::fOutX | dcb::fInX);
    ASSERT_TRUE(device_.SetState(state));
    ASSERT_TRUE(device_.GetState(back));
    EXPECT_FALSE(back.Flags & dcb::fOutX);
    EXPECT_FALSE(back.Flags & dcb::fInX);
}

TEST_F(Win32CommDeviceTest, StatusCountsWaitingBytes) {
    OpenEcho();
    const auto bytes = Pattern(10, 7);
    uint32_t written = 0;
    ASSERT_EQ(device_.Write(bytes.data(), 10, written, abort_), IoResult::Done);
    CommStatus status;
    ASSERT_TRUE(WaitFor([&] {
        device_.ClearError(status);
        return status.InQue == 10;
    }));
    EXPECT_TRUE(device_.Purge(purge::RxAbort | purge::RxClear));
    device_.ClearError(status);
    EXPECT_EQ(status.InQue, 0u);
}

// A write blocked on the full sink and ended by Close fails and says why, every time: the
// close's lock, taken as the write leaves, must not wipe the write's error.
TEST_F(Win32CommDeviceTest, WriteEndedByCloseSaysWhy) {
    if (sink_ == 0)
        GTEST_SKIP() << SkipText("ORVI_WINE_SINK_PORT");
    const auto block = Pattern(64 * 1024, 3);
    int silent = 0;
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(device_.Open(ComDeviceName(sink_)), syserr::Success);
        std::atomic<bool> started{false};
        IoResult result = IoResult::Done;
        uint32_t error = 0;
        std::thread writer([&] {
            started = true;
            uint32_t written = 0;
            result = device_.Write(block.data(), uint32_t(block.size()), written, abort_);
            error = LastError();
        });
        WaitFor([&] { return started.load(); });
        device_.Close();
        writer.join();
        EXPECT_EQ(result, IoResult::Failed);
        silent += error == syserr::Success ? 1 : 0;
    }
    EXPECT_EQ(silent, 0) << "writes ended by Close that reported no error";
}

// The event wait either reports an event or fails; it never hangs, and a failed wait
// says why.
TEST_F(Win32CommDeviceTest, EventWaitReportsTheByteOrFailsWithAReason) {
    OpenEcho();
    ASSERT_TRUE(device_.SetEventMask(ev::RxChar | ev::Cts | ev::Dsr | ev::Rlsd | ev::Break |
                                     ev::Err | ev::Ring));
    const uint8_t byte = 0x55;
    uint32_t written = 0;
    ASSERT_EQ(device_.Write(&byte, 1, written, abort_), IoResult::Done);
    uint32_t word = 0;
    const bool ok = device_.WaitEvent(word);
    const uint32_t error = LastError();
    std::cout << "event wait: " << (ok ? "event " : "failed, error ") << (ok ? word : error)
              << std::endl;
    if (ok)
        EXPECT_NE(word & ev::RxChar, 0u);
    else
        EXPECT_NE(error, syserr::Success);
    EXPECT_EQ(device_.WaitPasses(), 1u);
}

TEST_F(Win32CommDeviceTest, MaskOfZeroEndsAWaitOnAnotherThread) {
    OpenEcho();
    ASSERT_TRUE(device_.SetEventMask(ev::RxChar));
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        uint32_t word = 0;
        device_.WaitEvent(word);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    device_.SetEventMask(0);
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }));
    waiter.join();
}

} // namespace
} // namespace orvi::testing
