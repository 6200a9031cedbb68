#include "tools/simulator/FrameParser.h"

#include <optional>

namespace orvi::sim {

namespace {

constexpr size_t kHeaderLength = 4;
constexpr size_t kCrcLength = 2;

enum class Verdict { NotAFrame, NeedMore, Complete };

// Whether the bytes at `p` begin one of the two frame shapes the device knows
// (read-set with one payload byte, read-flash with none), and the frame's length.
Verdict Examine(const uint8_t* p, size_t available, size_t& length) {
    if (p[0] != kFrameStart)
        return Verdict::NotAFrame;
    if (available >= 2 && p[1] != 0)
        return Verdict::NotAFrame;
    if (available >= 3 && p[2] > 1)
        return Verdict::NotAFrame;
    if (available < kHeaderLength)
        return Verdict::NeedMore;
    const bool readSet = p[2] == 1 && p[3] == kReadSet;
    const bool readFlash = p[2] == 0 && p[3] == kReadFlash;
    if (!readSet && !readFlash)
        return Verdict::NotAFrame;
    length = kHeaderLength + p[2] + kCrcLength;
    return available >= length ? Verdict::Complete : Verdict::NeedMore;
}

bool CrcMatches(const uint8_t* frame, size_t length) {
    const uint16_t crc = Crc16Modbus(frame, length - kCrcLength);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

std::optional<RequestKind> KindOf(const uint8_t* frame) {
    if (frame[3] == kReadFlash)
        return RequestKind::Flash;
    if (frame[4] == kHousingSet)
        return RequestKind::Housing;
    if (frame[4] == kSensorSet)
        return RequestKind::Sensor;
    return std::nullopt;
}

} // namespace

std::vector<RequestKind> FrameParser::Feed(const uint8_t* data, size_t count) {
    held_.insert(held_.end(), data, data + count);
    std::vector<RequestKind> requests;
    size_t at = 0;
    while (at < held_.size()) {
        size_t length = 0;
        const Verdict v = Examine(held_.data() + at, held_.size() - at, length);
        if (v == Verdict::NeedMore)
            break;
        if (v == Verdict::Complete && CrcMatches(held_.data() + at, length)) {
            if (const auto kind = KindOf(held_.data() + at))
                requests.push_back(*kind);
            else
                ++stats_.unknownFrames;
            at += length;
            continue;
        }
        if (v == Verdict::Complete)
            ++stats_.badCrc;
        ++stats_.skippedBytes;
        ++at;
    }
    held_.erase(held_.begin(), held_.begin() + std::ptrdiff_t(at));
    return requests;
}

} // namespace orvi::sim
