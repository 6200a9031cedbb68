#pragma once
// The viewer's window: the trend chart, a legend with a check box per channel that shows
// the values under the cursor, a progress bar while indexing, and the status bar, which
// names the lines that were skipped. A file comes from the command line, "Открыть…"
// (Ctrl+O) or a drop on the window; a file that grows is followed.
//
// GUI thread only. The window owns the open log (and so its indexing thread); the chart
// reads it and is told to let go before the log is replaced.
#include "viewer/IndexedLog.h"
#include "widgets/TrendChart.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <memory>

class QAction;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace orvi::viewer {

class TViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit TViewerWindow(QWidget* owner = nullptr);
    ~TViewerWindow() override;

    // Opens a log (replacing the one shown); false with the reason in the status bar.
    bool OpenFile(const QString& path);
    // Writes the visible range or the whole log as CSV; false with the reason shown.
    bool ExportCsv(const QString& path, bool visibleOnly);
    // Saves the chart as shown.
    bool SavePng(const QString& path);

    widgets::TTrendChart* Chart() const { return chart_; }
    const TIndexedLog* Log() const { return log_.get(); }
    QString StatusText() const;
    // The follow step, run by a timer every kFollowMs; public so that tests can step it.
    void Tick();

    static constexpr int kFollowMs = 40;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildMenus();
    QWidget* BuildLegend();
    void ShowCursorValues();
    void ShowIndexed();
    void ReportSkipped();
    void AskOpen();
    void AskExport();
    void AskSavePng();
    void Close();

    widgets::TTrendChart* chart_;
    std::array<QCheckBox*, kChannelCount> boxes_{};
    QLabel* cursorTime_;
    QLabel* status_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QAction* follow_;
    QAction* wallClock_;
    QTimer timer_;
    std::unique_ptr<TIndexedLog> log_;
    uint64_t seenGeneration_ = 0;
    bool reported_ = false; // the skipped lines of the finished indexing are shown
};

} // namespace orvi::viewer
