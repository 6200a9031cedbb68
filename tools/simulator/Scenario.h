#pragma once
// What the simulated device reports and how it misbehaves. A plain struct: tests set
// its fields directly, the command builds one from its options.
//
// Poll numbers count the requests of one kind from 0: the housing values of the n-th
// housing request, the sensor values of the n-th sensor request. A console poll asks
// for both sets, so "the first N polls" are the first N requests of each kind.
#include "tools/simulator/Protocol.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvi::sim {

// What a sweeping value does at the ends of its range: start again at the other end,
// or turn round.
enum class SweepShape { Wrap, Bounce };

// One reported value over successive polls: steady when `step` is 0, otherwise it
// moves by `step` per poll inside [low, high], beginning at `start`.
struct Signal {
    int32_t start = 0;
    int32_t step = 0;
    int32_t low = 0;
    int32_t high = 0;
    SweepShape shape = SweepShape::Wrap;

    static Signal Steady(int32_t value);
    static Signal Sweep(int32_t start, int32_t step, int32_t low, int32_t high,
                        SweepShape shape = SweepShape::Wrap);

    // The value at poll `n`. A start outside [low, high] is taken modulo the range.
    int32_t At(uint64_t n) const;
    bool Valid() const { return step == 0 || low <= high; }
};

// One record of the device's flash memory. Only kinds 'a' and 'o' carry codes.
struct FlashRecord {
    uint8_t kind = kRecordEnd;
    Codes codes{};
};

// The raw temperature code nearest to a temperature in degrees Celsius.
uint16_t CodeFromCelsius(double celsius);

std::array<Signal, 4> DefaultHousing();
std::array<Signal, 4> DefaultSensor();
Signal DefaultRoll();
Signal DefaultPitch();

struct Scenario {
    // Raw temperature codes of channels 1 to 4; sweeping gently between 20 and 40 °C.
    std::array<Signal, 4> housing = DefaultHousing();
    std::array<Signal, 4> sensor = DefaultSensor();
    // Hundredths of a degree; sweeping within +-30 degrees.
    Signal roll = DefaultRoll();
    Signal pitch = DefaultPitch();
    // 0 makes the console show the spread between sensor channels 3 and 1 instead.
    int16_t zeroCount = 12;

    // From sensor request number N on, the sensor reply is the end-of-data mark.
    std::optional<uint64_t> endAfterPolls;

    // Silence: never answer anything, never answer one kind, or answer only the first
    // N requests of each kind.
    bool silent = false;
    bool answerHousing = true;
    bool answerSensor = true;
    bool answerFlash = true;
    std::optional<uint64_t> answerFirst;

    // Reply timing and shape: late by this many milliseconds; cut short below 20 bytes
    // or padded with filler above.
    uint32_t replyDelayMs = 0;
    size_t replyLength = kReplyLength;
    // One housing request out of the ordinary: the one numbered `oddHousing` is answered
    // `oddDelayMs` later than the others and with `oddLength` bytes (a reply that comes after
    // the console's wait, a reply of 25 bytes). Replies go out in the order they fall due.
    std::optional<uint64_t> oddHousing;
    uint32_t oddDelayMs = 0;
    size_t oddLength = kReplyLength;

    // The flash memory, read one record per request. Past the last record the device
    // keeps answering with that record if it is an end record (any kind but 'a' and
    // 'o'), otherwise with a record of kind 'f'.
    std::vector<FlashRecord> flash;
};

// Every value fixed: housing 25.85 °C, sensors about 30 °C, roll -2.00, pitch 0.75.
Scenario SteadyScenario();

// `count` data records, alternating 'a' and 'o' with codes that drift slowly, then
// one record of kind `endKind`.
std::vector<FlashRecord> MakeFlashRecords(size_t count, uint8_t endKind = kRecordEnd);

constexpr size_t kMaxReplyLength = 4096;

// An explanation of what is wrong with the scenario, or empty when it can be run.
std::string CheckScenario(const Scenario& scenario);

} // namespace orvi::sim
