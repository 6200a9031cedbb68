#include "platform/TermiosMapping.h"

namespace orvi::platform {

namespace {

struct RateSpeed {
    uint32_t rate;
    speed_t speed;
};

constexpr RateSpeed kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

constexpr uint8_t kParityNone = 0;
constexpr uint8_t kParityOdd = 1;
constexpr uint8_t kParityEven = 2;
constexpr uint8_t kParityMark = 3;
constexpr uint8_t kParitySpace = 4;
constexpr uint8_t kStopOne = 0;
constexpr uint8_t kStopOneAndHalf = 1;
constexpr uint8_t kStopTwo = 2;

bool XonXoffUsed(uint32_t flags) {
    return (flags & (dcb::fOutX | dcb::fInX)) != 0;
}

bool CtsRtsUsed(uint32_t flags) {
    return (flags & dcb::fOutxCtsFlow) != 0 || dcb::RtsControl(flags) == dcb::ControlHandshake;
}

tcflag_t SizeBits(uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

uint8_t ByteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

tcflag_t ParityBits(uint8_t parity) {
    switch (parity) {
    case kParityOdd:
        return PARENB | PARODD;
    case kParityEven:
        return PARENB;
    case kParityMark:
        return PARENB | PARODD | CMSPAR;
    case kParitySpace:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

uint8_t ParityOf(tcflag_t cflag) {
    if ((cflag & PARENB) == 0)
        return kParityNone;
    if ((cflag & CMSPAR) != 0)
        return (cflag & PARODD) != 0 ? kParityMark : kParitySpace;
    return (cflag & PARODD) != 0 ? kParityOdd : kParityEven;
}

void SetBit(tcflag_t& field, tcflag_t bit, bool on) {
    field = on ? (field | bit) : (field & ~bit);
}

void SetFlag(uint32_t& flags, uint32_t bit, bool on) {
    flags = on ? (flags | bit) : (flags & ~bit);
}

// CRTSCTS stands for both CTS output flow and RTS handshake. When the line has it and
// the kept state names neither, both are taken; when the line lacks it, neither is.
uint32_t HandshakeFlagsOf(tcflag_t cflag, uint32_t kept) {
    if ((cflag & CRTSCTS) != 0) {
        if (CtsRtsUsed(kept))
            return kept;
        return dcb::WithRtsControl(kept | dcb::fOutxCtsFlow, dcb::ControlHandshake);
    }
    uint32_t flags = kept & ~dcb::fOutxCtsFlow;
    if (dcb::RtsControl(flags) == dcb::ControlHandshake)
        flags = dcb::WithRtsControl(flags, dcb::ControlEnable);
    return flags;
}

} // namespace

speed_t SpeedOfRate(uint32_t rate) {
    for (const RateSpeed& r : kSpeeds) {
        if (r.rate == rate)
            return r.speed;
    }
    return B0;
}

uint32_t RateOfSpeed(speed_t speed) {
    for (const RateSpeed& r : kSpeeds) {
        if (r.speed == speed)
            return r.rate;
    }
    return 0;
}

bool IsValidDeviceState(const DeviceState& s) {
    if (s.BaudRate == 0 || s.ByteSize < 5 || s.ByteSize > 8 || s.Parity > kParitySpace ||
        s.StopBits > kStopTwo)
        return false;
    if (s.StopBits == kStopOneAndHalf && s.ByteSize != 5)
        return false;
    if (s.StopBits == kStopTwo && s.ByteSize == 5)
        return false;
    return !(XonXoffUsed(s.Flags) && s.XonChar == s.XoffChar);
}

void MakeRaw(termios& t) {
    t.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                           IXOFF | IXANY | INPCK);
    t.c_oflag &= ~tcflag_t(OPOST);
    t.c_lflag &= ~tcflag_t(ECHO | ECHOE | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~tcflag_t(HUPCL);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
}

bool DeviceStateToTermios(const DeviceState& s, termios& t, uint32_t& anyRate) {
    if (!IsValidDeviceState(s))
        return false;
    const speed_t speed = SpeedOfRate(s.BaudRate);
    anyRate = speed == B0 ? s.BaudRate : 0;
    if (speed != B0) {
        cfsetispeed(&t, speed);
        cfsetospeed(&t, speed);
    }
    t.c_cflag = (t.c_cflag & ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)) |
                SizeBits(s.ByteSize) | ParityBits(s.Parity);
    // On a UART, CSTOPB with 5 data bits sends 1.5 stop bits.
    SetBit(t.c_cflag, CSTOPB, s.StopBits != kStopOne);
    SetBit(t.c_cflag, CRTSCTS, CtsRtsUsed(s.Flags));
    SetBit(t.c_iflag, INPCK, (s.Flags & dcb::fParity) != 0);
    SetBit(t.c_iflag, IXON, (s.Flags & dcb::fOutX) != 0);
    SetBit(t.c_iflag, IXOFF, (s.Flags & dcb::fInX) != 0);
    t.c_iflag &= ~tcflag_t(IXANY);
    t.c_cc[VSTART] = cc_t(s.XonChar);
    t.c_cc[VSTOP] = cc_t(s.XoffChar);
    return true;
}

DeviceState TermiosToDeviceState(const termios& t, uint32_t actualRate, const DeviceState& kept) {
    DeviceState s = kept;
    const uint32_t rate = actualRate != 0 ? actualRate : RateOfSpeed(cfgetospeed(&t));
    if (rate != 0)
        s.BaudRate = rate;
    s.ByteSize = ByteSizeOf(t.c_cflag);
    s.Parity = ParityOf(t.c_cflag);
    if ((t.c_cflag & CSTOPB) == 0)
        s.StopBits = kStopOne;
    else
        s.StopBits = s.ByteSize == 5 ? kStopOneAndHalf : kStopTwo;
    s.Flags = HandshakeFlagsOf(t.c_cflag, s.Flags);
    SetFlag(s.Flags, dcb::fParity, (t.c_iflag & INPCK) != 0);
    SetFlag(s.Flags, dcb::fOutX, (t.c_iflag & IXON) != 0);
    SetFlag(s.Flags, dcb::fInX, (t.c_iflag & IXOFF) != 0);
    s.XonChar = uint8_t(t.c_cc[VSTART]);
    s.XoffChar = uint8_t(t.c_cc[VSTOP]);
    return s;
}

bool Rs485ModeFor(uint32_t flags, bool enabled, serial_rs485& mode) {
    const bool toggle = dcb::RtsControl(flags) == dcb::ControlToggle;
    mode = serial_rs485{};
    if (toggle)
        mode.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    return toggle || enabled;
}

} // namespace orvi::platform
