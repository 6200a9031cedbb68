// The data log's number and line format, the date file name, and the file itself.
#include "app/DataLog.h"
#include "app/DisplayFormat.h"
#include "serial/Exceptions.h"
#include "tests/support/TempDir.h"

#include <climits>
#include <cmath>
#include <fstream>
#include <gtest/gtest.h>

namespace orvi::app {
namespace {

using testing::FileBytes;

TEST(LogNumberText, GeneralFormWithPoint) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {25.85, "25.85"},
        {26, "26"},
        {-0.14, "-0.14"},
        {-1.5, "-1.5"},
        {0, "0"},
        {-0.0, "0"},
        {-273.15, "-273.15"},
        {1037.55, "1037.55"},
        {0.24, "0.24"},
        {12 * 0.02, "0.24"},
        {50 * 0.02, "1"},
        {-32768 * 0.02, "-655.36"},
        {0.1 + 0.2, "0.3"},
        {123456789012345.0, "123456789012345"},
        // Exponent form from 1E15 up and below 0.00001, judged on the rounded digits.
        {999999999999999.0, "999999999999999"},
        {999999999999999.9, "1E15"},
        {1e15, "1E15"},
        {-2.5e16, "-2.5E16"},
        {0.00001, "0.00001"},
        {-0.00001, "-0.00001"},
        {0.00005, "0.00005"},
        {0.000099, "0.000099"},
        {0.0000123456789012345, "0.0000123456789012345"},
        {std::nextafter(0.00001, 0.0), "0.00001"},
        {0.000009, "9E-6"},
        {0.0000099999999999, "9.9999999999E-6"},
        {0.0001, "0.0001"},
        {1.5e-6, "1.5E-6"},
        {1.0 / 3, "0.333333333333333"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LogNumberText(c.value), c.text) << c.value;
}

TEST(DisplayNumberText, UsesTheOperatorsSeparator) {
    EXPECT_EQ(DisplayNumberText(25.85, ","), "25,85");
    EXPECT_EQ(DisplayNumberText(-1.5, "."), "-1.5");
    EXPECT_EQ(DisplayNumberText(26, ","), "26");
    EXPECT_EQ(DisplayNumberText(1.5e-6, ","), "1,5E-6");
    EXPECT_EQ(DisplayNumberText(0.00005, ","), "0,00005");
}

TEST(GaugeValue, RoundsHalvesToEven) {
    const struct {
        double value;
        int gauge;
    } cases[] = {{0.5, 0},         {1.5, 2},          {2.5, 2},         {-2.5, -2}, {-0.5, 0},
                 {25.85, 26},      {60.4, 60},        {-75, -75},       {0.49, 0},  {-1.51, -2},
                 {1e300, INT_MAX}, {-1e300, INT_MIN}, {std::nan(""), 0}};
    for (const auto& c : cases)
        EXPECT_EQ(GaugeValue(c.value), c.gauge) << c.value;
}

TEST(LogLine, TwelveFieldsInOrderEndedByCrLf) {
    TMeasurementRecord r;
    r.Tick = 48213375;
    r.Housing = {25.85, 25.9, 26, 25.86};
    r.Sensor = {31.02, 30.5, 29.98, -0.14};
    r.Roll = -1.5;
    r.Pitch = 0.75;
    r.ZeroCount = 12;
    EXPECT_EQ(LogLine(r), "48213375 25.85 31.02 25.9 30.5 26 29.98 25.86 -0.14 -1.5 0.75 12\r\n");
}

TEST(LogLine, NegativeTickAndExtremeZeroCount) {
    TMeasurementRecord r;
    r.Tick = int32_t(uint32_t(0x80000005u));
    r.ZeroCount = -32768;
    EXPECT_EQ(LogLine(r), "-2147483643 0 0 0 0 0 0 0 0 0 0 -32768\r\n");
}

TEST(DateFileName, NoLeadingZeros) {
    EXPECT_EQ(DateFileName(2024, 3, 7, 9, 5), "2024_3_7_9_5.txt");
    EXPECT_EQ(DateFileName(2023, 12, 31, 23, 59), "2023_12_31_23_59.txt");
    EXPECT_EQ(DateFileName(2025, 1, 1, 0, 0), "2025_1_1_0_0.txt");
}

class DataLogFile : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return dir.FilePath(name); }
    testing::TempDir dir;
};

TEST_F(DataLogFile, WritesEachLineThroughAtOnce) {
    TDataLog log(Path("a.txt"));
    log.Write("1 2\r\n");
    EXPECT_EQ(FileBytes(Path("a.txt")), "1 2\r\n") << "nothing may wait in a buffer";
    log.Write("3 4\r\n");
    log.Close();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(FileBytes(Path("a.txt")), "1 2\r\n3 4\r\n");
    log.Close(); // twice is harmless
}

TEST_F(DataLogFile, EmptiesAnExistingFile) {
    std::ofstream(Path("old.txt")) << "old contents that must go\r\n";
    TDataLog log(Path("old.txt"));
    log.Write("new\r\n");
    log.Close();
    EXPECT_EQ(FileBytes(Path("old.txt")), "new\r\n");
}

TEST_F(DataLogFile, IsHeldExclusivelyAndNotEmptiedByASecondWriter) {
    TDataLog first(Path("held.txt"));
    first.Write("kept\r\n");
    EXPECT_THROW(TDataLog second(Path("held.txt")), EInOutError);
    EXPECT_EQ(FileBytes(Path("held.txt")), "kept\r\n");
    first.Close();
    EXPECT_NO_THROW(TDataLog again(Path("held.txt")));
}

TEST_F(DataLogFile, CreationFailuresNameTheFile) {
    const struct { std::string name; } cases[] = {{""}, {Path("missing/dir/x.txt")}, {dir.Path()}};
    for (const auto& c : cases) {
        try {
            TDataLog log(c.name);
            ADD_FAILURE() << "created " << c.name;
        } catch (const EInOutError& e) {
            EXPECT_EQ(e.Message().rfind("Cannot create file \"" + c.name + "\". ", 0), 0u)
                << e.Message();
        }
    }
}

} // namespace
} // namespace orvi::app
