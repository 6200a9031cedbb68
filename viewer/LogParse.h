#pragma once
// Reading one line of the data log for the viewer, and the time axis made from the ticks.
// Unlike the replay, which reads twelve numbers across line breaks, the viewer takes a line
// as a record only when it holds exactly the record's fields, so that one bad line costs
// one record and is reported by its number.
#include "app/RecordFields.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace orvi::viewer {

// The charted channels: every field after the tick, in the log's order.
inline constexpr size_t kChannelCount = app::kRecordFieldCount - 1;

struct TLogRecord {
    int32_t Tick = 0;
    std::array<double, kChannelCount> Values{};
};

inline constexpr size_t kMaxLineBytes = 4096; // a longer line is no record

enum class TLineKind { Record, Blank, Malformed };

// The fields of a line (without its line end), separated by blanks or tabs; false when the
// line does not hold exactly the record's number of fields.
bool SplitFields(std::string_view line, std::array<std::string_view, app::kRecordFieldCount>& out);

// Parses a line (without its line end) by the record's field table: whole numbers within
// the signed 32-bit range for the integer fields, decimal numbers for the real ones.
// A line longer than kMaxLineBytes is malformed however it reads.
TLineKind ParseLogLine(std::string_view line, TLogRecord& out);

// Seconds are counted from the first record by the difference of successive ticks, taken
// in 32-bit wrap-around arithmetic, so a tick that passes 2^31 and turns negative goes on.
// A tick that goes back, or forward by more than kMaxStepMs (a day: no run pauses that
// long between two records, but a device that restarted after its tick went negative
// seems to), starts a new segment, placed kSegmentGapMs after the last record so that
// time stays ordered; the chart draws a gap there.
inline constexpr int64_t kSegmentGapMs = 1000;
inline constexpr int64_t kMaxStepMs = 24 * 3600 * 1000;

struct TTimeline {
    bool Started = false;
    int32_t LastTick = 0;
    int64_t LastMs = 0; // milliseconds from the first record

    // The time of the next record; `newSegment` tells whether it starts a new segment.
    int64_t Next(int32_t tick, bool& newSegment) {
        newSegment = false;
        int64_t ms = 0;
        if (Started) {
            const int32_t delta = int32_t(uint32_t(tick) - uint32_t(LastTick));
            newSegment = delta < 0 || delta > kMaxStepMs;
            ms = LastMs + (newSegment ? kSegmentGapMs : delta);
        }
        Started = true;
        LastTick = tick;
        LastMs = ms;
        return ms;
    }
};

} // namespace orvi::viewer
