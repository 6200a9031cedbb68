// Line settings, flow control, DTR/RTS and line status of the dispatcher. Every
// setting lives in DeviceState (the device control block); every change reads the
// block from the device, changes fields and writes it back through WriteDeviceState,
// which also keeps DTR and RTS as asked unless flow control drives them.
#include "serial/dispatch/BaseDispatcher.h"

#include "platform/Clock.h"
#include "platform/SystemError.h"
#include "serial/ErrorCodes.h"

#include <algorithm>

namespace orvi {

using namespace platform;

namespace {
constexpr uint32_t kKeepBaud = 0;
constexpr int32_t kKeepParity = 5;
constexpr int32_t kKeepDataBits = 9;
constexpr int32_t kKeepStopBits = 3;

struct BaudCode {
    uint32_t code;
    uint32_t rate;
};
constexpr BaudCode kBaudCodes[] = {
    {0xFF10, 110},   {0xFF11, 300},    {0xFF12, 600},    {0xFF13, 1200},  {0xFF14, 2400},
    {0xFF15, 4800},  {0xFF16, 9600},   {0xFF17, 14400},  {0xFF18, 19200}, {0xFF1B, 38400},
    {0xFF1F, 56000}, {0xFF23, 128000}, {0xFF27, 256000},
};

bool InQueueBoundsOk(uint32_t full, uint32_t resume, uint32_t inQueueSize) {
    return full >= resume && full <= inQueueSize;
}
} // namespace

uint32_t TOrvBaseDispatcher::BaudFromCode(uint32_t code) {
    if (code == 0xFEFF)
        return 115200;
    for (const auto& entry : kBaudCodes)
        if (entry.code == code)
            return entry.rate;
    return code;
}

int32_t TOrvBaseDispatcher::SetQueueSizes(uint32_t inSize, uint32_t outSize) {
    return DeviceSetupQueues(inSize, outSize) ? ecOK : -int32_t(platform::LastError());
}

int32_t TOrvBaseDispatcher::SetLineSettings(int32_t baud, int32_t parity, int32_t dataBits,
                                            int32_t stopBits) {
    DeviceState wanted, current;
    {
        std::lock_guard lock(MainLock);
        DeviceGetState(DeviceState_);
        DeviceState_.Flags |= dcb::fBinary | dcb::fTXContinueOnXoff;
        DeviceState_.Flags &= ~(dcb::fParity | dcb::fDsrSensitivity | dcb::fNull);
        wanted = DeviceState_;
        if (uint32_t(baud) != kKeepBaud)
            wanted.BaudRate = uint32_t(baud);
        if (parity != kKeepParity)
            wanted.Parity = uint8_t(parity);
        if (dataBits != kKeepDataBits)
            wanted.ByteSize = uint8_t(dataBits);
        wanted.StopBits = StopBitCode(DeviceState_.StopBits, wanted.ByteSize, stopBits);
        current = DeviceState_;
    }
    if (wanted.BaudRate == current.BaudRate && wanted.Parity == current.Parity &&
        wanted.ByteSize == current.ByteSize && wanted.StopBits == current.StopBits)
        return ecOK;

    DrainAndSettle();

    std::lock_guard lock(MainLock);
    DeviceGetState(DeviceState_);
    DeviceState_.BaudRate = wanted.BaudRate;
    DeviceState_.Parity = wanted.Parity;
    DeviceState_.ByteSize = wanted.ByteSize;
    DeviceState_.StopBits = wanted.StopBits;
    return WriteDeviceState(DeviceState_);
}

uint8_t TOrvBaseDispatcher::StopBitCode(uint8_t current, uint8_t byteSize, int32_t stopBits) {
    constexpr uint8_t kOne = 0, kOneAndHalf = 1, kTwo = 2;
    uint8_t code = current;
    if (stopBits != kKeepStopBits)
        code = stopBits <= 1 ? kOne : kTwo;
    if (byteSize == 5)
        code = kOneAndHalf;
    return code;
}

uint32_t TOrvBaseDispatcher::SettleTimeMs(uint32_t baudRate, const DeviceState& state) {
    uint32_t bits = uint32_t(state.ByteSize) + 2;
    if (state.Parity != 0)
        ++bits;
    if (state.StopBits != 0)
        ++bits;
    const uint32_t rate = BaudFromCode(baudRate);
    uint64_t t = rate ? uint64_t(10000000u / rate) * bits * 18 : 0; // 100 ns units
    if (t < 10000)
        t *= 2;
    return uint32_t(t / 10000 + (t % 10000 ? 1 : 0));
}

void TOrvBaseDispatcher::DrainAndSettle() {
    for (int i = 0; i < 5000 && OutputUsed() != 0; ++i)
        SleepMs(2);
    DeviceState state;
    uint32_t baud;
    {
        std::lock_guard lock(MainLock);
        DeviceGetState(state);
        baud = uint32_t(CurrentBaud_);
    }
    SleepMs(SettleTimeMs(baud, state));
}

int32_t TOrvBaseDispatcher::WriteDeviceState(DeviceState& state) {
    std::lock_guard lock(MainLock);
    if (!DtrByFlow)
        state.Flags =
            dcb::WithDtrControl(state.Flags, DtrOn ? dcb::ControlEnable : dcb::ControlDisable);
    if (!RtsByFlow)
        state.Flags =
            dcb::WithRtsControl(state.Flags, RtsOn ? dcb::ControlEnable : dcb::ControlDisable);
    const int32_t result = DeviceSetState(state);
    CurrentBaud_ = int32_t(state.BaudRate);
    SetDtr(DtrOn ? 1 : 0);
    if (!RS485On)
        SetRts(RtsOn ? 1 : 0);
    return result;
}

void TOrvBaseDispatcher::GetLineSettings(int32_t& baud, int32_t& parity, int32_t& dataBits,
                                         int32_t& stopBits) {
    std::lock_guard lock(MainLock);
    baud = int32_t(BaudFromCode(DeviceState_.BaudRate));
    parity = DeviceState_.Parity;
    dataBits = DeviceState_.ByteSize;
    stopBits = DeviceState_.StopBits == 0 ? 1 : 2;
}

int32_t TOrvBaseDispatcher::SetDtr(int32_t on) {
    if (DtrByFlow)
        return 1;
    const int32_t result = DeviceEscape(on == 1 ? escape::SetDtr : escape::ClrDtr);
    DtrOn = on != 0;
    return result < 0 ? ecBadArgument : ecOK;
}

int32_t TOrvBaseDispatcher::SetRts(int32_t on) {
    if (RtsByFlow)
        return 1;
    const int32_t result = DeviceEscape(on == 1 ? escape::SetRts : escape::ClrRts);
    RtsOn = on != 0;
    return result < 0 ? ecBadArgument : ecOK;
}

int32_t TOrvBaseDispatcher::SetHardwareFlow(uint32_t full, uint32_t resume, uint32_t options) {
    if (!InQueueBoundsOk(full, resume, InQueueSize))
        return ecBadArgument;
    std::lock_guard lock(MainLock);
    DeviceGetState(DeviceState_);
    uint32_t flags = DeviceState_.Flags & ~(dcb::fOutxCtsFlow | dcb::fOutxDsrFlow |
                                            dcb::DtrControlMask | dcb::RtsControlMask);
    DtrByFlow = RtsByFlow = false;
    if (options & 1) {
        flags = dcb::WithDtrControl(flags, dcb::ControlHandshake);
        DtrByFlow = true;
    } else if (DtrOn) {
        flags = dcb::WithDtrControl(flags, dcb::ControlEnable);
    }
    if (options & 2) {
        flags = dcb::WithRtsControl(flags, dcb::ControlHandshake);
        RtsByFlow = true;
    } else if (RtsOn) {
        flags = dcb::WithRtsControl(flags, dcb::ControlEnable);
    }
    if (RS485On && !Is9xFamily()) {
        flags = dcb::WithRtsControl(flags, dcb::ControlToggle);
        RtsByFlow = true;
    }
    DeviceState_.XoffLim = uint16_t(InQueueSize - full);
    DeviceState_.XonLim = uint16_t(resume);
    if (options & 4)
        flags |= dcb::fOutxDsrFlow;
    if (options & 8)
        flags |= dcb::fOutxCtsFlow;
    DeviceState_.Flags = flags;
    return WriteDeviceState(DeviceState_);
}

int32_t TOrvBaseDispatcher::SetSoftwareFlow(uint32_t full, uint32_t resume, uint32_t options) {
    if (!InQueueBoundsOk(full, resume, InQueueSize))
        return ecBadArgument;
    std::lock_guard lock(MainLock);
    DeviceGetState(DeviceState_);
    if (options & 2) {
        DeviceState_.Flags |= dcb::fInX;
        DeviceState_.XoffLim = uint16_t(InQueueSize - full);
        DeviceState_.XonLim = uint16_t(resume);
        DeviceState_.XonChar = 17;
        DeviceState_.XoffChar = 19;
    }
    if (options & 1) {
        DeviceState_.Flags |= dcb::fOutX;
        DeviceState_.XonChar = 17;
        DeviceState_.XoffChar = 19;
    }
    return WriteDeviceState(DeviceState_);
}

int32_t TOrvBaseDispatcher::ClearSoftwareFlow() {
    std::lock_guard lock(MainLock);
    DeviceGetState(DeviceState_);
    DeviceState_.Flags &= ~(dcb::fOutX | dcb::fInX);
    return WriteDeviceState(DeviceState_);
}

int32_t TOrvBaseDispatcher::SetFlowChars(uint8_t xonChar, uint8_t xoffChar) {
    std::lock_guard lock(MainLock);
    DeviceGetState(DeviceState_);
    DeviceState_.XonChar = xonChar;
    DeviceState_.XoffChar = xoffChar;
    return WriteDeviceState(DeviceState_);
}

void TOrvBaseDispatcher::GetFlowSettings(uint32_t& hwOptions, uint32_t& swOptions, uint8_t& xonChar,
                                         uint8_t& xoffChar) {
    std::lock_guard lock(MainLock);
    const uint32_t flags = DeviceState_.Flags;
    hwOptions = 0;
    if (dcb::DtrControl(flags) == dcb::ControlHandshake)
        hwOptions |= 1;
    if (dcb::RtsControl(flags) & dcb::ControlHandshake)
        hwOptions |= 2;
    if (flags & dcb::fOutxDsrFlow)
        hwOptions |= 4;
    if (flags & dcb::fOutxCtsFlow)
        hwOptions |= 8;
    swOptions = 0;
    if (flags & dcb::fInX)
        swOptions |= 2;
    if (flags & dcb::fOutX)
        swOptions |= 1;
    xonChar = DeviceState_.XonChar;
    xoffChar = DeviceState_.XoffChar;
}

void TOrvBaseDispatcher::SetOptionBits(uint32_t bits) {
    std::lock_guard lock(MainLock);
    OptionBits |= bits;
}

void TOrvBaseDispatcher::ClearOptionBits(uint32_t bits) {
    std::lock_guard lock(MainLock);
    OptionBits &= ~bits;
}

uint32_t TOrvBaseDispatcher::ReadModemStatus(uint32_t keep) {
    std::lock_guard lock(MainLock);
    const uint32_t lines = DeviceModemStatus() & 0xF0;
    ModemStatus_ = lines | (ModemStatus_ & 0x0F);
    if (RingSeen.exchange(false))
        ModemStatus_ |= 0x04;
    const uint32_t result = ModemStatus_ & 0xFF;
    ModemStatus_ &= keep;
    return result;
}

void TOrvBaseDispatcher::MarkModemDeltas() {
    std::lock_guard lock(MainLock);
    const uint32_t old = ModemStatus_ & 0xFF;
    ReadModemStatus(0xFF);
    ModemStatus_ |= ((ModemStatus_ ^ old) & 0xF0) >> 4;
}

int32_t TOrvBaseDispatcher::TakeLineError() {
    static constexpr struct {
        uint32_t bit;
        int32_t code;
    } kOrder[] = {{platform::ce::RxOver, 1},
                  {platform::ce::Overrun, 2},
                  {platform::ce::RxParity, 3},
                  {platform::ce::Frame, 4},
                  {platform::ce::Break, 9}};
    std::lock_guard lock(MainLock);
    // One read-and-clear: a bit that the status refresh adds between the read and the
    // clear makes the exchange fail and is read again, so it is reported next time
    // instead of being cleared unseen.
    uint32_t errors = LineErrors_.load();
    for (;;) {
        const auto found = std::find_if(std::begin(kOrder), std::end(kOrder),
                                        [errors](const auto& entry) { return errors & entry.bit; });
        if (found == std::end(kOrder))
            return 0;
        if (LineErrors_.compare_exchange_weak(errors, errors & ~0x0Fu))
            return found->code;
    }
}

bool TOrvBaseDispatcher::TakeLineBreak() {
    std::lock_guard lock(MainLock);
    return (LineErrors_.fetch_and(~platform::ce::Break) & platform::ce::Break) != 0;
}

void TOrvBaseDispatcher::SetRS485(bool on) {
    std::lock_guard lock(MainLock);
    RS485On = on;
    ApplyWorkerPriorities();
}

void TOrvBaseDispatcher::SetWorkerBoost(uint8_t boost) {
    std::lock_guard lock(MainLock);
    if (boost == WorkerBoost)
        return;
    WorkerBoost = boost;
    ApplyWorkerPriorities();
}

} // namespace orvi
