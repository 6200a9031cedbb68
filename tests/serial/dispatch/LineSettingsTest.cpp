// Line settings, flow control, DTR/RTS and line status of the dispatcher, over a real
// pseudo-terminal where the device matters and on the state alone where it does not.
#include "serial/ErrorCodes.h"
#include "tests/serial/dispatch/DispatcherProbe.h"
#include "tests/support/WaitFor.h"
#include "tools/pty/PtyPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <termios.h>

namespace orvi::testing {
namespace {

using platform::DeviceState;
namespace dcb = platform::dcb;

class LineSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(probe.OpenPort(pty.DeviceName(), 19200, 0, 8, 1, 4096, 4096,
                                 openopt::DtrOn | openopt::RtsOn),
                  ecOK);
    }

    // termios calls on the master act on the slave: this is what the device got.
    speed_t DeviceSpeed() const {
        termios t{};
        EXPECT_EQ(tcgetattr(pty.MasterFd(), &t), 0);
        return cfgetospeed(&t);
    }

    PtyPort pty{5};
    DispatcherProbe probe;
};

TEST_F(LineSettingsTest, OpenAppliesTheRequestedSettings) {
    int32_t baud, parity, dataBits, stopBits;
    probe.GetLineSettings(baud, parity, dataBits, stopBits);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(parity, 0);
    EXPECT_EQ(dataBits, 8);
    EXPECT_EQ(stopBits, 1);
    EXPECT_EQ(probe.CurrentBaud(), 19200);
    EXPECT_EQ(DeviceSpeed(), speed_t(B19200));
}

TEST_F(LineSettingsTest, RateChangesReachTheDevice) {
    ASSERT_EQ(probe.SetLineSettings(921600, 5, 9, 3), ecOK);
    EXPECT_EQ(DeviceSpeed(), speed_t(B921600));
    EXPECT_EQ(probe.CurrentBaud(), 921600);
    ASSERT_EQ(probe.SetLineSettings(4800, 5, 9, 3), ecOK);
    EXPECT_EQ(DeviceSpeed(), speed_t(B4800));
}

TEST_F(LineSettingsTest, KeepValuesChangeNothing) {
    const DeviceState before = probe.GetDeviceState();
    ASSERT_EQ(probe.SetLineSettings(0, 5, 9, 3), ecOK);
    const DeviceState after = probe.GetDeviceState();
    EXPECT_EQ(after.BaudRate, before.BaudRate);
    EXPECT_EQ(after.Parity, before.Parity);
    EXPECT_EQ(after.ByteSize, before.ByteSize);
    EXPECT_EQ(after.StopBits, before.StopBits);
}

TEST_F(LineSettingsTest, DtrAndRtsFollowFlowControl) {
    EXPECT_EQ(probe.SetDtr(1), ecOK);
    EXPECT_EQ(probe.SetHardwareFlow(3686, 409, 1 | 2), ecOK);
    const DeviceState state = probe.GetDeviceState();
    EXPECT_EQ(dcb::DtrControl(state.Flags), dcb::ControlHandshake);
    EXPECT_EQ(dcb::RtsControl(state.Flags), dcb::ControlHandshake);
    EXPECT_EQ(state.XoffLim, 4096 - 3686);
    EXPECT_EQ(state.XonLim, 409);
    EXPECT_EQ(probe.SetDtr(0), 1); // under flow control: nothing done
    EXPECT_EQ(probe.SetRts(0), 1);

    uint32_t hw, sw;
    uint8_t xon, xoff;
    probe.GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(hw, 3u);
    EXPECT_EQ(sw, 0u);

    // Flow control off again: the lines return to what was asked before.
    EXPECT_EQ(probe.SetHardwareFlow(3686, 409, 0), ecOK);
    const DeviceState released = probe.GetDeviceState();
    EXPECT_EQ(dcb::DtrControl(released.Flags), dcb::ControlEnable);
    EXPECT_EQ(probe.SetDtr(0), ecOK);
    EXPECT_EQ(dcb::DtrControl(probe.GetDeviceState().Flags), dcb::ControlEnable)
        << "the block is rewritten only by the next state write";
    EXPECT_EQ(probe.SetFlowChars(17, 19), ecOK);
    EXPECT_EQ(dcb::DtrControl(probe.GetDeviceState().Flags), dcb::ControlDisable);
}

