// Property rules of the horizon and the discipline of its cached face: which writes repaint,
// which rebuild the face, and which do nothing at all.
#include "GorizontProbe.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <QScreen>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace orvi::widgets::test {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(GorizontDefaults, ConstructorValues) {
    TGorizont g;
    EXPECT_EQ(g.IndColor(), clYellow);
    EXPECT_EQ(g.IndWidth(), 1);
    EXPECT_EQ(g.AirColor(), clBlue);
    EXPECT_EQ(g.GroundColor(), clYellow);
    EXPECT_EQ(g.Tangaj(), 0.0);
    EXPECT_EQ(g.Kren(), 0.0);
    EXPECT_EQ(g.Sectors(), 4);
    EXPECT_EQ(g.Radius(), 0.8);
    EXPECT_TRUE(g.ShowSign());
    EXPECT_EQ(g.IndFont().Name(), "Verdana");
    EXPECT_EQ(g.IndFont().Color(), clWindowText);
    EXPECT_EQ(g.GridColor(), clGreen); // the base's defaults stay
    EXPECT_EQ(g.ReadoutText(), "0.0");
}

using GorizontCache = ShownHorizon;

TEST_F(GorizontCache, AttitudeChangesRepaintAtOnceWithoutRedrawingTheFace) {
    for (int i = 1; i <= 50; ++i) {
        g.SetKrenTangaj(i * 3.0 - 75.0, i * 1.5 - 40.0);
        ASSERT_EQ(g.paints, i); // synchronous: painted before the call returned
    }
    g.SetTangaj(12.5);
    g.SetKren(-30);
    EXPECT_EQ(g.paints, 52);
    EXPECT_EQ(g.tables, 0);
}

TEST_F(GorizontCache, ABurstOfChangesIsPaintedOnceEachAndShownWithoutPaintingAgain) {
    for (int i = 1; i <= 10; ++i) {
        g.SetKrenTangaj(i * 7.0, -i * 2.0);
    }
    ASSERT_EQ(g.paints, 10);
    QCoreApplication::processEvents();
    const QImage shown = Render();
    EXPECT_EQ(g.paints, 10); // the window takes the picture already painted

    ProbeGorizont fresh;
    ApplyMainWindowValues(fresh);
    fresh.SetKrenTangaj(70.0, -20.0);
    ASSERT_TRUE(ShowExposed(fresh));
    EXPECT_EQ(shown, fresh.grab().toImage());
}

TEST_F(GorizontCache, MovingPartPropertiesRepaintWithoutRedrawingTheFace) {
    g.SetIndColor(clWhite);
    g.SetIndWidth(3);
    g.SetAirColor(clGreen);
    g.SetGroundColor(clMaroon);
    EXPECT_EQ(g.paints, 4);
    EXPECT_EQ(g.tables, 0);
    g.SetIndColor(clWhite);
    g.SetIndWidth(3);
    g.SetAirColor(clGreen);
    g.SetGroundColor(clMaroon);
    EXPECT_EQ(g.paints, 4);
}

TEST_F(GorizontCache, FacePropertyFontAndResizeEachRedrawTheFaceOnce) {
    g.SetGridColor(clWhite);
    EXPECT_EQ(g.tables, 1);
    g.SetShowSign(false);
    EXPECT_EQ(g.tables, 2);
    g.SetSectors(12);
    EXPECT_EQ(g.tables, 3);
    g.SetRadius(0.9);
    EXPECT_EQ(g.tables, 4);
    g.Font().SetHeight(-13);
    EXPECT_EQ(g.tables, 5);
    EXPECT_EQ(g.paints, 5);

    g.ResetCounts();
    g.resize(150, 150);
    QCoreApplication::processEvents();
    g.repaint();
    g.SetKren(10);
    EXPECT_EQ(g.tables, 1);
    EXPECT_EQ(g.TableBitmap().size(), QSize(150, 150));
}

TEST_F(GorizontCache, EqualAndOutOfRangeWritesDoNothing) {
    g.SetKrenTangaj(30, 20);
    g.ResetCounts();
    g.SetKrenTangaj(30, 20);
    g.SetTangaj(20);
    g.SetKren(30);
    g.SetSectors(9);
    g.SetRadius(0.67);
    g.SetShowSign(true);
    g.SetGridColor(clLime);
    for (double bad : {90.0001, -90.0001, 1e9, kNaN, kInf, -kInf}) {
        g.SetTangaj(bad);
    }
    for (double bad : {180.0001, -180.0001, kNaN, kInf}) {
        g.SetKren(bad);
    }
    for (int bad : {0, 11, -5}) {
        g.SetGridWidth(bad);
    }
    EXPECT_EQ(g.paints, 0);
    EXPECT_EQ(g.Tangaj(), 20);
    EXPECT_EQ(g.Kren(), 30);
    EXPECT_EQ(g.GridWidth(), 5);
}

TEST_F(GorizontCache, AttitudeBoundsAreAccepted) {
    const struct { double kren, tangaj; } bounds[] = {{180, 90}, {-180, -90}, {0, 90}, {-180, 0}};
    for (const auto& b : bounds) {
        g.SetKrenTangaj(b.kren, b.tangaj);
        EXPECT_EQ(g.Kren(), b.kren);
        EXPECT_EQ(g.Tangaj(), b.tangaj);
    }
    EXPECT_EQ(g.paints, 4);
}

TEST_F(GorizontCache, AnOutOfRangePairChangesNeitherValue) {
    g.SetKrenTangaj(5, 6);
    g.ResetCounts();
    const struct {
        double kren, tangaj;
    } bad[] = {{200, 10}, {10, 95}, {kNaN, 0}, {0, kNaN}, {-181, -91}};
    for (const auto& b : bad) {
        g.SetKrenTangaj(b.kren, b.tangaj);
        EXPECT_EQ(g.Kren(), 5);
        EXPECT_EQ(g.Tangaj(), 6);
    }
    EXPECT_EQ(g.paints, 0);
}

