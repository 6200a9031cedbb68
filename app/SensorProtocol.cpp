#include "app/SensorProtocol.h"

#include <cstdlib>

namespace orvi::app {

namespace {

constexpr int kCodesAt = 4;
constexpr int kRollAt = 12;
constexpr int kPitchAt = 14;
constexpr int kZeroCountAt = 16;

void DecodeCodes(const TReply& reply, std::array<double, 4>& into) {
    for (int channel = 0; channel < 4; ++channel)
        into[size_t(channel)] = TemperatureFromCode(Word(reply, kCodesAt + 2 * channel));
}

} // namespace

double TemperatureFromCode(uint16_t code) {
    const int32_t numerator = 2 * int32_t(code) - 27315;
    return double(numerator) / 100;
}

double AngleFromBytes(uint8_t high, uint8_t low) {
    const auto hundredths = int16_t(uint16_t(high << 8 | low));
    return double(hundredths) / 100;
}

uint16_t Word(const TReply& reply, int at) {
    return uint16_t(reply[size_t(at)] << 8 | reply[size_t(at) + 1]);
}

void DecodePoll(const TReply& housingReply, const TReply& sensorReply, TMeasurementRecord& record) {
    DecodeCodes(housingReply, record.Housing);
    DecodeCodes(sensorReply, record.Sensor);
    record.Roll = AngleFromBytes(housingReply[kRollAt], housingReply[kRollAt + 1]);
    record.Pitch = AngleFromBytes(housingReply[kPitchAt], housingReply[kPitchAt + 1]);
    record.ZeroCount = int16_t(Word(housingReply, kZeroCountAt));
    if (record.ZeroCount == 0) {
        const int spread =
            std::abs(int(Word(sensorReply, kCodesAt + 4)) - int(Word(sensorReply, kCodesAt)));
        record.ZeroCount = int16_t(uint16_t(spread));
    }
}

bool DataEnded(const TReply& sensorReply) {
    int sum = 0;
    for (int i = kCodesAt; i < kCodesAt + 8; ++i)
        sum += sensorReply[size_t(i)];
    return sum == 2040;
}

TFlashResult DecodeFlashRecord(const TReply& flashReply, TMeasurementRecord& record) {
    switch (flashReply[3]) {
    case kFlashHousing:
        DecodeCodes(flashReply, record.Housing);
        return TFlashResult::Record;
    case kFlashSensor:
        DecodeCodes(flashReply, record.Sensor);
        return TFlashResult::Record;
    case kFlashEnd:
        return TFlashResult::End;
    default:
        return TFlashResult::Failure;
    }
}

} // namespace orvi::app
