#pragma once
// The measuring device's protocol as the console sees it: the three fixed request frames,
// the 20-byte replies and their decoding into the measurement record. Pure functions; the
// exchanges themselves (send, wait, take) are the main window's, which owns the port: they
// are in SensorExchange.cpp.
#include "app/MeasurementRecord.h"

#include <array>
#include <cstdint>

namespace orvi::app {

constexpr int kReplyLength = 20;
using TReply = std::array<uint8_t, kReplyLength>;

// 0x81, payload length (big-endian), command code, payload, CRC-16/MODBUS low byte first.
constexpr std::array<uint8_t, 7> HousingRequest{0x81, 0x00, 0x01, 0x44, 0x06, 0xFA, 0xDC};
constexpr std::array<uint8_t, 7> SensorRequest{0x81, 0x00, 0x01, 0x44, 0x07, 0x3B, 0x1C};
constexpr std::array<uint8_t, 6> FlashRequest{0x81, 0x00, 0x00, 0x45, 0xE9, 0xEB};

// Flash record kinds (reply byte 3).
constexpr uint8_t kFlashHousing = 'a';
constexpr uint8_t kFlashSensor = 'o';
constexpr uint8_t kFlashEnd = 'f';

enum class TFlashResult { Record, End, Failure };

// Degrees Celsius of a raw code (0.02 K per unit from absolute zero): (2 * code - 27315) / 100
// with the numerator computed exactly.
double TemperatureFromCode(uint16_t code);

// Degrees of a signed 16-bit big-endian angle in hundredths of a degree.
double AngleFromBytes(uint8_t high, uint8_t low);

// The unsigned big-endian 16-bit value at `at`.
uint16_t Word(const TReply& reply, int at);

// Decodes a successful poll into the record: housing 1..4, sensor 1..4, roll, pitch and the
// zero count; a zero count of 0 becomes |sensor code 3 - sensor code 1| cut to 16 bits.
// Tick is left alone.
void DecodePoll(const TReply& housingReply, const TReply& sensorReply, TMeasurementRecord& record);

// True when bytes 4-11 of the sensor reply add up to 2040 (all eight are 0xFF).
bool DataEnded(const TReply& sensorReply);

// Decodes a flash record by its kind: "a" sets Housing, "o" sets Sensor, "f" is the end of
// data (record unchanged), any other kind is a failure (record unchanged).
TFlashResult DecodeFlashRecord(const TReply& flashReply, TMeasurementRecord& record);

} // namespace orvi::app