TEST_F(LineSettingsTest, FlowThresholdsOutOfRangeAreRejectedAndWriteNothing) {
    const DeviceState before = probe.GetDeviceState();
    EXPECT_EQ(probe.SetHardwareFlow(100, 200, 1), ecBadArgument);
    EXPECT_EQ(probe.SetHardwareFlow(5000, 10, 1), ecBadArgument);
    EXPECT_EQ(probe.SetSoftwareFlow(100, 200, 3), ecBadArgument);
    EXPECT_EQ(probe.GetDeviceState(), before);
}

TEST_F(LineSettingsTest, SoftwareFlowForcesTheStandardCharactersUntilReplaced) {
    ASSERT_EQ(probe.SetFlowChars(0x11 + 1, 0x13 + 1), ecOK);
    ASSERT_EQ(probe.SetSoftwareFlow(3072, 1024, 3), ecOK);
    uint32_t hw, sw;
    uint8_t xon, xoff;
    probe.GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(sw, 3u);
    EXPECT_EQ(xon, 17);
    EXPECT_EQ(xoff, 19);
    ASSERT_EQ(probe.SetFlowChars(0x41, 0x42), ecOK);
    probe.GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(xon, 0x41);
    EXPECT_EQ(xoff, 0x42);
    ASSERT_EQ(probe.ClearSoftwareFlow(), ecOK);
    probe.GetFlowSettings(hw, sw, xon, xoff);
    EXPECT_EQ(sw, 0u);
}

TEST_F(LineSettingsTest, Rs485ModeMakesRtsToggleWhateverTheOptions) {
    probe.SetRS485(true);
    ASSERT_EQ(probe.SetHardwareFlow(3686, 409, 0), ecOK);
    EXPECT_EQ(dcb::RtsControl(probe.GetDeviceState().Flags), dcb::ControlToggle);
    EXPECT_EQ(probe.SetRts(1), 1);
}

TEST_F(LineSettingsTest, RingBetweenTwoReadsShowsAsTrailingEdgeBit) {
    probe.SetRingSeen();
    EXPECT_EQ(probe.ReadModemStatus(0xF0) & 0x04, 0x04u);
    EXPECT_EQ(probe.ReadModemStatus(0xF0) & 0x04, 0u);
}

// A modem event is served by the pass it reaches; the passes after it (the worker's
// timed ones, or one woken by input) do not read the modem lines again for it.
TEST(LineStatusTest, AModemEventIsServedOnce) {
    DispatcherProbe probe;
    probe.SetEventWord(platform::ev::Cts);
    probe.ProcessComEvent();
    EXPECT_EQ(probe.ModemStatusReads.load(), 1);
    probe.ProcessComEvent();
    probe.ProcessComEvent();
    EXPECT_EQ(probe.ModemStatusReads.load(), 1);
}

TEST(LineStatusTest, LineErrorsAreReportedInOrderAndBreakSeparately) {
    DispatcherProbe probe;
    probe.SetLineErrors(platform::ce::RxParity | platform::ce::Break | platform::ce::Frame);
    EXPECT_EQ(probe.TakeLineError(), 3);
    EXPECT_EQ(probe.LineErrors(), platform::ce::Break);
    EXPECT_EQ(probe.TakeLineError(), 9);
    EXPECT_EQ(probe.LineErrors(), platform::ce::Break) << "only the break report clears it";
    EXPECT_TRUE(probe.TakeLineBreak());
    EXPECT_FALSE(probe.TakeLineBreak());
    EXPECT_EQ(probe.TakeLineError(), 0);

    const struct {
        uint32_t bits;
        int32_t code;
    } order[] = {{0x1F, 1}, {0x1E, 2}, {0x1C, 3}, {0x18, 4}, {0x10, 9}, {0, 0}};
    for (const auto& c : order) {
        probe.SetLineErrors(c.bits);
        EXPECT_EQ(probe.TakeLineError(), c.code) << "bits " << c.bits;
    }
}

