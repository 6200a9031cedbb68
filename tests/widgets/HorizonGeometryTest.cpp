#include "widgets/HorizonGeometry.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace orvi::widgets {
namespace {

constexpr int kSide = 193; // the main window's horizon
constexpr double kRadius = 0.67;
constexpr double kDeg = 180.0 / std::numbers::pi;

// A stand-in font: 7 pixels per character, 13 pixels high.
TextSize FixedMeasure(const std::string& s) {
    return {7 * static_cast<int>(s.size()), 13};
}

void ExpectNear(const PointF& actual, double x, double y, double tol) {
    EXPECT_NEAR(actual.x, x, tol);
    EXPECT_NEAR(actual.y, y, tol);
}

// --- Rounding and number text ---

TEST(Rounding, TruncCutsTowardsZero) {
    EXPECT_EQ(Trunc(2.9), 2);
    EXPECT_EQ(Trunc(-2.9), -2);
    EXPECT_EQ(Trunc(95.99999999999999), 95);
}

TEST(Rounding, RoundSendsExactHalvesToEven) {
    const struct {
        double in;
        int out;
    } cases[] = {{0.5, 0},   {1.5, 2},    {2.5, 2},    {-0.5, 0},     {-1.5, -2},
                 {-2.5, -2}, {2.4999, 2}, {2.5001, 3}, {-2.5001, -3}, {64.32, 64}};
    for (const auto& c : cases) {
        EXPECT_EQ(RoundHalfEven(c.in), c.out) << c.in;
    }
}

TEST(Rounding, NonFiniteInputsStayDefined) {
    EXPECT_EQ(RoundHalfEven(std::nan("")), 0);
    EXPECT_EQ(Trunc(1e300), INT_MAX);
    EXPECT_EQ(Trunc(-1e300), INT_MIN);
}

TEST(FormatFixed, OneDecimalAsTheReadoutShowsIt) {
    const struct {
        double in;
        const char* out;
    } cases[] = {{0.0, "0.0"},    {-12.5, "-12.5"},  {90.0, "90.0"},   {-90.0, "-90.0"},
                 {12.25, "12.3"}, {-12.25, "-12.3"}, {0.15, "0.2"},    {9.96, "10.0"},
                 {-0.04, "0.0"},  {-0.0, "0.0"},     {89.999, "90.0"}, {1e-300, "0.0"}};
    for (const auto& c : cases) {
        EXPECT_EQ(FormatFixed(c.in, 1), c.out) << c.in;
    }
}

TEST(FormatFixed, WholeNumbersRoundHalvesAwayFromZero) {
    EXPECT_EQ(FormatFixed(22.5, 0), "23");
    EXPECT_EQ(FormatFixed(-22.5, 0), "-23");
    EXPECT_EQ(FormatFixed(179.99999999999994, 0), "180");
    EXPECT_EQ(FormatFixed(99.5, 0), "100");
}

// --- The face's scale ---

std::vector<std::string> Labels(int sectors, bool showSign) {
    const ScaleLayout scale =
        LayoutScale(kSide, kSide, kRadius, sectors, 5, showSign, FixedMeasure);
    std::vector<std::string> labels;
    for (const ScaleMark& m : scale.marks) {
        labels.push_back(m.text);
    }
    return labels;
}

TEST(ScaleLabels, NineSectorsWithSign) {
    const std::vector<std::string> expected = {"0",    "20",   "40",  "60",  "80",   "100",
                                               "120",  "140",  "160", "180", "-160", "-140",
                                               "-120", "-100", "-80", "-60", "-40",  "-20"};
    EXPECT_EQ(Labels(9, true), expected);
}

TEST(ScaleLabels, NineSectorsWithoutSign) {
    const std::vector<std::string> expected = {"0",   "20",  "40",  "60",  "80",  "100",
                                               "120", "140", "160", "180", "160", "140",
                                               "120", "100", "80",  "60",  "40",  "20"};
    EXPECT_EQ(Labels(9, false), expected);
}

TEST(ScaleLabels, FourSectors) {
    const std::vector<std::string> expected = {"0", "45", "90", "135", "180", "-135", "-90", "-45"};
    EXPECT_EQ(Labels(4, true), expected);
}

TEST(ScaleLabels, ExactHalvesReadTheSameOnBothSides) {
    const std::vector<std::string> expected = {"0",   "23",  "45",  "68",   "90",   "113",
                                               "135", "158", "180", "-158", "-135", "-113",
                                               "-90", "-68", "-45", "-23"};
    EXPECT_EQ(Labels(8, true), expected);
}

// The accumulated label at 6 o'clock lands a hair above 180 for some counts (7, 11, 14, ...).
TEST(ScaleLabels, EverySectorCountGivesTwiceAsManyTicksWith180AtTheBottom) {
    for (int sectors = 2; sectors <= 24; ++sectors) {
        const std::vector<std::string> labels = Labels(sectors, true);
        ASSERT_EQ(labels.size(), std::size_t(2 * sectors)) << sectors;
        EXPECT_EQ(labels.front(), "0") << sectors;
        EXPECT_EQ(labels[sectors], "180") << sectors;
        EXPECT_EQ(labels[sectors + 1].front(), '-') << sectors;
    }
}

TEST(ScaleLayout, MainWindowFaceHas18TicksFromRadius65) {
    const ScaleLayout scale = LayoutScale(kSide, kSide, kRadius, 9, 5, true, FixedMeasure);
    EXPECT_EQ(scale.cx, 96);
    EXPECT_EQ(scale.cy, 96);
    EXPECT_EQ(scale.r1, 65);
    EXPECT_EQ(scale.r2, 96 - 21 - 5);
    ASSERT_EQ(scale.marks.size(), 18u);
    // 12 o'clock: the tick runs straight up; the label "0" (7 x 13) is centred
    // sqrt(3*3 + 6*6) + 70 + 5 - 2 = 79.7 pixels above the centre.
    EXPECT_EQ(scale.marks[0].tick, (Segment{{96, 31}, {96, 26}}));
    EXPECT_EQ(scale.marks[0].textCorner, (Point{93, 10}));
}

TEST(ScaleLayout, TicksRunClockwiseInEqualSteps) {
    const ScaleLayout scale = LayoutScale(kSide, kSide, kRadius, 9, 5, true, FixedMeasure);
    const double truncation = 1.0 + 1e-9; // Trunc of 95.99999999999999 is 95
    for (std::size_t k = 0; k < scale.marks.size(); ++k) {
        const double phi = k * 20.0 / kDeg; // clockwise from 12 o'clock
        const Segment& t = scale.marks[k].tick;
        EXPECT_NEAR(t.from.x, 96 + 65 * std::sin(phi), truncation) << k;
        EXPECT_NEAR(t.from.y, 96 - 65 * std::cos(phi), truncation) << k;
        EXPECT_NEAR(t.to.x, 96 + 70 * std::sin(phi), truncation) << k;
        EXPECT_NEAR(t.to.y, 96 - 70 * std::cos(phi), truncation) << k;
    }
}

TEST(ScaleLayout, NoSectorsDrawsNoTicks) {
    EXPECT_TRUE(LayoutScale(kSide, kSide, kRadius, 0, 5, true, FixedMeasure).marks.empty());
}

// --- The moving parts ---

TEST(Horizon, LevelAttitude) {
    const HorizonLayout hz = LayoutHorizon(kSide, kRadius, 0, 0);
    EXPECT_EQ(hz.cx, 96);
    EXPECT_EQ(hz.cy, 96);
    EXPECT_NEAR(hz.R, 64.32, 1e-9);
    EXPECT_EQ(hz.groundDisc, (Box{31, 31, 161, 161}));
    EXPECT_EQ(hz.bezel, (Box{30, 30, 162, 162}));
    EXPECT_EQ(hz.diameter, (Segment{{32, 96}, {160, 96}}));
    ASSERT_TRUE(hz.sky.has_value());
    EXPECT_EQ(hz.sky->points.front(), (Point{31, 96}));
    EXPECT_EQ(hz.sky->points.back(), (Point{161, 96}));
    EXPECT_NEAR(hz.sky->delta, std::numbers::pi, 1e-12); // the upper half
    for (const Point& p : hz.sky->points) {
        EXPECT_LE(p.y, 96);
    }
}

TEST(Horizon, Roll30Pitch20) {
    const HorizonLayout hz = LayoutHorizon(kSide, kRadius, 30, 20);
    EXPECT_NEAR(hz.p, 14.2933, 1e-4);
    ASSERT_TRUE(hz.sky.has_value());
    const SkyOutline& s = *hz.sky;
    ExpectNear(s.M, 88.8533, 108.3784, 1e-4);
    EXPECT_NEAR(s.h, 62.7117, 1e-4);
    ExpectNear(s.A, 34.5434, 77.0225, 1e-4);
    ExpectNear(s.B, 143.1633, 139.7343, 1e-4);
    EXPECT_NEAR(s.phiA * kDeg, 287.16, 0.005);
    EXPECT_NEAR(s.phiB * kDeg, 132.84, 0.005);
    EXPECT_NEAR(s.delta * kDeg, 205.68, 0.005);
    EXPECT_EQ(s.points[0], (Point{34, 77}));
    EXPECT_EQ(s.points[31], (Point{127, 39}));
    EXPECT_EQ(s.points[63], (Point{144, 140}));
    EXPECT_EQ(hz.diameter, (Segment{{40, 64}, {152, 128}}));
    const ReadoutLayout ro = LayoutReadout(hz, 30, FixedMeasure("20.0"));
    EXPECT_EQ(ro.pointer.from, (Point{128, 40}));
    EXPECT_EQ(ro.escapement, -300);
}

TEST(Horizon, RollMinus45PitchMinus30) {
    const HorizonLayout hz = LayoutHorizon(kSide, kRadius, -45, -30);
    EXPECT_NEAR(hz.p, -21.44, 1e-9);
    ASSERT_TRUE(hz.sky.has_value());
    ExpectNear(hz.sky->A, 37.9596, 123.7196, 1e-4);
    ExpectNear(hz.sky->B, 123.7196, 37.9596, 1e-4);
    EXPECT_NEAR(hz.sky->delta * kDeg, 141.06, 0.005);
    EXPECT_EQ(hz.sky->points.front(), (Point{37, 124}));
    EXPECT_EQ(hz.sky->points.back(), (Point{124, 37}));
    EXPECT_EQ(LayoutReadout(hz, -45, FixedMeasure("-30.0")).escapement, 450);
}

TEST(Horizon, FullPitchUpIsAllSky) {
    for (double kren : {0.0, 10.0, -135.0, 180.0}) {
        const HorizonLayout hz = LayoutHorizon(kSide, kRadius, kren, 90);
        ASSERT_TRUE(hz.sky.has_value());
        EXPECT_EQ(hz.sky->h, 0.0);
        EXPECT_EQ(hz.sky->A.x, hz.sky->B.x);
        EXPECT_EQ(hz.sky->A.y, hz.sky->B.y);
        EXPECT_DOUBLE_EQ(hz.sky->delta, 2 * std::numbers::pi) << kren;
    }
    // At zero roll A and B meet at 6 o'clock.
    ExpectNear(LayoutHorizon(kSide, kRadius, 0, 90).sky->A, 96, 160.32, 1e-9);
}

TEST(Horizon, FullPitchDownHasNoSky) {
    EXPECT_FALSE(LayoutHorizon(kSide, kRadius, 0, -90).sky.has_value());
    EXPECT_FALSE(LayoutHorizon(kSide, kRadius, 77, -90).sky.has_value());
}

TEST(Horizon, PitchJustAboveFullDownIsAThinSliverAtTheTop) {
    for (double tangaj : {-89.9, std::nextafter(-90.0, 0.0)}) {
        const HorizonLayout hz = LayoutHorizon(kSide, kRadius, 0, tangaj);
        ASSERT_TRUE(hz.sky.has_value());
        EXPECT_GT(hz.sky->delta, 0.0) << tangaj;
        EXPECT_LT(hz.sky->delta, 0.1) << tangaj;
        for (const Point& p : hz.sky->points) {
            EXPECT_LE(p.y, 32) << tangaj;
        }
    }
}

TEST(Horizon, RollOf90PutsTheSkyOnTheRight) {
    const HorizonLayout hz = LayoutHorizon(kSide, kRadius, 90, 0);
    ASSERT_TRUE(hz.sky.has_value());
    for (const Point& p : hz.sky->points) {
        EXPECT_GE(p.x, 96);
    }
    EXPECT_EQ(LayoutReadout(hz, 90, FixedMeasure("0.0")).pointer.from, (Point{160, 96}));
}

TEST(Readout, LevelTextSitsCentredJustAboveTheCentre) {
    const HorizonLayout hz = LayoutHorizon(kSide, kRadius, 0, 0);
    const ReadoutLayout ro = LayoutReadout(hz, 0, TextSize{31, 22});
    EXPECT_EQ(ro.hw, 15);
    EXPECT_EQ(ro.th, 24);
    ExpectNear(ro.corner, 81, 72, 1e-9);
    EXPECT_EQ(ro.escapement, 0);
    EXPECT_EQ(ro.pointer, (Segment{{96, 32}, {96, 70}}));
}

TEST(Readout, UpsideDownRollTurnsTheBoxAboutTheCentre) {
    const HorizonLayout hz = LayoutHorizon(kSide, kRadius, 180, 0);
    const ReadoutLayout ro = LayoutReadout(hz, 180, TextSize{31, 22});
    EXPECT_EQ(ro.cornerRounded, (Point{111, 120}));
    EXPECT_EQ(ro.escapement, -1800);
    EXPECT_EQ(ro.pointer, (Segment{{96, 160}, {96, 122}}));
}

TEST(Readout, EscapementRoundsTenthsHalfToEven) {
    const HorizonLayout hz = LayoutHorizon(kSide, kRadius, 0, 0);
    EXPECT_EQ(LayoutReadout(hz, 12.25, {}).escapement, -122);
    EXPECT_EQ(LayoutReadout(hz, 12.75, {}).escapement, -128);
    EXPECT_EQ(LayoutReadout(hz, -180, {}).escapement, 1800);
}

} // namespace
} // namespace orvi::widgets
