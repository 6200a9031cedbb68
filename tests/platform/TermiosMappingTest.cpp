#include "platform/TermiosMapping.h"

#include <cstring>
#include <gtest/gtest.h>

namespace orvi::platform {
namespace {

termios RawStart() {
    termios t{};
    MakeRaw(t);
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag |= CS8;
    return t;
}

DeviceState StateWith(uint32_t baud, uint8_t bits, uint8_t parity, uint8_t stop,
                      uint32_t flags = dcb::fBinary) {
    DeviceState s;
    s.BaudRate = baud;
    s.ByteSize = bits;
    s.Parity = parity;
    s.StopBits = stop;
    s.Flags = flags;
    return s;
}

// Maps to termios and back, with the rate as the driver would report it and the
// state kept beside the line as the device keeps it.
DeviceState RoundTrip(const DeviceState& s, termios& t) {
    uint32_t anyRate = 0;
    EXPECT_TRUE(DeviceStateToTermios(s, t, anyRate));
    const uint32_t reported = anyRate != 0 ? anyRate : RateOfSpeed(cfgetospeed(&t));
    return TermiosToDeviceState(t, reported, s);
}

struct RateCase {
    uint32_t rate;
    speed_t speed; // B0: no constant, set through termios2
};

TEST(TermiosMapping, RatesUseTheirConstantOrTermios2) {
    const RateCase cases[] = {
        {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}, {250000, B0},
        {14400, B0},       {56000, B0},       {128000, B0},      {1, B0},
    };
    for (const RateCase& c : cases) {
        SCOPED_TRACE(c.rate);
        termios t = RawStart();
        uint32_t anyRate = 12345;
        ASSERT_TRUE(DeviceStateToTermios(StateWith(c.rate, 8, 0, 0), t, anyRate));
        if (c.speed == B0) {
            EXPECT_EQ(anyRate, c.rate);
            EXPECT_EQ(cfgetospeed(&t), speed_t(B9600)) << "speed must stay until termios2 sets it";
        } else {
            EXPECT_EQ(anyRate, 0u);
            EXPECT_EQ(cfgetospeed(&t), c.speed);
            EXPECT_EQ(cfgetispeed(&t), c.speed);
            EXPECT_EQ(RateOfSpeed(c.speed), c.rate);
        }
        EXPECT_EQ(RoundTrip(StateWith(c.rate, 8, 0, 0), t).BaudRate, c.rate);
    }
}

struct FrameCase {
    uint8_t bits;
    uint8_t parity;
    uint8_t stop;
    tcflag_t cflagSet;   // bits that must be set
    tcflag_t cflagClear; // bits that must be clear
};

TEST(TermiosMapping, FramingBits) {
    const FrameCase cases[] = {
        {8, 0, 0, CS8, PARENB | CSTOPB | CMSPAR},
        {7, 1, 0, CS7 | PARENB | PARODD, CMSPAR | CSTOPB},
        {7, 2, 0, CS7 | PARENB, PARODD | CMSPAR | CSTOPB},
        {8, 3, 0, CS8 | PARENB | PARODD | CMSPAR, CSTOPB},
        {8, 4, 0, CS8 | PARENB | CMSPAR, PARODD | CSTOPB},
        {6, 0, 2, CS6 | CSTOPB, PARENB},
        {8, 2, 2, CS8 | PARENB | CSTOPB, PARODD},
        {5, 0, 1, CS5 | CSTOPB, PARENB},
        {5, 0, 0, CS5, CSTOPB},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << int(c.bits) << "/" << int(c.parity) << "/" << int(c.stop));
        termios t = RawStart();
        const DeviceState s = StateWith(19200, c.bits, c.parity, c.stop);
        const DeviceState back = RoundTrip(s, t);
        EXPECT_EQ(t.c_cflag & CSIZE, c.cflagSet & CSIZE);
        EXPECT_EQ(t.c_cflag & (c.cflagSet & ~CSIZE), c.cflagSet & ~CSIZE);
        EXPECT_EQ(t.c_cflag & c.cflagClear, 0u);
        EXPECT_EQ(back.ByteSize, c.bits);
        EXPECT_EQ(back.Parity, c.parity);
        EXPECT_EQ(back.StopBits, c.stop);
    }
}

TEST(TermiosMapping, ParityCheckingFollowsFParity) {
    termios t = RawStart();
    DeviceState s = StateWith(9600, 8, 2, 0, dcb::fBinary | dcb::fParity);
    EXPECT_TRUE(RoundTrip(s, t).Flags & dcb::fParity);
    EXPECT_NE(t.c_iflag & INPCK, 0u);
    s.Flags = dcb::fBinary;
    EXPECT_FALSE(RoundTrip(s, t).Flags & dcb::fParity);
    EXPECT_EQ(t.c_iflag & INPCK, 0u);
}

TEST(TermiosMapping, CtsRtsHandshake) {
    struct Case {
        uint32_t flags;
        bool crtscts;
    };
    const Case cases[] = {
        {dcb::fOutxCtsFlow, true},
        {dcb::WithRtsControl(0, dcb::ControlHandshake), true},
        {dcb::WithRtsControl(dcb::fOutxCtsFlow, dcb::ControlHandshake), true},
        {dcb::WithRtsControl(0, dcb::ControlEnable), false},
        {dcb::WithRtsControl(0, dcb::ControlToggle), false},
        {dcb::fOutxDsrFlow, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        termios t = RawStart();
        t.c_cflag |= CRTSCTS; // a left-over must go when the state has no handshake
        const DeviceState s = StateWith(9600, 8, 0, 0, dcb::fBinary | c.flags);
        const DeviceState back = RoundTrip(s, t);
        EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.crtscts);
        EXPECT_EQ(back.Flags, s.Flags) << "kept and read-back flags must agree";
    }
}

TEST(TermiosMapping, HandshakeFoundOnTheLineIsReported) {
    termios t = RawStart();
    t.c_cflag |= CRTSCTS;
    const DeviceState kept = StateWith(9600, 8, 0, 0, dcb::WithRtsControl(0, dcb::ControlEnable));
    const DeviceState s = TermiosToDeviceState(t, 9600, kept);
    EXPECT_NE(s.Flags & dcb::fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb::RtsControl(s.Flags), dcb::ControlHandshake);

    t.c_cflag &= ~CRTSCTS;
    const DeviceState kept2 =
        StateWith(9600, 8, 0, 0, dcb::WithRtsControl(dcb::fOutxCtsFlow, dcb::ControlHandshake));
    const DeviceState s2 = TermiosToDeviceState(t, 9600, kept2);
    EXPECT_EQ(s2.Flags & dcb::fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb::RtsControl(s2.Flags), dcb::ControlEnable);
}

TEST(TermiosMapping, XonXoffWithCharacters) {
    struct Case {
        uint32_t flags;
        tcflag_t iflag;
    };
    const Case cases[] = {
        {dcb::fOutX, IXON},
        {dcb::fInX, IXOFF},
        {dcb::fOutX | dcb::fInX, IXON | IXOFF},
        {0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        termios t = RawStart();
        t.c_iflag |= IXANY;
        DeviceState s = StateWith(9600, 8, 0, 0, dcb::fBinary | c.flags);
        s.XonChar = 0x11 + 0x20;
        s.XoffChar = 0x13 + 0x20;
        const DeviceState back = RoundTrip(s, t);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), c.iflag);
        EXPECT_EQ(t.c_iflag & IXANY, 0u);
        EXPECT_EQ(t.c_cc[VSTART], 0x31);
        EXPECT_EQ(t.c_cc[VSTOP], 0x33);
        EXPECT_EQ(back.XonChar, 0x31);
        EXPECT_EQ(back.XoffChar, 0x33);
        EXPECT_EQ(back.Flags, s.Flags);
    }
}

