#pragma once
// A horizon that counts its paints and face rebuilds, laid out as the main window lays it out.
#include "MainWindowHorizon.h"
#include "ShowExposed.h"

#include <QImage>
#include <gtest/gtest.h>

namespace orvi::widgets::test {

class ProbeGorizont : public TGorizont {
public:
    int paints = 0;
    int tables = 0;

    void ResetCounts() {
        paints = 0;
        tables = 0;
    }

protected:
    void DrawTable(QPainter& canvas) override {
        ++tables;
        TGorizont::DrawTable(canvas);
    }
    void Paint(QPainter& canvas) override {
        ++paints;
        TGorizont::Paint(canvas);
    }
};

// The main window's horizon, shown (offscreen), painted once, with its counts cleared.
class ShownHorizon : public ::testing::Test {
protected:
    void SetUp() override {
        ApplyMainWindowValues(g);
        ASSERT_TRUE(ShowExposed(g));
        g.ResetCounts();
    }

    QImage Render() { return g.grab().toImage(); }

    ProbeGorizont g;
};

} // namespace orvi::widgets::test
