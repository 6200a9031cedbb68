#include "app/DeviceExchange.h"

#include "platform/Clock.h"
#include "serial/ComPort.h"

namespace orvi::app {

namespace {
constexpr uint32_t kSleepMs = 10;
constexpr uint32_t kWaitLimitMs = 5000;
} // namespace

TDeviceExchange::TDeviceExchange(TOrvCustomComPort& port, THooks hooks)
    : port_(port), hooks_(std::move(hooks)) {
    if (!hooks_.Sleep)
        hooks_.Sleep = &platform::SleepMs;
}

bool TDeviceExchange::WaitReply(TReply& buffer) {
    uint32_t counter = 0;
    while (port_.InCount() < kReplyLength && counter < kWaitLimitMs) {
        if (hooks_.Abandoned && hooks_.Abandoned())
            return false;
        hooks_.Sleep(kSleepMs);
        if (hooks_.ServeMessages)
            hooks_.ServeMessages();
        counter += kSleepMs;
    }
    if (counter >= kWaitLimitMs)
        return false;
    for (uint8_t& byte : buffer)
        byte = port_.GetByte();
    return true;
}

bool TDeviceExchange::Exchange(const uint8_t* frame, uint16_t length, TReply& buffer) {
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