// The status refresh adds error bits while another thread takes them. RxOver comes
// first in the order, so whichever call clears it reports it, unless the bit arrived
// between that call's read and its clear: then it would be cleared unseen.
TEST(LineStatusTest, AnErrorAddedDuringATakeIsReportedNotClearedUnseen) {
    DispatcherProbe probe;
    std::atomic<int> reported{0};
    std::atomic<bool> stop{false};
    std::thread taker([&] {
        while (!stop)
            if (probe.TakeLineError() == 1)
                ++reported;
    });
    int lost = -1;
    for (int round = 0; round < 1000 && lost < 0; ++round) {
        probe.AddLineErrors(platform::ce::Frame); // a take may be reading this one
        std::this_thread::yield();
        probe.AddLineErrors(platform::ce::RxOver);
        if (!WaitFor([&] { return reported > round; }))
            lost = round;
    }
    stop = true;
    taker.join();
    EXPECT_EQ(lost, -1) << "the RxOver of round " << lost << " was cleared without a report";
}

TEST(LineStatusTest, StopBitCodes) {
    using P = DispatcherProbe;
    EXPECT_EQ(P::StopBitCode(0, 8, 1), 0);
    EXPECT_EQ(P::StopBitCode(0, 8, 2), 2);
    EXPECT_EQ(P::StopBitCode(2, 8, 3), 2) << "3 keeps the current code";
    EXPECT_EQ(P::StopBitCode(0, 8, 0), 0) << "0 means one stop bit";
    EXPECT_EQ(P::StopBitCode(0, 8, 7), 2) << "more than two means two";
    EXPECT_EQ(P::StopBitCode(0, 5, 1), 1) << "5 data bits always give 1.5";
    EXPECT_EQ(P::StopBitCode(2, 5, 3), 1);
    EXPECT_EQ(P::StopBitCode(0, 5, 2), 1);
}

TEST(LineStatusTest, SettleTimeIsEighteenCharacterTimesAtTheOldRate) {
    DeviceState s;
    s.ByteSize = 8;
    s.Parity = 0;
    s.StopBits = 0;
    // 10,000,000 div 19200 = 520; x 10 bits x 18 = 93,600 units of 100 ns -> 10 ms.
    EXPECT_EQ(TOrvBaseDispatcher::SettleTimeMs(19200, s), 10u);
    // 921600: 10 x 10 x 18 = 1,800 units, doubled below 10,000 -> 3,600 -> 1 ms.
    EXPECT_EQ(TOrvBaseDispatcher::SettleTimeMs(921600, s), 1u);
    s.Parity = 2;
    s.StopBits = 2;
    // 9600: 1041 x 12 x 18 = 224,856 -> 23 ms (rounded up).
    EXPECT_EQ(TOrvBaseDispatcher::SettleTimeMs(9600, s), 23u);
    // A stored baud code: 0xFF18 is 19200.
    s.Parity = 0;
    s.StopBits = 0;
    EXPECT_EQ(TOrvBaseDispatcher::SettleTimeMs(0xFF18, s), 10u);
}

TEST(LineStatusTest, BaudCodes) {
    EXPECT_EQ(TOrvBaseDispatcher::BaudFromCode(0xFEFF), 115200u);
    EXPECT_EQ(TOrvBaseDispatcher::BaudFromCode(0xFF10), 110u);
    EXPECT_EQ(TOrvBaseDispatcher::BaudFromCode(0xFF1B), 38400u);
    EXPECT_EQ(TOrvBaseDispatcher::BaudFromCode(0xFF27), 256000u);
    EXPECT_EQ(TOrvBaseDispatcher::BaudFromCode(0xFF19), 0xFF19u) << "no table entry";
    EXPECT_EQ(TOrvBaseDispatcher::BaudFromCode(57600), 57600u);
}

} // namespace
} // namespace orvi::testing
