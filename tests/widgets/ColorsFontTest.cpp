#include "widgets/Colors.h"
#include "widgets/Font.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPalette>
#include <gtest/gtest.h>

namespace orvi::widgets {
namespace {

TEST(Colors, RedSitsInTheLowestByte) {
    EXPECT_EQ(ToQColor(20123), QColor(155, 78, 0));
    EXPECT_EQ(ToQColor(clLime), QColor(0, 255, 0));
    EXPECT_EQ(ToQColor(clBlue), QColor(0, 0, 255));
    EXPECT_EQ(ToQColor(clMaroon), QColor(128, 0, 0));
}

TEST(Colors, RoundTripThroughQColor) {
    for (TColor c : {clBlack, clGray, clYellow, TColor(20123), TColor(0x00123456)}) {
        EXPECT_EQ(FromQColor(ToQColor(c)), c);
    }
    EXPECT_EQ(FromQColor(QColor(255, 255, 0, 10)), clYellow);
}

TEST(Colors, SystemColoursComeFromThePalette) {
    EXPECT_EQ(ToQColor(clWindowText), QGuiApplication::palette().color(QPalette::WindowText));
    EXPECT_EQ(ToQColor(clBtnFace), QGuiApplication::palette().color(QPalette::Button));
}

TEST(Font, DefaultsAndSizeInPoints) {
    TFont f;
    EXPECT_EQ(f.Name(), "MS Sans Serif");
    EXPECT_EQ(f.Height(), -11);
    EXPECT_EQ(f.Size(), 8);
    EXPECT_EQ(f.Color(), clWindowText);
    EXPECT_EQ(f.Style(), 0u);
    f.SetSize(12);
    EXPECT_EQ(f.Height(), -16);
    EXPECT_EQ(f.Size(), 12);
}

TEST(Font, EveryAttributeChangeNotifiesOnceAndEqualWritesNotAtAll) {
    TFont f;
    int changes = 0;
    f.SetOnChange([&] { ++changes; });
    f.SetName("Arial");
    f.SetHeight(-27);
    f.SetStyle(unsigned(TFontStyle::fsBold));
    f.SetColor(clWhite);
    f.SetCharset(RUSSIAN_CHARSET);
    EXPECT_EQ(changes, 5);
    f.SetName("Arial");
    f.SetSize(f.Size());
    f.SetColor(clWhite);
    EXPECT_EQ(changes, 5);
}

TEST(Font, AssignNotifiesOnceAndKeepsTheHandler) {
    TFont target;
    int changes = 0;
    target.SetOnChange([&] { ++changes; });
    TFont source;
    source.SetName("Verdana");
    source.SetHeight(-19);
    source.SetColor(clWhite);
    target = source;
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(target == source);
    target.Assign(source);
    EXPECT_EQ(changes, 1);
    target.SetHeight(-20);
    EXPECT_EQ(changes, 2);
}

TEST(Font, CopiesDoNotCarryTheOwnersHandler) {
    TFont owned;
    int changes = 0;
    owned.SetOnChange([&] { ++changes; });
    TFont copy = owned;
    copy.SetHeight(-40);
    copy.SetName("Other");
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(owned.Height(), -11);
}

TEST(Font, NegativeHeightIsTheCharacterHeightInPixels) {
    TFont f;
    f.SetName("Verdana");
    f.SetHeight(-19);
    f.SetStyle(TFontStyle::fsBold | TFontStyle::fsItalic);
    const QFont q = f.ToQFont();
    EXPECT_EQ(q.pixelSize(), 19);
    EXPECT_TRUE(q.bold());
    EXPECT_TRUE(q.italic());
    EXPECT_FALSE(q.underline());
}

TEST(Font, PositiveHeightIsTheCellHeight) {
    TFont f;
    f.SetName("DejaVu Sans");
    f.SetHeight(30);
    EXPECT_NEAR(QFontMetrics(f.ToQFont()).height(), 30, 2);
}

TEST(Font, UnknownEmptyOrAbsurdFontsStillGiveUsableText) {
    for (const char* name : {"No Such Face 4711", "", "MS Sans Serif"}) {
        for (int height : {-19, 0, 1, -1000000000, 2000000000}) {
            TFont f;
            f.SetName(name);
            f.SetHeight(height);
            const QFontMetrics m(f.ToQFont());
            EXPECT_GT(m.height(), 0) << name << " " << height;
            EXPECT_GT(m.horizontalAdvance("-12.5"), 0) << name << " " << height;
        }
    }
}

} // namespace
} // namespace orvi::widgets
