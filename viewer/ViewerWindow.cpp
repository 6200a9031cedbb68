#include "viewer/ViewerWindow.h"

#include "app/DataLog.h"
#include "viewer/StatsDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTranslator>
#include <QVBoxLayout>

#include <cmath>

namespace orvi::viewer {

namespace {

const QString kRecentKey = QStringLiteral("viewer/recentFiles");

QIcon LineSample(size_t channel) {
    QPixmap pixmap(28, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    QPen pen = TTrendChart::ChannelPen(channel);
    pen.setWidthF(2);
    p.setPen(pen);
    p.drawLine(0, 6, 28, 6);
    return QIcon(pixmap);
}

QString Caption(size_t channel) {
    const app::TRecordField& field = app::RecordFields()[channel + 1];
    return QString::fromUtf8(field.Caption.data(), int(field.Caption.size()));
}

// A channel's value as the log writes it, with its unit.
QString ValueText(size_t channel, double v) {
    const app::TRecordField& field = app::RecordFields()[channel + 1];
    const std::string text = field.Type == app::TFieldType::Integer && std::abs(v) < 1e18
                                 ? std::to_string(int64_t(v))
                                 : app::LogNumberText(v);
    return QStringLiteral("%1 %2").arg(QString::fromStdString(text),
                                       QString::fromUtf8(field.Unit.data(), int(field.Unit.size())));
}

QString TimeText(int64_t ms) {
    return QStringLiteral("%1 с").arg(QString::fromStdString(SecondsText(ms)));
}

QSettings Settings() {
    return QSettings(QStringLiteral("orvi"), QStringLiteral("orvi_viewer"));
}

} // namespace

TViewerWindow::TViewerWindow(QWidget* owner) : QMainWindow(owner) {
    setWindowTitle(QStringLiteral("Просмотр журнала данных"));
    setAcceptDrops(true);
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    chart_ = new TTrendChart(central);
    chart_->SetPlotLegend(false); // the legend is beside the chart
    layout->addWidget(chart_, 1);
    layout->addWidget(BuildLegend());
    setCentralWidget(central);
    status_ = new QLabel(this);
    count_ = new QLabel(this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setMaximumWidth(200);
    cancel_ = new QPushButton(QStringLiteral("Прервать"), this);
    statusBar()->addWidget(status_, 1);
    statusBar()->addPermanentWidget(count_);
    statusBar()->addPermanentWidget(progress_);
    statusBar()->addPermanentWidget(cancel_);
    progress_->hide();
    cancel_->hide();
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (log_)
            log_->Cancel();
    });
    exportProgress_ = new QProgressBar(this);
    exportProgress_->setRange(0, 1000);
    exportProgress_->setMaximumWidth(200);
    exportProgress_->setFormat(QStringLiteral("CSV: %p%"));
    exportCancel_ = new QPushButton(QStringLiteral("Прервать запись"), this);
    statusBar()->addPermanentWidget(exportProgress_);
    statusBar()->addPermanentWidget(exportCancel_);
    exportProgress_->hide();
    exportCancel_->hide();
    connect(exportCancel_, &QPushButton::clicked, this, &TViewerWindow::CancelExport);
    BuildMenus();
    connect(chart_, &TTrendChart::CursorMoved, this, &TViewerWindow::ShowCursorValues);
    connect(&timer_, &QTimer::timeout, this, &TViewerWindow::Tick);
    timer_.start(kFollowMs);
    resize(1280, 800);
}

TViewerWindow::~TViewerWindow() {
    Close();
}

bool TViewerWindow::LoadQtTranslations() {
    auto* qt = new QTranslator(qApp);
    if (!qt->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    return QCoreApplication::installTranslator(qt);
}

QString TViewerWindow::RecordCount(uint64_t records) {
    const uint64_t tens = records % 100, ones = records % 10;
    const char* word = "записей";
    if (ones == 1 && tens != 11)
        word = "запись";
    else if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        word = "записи";
    return QStringLiteral("%1 %2").arg(records).arg(QString::fromUtf8(word));
}

QString TViewerWindow::WithSuffix(const QString& path, const QString& suffix) {
    return QFileInfo(path).suffix().isEmpty() ? path + QLatin1Char('.') + suffix : path;
}

void TViewerWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    file->addAction(QStringLiteral("Открыть…"), QKeySequence::Open, this, &TViewerWindow::AskOpen);
    recent_ = file->addMenu(QStringLiteral("Недавние файлы"));
    connect(recent_, &QMenu::aboutToShow, this, &TViewerWindow::FillRecentMenu);
    file->addAction(QStringLiteral("Экспорт CSV…"), this, &TViewerWindow::AskExport);
    file->addAction(QStringLiteral("Сохранить рисунок…"), this, &TViewerWindow::AskSaveImage);
    file->addSeparator();
    file->addAction(QStringLiteral("Выход"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* view = menuBar()->addMenu(QStringLiteral("Вид"));
    view->addAction(QStringLiteral("Весь журнал"), chart_, &TTrendChart::ShowAll);
    view->addAction(QStringLiteral("Конец журнала"), chart_, &TTrendChart::ShowEnd);
    view->addAction(QStringLiteral("Снять метку и выделение"), chart_, &TTrendChart::ClearMarks);
    follow_ = view->addAction(QStringLiteral("Следить за файлом"));
    follow_->setCheckable(true);
    follow_->setChecked(true);
    wallClock_ = view->addAction(QStringLiteral("Время суток"));
    wallClock_->setCheckable(true);
    wallClock_->setEnabled(false);
    connect(wallClock_, &QAction::toggled, chart_, &TTrendChart::SetWallClock);
    QMenu* analysis = menuBar()->addMenu(QStringLiteral("Анализ"));
    analysis->addAction(QStringLiteral("Статистика диапазона…"), QKeySequence(Qt::CTRL | Qt::Key_T),
                        this, &TViewerWindow::ShowStatistics);
}

// A grid: the channel's check box, its value at the cursor, at the pinned cursor, and the
// difference; the first row holds the times.
QWidget* TViewerWindow::BuildLegend() {
    auto* legend = new QWidget(this);
    auto* column = new QVBoxLayout(legend);
    auto* grid = new QGridLayout;
    const QString heads[] = {QStringLiteral("курсор"), QStringLiteral("метка"),
                             QStringLiteral("разность")};
    for (int k = 0; k < 3; ++k) {
        auto* head = new QLabel(heads[k], legend);
        head->setAlignment(Qt::AlignRight);
        grid->addWidget(head, 0, k + 1);
        times_[size_t(k)] = new QLabel(legend);
        times_[size_t(k)]->setAlignment(Qt::AlignRight);
        grid->addWidget(times_[size_t(k)], 1, k + 1);
    }
    grid->addWidget(new QLabel(QStringLiteral("Время"), legend), 1, 0);
    for (size_t c = 0; c < kChannelCount; ++c) {
        boxes_[c] = new QCheckBox(Caption(c), legend);
        boxes_[c]->setChecked(true);
        boxes_[c]->setIcon(LineSample(c));
        connect(boxes_[c], &QCheckBox::toggled, chart_,
                [this, c](bool on) { chart_->SetChannelVisible(c, on); });
        grid->addWidget(boxes_[c], int(c) + 2, 0);
        for (size_t k = 0; k < 3; ++k) {
            values_[c][k] = new QLabel(legend);
            values_[c][k]->setAlignment(Qt::AlignRight);
            values_[c][k]->setMinimumWidth(70);
            grid->addWidget(values_[c][k], int(c) + 2, int(k) + 1);
        }
    }
    column->addLayout(grid);
    column->addStretch(1);
    return legend;
}

void TViewerWindow::Close() {
    CancelExport();
    if (exportThread_.joinable())
        FinishExport();
    chart_->SetLog(nullptr, std::nullopt);
    log_.reset(); // stops the indexing thread
}

bool TViewerWindow::OpenFile(const QString& path) {
    Close();
    count_->clear();
    std::string error;
    log_ = TIndexedLog::Open(path.toStdString(), error);
    if (!log_) {
        status_->setText(QStringLiteral("Не удалось открыть %1: %2")
                             .arg(path, QString::fromLocal8Bit(error.c_str())));
        progress_->hide();
        cancel_->hide();
        return false;
    }
    const std::optional<TDateName> date = ParseDateName(log_->Path());
    wallClock_->setEnabled(date.has_value());
    setWindowTitle(QStringLiteral("%1 — просмотр журнала данных").arg(path));
    status_->setText(QStringLiteral("Читается %1…").arg(path));
    firstRead_ = false;
    seenGeneration_ = 0;
    log_->Start();
    chart_->SetLog(log_.get(), date);
    RememberFile(path);
    return true;
}

void TViewerWindow::Tick() {
    ShowExport();
    if (!log_)
        return;
    if (follow_->isChecked() && !log_->Cancelled()) {
        const QString path = QString::fromStdString(log_->Path());
        switch (log_->Poll()) {
        case TIndexedLog::TChange::StartedOver:
            OpenFile(path);
            status_->setText(QStringLiteral("Файл %1 начат заново").arg(path));
            return;
        case TIndexedLog::TChange::Unreadable:
            status_->setText(QStringLiteral("Файл %1 недоступен; показано прочитанное").arg(path));
            break;
        default:
            break;
        }
    }
    ShowIndexed();
}

// The progress bar belongs to the first reading of the file only; after it the status
// follows the data: every publication of new records recounts it.
void TViewerWindow::ShowIndexed() {
    const uint64_t generation = log_->Generation();
    const bool changed = generation != seenGeneration_;
    if (changed) {
        seenGeneration_ = generation;
        chart_->DataChanged();
    }
    if (!firstRead_) {
        const uint64_t total = std::max<uint64_t>(log_->FileBytes(), 1);
        progress_->setValue(int(log_->IndexedBytes() * 1000 / total));
        firstRead_ = log_->Done();
        progress_->setVisible(!firstRead_);
        cancel_->setVisible(!firstRead_);
        if (firstRead_ && status_->text().startsWith(QStringLiteral("Читается")))
            status_->clear();
        if (firstRead_)
            ShowStatus();
    } else if (changed) {
        ShowStatus();
    }
}

void TViewerWindow::ShowStatus() {
    const QString path = QString::fromStdString(log_->Path());
    const bool emptyFile = log_->FileBytes() == 0;
    count_->setText(log_->Query([&](const TLogIndex& index, const TByteReader&) {
        if (index.Empty())
            return emptyFile ? QStringLiteral("%1: пустой файл").arg(path)
                             : QStringLiteral("%1 не журнал данных: ни одна строка не содержит запись")
                                   .arg(path);
        QString text = QStringLiteral("Записей: %1").arg(index.Records());
        if (log_->Cancelled())
            text += QStringLiteral(" (чтение прервано)");
        if (index.Malformed() > 0) {
            QStringList lines;
            for (const uint64_t line : index.MalformedLines())
                lines << QString::number(line);
            text += QStringLiteral("; пропущено строк: %1 (%2%3)")
                        .arg(index.Malformed())
                        .arg(lines.join(QStringLiteral(", ")))
                        .arg(index.Malformed() > uint64_t(lines.size()) ? QStringLiteral(", …")
                                                                        : QString());
        }
        return text;
    }));
}

QString TViewerWindow::StatusText() const {
    return status_->text();
}

QString TViewerWindow::CountText() const {
    return count_->text();
}

void TViewerWindow::ShowCursorValues() {
    const std::optional<TSample>& a = chart_->CursorRecord();
    const std::optional<TSample>& b = chart_->PinnedRecord();
    times_[0]->setText(a ? TimeText(a->Ms) : QString());
    times_[1]->setText(b ? TimeText(b->Ms) : QString());
    times_[2]->setText(a && b ? TimeText(a->Ms - b->Ms) : QString());
    for (size_t c = 0; c < kChannelCount; ++c) {
        const double va = a ? a->Record.Values[c] : 0, vb = b ? b->Record.Values[c] : 0;
        values_[c][0]->setText(a ? ValueText(c, va) : QString());
        values_[c][1]->setText(b ? ValueText(c, vb) : QString());
        values_[c][2]->setText(a && b ? ValueText(c, va - vb) : QString());
    }
}

QString TViewerWindow::CursorText() const {
    QStringList lines;
    const auto row = [](const QString& name, const std::array<QLabel*, 3>& cells) {
        return QStringLiteral("%1\t%2\t%3\t%4")
            .arg(name, cells[0]->text(), cells[1]->text(), cells[2]->text());
    };
    lines << row(QStringLiteral("Время"), times_);
    for (size_t c = 0; c < kChannelCount; ++c)
        lines << row(Caption(c), values_[c]);
    return lines.join(QLatin1Char('\n'));
}

bool TViewerWindow::ExportCsv(const QString& path, bool visibleOnly) {
    if (!log_ || exportThread_.joinable())
        return false;
    TMsRange range{INT64_MIN, INT64_MAX};
    if (visibleOnly)
        range = {int64_t(std::ceil(chart_->FromMs())), int64_t(std::floor(chart_->ToMs()))};
    exportPath_ = path;
    exportStop_ = false;
    exportDone_ = false;
    exportWritten_ = 0;
    exportTotal_ = 1;
    exportProgress_->setValue(0);
    exportProgress_->show();
    exportCancel_->show();
    status_->setText(QStringLiteral("Записывается %1…").arg(path));
    exportThread_ = std::thread([this, range, date = ParseDateName(log_->Path()),
                                 file = path.toStdString(), log = log_.get()] {
        exportResult_ = ExportCsvFile(*log, range, date, file, [this](uint64_t written,
                                                                      uint64_t total) {
            exportWritten_ = written;
            exportTotal_ = std::max<uint64_t>(total, 1);
            return !exportStop_;
        });
        exportDone_.store(true, std::memory_order_release);
    });
    return true;
}

void TViewerWindow::CancelExport() {
    exportStop_ = true;
}

void TViewerWindow::ShowExport() {
    if (!exportThread_.joinable())
        return;
    exportProgress_->setValue(int(std::min<uint64_t>(exportWritten_ * 1000 / exportTotal_, 1000)));
    if (exportDone_.load(std::memory_order_acquire))
        FinishExport();
}

void TViewerWindow::FinishExport() {
    exportThread_.join();
    exportProgress_->hide();
    exportCancel_->hide();
    const TExportResult& r = exportResult_;
    switch (r.Status) {
    case TExportStatus::Done:
        status_->setText(
            QStringLiteral("Файл %1 записан: %2").arg(exportPath_, RecordCount(r.Records)));
        break;
    case TExportStatus::Cancelled:
        status_->setText(QStringLiteral("Запись %1 прервана; файл не изменён").arg(exportPath_));
        break;
    default:
        status_->setText(QStringLiteral("Не удалось записать %1: %2")
                             .arg(exportPath_, QString::fromLocal8Bit(r.Error.c_str())));
        break;
    }
}

TMsRange TViewerWindow::StatisticsRange() const {
    const std::pair<double, double> ms =
        chart_->Selection().value_or(std::pair{chart_->FromMs(), chart_->ToMs()});
    return {int64_t(std::ceil(ms.first)), int64_t(std::floor(ms.second))};
}

QString TViewerWindow::StatisticsText() const {
    if (!log_)
        return {};
    const std::optional<TRangeStats> stats = ComputeRangeStats(*log_, StatisticsRange());
    return stats ? StatsText(*stats) : QString();
}

void TViewerWindow::ShowStatistics() {
    if (!log_)
        return;
    const std::optional<TRangeStats> stats = ComputeRangeStats(*log_, StatisticsRange());
    if (!stats) {
        status_->setText(QStringLiteral("Файл %1 не читается").arg(QString::fromStdString(log_->Path())));
        return;
    }
    const QString what = chart_->Selection() ? QStringLiteral("выделенный диапазон")
                                             : QStringLiteral("видимый диапазон");
    (new TStatsDialog(*stats, QStringLiteral("Статистика: %1").arg(what), this))->show();
}

// The picture stands alone, so it carries the channels' names above its panes.
bool TViewerWindow::SaveImage(const QString& path) {
    chart_->SetPlotLegend(true);
    const bool ok = chart_->SaveImage(path);
    chart_->SetPlotLegend(false);
    status_->setText(ok ? QStringLiteral("Рисунок сохранён в %1").arg(path)
                        : QStringLiteral("Не удалось сохранить %1").arg(path));
    return ok;
}

QStringList TViewerWindow::RecentFiles() const {
    return Settings().value(kRecentKey).toStringList();
}

void TViewerWindow::RememberFile(const QString& path) {
    QStringList files = RecentFiles();
    const QString full = QFileInfo(path).absoluteFilePath();
    files.removeAll(full);
    files.prepend(full);
    while (files.size() > kRecentFiles)
        files.removeLast();
    Settings().setValue(kRecentKey, files);
}

void TViewerWindow::FillRecentMenu() {
    recent_->clear();
    const QStringList files = RecentFiles();
    for (const QString& path : files)
        recent_->addAction(path, this, [this, path] { OpenFile(path); });
    if (files.isEmpty())
        recent_->addAction(QStringLiteral("(нет)"))->setEnabled(false);
}

void TViewerWindow::AskOpen() {
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Открыть журнал данных"), QString(),
                                     QStringLiteral("Журналы (*.txt);;Все файлы (*)"));
    if (!path.isEmpty())
        OpenFile(path);
}

void TViewerWindow::AskExport() {
    if (!log_)
        return;
    QMessageBox ask(QMessageBox::Question, QStringLiteral("Экспорт CSV"),
                    QStringLiteral("Что записать?"), QMessageBox::Cancel, this);
    QPushButton* visible =
        ask.addButton(QStringLiteral("Видимый диапазон"), QMessageBox::AcceptRole);
    QPushButton* all = ask.addButton(QStringLiteral("Весь журнал"), QMessageBox::AcceptRole);
    ask.exec();
    if (ask.clickedButton() != visible && ask.clickedButton() != all)
        return;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Экспорт CSV"),
                                                      QString(), QStringLiteral("CSV (*.csv)"));
    if (!path.isEmpty())
        ExportCsv(WithSuffix(path, QStringLiteral("csv")), ask.clickedButton() == visible);
}

// The suffix typed decides the format; a name without one takes the chosen filter's.
void TViewerWindow::AskSaveImage() {
    const QStringList filters = {QStringLiteral("PNG (*.png)"), QStringLiteral("SVG (*.svg)"),
                                 QStringLiteral("PDF (*.pdf)")};
    QString filter = filters.front();
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Сохранить рисунок"), QString(),
        filters.join(QStringLiteral(";;")), &filter);
    if (path.isEmpty())
        return;
    const QString suffix = filter.section(QLatin1Char('.'), 1).chopped(1);
    SaveImage(WithSuffix(path, suffix.isEmpty() ? QStringLiteral("png") : suffix));
}

void TViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TViewerWindow::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.front().isLocalFile())
        OpenFile(urls.front().toLocalFile());
}

} // namespace orvi::viewer
