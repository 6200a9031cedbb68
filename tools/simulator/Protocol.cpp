#include "tools/simulator/Protocol.h"

#include <algorithm>

namespace orvi::sim {

namespace {

constexpr uint16_t kReplyPayload = kReplyLength - 6;

void PutBe16(Reply& r, size_t at, uint16_t value) {
    r[at] = uint8_t(value >> 8);
    r[at + 1] = uint8_t(value & 0xFF);
}

void PutCodes(Reply& r, const Codes& codes) {
    for (size_t i = 0; i < codes.size(); ++i)
        PutBe16(r, 4 + 2 * i, codes[i]);
}

// Header and CRC around a payload already in place.
Reply Framed(Reply r, uint8_t byte3) {
    r[0] = kFrameStart;
    r[1] = uint8_t(kReplyPayload >> 8);
    r[2] = uint8_t(kReplyPayload & 0xFF);
    r[3] = byte3;
    const uint16_t crc = Crc16Modbus(r.data(), kReplyLength - 2);
    r[kReplyLength - 2] = uint8_t(crc & 0xFF);
    r[kReplyLength - 1] = uint8_t(crc >> 8);
    return r;
}

} // namespace

uint16_t Crc16Modbus(const uint8_t* data, size_t count) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) != 0 ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

Reply HousingReply(const Codes& codes, int16_t roll, int16_t pitch, int16_t zeroCount) {
    Reply r{};
    PutCodes(r, codes);
    PutBe16(r, 12, uint16_t(roll));
    PutBe16(r, 14, uint16_t(pitch));
    PutBe16(r, 16, uint16_t(zeroCount));
    return Framed(r, kReadSet);
}

Reply SensorReply(const Codes& codes) {
    Reply r{};
    PutCodes(r, codes);
    return Framed(r, kReadSet);
}

Reply EndOfDataReply() {
    return SensorReply({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
}

Reply FlashReply(uint8_t kind, const Codes& codes) {
    Reply r{};
    if (kind == kRecordHousing || kind == kRecordSensor)
        PutCodes(r, codes);
    return Framed(r, kind);
}

std::vector<uint8_t> ShapeReply(const Reply& reply, size_t length) {
    std::vector<uint8_t> out(length, kFillerByte);
    std::copy_n(reply.begin(), std::min(length, reply.size()), out.begin());
    return out;
}

} // namespace orvi::sim
