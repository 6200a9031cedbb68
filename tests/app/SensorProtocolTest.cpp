// Frames, reply decoding and the end-of-data test of the device protocol.
#include "app/SensorProtocol.h"
#include "tools/simulator/Protocol.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>

namespace orvi::app {
namespace {

TReply ReplyWith(std::initializer_list<std::pair<int, uint8_t>> bytes) {
    TReply r{};
    for (auto [at, value] : bytes)
        r[size_t(at)] = value;
    return r;
}

template <size_t N> std::string Hex(const std::array<uint8_t, N>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        char two[4];
        std::snprintf(two, sizeof two, "%02X ", b);
        text += two;
    }
    text.pop_back();
    return text;
}

// The three frames byte for byte as the device expects them, each ending in the CRC-16/MODBUS
// of the bytes before it (the value written out), low byte first.
TEST(SensorFrames, AreTheDevicesBytes) {
    EXPECT_EQ(Hex(HousingRequest), "81 00 01 44 06 FA DC");
    EXPECT_EQ(Hex(SensorRequest), "81 00 01 44 07 3B 1C");
    EXPECT_EQ(Hex(FlashRequest), "81 00 00 45 E9 EB");
    EXPECT_EQ(sim::Crc16Modbus(HousingRequest.data(), 5), 0xDCFA);
    EXPECT_EQ(sim::Crc16Modbus(SensorRequest.data(), 5), 0x1C3B);
    EXPECT_EQ(sim::Crc16Modbus(FlashRequest.data(), 4), 0xEBE9);
}

TEST(TemperatureFromCode, ConvertsExactNumerators) {
    const struct {
        uint16_t code;
        double celsius;
    } cases[] = {{0, -273.15}, {14950, 25.85}, {65535, 1037.55}, {13658, 0.01}, {13657, -0.01}};
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(TemperatureFromCode(c.code), c.celsius) << c.code;
}

TEST(AngleFromBytes, IsSignedHundredths) {
    EXPECT_DOUBLE_EQ(AngleFromBytes(0xFF, 0x38), -2.00);
    EXPECT_DOUBLE_EQ(AngleFromBytes(0x23, 0x28), 90.00);
    EXPECT_DOUBLE_EQ(AngleFromBytes(0x80, 0x00), -327.68);
    EXPECT_DOUBLE_EQ(AngleFromBytes(0x7F, 0xFF), 327.67);
}

TEST(DecodePoll, TakesEveryFieldFromItsBytes) {
    const TReply housing = sim::HousingReply({14950, 14960, 14970, 14980}, -200, 75, 12);
    const TReply sensor = sim::SensorReply({15165, 15100, 15215, 15166});
    TMeasurementRecord r;
    r.Tick = 777;
    DecodePoll(housing, sensor, r);
    EXPECT_DOUBLE_EQ(r.Housing[0], 25.85);
    EXPECT_DOUBLE_EQ(r.Housing[3], 26.45);
    EXPECT_DOUBLE_EQ(r.Sensor[0], 30.15);
    EXPECT_DOUBLE_EQ(r.Sensor[2], 31.15);
    EXPECT_DOUBLE_EQ(r.Roll, -2.0);
    EXPECT_DOUBLE_EQ(r.Pitch, 0.75);
    EXPECT_EQ(r.ZeroCount, 12);
    EXPECT_EQ(r.Tick, 777) << "a poll does not stamp the record";
}

TEST(DecodePoll, ZeroCountOfZeroBecomesTheSpreadOfSensors3And1) {
    const struct {
        uint16_t sensor1, sensor3;
        int16_t expected;
    } cases[] = {{14950, 15000, 50}, {15000, 14950, 50}, {0, 0xFFFF, -1}, {100, 100, 0}};
    for (const auto& c : cases) {
        TMeasurementRecord r;
        DecodePoll(sim::HousingReply({}, 0, 0, 0), sim::SensorReply({c.sensor1, 1, c.sensor3, 1}),
                   r);
        EXPECT_EQ(r.ZeroCount, c.expected) << c.sensor1 << " " << c.sensor3;
    }
}

TEST(DecodePoll, ZeroCountBytes8000AreTheLowestValue) {
    TMeasurementRecord r;
    DecodePoll(ReplyWith({{16, 0x80}}), TReply{}, r);
    EXPECT_EQ(r.ZeroCount, -32768);
}

TEST(DataEnded, OnlyWhenAllEightCodeBytesAreFF) {
    EXPECT_TRUE(DataEnded(sim::EndOfDataReply()));
    for (int at = 4; at < 12; ++at) {
        TReply almost = sim::EndOfDataReply();
        almost[size_t(at)] = 0xFE;
        EXPECT_FALSE(DataEnded(almost)) << at;
    }
    TReply outside = sim::SensorReply({1, 2, 3, 4});
    outside.fill(0xFF);
    outside[4] = 0;
    EXPECT_FALSE(DataEnded(outside));
    TReply elsewhere{};
    for (int at : {0, 1, 2, 3, 12, 13, 14, 15, 16, 17, 18, 19})
        elsewhere[size_t(at)] = 0xFF;
    EXPECT_FALSE(DataEnded(elsewhere)) << "bytes outside 4-11 do not count";
}

TEST(DecodeFlashRecord, ByKind) {
    TMeasurementRecord r;
    r.Roll = 1;
    r.Pitch = 2;
    r.ZeroCount = 3;
    r.Tick = 4;
    EXPECT_EQ(DecodeFlashRecord(sim::FlashReply('a', {14950, 14950, 14950, 14950}), r),
              TFlashResult::Record);
    EXPECT_DOUBLE_EQ(r.Housing[2], 25.85);
    EXPECT_DOUBLE_EQ(r.Sensor[2], 0);
    EXPECT_EQ(DecodeFlashRecord(sim::FlashReply('o', {15165, 0, 0, 0}), r), TFlashResult::Record);
    EXPECT_DOUBLE_EQ(r.Sensor[0], 30.15);
    EXPECT_DOUBLE_EQ(r.Housing[2], 25.85);

    const TMeasurementRecord before = r;
    EXPECT_EQ(DecodeFlashRecord(sim::FlashReply('f', {1, 1, 1, 1}), r), TFlashResult::End);
    EXPECT_EQ(DecodeFlashRecord(sim::FlashReply(0x78, {1, 1, 1, 1}), r), TFlashResult::Failure);
    EXPECT_EQ(r.Housing, before.Housing);
    EXPECT_EQ(r.Sensor, before.Sensor);
    EXPECT_EQ(r.Roll, 1);
    EXPECT_EQ(r.Pitch, 2);
    EXPECT_EQ(r.ZeroCount, 3);
    EXPECT_EQ(r.Tick, 4);
}

} // namespace
} // namespace orvi::app
