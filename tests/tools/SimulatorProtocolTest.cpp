#include "tools/simulator/FrameParser.h"
#include "tools/simulator/Protocol.h"

#include "tests/tools/ByteHelpers.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace orvi::sim {
namespace {

using test::Bytes;
using test::Concat;
using test::Of;

std::vector<RequestKind> FeedAll(FrameParser& parser, const Bytes& bytes) {
    return parser.Feed(bytes.data(), bytes.size());
}

// ---- CRC and replies

TEST(SimulatorCrc, MatchesTheFramesAndTheStandardCheckValue) {
    struct Case {
        Bytes frame;
        uint16_t crc;
    };
    const Case cases[] = {
        {Of(kHousingRequest), 0xDCFA},
        {Of(kSensorRequest), 0x1C3B},
        {Of(kFlashRequest), 0xEBE9},
        {{'1', '2', '3', '4', '5', '6', '7', '8', '9', 0x37, 0x4B}, 0x4B37},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Crc16Modbus(c.frame.data(), c.frame.size() - 2), c.crc);
}

TEST(SimulatorReplies, HousingFieldsAreBigEndianAtTheirOffsets) {
    const Reply r = HousingReply({14950, 0, 65535, 1}, -200, 9000, INT16_MIN);
    const Bytes head = {0x81, 0x00, 0x0E, 0x44, 0x3A, 0x66, 0x00, 0x00, 0xFF,
                        0xFF, 0x00, 0x01, 0xFF, 0x38, 0x23, 0x28, 0x80, 0x00};
    EXPECT_EQ(Bytes(r.begin(), r.begin() + 18), head);
    EXPECT_EQ(Crc16Modbus(r.data(), 18), r[18] | (r[19] << 8));
}

TEST(SimulatorReplies, SensorEndOfDataAndFlashRecords) {
    const Reply sensor = SensorReply({1, 0x0203, 0xFFFE, 0x8000});
    EXPECT_EQ(Bytes(sensor.begin() + 4, sensor.begin() + 12),
              (Bytes{0x00, 0x01, 0x02, 0x03, 0xFF, 0xFE, 0x80, 0x00}));
    EXPECT_EQ(Bytes(sensor.begin() + 12, sensor.begin() + 18), Bytes(6, 0));

    const Reply end = EndOfDataReply();
    int sum = 0;
    for (size_t i = 4; i < 12; ++i)
        sum += end[i];
    EXPECT_EQ(sum, 2040);

    const Reply a = FlashReply('a', {0x1234, 2, 3, 4});
    EXPECT_EQ(a[3], 'a');
    EXPECT_EQ(a[4], 0x12);
    EXPECT_EQ(a[5], 0x34);
    const Reply f = FlashReply('f', {9, 9, 9, 9});
    EXPECT_EQ(f[3], 'f');
    EXPECT_EQ(Bytes(f.begin() + 4, f.begin() + 12), Bytes(8, 0));
    EXPECT_EQ(FlashReply('x', {})[3], 'x');
}

TEST(SimulatorReplies, ShapeCutsOrPads) {
    const Reply r = SensorReply({1, 2, 3, 4});
    EXPECT_EQ(ShapeReply(r, 20), Of(r));
    EXPECT_EQ(ShapeReply(r, 15), Bytes(r.begin(), r.begin() + 15));
    EXPECT_TRUE(ShapeReply(r, 0).empty());
    const Bytes longer = ShapeReply(r, 25);
    EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 20), Of(r));
    EXPECT_EQ(Bytes(longer.begin() + 20, longer.end()), Bytes(5, kFillerByte));
}

// ---- Frame parser

