// Reading a data log back number by number, and the replay's lag arithmetic.
#include "app/LogReplay.h"
#include "app/DataLog.h"
#include "serial/Exceptions.h"
#include "tests/support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace orvi::app {
namespace {

class LogReader : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string path = dir.FilePath("log.txt");
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    testing::TempDir dir;
};

TEST(ParseLogNumbers, WholeNumbers) {
    const struct {
        const char* text;
        std::optional<int32_t> value;
    } cases[] = {{"0", 0},
                 {"-2147483648", INT32_MIN},
                 {"2147483647", INT32_MAX},
                 {"+12", 12},
                 {"2147483648", std::nullopt},
                 {"-2147483649", std::nullopt},
                 {"1.0", std::nullopt},
                 {"12a", std::nullopt},
                 {"-", std::nullopt},
                 {"", std::nullopt},
                 {"99999999999999999999999", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseLogInteger(c.text), c.value) << c.text;
}

TEST(ParseLogNumbers, RealNumbers) {
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {{"25.85", 25.85},
                 {"-0.14", -0.14},
                 {"+3", 3.0},
                 {"5.", 5.0},
                 {".5", 0.5},
                 {"1E15", 1e15},
                 {"1.5E-6", 1.5e-6},
                 {"2e+3", 2000.0},
                 {"1e-400", 0.0},
                 {"1e400", std::nullopt},
                 {"25,85", std::nullopt},
                 {".", std::nullopt},
                 {"e5", std::nullopt},
                 {"1e", std::nullopt},
                 {"nan", std::nullopt},
                 {"inf", std::nullopt},
                 {"0x10", std::nullopt},
                 {"1.2.3", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(ParseLogReal(c.text), c.value) << c.text;
}

TEST_F(LogReader, ReadsWhatTheWriterWrote) {
    TMeasurementRecord written;
    written.Tick = -2147483643;
    written.Housing = {25.85, 25.9, 26, 25.86};
    written.Sensor = {31.02, 30.5, 29.98, -0.14};
    written.Roll = -1.5;
    written.Pitch = 1.0 / 3;
    written.ZeroCount = -32768;
    TLogReader reader(Write(LogLine(written)));
    TMeasurementRecord read;
    reader.ReadLogRecord(read);
    EXPECT_EQ(read.Tick, written.Tick);
    EXPECT_EQ(read.Housing, written.Housing);
    EXPECT_EQ(read.Sensor, written.Sensor);
    EXPECT_EQ(read.Roll, written.Roll);
    EXPECT_NEAR(read.Pitch, written.Pitch, 1e-15) << "15 significant digits";
    EXPECT_EQ(read.ZeroCount, written.ZeroCount);
    EXPECT_FALSE(reader.Eof()) << "the line end is still unread";
    reader.ReadLogRecord(read);
    EXPECT_TRUE(reader.Eof());
    EXPECT_EQ(read.Tick, 0);
    EXPECT_EQ(read.Housing[0], 0) << "numbers past the end read as 0";
}

TEST_F(LogReader, IgnoresLineStructure) {
    TLogReader reader(Write("  7\t1\n\n2 3 4\r\n 5 6 7 8\t\t9 10\r\n\r\n 11"));
    TMeasurementRecord r;
    reader.ReadLogRecord(r);
    EXPECT_EQ(r.Tick, 7);
    EXPECT_EQ(r.Housing[0], 1);
    EXPECT_EQ(r.Sensor[3], 8);
    EXPECT_EQ(r.Roll, 9);
    EXPECT_EQ(r.Pitch, 10);
    EXPECT_EQ(r.ZeroCount, 11);
    EXPECT_TRUE(reader.Eof());
}

TEST_F(LogReader, ZeroCountIsKeptIn16Bits) {
    TLogReader reader(Write("1 0 0 0 0 0 0 0 0 0 0 65535 2 0 0 0 0 0 0 0 0 0 0 -32769"));
    TMeasurementRecord r;
    reader.ReadLogRecord(r);
    EXPECT_EQ(r.ZeroCount, -1);
    reader.ReadLogRecord(r);
    EXPECT_EQ(r.ZeroCount, 32767);
}

TEST_F(LogReader, Character1AEndsTheFile) {
    TLogReader reader(Write("1 2 3 4 5 6 7 8 9 10 11 12\r\n\x1A"
                            "2 3 4 5 6 7 8 9 10 11 12 13\r\n"));
    TMeasurementRecord r;
    reader.ReadLogRecord(r);
    EXPECT_EQ(r.ZeroCount, 12);
    EXPECT_FALSE(reader.Eof());
    reader.ReadLogRecord(r);
    EXPECT_TRUE(reader.Eof());
    EXPECT_EQ(r.Tick, 0);
}

TEST_F(LogReader, Character1AInsideANumberEndsIt) {
    TLogReader reader(Write("12\x1A"
                            "34"));
    TMeasurementRecord r;
    reader.ReadLogRecord(r);
    EXPECT_EQ(r.Tick, 12);
    EXPECT_TRUE(reader.Eof());
}

TEST_F(LogReader, AnEmptyFileReadsAsZeros) {
    TLogReader reader(Write(""));
    EXPECT_TRUE(reader.Eof());
    TMeasurementRecord r;
    r.Tick = 5;
    r.Roll = 3;
    reader.ReadLogRecord(r);
    EXPECT_EQ(r.Tick, 0);
    EXPECT_EQ(r.Roll, 0);
}

TEST_F(LogReader, AMalformedNumberIsReportedAfterTheTwelfthAndReadingGoesOn) {
    TLogReader reader(Write("100 1 2 x3 4 5 6 7 8 9 10 11\r\n200 1 1 1 1 1 1 1 1 1 1 1\r\n"));
    TMeasurementRecord r;
    try {
        reader.ReadLogRecord(r);
        FAIL() << "no error";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Invalid numeric input");
    }
    EXPECT_EQ(r.Tick, 100);
    EXPECT_EQ(r.Housing[1], 0) << "the malformed field";
    EXPECT_EQ(r.ZeroCount, 11) << "the numbers after it were read";
    reader.ReadLogRecord(r);
    EXPECT_EQ(r.Tick, 200);
}

TEST_F(LogReader, LongTokensAreCutAtTheirLimit) {
    // 40 digits: the first 32 are the tick (out of range), the other 8 the next number.
    const std::string digits(32, '1');
    TLogReader reader(Write(digits + "22222222 3 4 5 6 7 8 9 10 11 12"));
    TMeasurementRecord r;
    EXPECT_THROW(reader.ReadLogRecord(r), EInOutError);
    EXPECT_EQ(r.Housing[0], 22222222);
    EXPECT_EQ(r.ZeroCount, 12);
}

TEST_F(LogReader, AMissingFileNamesItself) {
    const std::string name = dir.FilePath("none.txt");
    try {
        TLogReader reader(name);
        FAIL();
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + name + "\". No such file or directory");
    }
}

TEST(ReplayLag, WrapsAround32Bits) {
    const struct {
        int32_t record, first;
        uint32_t now, start;
        int32_t lag;
    } cases[] = {
        {1500, 1000, 100000, 100000, 500},
        {1500, 1000, 100510, 100000, -10},
        {1000, 1000, 100000, 100000, 0},
        {4000, 5000, 100010, 100000, -1010},
        // recorded across the sign change of the tick count
        {int32_t(0x80000010u), 0x7FFFFFF0, 100000, 100000, 0x20},
        // replayed across the wrap of the system's counter
        {1500, 1000, 0x00000100u, 0xFFFFFF00u, 500 - 0x200},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplayLag(c.record, c.first, c.now, c.start), c.lag);
}

} // namespace
} // namespace orvi::app
