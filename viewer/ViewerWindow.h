#pragma once
// The viewer's window: the trend chart, a legend with a check box per channel that shows
// the values under the cursor, at the pinned cursor and their difference, a progress bar
// while the file is first read, and the status bar, which counts the records (following
// the file as it grows) and names the lines that were skipped. A file comes from the
// command line, "Открыть…" (Ctrl+O), the recent files or a drop on the window; a file that
// grows is followed. "Добавить журнал…" shows one more log beside those shown (another
// stand, or another run of the same one), with its own legend under its file name; the
// CSV export is of the first log, the statistics are of each.
//
// A CSV export runs on a thread of its own, with its progress and "Прервать" in the status
// bar, while the window, its menus and the chart go on (the index is locked a piece at a
// time).
//
// Threads: the window lives on the GUI thread and owns the open log (and so its indexing
// thread); the chart reads it and is told to let go before the log is replaced. The
// export's thread writes only the export's atomics and exportResult_ (before it sets
// exportDone_); the GUI thread reads exportResult_ only after seeing exportDone_, and
// cancels and joins the export before the log goes.
#include "viewer/CsvExport.h"
#include "viewer/IndexedLog.h"
#include "viewer/TrendChart.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QVBoxLayout;
class QMenu;
class QProgressBar;
class QPushButton;

namespace orvi::viewer {

class TViewerWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit TViewerWindow(QWidget* owner = nullptr);
    ~TViewerWindow() override;

    // Loads Qt's own Russian texts (its dialogs and buttons) from Qt's translations folder;
    // false when they are not installed.
    static bool LoadQtTranslations();
    // "507 записей", "1 запись", "22 записи".
    static QString RecordCount(uint64_t records);
    // The name as typed, with `suffix` added when it has none.
    static QString WithSuffix(const QString& path, const QString& suffix);

    // Opens a log (replacing those shown); false with the reason in the status bar.
    bool OpenFile(const QString& path);
    // Shows one more log beside those shown; false with the reason in the status bar.
    bool AddFile(const QString& path);
    // Starts writing the visible range or the whole log as CSV in the background; false
    // when it cannot start (no log, or an export runs). The outcome shows in the status bar.
    bool ExportCsv(const QString& path, bool visibleOnly);
    bool Exporting() const { return exportThread_.joinable(); }
    void CancelExport();
    // The statistics of the selected range, or of the visible one when none is selected,
    // as text (as "Копировать" puts it on the clipboard); empty without a log.
    QString StatisticsText() const;
    void ShowStatistics();
    // Saves the chart as shown, as PNG, SVG or PDF by the name's suffix.
    bool SaveImage(const QString& path);

    TTrendChart* Chart() const { return chart_; }
    const TIndexedLog* Log(size_t log = 0) const {
        return log < logs_.size() ? logs_[log].Log.get() : nullptr;
    }
    size_t LogCount() const { return logs_.size(); }
    // The last message (opening, exporting, saving) and the count of the data shown.
    QString StatusText() const;
    QString CountText() const;
    // A file is being read for the first time (the progress bar shows).
    bool FirstReading() const;
    // The legend's cursor values as text, a line per channel (and per log).
    QString CursorText() const;
    QStringList RecentFiles() const;
    // The follow step, run by a timer every kFollowMs; public so that tests can step it.
    void Tick();

    static constexpr int kFollowMs = 40;
    static constexpr int kRecentFiles = 8;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // An open log, its follow state and its part of the legend.
    struct TOpenLog {
        std::unique_ptr<TIndexedLog> Log;
        uint64_t SeenGeneration = 0;
        bool FirstRead = false; // the first reading of the file is over
        QString Count;          // the count of its data, as the status bar shows it
        QGroupBox* Legend = nullptr;
        std::array<QCheckBox*, kChannelCount> Boxes{};
        // Per channel: the value at the cursor, at the pinned cursor, and their difference.
        std::array<std::array<QLabel*, 3>, kChannelCount> Values{};
        std::array<QLabel*, 3> Times{};
    };

    void BuildMenus();
    void BuildLegend(size_t log);
    void ShowCursorValues();
    void ShowIndexed();
    void ShowStatus(TOpenLog& open);
    void ReopenAll();
    void RememberFile(const QString& path);
    void FillRecentMenu();
    void AskOpen();
    void AskAdd();
    void AskExport();
    void AskSaveImage();
    void ShowExport();
    void FinishExport();
    TMsRange StatisticsRange(size_t log) const; // in the log's own time
    void Close();

    TTrendChart* chart_;
    QVBoxLayout* legends_;
    QLabel* status_;
    QLabel* count_;
    QProgressBar* progress_;
    QPushButton* cancel_;
    QAction* follow_;
    QAction* wallClock_;
    QMenu* recent_;
    QTimer timer_;
    std::vector<TOpenLog> logs_;

    QProgressBar* exportProgress_;
    QPushButton* exportCancel_;
    QString exportPath_;
    std::thread exportThread_;
    std::atomic<bool> exportStop_{false};
    std::atomic<bool> exportDone_{false};
    std::atomic<uint64_t> exportWritten_{0};
    std::atomic<uint64_t> exportTotal_{1};
    TExportResult exportResult_; // see Threads above
};

} // namespace orvi::viewer