TEST_F(GorizontCache, OutOfRangeSectorsBecomeFour) {
    g.SetSectors(1);
    EXPECT_EQ(g.Sectors(), 4);
    EXPECT_EQ(g.tables, 1);
    g.SetSectors(25);
    g.SetSectors(-7);
    EXPECT_EQ(g.Sectors(), 4);
    EXPECT_EQ(g.tables, 1);
    EXPECT_EQ(g.paints, 1);
    g.SetSectors(2);
    g.SetSectors(24);
    EXPECT_EQ(g.Sectors(), 24);
    EXPECT_EQ(g.tables, 3);
}

TEST_F(GorizontCache, OutOfRangeRadiusBecomesPointEight) {
    for (double bad : {0.3, 1.2, kNaN, -kInf}) {
        g.SetRadius(bad);
        EXPECT_EQ(g.Radius(), 0.8) << bad;
    }
    EXPECT_EQ(g.tables, 1);
    EXPECT_EQ(g.paints, 1);
    g.SetRadius(0.5);
    g.SetRadius(1.0);
    EXPECT_EQ(g.Radius(), 1.0);
    EXPECT_EQ(g.tables, 3);
}

// What the window system holds for the widget, read without painting it again.
QImage OnScreen(QWidget& w) {
    return w.screen()->grabWindow(w.winId()).toImage();
}

// Changes that carry no notification (the read-out font changed in place, the palette behind
// system colours, the regional settings) do not paint at once, but the next ordinary paint
// (update, a repaint of the window, an expose) shows them as a widget built with them would.
TEST(GorizontUnnotified, ChangesShowAtTheNextOrdinaryPaint) {
    const QPalette palette = QGuiApplication::palette();
    const QLocale locale;
    QPalette dark = palette;
    dark.setColor(QPalette::Base, QColor(10, 200, 30));
    dark.setColor(QPalette::Button, QColor(90, 0, 120));
    const struct {
        const char* what;
        void (*setUp)(TGorizont&);
        void (*change)(TGorizont&);
        void (*paint)(TGorizont&);
    } cases[] = {
        {"read-out font, update", [](TGorizont&) {},
         [](TGorizont& w) {
             w.IndFont().SetHeight(-30);
             w.IndFont().SetColor(clLime);
         },
         [](TGorizont& w) { w.update(); }},
        {"palette, window repaint",
         [](TGorizont& w) {
             w.SetAirColor(clWindow);
             w.SetBackColor(clBtnFace);
         },
         [](TGorizont&) { QGuiApplication::setPalette(QPalette()); },
         [](TGorizont& w) { w.window()->repaint(); }},
        {"decimal separator, expose", [](TGorizont& w) { w.SetTangaj(-12.5); },
         [](TGorizont&) { QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia)); },
         [](TGorizont& w) {
             w.hide();
             ShowExposed(w);
         }},
    };
    for (const auto& c : cases) {
        QGuiApplication::setPalette(dark);
        ProbeGorizont changed;
        ApplyMainWindowValues(changed);
        c.setUp(changed);
        ASSERT_TRUE(ShowExposed(changed));
        changed.ResetCounts();
        c.change(changed);
        QCoreApplication::processEvents();
        c.paint(changed);
        QCoreApplication::processEvents();
        EXPECT_GE(changed.paints, 1) << c.what;

        ProbeGorizont fresh;
        ApplyMainWindowValues(fresh);
        c.setUp(fresh);
        c.change(fresh);
        ASSERT_TRUE(ShowExposed(fresh));
        EXPECT_EQ(OnScreen(changed), OnScreen(fresh)) << c.what;
        QLocale::setDefault(locale);
    }
    QGuiApplication::setPalette(palette);
}

TEST_F(GorizontCache, ReadoutFontChangedInPlaceWaitsForTheNextPaint) {
    g.IndFont().SetHeight(-30);
    g.IndFont().SetColor(clYellow);
    EXPECT_EQ(g.paints, 0);
    EXPECT_FALSE(g.TableOutdated());

    const TFont same = g.IndFont();
    g.SetIndFont(same); // copied and repainted even when equal
    EXPECT_EQ(g.paints, 1);
    EXPECT_EQ(g.tables, 0);
}

TEST_F(GorizontCache, ReadoutUsesTheOperatorsDecimalSeparator) {
    g.SetTangaj(-12.5);
    EXPECT_EQ(g.ReadoutText(), "-12.5");
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    EXPECT_EQ(g.ReadoutText(), "-12,5");
    QLocale::setDefault(previous);
}

TEST_F(GorizontCache, HeightAloneHasNoLastingEffect) {
    g.resize(193, 100);
    QCoreApplication::processEvents();
    g.repaint();
    EXPECT_EQ(g.size(), QSize(193, 193));
    EXPECT_EQ(g.heightForWidth(240), 240);
}

TEST(GorizontHidden, HiddenWidgetStoresChangesAndShowsThemAtTheFirstPaint) {
    ProbeGorizont g;
    ApplyMainWindowValues(g);
    g.SetKrenTangaj(45, 10);
    g.resize(193, 120);
    EXPECT_EQ(g.paints, 0);
    EXPECT_EQ(g.Kren(), 45);
    ASSERT_TRUE(ShowExposed(g));
    EXPECT_EQ(g.size(), QSize(193, 193));
    EXPECT_EQ(g.tables, 1);
    EXPECT_EQ(g.TableBitmap().size(), QSize(193, 193));
}

} // namespace
} // namespace orvi::widgets::test
