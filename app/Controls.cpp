#include "app/Controls.h"

#include <QPainter>
#include <algorithm>
#include <climits>

namespace orvi::app {

namespace {
constexpr int kLabelSpacing = 3;
constexpr int kBorder = 1;
} // namespace

TLabeledEdit::TLabeledEdit(const QString& label, const QString& text, QWidget* parent)
    : QLineEdit(text, parent), FEditLabel(new QLabel(label, parent)) {
    FEditLabel->setBuddy(this);
    FEditLabel->adjustSize();
    PlaceLabel();
}

void TLabeledEdit::PlaceLabel() {
    FEditLabel->move(x(), y() - FEditLabel->height() - kLabelSpacing);
}

void TLabeledEdit::moveEvent(QMoveEvent* event) {
    QLineEdit::moveEvent(event);
    PlaceLabel();
}

void TLabeledEdit::showEvent(QShowEvent* event) {
    QLineEdit::showEvent(event);
    FEditLabel->show();
}

void TLabeledEdit::hideEvent(QHideEvent* event) {
    QLineEdit::hideEvent(event);
    if (!isVisibleTo(parentWidget()))
        FEditLabel->hide();
}

TBarGauge::TBarGauge(int min, int max, QColor bar, QColor background, QWidget* parent)
    : QWidget(parent), FMin(min), FMax(max), FPosition(std::clamp(0, min, max)), FBar(bar),
      FBackground(background) {}

void TBarGauge::SetMax(int value) {
    if (value < FMin)
        throw ERangeError("Value must be between " + std::to_string(int64_t(FMin) + 1) + " and " +
                          std::to_string(INT_MAX));
    if (value == FMax)
        return;
    FMax = value;
    FPosition = std::min(FPosition, FMax);
    update();
}

void TBarGauge::SetPosition(int value) {
    value = std::clamp(value, FMin, FMax);
    if (value == FPosition)
        return;
    FPosition = value;
    update();
}

int TBarGauge::FilledHeight() const {
    const int inner = std::max(0, height() - 2 * kBorder);
    const int64_t span = int64_t(FMax) - FMin;
    if (span <= 0)
        return 0;
    return int(inner * (int64_t(FPosition) - FMin) / span);
}

void TBarGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect inner = rect().adjusted(kBorder, kBorder, -kBorder, -kBorder);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    painter.fillRect(inner, FBackground);
    const int filled = FilledHeight();
    painter.fillRect(QRect(inner.left(), inner.bottom() + 1 - filled, inner.width(), filled), FBar);
}

} // namespace orvi::app
