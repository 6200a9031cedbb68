#include "tools/simulator/Scenario.h"

#include <cmath>

namespace orvi::sim {

namespace {

// 0 <= result < m, for any sign of `value`; m > 0.
uint64_t Mod(int64_t value, uint64_t m) {
    const int64_t r = value % int64_t(m);
    return uint64_t(r < 0 ? r + int64_t(m) : r);
}

// Position after n steps on a circle of `m` places, starting at `offset`.
uint64_t Advance(int64_t offset, int32_t step, uint64_t n, uint64_t m) {
    const unsigned __int128 moved = static_cast<unsigned __int128>(Mod(step, m)) * (n % m);
    return uint64_t((Mod(offset, m) + moved) % m);
}

} // namespace

Signal Signal::Steady(int32_t value) {
    return Signal{value, 0, value, value, SweepShape::Wrap};
}

Signal Signal::Sweep(int32_t start, int32_t step, int32_t low, int32_t high, SweepShape shape) {
    return Signal{start, step, low, high, shape};
}

int32_t Signal::At(uint64_t n) const {
    if (step == 0 || high <= low)
        return step == 0 ? start : low;
    const int64_t span = int64_t(high) - low;
    const int64_t offset = int64_t(start) - low;
    if (shape == SweepShape::Wrap)
        return int32_t(low + int64_t(Advance(offset, step, n, uint64_t(span) + 1)));
    const int64_t t = int64_t(Advance(offset, step, n, 2 * uint64_t(span)));
    return int32_t(t <= span ? low + t : high - (t - span));
}

uint16_t CodeFromCelsius(double celsius) {
    const double code = std::round((celsius * 100.0 + 27315.0) / 2.0);
    return uint16_t(std::fmin(std::fmax(code, 0.0), 65535.0));
}

// Codes give odd hundredths of a degree only, so the ends are 20.01 and 39.99 °C.
constexpr double kLowCelsius = 20.01;
constexpr double kHighCelsius = 39.99;

std::array<Signal, 4> DefaultHousing() {
    const int32_t low = CodeFromCelsius(kLowCelsius), high = CodeFromCelsius(kHighCelsius);
    std::array<Signal, 4> s;
    for (int i = 0; i < 4; ++i)
        s[size_t(i)] =
            Signal::Sweep(CodeFromCelsius(24 + 3 * i), 1 + i % 2, low, high, SweepShape::Bounce);
    return s;
}

std::array<Signal, 4> DefaultSensor() {
    const int32_t low = CodeFromCelsius(kLowCelsius), high = CodeFromCelsius(kHighCelsius);
    std::array<Signal, 4> s;
    for (int i = 0; i < 4; ++i)
        s[size_t(i)] = Signal::Sweep(CodeFromCelsius(36 - 4 * i), (i % 2 == 0 ? 3 : -2), low, high,
                                     SweepShape::Bounce);
    return s;
}

Signal DefaultRoll() {
    return Signal::Sweep(0, 20, -3000, 3000, SweepShape::Bounce);
}

Signal DefaultPitch() {
    return Signal::Sweep(500, -12, -3000, 3000, SweepShape::Bounce);
}

Scenario SteadyScenario() {
    Scenario s;
    const int32_t sensor[] = {15165, 15100, 15215, 15166};
    for (size_t i = 0; i < 4; ++i) {
        s.housing[i] = Signal::Steady(14950);
        s.sensor[i] = Signal::Steady(sensor[i]);
    }
    s.roll = Signal::Steady(-200);
    s.pitch = Signal::Steady(75);
    return s;
}

std::vector<FlashRecord> MakeFlashRecords(size_t count, uint8_t endKind) {
    std::vector<FlashRecord> records;
    for (size_t i = 0; i < count; ++i) {
        const bool housing = i % 2 == 0;
        FlashRecord r{housing ? kRecordHousing : kRecordSensor, {}};
        for (size_t ch = 0; ch < 4; ++ch)
            r.codes[ch] = uint16_t((housing ? 14900 : 15150) + 10 * ch + (i / 2) % 100);
        records.push_back(r);
    }
    records.push_back(FlashRecord{endKind, {}});
    return records;
}

std::string CheckScenario(const Scenario& s) {
    for (size_t i = 0; i < 4; ++i) {
        if (!s.housing[i].Valid() || !s.sensor[i].Valid())
            return "channel " + std::to_string(i + 1) + ": sweep range with low above high";
    }
    if (!s.roll.Valid() || !s.pitch.Valid())
        return "roll or pitch: sweep range with low above high";
    if (s.replyLength > kMaxReplyLength || s.oddLength > kMaxReplyLength)
        return "reply length above " + std::to_string(kMaxReplyLength) + " bytes";
    return {};
}

} // namespace orvi::sim