TEST(TermiosMapping, FieldsWithoutTermiosAreKept) {
    DeviceState s = StateWith(115200, 8, 0, 0);
    s.Flags = dcb::fBinary | dcb::fOutxDsrFlow | dcb::fDsrSensitivity | dcb::fTXContinueOnXoff |
              dcb::fNull | dcb::fErrorChar | dcb::fAbortOnError;
    s.Flags = dcb::WithDtrControl(s.Flags, dcb::ControlHandshake);
    s.Flags = dcb::WithRtsControl(s.Flags, dcb::ControlToggle);
    s.XonLim = 2048;
    s.XoffLim = 512;
    s.ErrorChar = '?';
    s.EofChar = 0x1A;
    s.EvtChar = '\n';
    termios t = RawStart();
    uint32_t anyRate = 0;
    ASSERT_TRUE(DeviceStateToTermios(s, t, anyRate));
    EXPECT_EQ(TermiosToDeviceState(t, 115200, s), s);
}

TEST(TermiosMapping, RtsToggleIsTheDriversRs485ModeAndLeavingItTurnsItOff) {
    struct Case {
        uint32_t rts;
        bool enabled; // this device turned RS-485 on before
        bool ask;
        bool on;
    };
    const Case cases[] = {
        {dcb::ControlToggle, false, true, true},      {dcb::ControlToggle, true, true, true},
        {dcb::ControlEnable, true, true, false},      {dcb::ControlDisable, true, true, false},
        {dcb::ControlHandshake, true, true, false},   {dcb::ControlEnable, false, false, false},
        {dcb::ControlHandshake, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "rts " << c.rts << " enabled " << c.enabled);
        serial_rs485 mode{};
        mode.flags = SER_RS485_RTS_AFTER_SEND; // whatever the caller left there goes
        EXPECT_EQ(Rs485ModeFor(dcb::WithRtsControl(dcb::fBinary, c.rts), c.enabled, mode), c.ask);
        if (!c.ask)
            continue;
        // RTS high while the bytes go out and low after them, as the Windows toggle.
        const uint32_t expected = c.on ? SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND : 0u;
        EXPECT_EQ(mode.flags, expected);
        EXPECT_EQ(mode.delay_rts_before_send + mode.delay_rts_after_send, 0u);
    }
}

