#pragma once
// Shows a top-level widget and lets the platform expose it, so that repaint() paints at once.
#include <QCoreApplication>
#include <QWidget>
#include <QWindow>

namespace orvi::widgets::test {

inline bool IsExposed(const QWidget& w) {
    return w.windowHandle() != nullptr && w.windowHandle()->isExposed();
}

// Returns whether the window is exposed; pending paints have been delivered.
inline bool ShowExposed(QWidget& w) {
    w.show();
    for (int i = 0; i < 1000 && !IsExposed(w); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QCoreApplication::processEvents();
    return IsExposed(w);
}

} // namespace orvi::widgets::test
