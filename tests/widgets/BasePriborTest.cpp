#include "widgets/BasePribor.h"

#include "ShowExposed.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace orvi::widgets {
namespace {

// Counts paints and face rebuilds; its face is a plain fill so the cached picture can be checked.
class ProbePribor : public TBasePribor {
public:
    int paints = 0;
    int tables = 0;
    QSize tableSize;
    bool outdatedWhileDrawing = true;
    QSize bitmapWhileDrawing;
    bool markWhileDrawing = false;

    using TBasePribor::Paint;

protected:
    void DrawTable(QPainter& canvas) override {
        ++tables;
        tableSize = QSize(canvas.device()->width(), canvas.device()->height());
        outdatedWhileDrawing = TableOutdated();
        bitmapWhileDrawing = TableBitmap().size();
        if (markWhileDrawing)
            MarkTableChanged();
        canvas.fillRect(QRect(QPoint(0, 0), size()), ToQColor(BackColor()));
    }
    void Paint(QPainter& canvas) override {
        ++paints;
        TBasePribor::Paint(canvas);
    }
};

class BasePriborTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(test::ShowExposed(pribor));
        Reset();
    }
    void Reset() {
        pribor.paints = 0;
        pribor.tables = 0;
    }

    ProbePribor pribor;
};

TEST(BasePriborDefaults, ConstructorValues) {
    TBasePribor p;
    EXPECT_EQ(p.TableColor(), clBlack);
    EXPECT_EQ(p.BackColor(), clGray);
    EXPECT_EQ(p.RoundColor(), clBlack);
    EXPECT_EQ(p.GridColor(), clGreen);
    EXPECT_EQ(p.GridWidth(), 5);
    EXPECT_EQ(p.size(), QSize(100, 100));
    EXPECT_EQ(p.minimumSize(), QSize(25, 25));
    EXPECT_TRUE(p.testAttribute(Qt::WA_OpaquePaintEvent));
    EXPECT_EQ(p.Font().Color(), clWhite);
    EXPECT_EQ(p.Font().Size(), 12);
    EXPECT_EQ(p.Font().Style(), unsigned(TFontStyle::fsBold));
    EXPECT_TRUE(p.TableOutdated());
}

TEST_F(BasePriborTest, FirstPaintBuildsTheFaceAtTheWidgetsSize) {
    ProbePribor fresh;
    fresh.resize(64, 64);
    ASSERT_TRUE(test::ShowExposed(fresh));
    EXPECT_EQ(fresh.tables, 1);
    EXPECT_EQ(fresh.tableSize, QSize(64, 64));
    EXPECT_FALSE(fresh.TableOutdated());
    EXPECT_EQ(fresh.TableBitmap().pixelColor(10, 10), QColor(128, 128, 128));
}

TEST_F(BasePriborTest, ColourChangeMarksTheFaceAndRepaintsAtOnce) {
    const struct {
        void (TBasePribor::*set)(TColor);
        TColor (TBasePribor::*get)() const;
    } properties[] = {{&TBasePribor::SetTableColor, &TBasePribor::TableColor},
                      {&TBasePribor::SetBackColor, &TBasePribor::BackColor},
                      {&TBasePribor::SetRoundColor, &TBasePribor::RoundColor},
                      {&TBasePribor::SetGridColor, &TBasePribor::GridColor}};
    for (const auto& prop : properties) {
        Reset();
        (pribor.*prop.set)(clMaroon);
        EXPECT_EQ((pribor.*prop.get)(), clMaroon);
        EXPECT_EQ(pribor.paints, 1);
        EXPECT_EQ(pribor.tables, 1);
        Reset();
        (pribor.*prop.set)(clMaroon);
        EXPECT_EQ(pribor.paints, 0);
        EXPECT_FALSE(pribor.TableOutdated());
    }
    EXPECT_EQ(pribor.TableBitmap().pixelColor(1, 1), QColor(128, 0, 0));
}

TEST_F(BasePriborTest, GridWidthOutsideOneToTenIsIgnored) {
    for (int bad : {0, 11, -1, -2147483647 - 1}) {
        pribor.SetGridWidth(bad);
        EXPECT_EQ(pribor.GridWidth(), 5) << bad;
    }
    pribor.SetGridWidth(5);
    EXPECT_EQ(pribor.paints, 0);
    EXPECT_FALSE(pribor.TableOutdated());
    for (int good : {1, 10}) {
        Reset();
        pribor.SetGridWidth(good);
        EXPECT_EQ(pribor.GridWidth(), good);
        EXPECT_EQ(pribor.paints, 1);
        EXPECT_EQ(pribor.tables, 1);
    }
}

TEST_F(BasePriborTest, AnyFontAttributeChangeRebuildsTheFace) {
    pribor.Font().SetSize(10);
    pribor.Font().SetColor(clYellow);
    pribor.Font().SetStyle(unsigned(TFontStyle::fsItalic));
    pribor.Font().SetName("Arial");
    EXPECT_EQ(pribor.paints, 4);
    EXPECT_EQ(pribor.tables, 4);
    Reset();
    TFont same = pribor.Font();
    pribor.SetFont(same);
    EXPECT_EQ(pribor.paints, 0);
    same.SetHeight(-30);
    pribor.SetFont(same);
    EXPECT_EQ(pribor.paints, 1);
    EXPECT_EQ(pribor.tables, 1);
}

TEST_F(BasePriborTest, ResizeAloneRebuildsTheFaceOnceAtTheNewSize) {
    pribor.resize(150, 120);
    EXPECT_TRUE(pribor.TableOutdated());
    pribor.repaint();
    pribor.repaint();
    EXPECT_EQ(pribor.tables, 1);
    EXPECT_EQ(pribor.tableSize, QSize(150, 120));
    EXPECT_FALSE(pribor.TableOutdated());
}

TEST_F(BasePriborTest, TheFaceIsMarkedCurrentAndSizedBeforeItIsDrawn) {
    pribor.resize(150, 120);
    pribor.repaint();
    ASSERT_EQ(pribor.tables, 1);
    EXPECT_FALSE(pribor.outdatedWhileDrawing);
    EXPECT_EQ(pribor.bitmapWhileDrawing, QSize(150, 120));

    // A mark set while the face is drawn asks for another rebuild; it is not lost.
    pribor.markWhileDrawing = true;
    pribor.SetGridColor(clLime);
    EXPECT_TRUE(pribor.TableOutdated());
    pribor.markWhileDrawing = false;
    pribor.SetGridColor(clMaroon);
    EXPECT_EQ(pribor.tables, 3);
    EXPECT_FALSE(pribor.TableOutdated());
}

TEST(BasePriborHidden, ChangesWhileHiddenShowAtTheNextPaint) {
    ProbePribor hidden;
    hidden.SetGridColor(clLime);
    hidden.Font().SetSize(20);
    EXPECT_EQ(hidden.paints, 0);
    EXPECT_TRUE(hidden.TableOutdated());
    ASSERT_TRUE(test::ShowExposed(hidden));
    EXPECT_EQ(hidden.tables, 1);
    EXPECT_FALSE(hidden.TableOutdated());
}

} // namespace
} // namespace orvi::widgets
