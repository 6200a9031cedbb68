#pragma once
// The one measurement record of the console: written by a poll, a flash record or the
// replay, read by the display and the data log writer. Zero-filled at start and never
// reset: every producer overwrites some or all fields in place.
//
// Owned by the main window; GUI thread only, no locking.
#include <array>
#include <cstdint>

namespace orvi::app {

struct TMeasurementRecord {
    std::array<double, 4> Housing{}; // housing temperature of channels 1..4, degrees Celsius
    std::array<double, 4> Sensor{};  // sensor temperature of channels 1..4, degrees Celsius
    double Pitch = 0;                // degrees
    double Roll = 0;                 // degrees
    int16_t ZeroCount = 0;           // raw temperature-code units (0.02 degree each)
    int32_t Tick = 0;                // system tick count in ms when logged or read from a file
};

} // namespace orvi::app
