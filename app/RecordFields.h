#pragma once
// The fields of a measurement record, in the order of the data log's line, with the names
// every reader and writer of records uses: the data log writer and the replay reader, the
// acquirer's JSON stream, the viewer's legend and its CSV export. Adding or reordering a
// field here changes all of them at once (and the data log format with them).
#include "app/MeasurementRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvi::app {

enum class TFieldType {
    Integer, // signed 32-bit in the log (the zero count keeps 16 bits of it)
    Real,    // the log's general decimal form (LogNumberText)
};

enum class TFieldGroup { Time, Housing, Sensor, Attitude, ZeroCount };

struct TRecordField {
    std::string_view Key;     // stable ASCII name: JSON member, CSV column ("housing1")
    std::string_view Caption; // the console's own name ("Корпус 1")
    std::string_view Unit;    // "ms", "°C", "°"; empty for the zero count's raw code units
    TFieldType Type;
    TFieldGroup Group;
    int Channel; // 1..4 for housing and sensor fields, 0 otherwise
    // The field's value; exact for the integer fields.
    double (*Get)(const TMeasurementRecord&);
    // Stores a value read for the field; integer fields take a whole number in int32 range.
    void (*Set)(TMeasurementRecord&, double);
};

inline constexpr size_t kRecordFieldCount = 12;
inline constexpr size_t kTickField = 0; // the tick is always the first field

// Tick, Housing 1, Sensor 1, ... Housing 4, Sensor 4, Roll, Pitch, ZeroCount.
const std::array<TRecordField, kRecordFieldCount>& RecordFields();

// The field's text as the data log writes it: a whole number for integer fields,
// LogNumberText for real ones.
std::string FieldText(const TRecordField& field, const TMeasurementRecord& record);

} // namespace orvi::app
