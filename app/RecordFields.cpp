#include "app/RecordFields.h"

#include "app/DataLog.h"

namespace orvi::app {

namespace {

template <size_t Channel> double GetHousing(const TMeasurementRecord& r) {
    return r.Housing[Channel];
}
template <size_t Channel> void SetHousing(TMeasurementRecord& r, double v) {
    r.Housing[Channel] = v;
}
template <size_t Channel> double GetSensor(const TMeasurementRecord& r) {
    return r.Sensor[Channel];
}
template <size_t Channel> void SetSensor(TMeasurementRecord& r, double v) {
    r.Sensor[Channel] = v;
}

template <size_t Channel>
constexpr TRecordField HousingField(std::string_view key, std::string_view caption) {
    return {key,
            caption,
            "°C",
            TFieldType::Real,
            TFieldGroup::Housing,
            int(Channel) + 1,
            GetHousing<Channel>,
            SetHousing<Channel>};
}
template <size_t Channel>
constexpr TRecordField SensorField(std::string_view key, std::string_view caption) {
    return {key,
            caption,
            "°C",
            TFieldType::Real,
            TFieldGroup::Sensor,
            int(Channel) + 1,
            GetSensor<Channel>,
            SetSensor<Channel>};
}

constexpr std::array<TRecordField, kRecordFieldCount> kFields = {{
    {"tick", "Время", "ms", TFieldType::Integer, TFieldGroup::Time, 0,
     [](const TMeasurementRecord& r) { return double(r.Tick); },
     [](TMeasurementRecord& r, double v) { r.Tick = int32_t(v); }},
    HousingField<0>("housing1", "Корпус 1"),
    SensorField<0>("sensor1", "Темп 1"),
    HousingField<1>("housing2", "Корпус 2"),
    SensorField<1>("sensor2", "Темп 2"),
    HousingField<2>("housing3", "Корпус 3"),
    SensorField<2>("sensor3", "Темп 3"),
    HousingField<3>("housing4", "Корпус 4"),
    SensorField<3>("sensor4", "Темп 4"),
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
