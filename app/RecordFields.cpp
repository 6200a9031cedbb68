#include "app/RecordFields.h"

#include "app/DataLog.h"

namespace orvi::app {

namespace {

// A housing or sensor temperature: Channels is TMeasurementRecord::Housing or ::Sensor.
template <auto Channels, size_t Channel> double GetChannel(const TMeasurementRecord& r) {
    return (r.*Channels)[Channel];
}
template <auto Channels, size_t Channel> void SetChannel(TMeasurementRecord& r, double v) {
    (r.*Channels)[Channel] = v;
}

// Channel 0..3 of the housing or of the sensor temperatures.
template <TFieldGroup Group, size_t Channel>
constexpr TRecordField ChannelField(std::string_view key, std::string_view caption) {
    constexpr auto channels =
        Group == TFieldGroup::Housing ? &TMeasurementRecord::Housing : &TMeasurementRecord::Sensor;
    return {key,
            caption,
            "°C",
            TFieldType::Real,
            Group,
            int(Channel) + 1,
            GetChannel<channels, Channel>,
            SetChannel<channels, Channel>};
}

constexpr std::array<TRecordField, kRecordFieldCount> kFields = {{
    {"tick", "Время", "ms", TFieldType::Integer, TFieldGroup::Time, 0,
     [](const TMeasurementRecord& r) { return double(r.Tick); },
     [](TMeasurementRecord& r, double v) { r.Tick = int32_t(v); }},
    ChannelField<TFieldGroup::Housing, 0>("housing1", "Корпус 1"),
    ChannelField<TFieldGroup::Sensor, 0>("sensor1", "Темп 1"),
    ChannelField<TFieldGroup::Housing, 1>("housing2", "Корпус 2"),
    ChannelField<TFieldGroup::Sensor, 1>("sensor2", "Темп 2"),
    ChannelField<TFieldGroup::Housing, 2>("housing3", "Корпус 3"),
    ChannelField<TFieldGroup::Sensor, 2>("sensor3", "Темп 3"),
    ChannelField<TFieldGroup::Housing, 3>("housing4", "Корпус 4"),
    ChannelField<TFieldGroup::Sensor, 3>("sensor4", "Темп 4"),
    {"roll", "Крен", "°", TFieldType::Real, TFieldGroup::Attitude, 0,
     [](const TMeasurementRecord& r) { return r.Roll; },
     [](TMeasurementRecord& r, double v) { r.Roll = v; }},
    {"pitch", "Тангаж", "°", TFieldType::Real, TFieldGroup::Attitude, 0,
     [](const TMeasurementRecord& r) { return r.Pitch; },
     [](TMeasurementRecord& r, double v) { r.Pitch = v; }},
    // Read as a 32-bit number and kept in 16 bits, as the device counts it.
    {"zero_count", "Нулевой К", "", TFieldType::Integer, TFieldGroup::ZeroCount, 0,
     [](const TMeasurementRecord& r) { return double(r.ZeroCount); },
     [](TMeasurementRecord& r, double v) {
         r.ZeroCount = int16_t(uint16_t(uint32_t(int32_t(v))));
     }},
}};

} // namespace

const std::array<TRecordField, kRecordFieldCount>& RecordFields() {
    return kFields;
}

std::string FieldText(const TRecordField& field, const TMeasurementRecord& record) {
    const double value = field.Get(record);
    if (field.Type == TFieldType::Integer)
        return std::to_string(int32_t(value));
    return LogNumberText(value);
}

} // namespace orvi::app
