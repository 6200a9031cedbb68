// The device exchanges over CPort: send a request frame, wait for the 20-byte reply, and
// decode it with the protocol of SensorProtocol.h. Members of the main window, which owns
// the port and the reply buffers.
#include "app/Unit1.h"
#include "platform/Clock.h"

#include <QCoreApplication>

namespace orvi::app {

namespace {
constexpr int kSleepMs = 10;
constexpr int kWaitLimitMs = 5000;
} // namespace

// Sleeps 10 ms at a time and lets the window handle what is pending in between, so timer
// ticks and clicks are served in the middle of an exchange. Only the sleeps count: the wait
// lasts at least 5 s. A close of the window ends the wait at once, as no answer.
bool TForm1::WaitReply(TReply& buffer) {
    int counter = 0;
    while (CPort->InCount() < kReplyLength && counter < kWaitLimitMs) {
        if (FClosing)
            return false;
        platform::SleepMs(kSleepMs);
        QCoreApplication::processEvents();
        counter += kSleepMs;
    }
    if (counter >= kWaitLimitMs)
        return false;
    for (uint8_t& byte : buffer)
        byte = CPort->GetByte();
    return true;
}

bool TForm1::Exchange(const uint8_t* frame, uint16_t length, TReply& buffer) {
    CPort->SendBlock(frame, length);
    TReply reply{};
    if (!WaitReply(reply))
        return false;
    buffer = reply;
    return true;
}

bool TForm1::PollDevice() {
    if (!Exchange(HousingRequest.data(), HousingRequest.size(), HousingReply))
        return false;
    if (!Exchange(SensorRequest.data(), SensorRequest.size(), SensorReply))
        return false;
    DecodePoll(HousingReply, SensorReply, Record);
    return true;
}

TFlashResult TForm1::ReadFlashRecord() {
    if (!Exchange(FlashRequest.data(), FlashRequest.size(), FlashReply))
        return TFlashResult::Failure;
    return DecodeFlashRecord(FlashReply, Record);
}

} // namespace orvi::app
