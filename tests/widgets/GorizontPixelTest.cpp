// What the horizon puts on screen, checked on rendered pixels of the main window's instance.
#include "GorizontProbe.h"

#include <QCoreApplication>
#include <cmath>
#include <gtest/gtest.h>

namespace orvi::widgets::test {
namespace {

const QColor kSky(0, 0, 255);
const QColor kGround(155, 78, 0);
const QColor kBack(128, 128, 128);
constexpr int kC = 96; // centre
constexpr int kR = 64; // disc radius, rounded down

// Pixels of the disc's interior, at least `margin` inside its edge.
template <typename F> void ForEachDiscPixel(const QImage& img, int margin, F&& f) {
    for (int y = kC - kR; y <= kC + kR; ++y) {
        for (int x = kC - kR; x <= kC + kR; ++x) {
            if (std::hypot(x - kC, y - kC) <= kR - margin) {
                f(x, y, img.pixelColor(x, y));
            }
        }
    }
}

int CountInDisc(const QImage& img, const QColor& colour) {
    int n = 0;
    ForEachDiscPixel(img, 2, [&](int, int, const QColor& c) { n += c == colour; });
    return n;
}

using GorizontPixels = ShownHorizon;

// Points off the vertical and clear of the read-out: the pointer and the text sit on the
// turned vertical through the centre.
TEST_F(GorizontPixels, LevelHasSkyAboveAndGroundBelow) {
    const QImage img = Render();
    EXPECT_EQ(img.pixelColor(kC + 10, kC - 45), kSky);
    EXPECT_EQ(img.pixelColor(kC - 30, kC - 20), kSky);
    EXPECT_EQ(img.pixelColor(kC + 10, kC + 45), kGround);
    EXPECT_EQ(img.pixelColor(kC - 30, kC + 20), kGround);
}

TEST_F(GorizontPixels, UpsideDownSwapsSkyAndGround) {
    g.SetKren(180);
    const QImage img = Render();
    EXPECT_EQ(img.pixelColor(kC + 10, kC - 45), kGround);
    EXPECT_EQ(img.pixelColor(kC + 10, kC + 45), kSky);
    // The pointer now runs up from 6 o'clock.
    EXPECT_NE(img.pixelColor(kC, kC + 50), kSky);
    EXPECT_EQ(img.pixelColor(kC, kC - 50), kGround);
}

TEST_F(GorizontPixels, RollOf90PutsTheSkyOnTheRight) {
    g.SetKren(90);
    const QImage img = Render();
    EXPECT_EQ(img.pixelColor(kC + 45, kC - 16), kSky);
    EXPECT_EQ(img.pixelColor(kC + 45, kC + 16), kSky);
    EXPECT_EQ(img.pixelColor(kC - 45, kC - 16), kGround);
    EXPECT_EQ(img.pixelColor(kC - 45, kC + 16), kGround);
    EXPECT_NE(img.pixelColor(kC + 50, kC), kSky); // the pointer at 3 o'clock
}

TEST_F(GorizontPixels, FullPitchDownShowsNoSkyAnywhere) {
    g.SetTangaj(-90);
    const QImage img = Render();
    int skyish = 0;
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            skyish += c.blue() > 128 && c.red() < 64 && c.green() < 64;
        }
    }
    EXPECT_EQ(skyish, 0);
    EXPECT_GT(CountInDisc(img, kGround), 10000);
}

TEST_F(GorizontPixels, FullPitchUpShowsNoGroundInTheDisc) {
    g.SetTangaj(90);
    const QImage img = Render();
    EXPECT_EQ(CountInDisc(img, kGround), 0);
    EXPECT_GT(CountInDisc(img, kSky), 10000);
}

TEST_F(GorizontPixels, PitchJustAboveFullDownLeavesOnlyASliverOfSky) {
    g.SetTangaj(-85);
    const QImage img = Render();
    int sky = 0;
    int skyBelowTop = 0;
    ForEachDiscPixel(img, 0, [&](int, int y, const QColor& c) {
        sky += c == kSky;
        skyBelowTop += c == kSky && y > kC - kR + 8;
    });
    EXPECT_GT(sky, 0);
    EXPECT_EQ(skyBelowTop, 0);
}

TEST_F(GorizontPixels, PositivePitchLowersTheHorizon) {
    g.SetTangaj(20); // 14.3 pixels down
    const QImage img = Render();
    EXPECT_EQ(img.pixelColor(kC - 30, kC + 8), kSky);
    EXPECT_EQ(img.pixelColor(kC - 30, kC + 20), kGround);
}