TEST(TermiosMapping, InvalidStatesAreRefusedAndLeaveTermiosAlone) {
    DeviceState xonEqualsXoff = StateWith(9600, 8, 0, 0, dcb::fOutX);
    xonEqualsXoff.XoffChar = xonEqualsXoff.XonChar;
    const DeviceState cases[] = {
        StateWith(0, 8, 0, 0),    StateWith(9600, 4, 0, 0),
        StateWith(9600, 9, 0, 0), StateWith(9600, 8, 5, 0),
        StateWith(9600, 8, 0, 3), StateWith(9600, 8, 0, 1),
        StateWith(9600, 5, 0, 2), xonEqualsXoff,
    };
    for (const DeviceState& s : cases) {
        SCOPED_TRACE(::testing::Message()
                     << s.BaudRate << " " << int(s.ByteSize) << int(s.Parity) << int(s.StopBits));
        termios t = RawStart();
        const termios before = t;
        uint32_t anyRate = 0;
        EXPECT_FALSE(DeviceStateToTermios(s, t, anyRate));
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0);
    }
    // Equal characters do no harm while XON/XOFF is off.
    DeviceState unused = StateWith(9600, 8, 0, 0);
    unused.XoffChar = unused.XonChar;
    EXPECT_TRUE(IsValidDeviceState(unused));
}

TEST(TermiosMapping, RateFromSpeedWhenDriverGivesNone) {
    termios t = RawStart();
    cfsetospeed(&t, B57600);
    EXPECT_EQ(TermiosToDeviceState(t, 0, DeviceState{}).BaudRate, 57600u);
    // A speed that is no constant (termios2) and no report: the kept rate stands.
    DeviceState kept;
    kept.BaudRate = 250000;
    t.c_cflag = (t.c_cflag & ~tcflag_t(CBAUD)) | CBAUDEX; // the kernel's BOTHER
    EXPECT_EQ(TermiosToDeviceState(t, 0, kept).BaudRate, 250000u);
}

TEST(TermiosMapping, RawModeClearsLineProcessing) {
    termios t{};
    t.c_iflag = ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | IXON | IXOFF | IXANY | INPCK | PARMRK;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    t.c_cflag = HUPCL | CS8;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    MakeRaw(t);
    EXPECT_EQ(t.c_iflag, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cflag & HUPCL, 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

} // namespace
} // namespace orvi::platform
