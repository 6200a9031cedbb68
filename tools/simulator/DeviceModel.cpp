#include "tools/simulator/DeviceModel.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace orvi::sim {

namespace {

uint16_t CodeOf(int32_t value) {
    return uint16_t(std::clamp<int32_t>(value, 0, std::numeric_limits<uint16_t>::max()));
}

int16_t AngleOf(int32_t value) {
    return int16_t(std::clamp<int32_t>(value, std::numeric_limits<int16_t>::min(),
                                       std::numeric_limits<int16_t>::max()));
}

Codes CodesAt(const std::array<Signal, 4>& signals, uint64_t n) {
    Codes codes{};
    for (size_t i = 0; i < codes.size(); ++i)
        codes[i] = CodeOf(signals[i].At(n));
    return codes;
}

bool IsDataRecord(uint8_t kind) {
    return kind == kRecordHousing || kind == kRecordSensor;
}

} // namespace

DeviceModel::DeviceModel(Scenario scenario) : scenario_(std::move(scenario)) {}

std::optional<std::vector<uint8_t>> DeviceModel::Answer(RequestKind kind) {
    const uint64_t n = requests_[size_t(kind)]++;
    extraDelayMs_ = 0;
    if (!Answers(kind, n))
        return std::nullopt;
    if (kind == RequestKind::Housing && scenario_.oddHousing == n) {
        extraDelayMs_ = scenario_.oddDelayMs;
        return ShapeReply(ReplyAt(kind, n), scenario_.oddLength);
    }
    return ShapeReply(ReplyAt(kind, n), scenario_.replyLength);
}

bool DeviceModel::Answers(RequestKind kind, uint64_t n) const {
    if (scenario_.silent || (scenario_.answerFirst && n >= *scenario_.answerFirst))
        return false;
    switch (kind) {
    case RequestKind::Housing:
        return scenario_.answerHousing;
    case RequestKind::Sensor:
        return scenario_.answerSensor;
    case RequestKind::Flash:
        return scenario_.answerFlash;
    }
    return false;
}

Reply DeviceModel::ReplyAt(RequestKind kind, uint64_t n) const {
    switch (kind) {
    case RequestKind::Housing:
        return HousingAt(n);
    case RequestKind::Sensor:
        return SensorAt(n);
    case RequestKind::Flash:
        break;
    }
    return FlashAt(n);
}

Reply DeviceModel::HousingAt(uint64_t n) const {
    return HousingReply(CodesAt(scenario_.housing, n), AngleOf(scenario_.roll.At(n)),
                        AngleOf(scenario_.pitch.At(n)), scenario_.zeroCount);
}

Reply DeviceModel::SensorAt(uint64_t n) const {
    if (scenario_.endAfterPolls && n >= *scenario_.endAfterPolls)
        return EndOfDataReply();
    return SensorReply(CodesAt(scenario_.sensor, n));
}

Reply DeviceModel::FlashAt(uint64_t n) const {
    const std::vector<FlashRecord>& flash = scenario_.flash;
    if (n < flash.size())
        return FlashReply(flash[n].kind, flash[n].codes);
    if (!flash.empty() && !IsDataRecord(flash.back().kind))
        return FlashReply(flash.back().kind, {});
    return FlashReply(kRecordEnd, {});
}

} // namespace orvi::sim
