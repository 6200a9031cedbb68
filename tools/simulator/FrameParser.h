#pragma once
// Splits the byte stream from the console into requests. Frames may arrive split
// over several reads or several in one read. Bytes that do not start a known frame
// are skipped one at a time until a 0x81 that does; a frame whose CRC does not match
// is dropped from its first byte only, so a good frame starting inside it is found.
//
// Thread safety: none; the device thread owns its parser.
#include "tools/simulator/Protocol.h"

#include <cstdint>
#include <vector>

namespace orvi::sim {

struct ParserStats {
    uint64_t skippedBytes = 0;  // bytes dropped while looking for the start of a frame
    uint64_t badCrc = 0;        // known frames dropped for their CRC
    uint64_t unknownFrames = 0; // read-set frames with a good CRC for a set other than 6, 7
};

class FrameParser {
public:
    // Takes the next bytes of the stream; returns the requests they completed, in order.
    std::vector<RequestKind> Feed(const uint8_t* data, size_t count);
    const ParserStats& Stats() const { return stats_; }
    // Bytes held back as the possible start of a frame (at most one frame less a byte).
    size_t Held() const { return held_.size(); }

private:
    std::vector<uint8_t> held_;
    ParserStats stats_;
};

} // namespace orvi::sim