TEST(SimulatorParser, EachFrameAloneAndAllTogether) {
    FrameParser p;
    EXPECT_EQ(FeedAll(p, Of(kHousingRequest)), std::vector{RequestKind::Housing});
    EXPECT_EQ(FeedAll(p, Of(kSensorRequest)), std::vector{RequestKind::Sensor});
    EXPECT_EQ(FeedAll(p, Of(kFlashRequest)), std::vector{RequestKind::Flash});
    const Bytes all = Concat({Of(kFlashRequest), Of(kSensorRequest), Of(kHousingRequest)});
    EXPECT_EQ(FeedAll(p, all),
              (std::vector{RequestKind::Flash, RequestKind::Sensor, RequestKind::Housing}));
    EXPECT_EQ(p.Held(), 0u);
    EXPECT_EQ(p.Stats().skippedBytes, 0u);
}

TEST(SimulatorParser, FrameSplitAnywhereCompletesOnItsLastByte) {
    for (const Bytes& frame : {Of(kHousingRequest), Of(kFlashRequest)}) {
        for (size_t cut = 1; cut < frame.size(); ++cut) {
            FrameParser p;
            EXPECT_TRUE(p.Feed(frame.data(), cut).empty());
            EXPECT_EQ(p.Feed(frame.data() + cut, frame.size() - cut).size(), 1u) << cut;
        }
    }
}

TEST(SimulatorParser, GarbageIsSkippedUpToAFrame) {
    struct Case {
        const char* what;
        Bytes garbage;
    };
    const Case cases[] = {
        {"noise", {0x00, 0xFF, 0x44, 0x06}},
        {"lone starts", {0x81, 0x81, 0x81}},
        {"start of a frame", {0x81, 0x00, 0x01, 0x44}},
        {"start of a flash frame", {0x81, 0x00, 0x00, 0x45, 0xE9}},
        {"wrong length", {0x81, 0x00, 0x02, 0x44, 0x06}},
        {"command not matching length", {0x81, 0x00, 0x01, 0x45, 0x06, 0x00, 0x00}},
    };
    for (const Case& c : cases) {
        FrameParser p;
        EXPECT_EQ(FeedAll(p, Concat({c.garbage, Of(kSensorRequest)})),
                  std::vector{RequestKind::Sensor})
            << c.what;
        EXPECT_EQ(p.Stats().skippedBytes, c.garbage.size()) << c.what;
        EXPECT_EQ(p.Held(), 0u) << c.what;
    }
}

TEST(SimulatorParser, BadCrcIsNotAnswered) {
    Bytes bad = Of(kHousingRequest);
    bad[6] ^= 0x01;
    FrameParser p;
    EXPECT_TRUE(FeedAll(p, bad).empty());
    EXPECT_EQ(p.Stats().badCrc, 1u);
    EXPECT_EQ(FeedAll(p, Of(kFlashRequest)), std::vector{RequestKind::Flash});
}

TEST(SimulatorParser, UnknownSetWithGoodCrcIsCountedAndPassedOver) {
    Bytes set5 = {0x81, 0x00, 0x01, 0x44, 0x05, 0, 0};
    const uint16_t crc = Crc16Modbus(set5.data(), 5);
    set5[5] = uint8_t(crc & 0xFF);
    set5[6] = uint8_t(crc >> 8);
    FrameParser p;
    EXPECT_EQ(FeedAll(p, Concat({set5, Of(kHousingRequest)})), std::vector{RequestKind::Housing});
    EXPECT_EQ(p.Stats().unknownFrames, 1u);
    EXPECT_EQ(p.Stats().skippedBytes, 0u);
}

TEST(SimulatorParser, NoiseNeverPilesUp) {
    std::mt19937 random(7);
    FrameParser p;
    for (int round = 0; round < 200; ++round) {
        Bytes noise(97);
        for (uint8_t& b : noise)
            b = uint8_t(random() % 3 == 0 ? 0x81 : random());
        FeedAll(p, noise);
        EXPECT_LT(p.Held(), kHousingRequest.size());
    }
    FeedAll(p, Bytes(8, 0x00));
    EXPECT_EQ(FeedAll(p, Of(kHousingRequest)), std::vector{RequestKind::Housing});
}

} // namespace
} // namespace orvi::sim
