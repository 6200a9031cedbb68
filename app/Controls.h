#pragma once
// Two controls of the main window that Qt has no exact match for: an edit box with its
// label above it, and a vertical bar gauge with an integer range.
//
// Owned by their parent widget; GUI thread only.
#include "serial/Exceptions.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QWidget>

namespace orvi::app {

// An edit box whose label sits above its left edge and follows it when the box moves.
class TLabeledEdit : public QLineEdit {
    Q_OBJECT
public:
    TLabeledEdit(const QString& label, const QString& text, QWidget* parent);
    QLabel* EditLabel() const { return FEditLabel; }
    // Puts the label above the box; done on every move, and by the owner after placing a
    // box that is not shown yet (hidden widgets get their move events only when shown).
    void PlaceLabel();

protected:
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QLabel* FEditLabel; // a sibling: child of the same parent
};

// A value outside what a property accepts.
class ERangeError : public orvi::Exception {
public:
    using orvi::Exception::Exception;
};

// A bordered vertical bar filled from the bottom in proportion to
// (Position - Min) / (Max - Min). The position is limited to [Min, Max].
class TBarGauge : public QWidget {
    Q_OBJECT
public:
    TBarGauge(int min, int max, QColor bar, QColor background, QWidget* parent);

    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    // A maximum below Min raises ERangeError "Value must be between <Min + 1> and
    // 2147483647"; a position above the new maximum becomes the maximum.
    void SetMax(int value);
    void SetPosition(int value);
    // Height in pixels of the filled part inside the border.
    int FilledHeight() const;
    QColor BarColor() const { return FBar; }
    QColor BackgroundColor() const { return FBackground; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int FMin;
    int FMax;
    int FPosition;
    QColor FBar;
    QColor FBackground;
};

} // namespace orvi::app
