#pragma once
// The measuring device's side of the serial protocol: the three request frames the
// console sends, their CRC, and the 20-byte replies the device answers with.
//
// Frames: 0x81, payload length (2 bytes, big-endian), command code, payload, then the
// CRC-16/MODBUS of everything before it, low byte first. Replies use the same
// structure with a 14-byte payload, so they are 20 bytes long; their multi-byte
// fields are big-endian. Byte 3 of a reply echoes the command code, except in a flash
// record, where it holds the record kind.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvi::sim {

constexpr uint8_t kFrameStart = 0x81;
constexpr uint8_t kReadSet = 0x44;   // 'D', payload: the set number
constexpr uint8_t kReadFlash = 0x45; // 'E', no payload
constexpr uint8_t kHousingSet = 6;
constexpr uint8_t kSensorSet = 7;

constexpr std::array<uint8_t, 7> kHousingRequest{0x81, 0x00, 0x01, 0x44, 0x06, 0xFA, 0xDC};
constexpr std::array<uint8_t, 7> kSensorRequest{0x81, 0x00, 0x01, 0x44, 0x07, 0x3B, 0x1C};
constexpr std::array<uint8_t, 6> kFlashRequest{0x81, 0x00, 0x00, 0x45, 0xE9, 0xEB};

// Flash record kinds (reply byte 3).
constexpr uint8_t kRecordHousing = 'a';
constexpr uint8_t kRecordSensor = 'o';
constexpr uint8_t kRecordEnd = 'f';

constexpr size_t kReplyLength = 20;
using Reply = std::array<uint8_t, kReplyLength>;

// Four raw temperature codes, channels 1 to 4. A code counts 0.02 K from absolute zero.
using Codes = std::array<uint16_t, 4>;

enum class RequestKind { Housing, Sensor, Flash };

uint16_t Crc16Modbus(const uint8_t* data, size_t count);

// The housing set: codes at bytes 4-11, roll 12-13, pitch 14-15 (hundredths of a
// degree), zero count 16-17.
Reply HousingReply(const Codes& codes, int16_t roll, int16_t pitch, int16_t zeroCount);
// The sensor set: codes at bytes 4-11.
Reply SensorReply(const Codes& codes);
// The sensor set marking the end of the device's data: bytes 4-11 all 0xFF.
Reply EndOfDataReply();
// One flash record: its kind at byte 3, for data records the codes at bytes 4-11.
Reply FlashReply(uint8_t kind, const Codes& codes);

// Filler sent after a reply that is made longer than 20 bytes.
constexpr uint8_t kFillerByte = 0xA5;

// The reply as sent: cut to `length` bytes, or padded with kFillerByte up to it.
std::vector<uint8_t> ShapeReply(const Reply& reply, size_t length);

} // namespace orvi::sim