TEST_F(GorizontPixels, CornersShowTheBackColour) {
    g.SetKrenTangaj(-45, -30);
    const QImage img = Render();
    const int last = img.width() - 1;
    for (const QPoint p :
         {QPoint(0, 0), QPoint(last, 0), QPoint(0, last), QPoint(last, last), QPoint(2, 2)}) {
        EXPECT_EQ(img.pixelColor(p), kBack) << p.x() << "," << p.y();
    }
    g.SetBackColor(clMaroon);
    EXPECT_EQ(Render().pixelColor(0, 0), QColor(128, 0, 0));
}

TEST_F(GorizontPixels, FaceKeepsItsScaleWhileTheHorizonTurns) {
    const QImage level = Render();
    g.SetKrenTangaj(120, -60);
    const QImage turned = Render();
    // Outside the bezel nothing moves.
    int differing = 0;
    for (int y = 0; y < level.height(); ++y) {
        for (int x = 0; x < level.width(); ++x) {
            if (std::hypot(x - kC, y - kC) > kR + 4) {
                differing += level.pixelColor(x, y) != turned.pixelColor(x, y);
            }
        }
    }
    EXPECT_EQ(differing, 0);
    // The 12 o'clock tick is lime.
    EXPECT_EQ(level.pixelColor(kC, kC - 68), QColor(0, 255, 0));
}

TEST_F(GorizontPixels, ReadoutIsDrawnEvenWithAnUnknownFont) {
    TFont f = g.IndFont();
    f.SetName("No Such Face 4711");
    g.SetIndFont(f);
    const QImage img = Render();
    int bright = 0;
    for (int y = kC - 30; y < kC; ++y) {
        for (int x = kC - 30; x < kC + 30; ++x) {
            const QColor c = img.pixelColor(x, y);
            bright += c.red() > 200 && c.green() > 200 && c.blue() > 200;
        }
    }
    EXPECT_GT(bright, 10);
}

TEST_F(GorizontPixels, AbsurdIndicatorWidthsStillPaint) {
    for (int width : {-5, 0}) {
        g.SetIndWidth(width);
        const QImage img = Render();
        EXPECT_EQ(img.pixelColor(0, 0), kBack) << width;
        EXPECT_EQ(img.pixelColor(kC - 40, kC), QColor(255, 255, 0)) << width; // the diameter
    }
    g.SetIndWidth(1000000); // wider than the widget: the diameter's pen covers everything
    EXPECT_EQ(Render().pixelColor(0, 0), QColor(255, 255, 0));
}

} // namespace
} // namespace orvi::widgets::test

namespace orvi::widgets::test {
namespace {

// After a face property changes on a shown widget, the picture must equal that of a widget that
// had the value from the start: nothing of the old face (scale, plate, bezel) may survive.
TEST(GorizontFaceRebuild, ChangedFaceMatchesAFreshWidget) {
    const struct {
        const char* what;
        void (*change)(TGorizont&);
    } changes[] = {
        {"Radius", [](TGorizont& w) { w.SetRadius(0.9); }},
        {"RoundColor", [](TGorizont& w) { w.SetRoundColor(clMaroon); }},
        {"TableColor", [](TGorizont& w) { w.SetTableColor(clWhite); }},
        {"Sectors", [](TGorizont& w) { w.SetSectors(7); }},
        {"ShowSign", [](TGorizont& w) { w.SetShowSign(false); }},
        {"GridWidth", [](TGorizont& w) { w.SetGridWidth(2); }},
        {"Font", [](TGorizont& w) { w.Font().SetHeight(-15); }},
        {"size", [](TGorizont& w) { w.resize(150, 150); }},
    };
    for (const auto& c : changes) {
        ProbeGorizont changed;
        ApplyMainWindowValues(changed);
        ASSERT_TRUE(ShowExposed(changed));
        changed.SetKrenTangaj(30, 20);
        c.change(changed);
        QCoreApplication::processEvents();

        ProbeGorizont fresh;
        ApplyMainWindowValues(fresh);
        c.change(fresh);
        fresh.SetKrenTangaj(30, 20);
        ASSERT_TRUE(ShowExposed(fresh));

        EXPECT_EQ(changed.grab().toImage(), fresh.grab().toImage()) << c.what;
    }
}

} // namespace
} // namespace orvi::widgets::test
