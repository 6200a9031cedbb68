#include "app/DeviceExchange.h"

#include "platform/Clock.h"
#include "serial/ComPort.h"

namespace orvi::app {

namespace {
constexpr uint32_t kSleepMs = 10;
constexpr uint32_t kWaitLimitMs = 5000;
// How long the line must stay quiet before the next request: after a wait that ran out, long
// enough for a reply that came a little late to arrive and be discarded; otherwise long
// enough for the rest of a reply that is longer than 20 bytes.
constexpr uint32_t kLateQuietMs = 1000;
constexpr uint32_t kStrayQuietMs = 50;
constexpr uint32_t kDrainLimitMs = 5000;
} // namespace

TDeviceExchange::TDeviceExchange(TOrvCustomComPort& port, THooks hooks)
    : port_(port), hooks_(std::move(hooks)) {
    if (!hooks_.Sleep)
        hooks_.Sleep = &platform::SleepMs;
}

bool TDeviceExchange::WaitReply(TReply& buffer) {
    uint32_t counter = 0;
    while (port_.InCount() < kReplyLength && counter < kWaitLimitMs) {
        if (hooks_.Abandoned && hooks_.Abandoned()) {
            outOfStep_ = true; // the reply may still come
            return false;
        }
        hooks_.Sleep(kSleepMs);
        if (hooks_.ServeMessages)
            hooks_.ServeMessages();
        counter += kSleepMs;
    }
    if (counter >= kWaitLimitMs) {
        outOfStep_ = true;
        return false;
    }
    for (uint8_t& byte : buffer)
        byte = port_.GetByte();
    return true;
}

size_t TDeviceExchange::Drain(uint32_t quietMs) {
    size_t discarded = 0;
    uint32_t quiet = 0;
    for (uint32_t waited = 0; quiet < quietMs && waited < kDrainLimitMs; waited += kSleepMs) {
        if (hooks_.Abandoned && hooks_.Abandoned())
            break;
        if (const uint16_t waiting = port_.InCount(); waiting > 0) {
            for (uint16_t i = 0; i < waiting; ++i)
                port_.GetByte();
            discarded += waiting;
            quiet = 0;
        }
        hooks_.Sleep(kSleepMs);
        if (hooks_.ServeMessages)
            hooks_.ServeMessages();
        quiet += kSleepMs;
    }
    return discarded;
}

// Bytes that no request of ours is waiting for are another request's reply, or part of one:
// taken as the start of the next reply, they would shift every later record.
bool TDeviceExchange::Resync() {
    if (hooks_.Stray != TStrayBytes::Discard || (!outOfStep_ && port_.InCount() == 0))
        return true;
    const bool late = outOfStep_;
    const size_t discarded = Drain(late ? kLateQuietMs : kStrayQuietMs);
    const bool quiet = port_.InCount() == 0;
    outOfStep_ = !quiet;
    if (discarded > 0 && hooks_.Warn) {
        hooks_.Warn(std::to_string(discarded) +
                    (late ? " bytes that came after the reply wait had ended (a late reply) were "
                            "discarded, to keep requests and replies in step"
                          : " bytes beyond a 20-byte reply were discarded, to keep requests and "
                            "replies in step"));
    }
    return quiet;
}

bool TDeviceExchange::Exchange(const uint8_t* frame, uint16_t length, TReply& buffer) {
    // A line that does not fall quiet gets no request: its next 20 bytes would be no reply.
    if (!Resync())
        return false;
    port_.SendBlock(frame, length);
    TReply reply{};
    if (!WaitReply(reply))
        return false;
    buffer = reply;
    return true;
}

TPollResult TDeviceExchange::PollDevice() {
    if (!Exchange(HousingRequest.data(), HousingRequest.size(), HousingReply))
        return TPollResult::NoAnswer;
    if (!Exchange(SensorRequest.data(), SensorRequest.size(), SensorReply))
        return TPollResult::NoAnswer;
    DecodePoll(HousingReply, SensorReply, Record);
    return DataEnded(SensorReply) ? TPollResult::DataEnded : TPollResult::Reading;
}

TFlashResult TDeviceExchange::ReadFlashRecord() {
    if (!Exchange(FlashRequest.data(), FlashRequest.size(), FlashReply))
        return TFlashResult::Failure;
    return DecodeFlashRecord(FlashReply, Record);
}

} // namespace orvi::app
