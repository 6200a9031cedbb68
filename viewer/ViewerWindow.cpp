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
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QStatusBar>
#include <QTranslator>
#include <QVBoxLayout>

#include <cmath>

namespace orvi::viewer {

namespace {

const QString kRecentKey = QStringLiteral("viewer/recentFiles");

QIcon LineSample(size_t channel, size_t log) {
    QPixmap pixmap(28, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    QPen pen = TTrendChart::ChannelPen(channel, log);
    pen.setWidthF(2);
    p.setPen(pen);
    p.drawLine(0, 6, 28, 6);
    return QIcon(pixmap);
}

QString Caption(size_t channel) {
    const app::TRecordField& field = app::RecordFields()[channel + 1];
    return QString::fromUtf8(field.Caption.data(), int(field.Caption.size()));
}

// A difference of two values, rounded to 12 significant digits so that the binary
// fractions of decimal values do not show ("-27.18", not "-27.1799999999999").
double Difference(double a, double b) {
    return QString::number(a - b, 'g', 12).toDouble();
}

// A channel's value as the log writes it, with its unit.
QString ValueText(size_t channel, double v) {
    const app::TRecordField& field = app::RecordFields()[channel + 1];
    const std::string text = field.Type == app::TFieldType::Integer && std::abs(v) < 1e18
                                 ? std::to_string(int64_t(v))
                                 : app::LogNumberText(v);
    return QStringLiteral("%1 %2").arg(
        QString::fromStdString(text), QString::fromUtf8(field.Unit.data(), int(field.Unit.size())));
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
    auto* scroll = new QScrollArea(central);
    auto* legend = new QWidget(scroll);
    legends_ = new QVBoxLayout(legend);
    legends_->addStretch(1);
    scroll->setWidget(legend);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setMinimumWidth(470);
    layout->addWidget(scroll);
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
        for (TOpenLog& open : logs_)
            open.Log->Cancel();
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
    if (!qt->load(QStringLiteral("qtbase_ru"),
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
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
    file->addAction(QStringLiteral("Добавить журнал…"),
                    QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), this, &TViewerWindow::AskAdd);
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

// Under the log's file name, a grid: the channel's check box, its value at the cursor, at
// the pinned cursor, and the difference; the first rows hold the heads and the times.
void TViewerWindow::BuildLegend(size_t log) {
    TOpenLog& open = logs_[log];
    const QFileInfo file(QString::fromStdString(open.Log->Path()));
    open.Legend = new QGroupBox(file.fileName(), legends_->parentWidget());
    open.Legend->setToolTip(file.absoluteFilePath());
    auto* grid = new QGridLayout(open.Legend);
    const QString heads[] = {QStringLiteral("курсор"), QStringLiteral("метка"),
                             QStringLiteral("разность")};
    for (size_t k = 0; k < 3; ++k) {
        auto* head = new QLabel(heads[k], open.Legend);
        head->setAlignment(Qt::AlignRight);
        grid->addWidget(head, 0, int(k) + 1);
        open.Times[k] = new QLabel(open.Legend);
        open.Times[k]->setAlignment(Qt::AlignRight);
        grid->addWidget(open.Times[k], 1, int(k) + 1);
    }
    grid->addWidget(new QLabel(QStringLiteral("Время"), open.Legend), 1, 0);
    for (size_t c = 0; c < kChannelCount; ++c) {
        open.Boxes[c] = new QCheckBox(Caption(c), open.Legend);
        open.Boxes[c]->setChecked(true);
        open.Boxes[c]->setIcon(LineSample(c, log));
        connect(open.Boxes[c], &QCheckBox::toggled, chart_,
                [this, log, c](bool on) { chart_->SetChannelVisible(log, c, on); });
        grid->addWidget(open.Boxes[c], int(c) + 2, 0);
        for (size_t k = 0; k < 3; ++k) {
            open.Values[c][k] = new QLabel(open.Legend);
            open.Values[c][k]->setAlignment(Qt::AlignRight);
            open.Values[c][k]->setMinimumWidth(70);
            grid->addWidget(open.Values[c][k], int(c) + 2, int(k) + 1);
        }
    }
    legends_->insertWidget(legends_->count() - 1, open.Legend);
}

void TViewerWindow::Close() {
    CancelExport();
    if (exportThread_.joinable())
        FinishExport();
    chart_->SetLog(nullptr, std::nullopt);
    for (TOpenLog& open : logs_)
        delete open.Legend;
    logs_.clear(); // stops the indexing threads
    count_->clear();
    progress_->hide();
    cancel_->hide();
}

bool TViewerWindow::OpenFile(const QString& path) {
    Close();
    return AddFile(path);
}

bool TViewerWindow::AddFile(const QString& path) {
    std::string error;
    std::unique_ptr<TIndexedLog> log = TIndexedLog::Open(path.toStdString(), error);
    if (!log) {
        status_->setText(QStringLiteral("Не удалось открыть %1: %2")
                             .arg(path, QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    const std::optional<TDateName> date = ParseDateName(log->Path());
    if (logs_.empty()) {
        wallClock_->setEnabled(date.has_value());
        setWindowTitle(QStringLiteral("%1 — просмотр журнала данных").arg(path));
    }
    status_->setText(QStringLiteral("Читается %1…").arg(path));
    log->Start();
    logs_.push_back({});
    logs_.back().Log = std::move(log);
    chart_->AddLog(logs_.back().Log.get(), date);
    BuildLegend(logs_.size() - 1);
    progress_->show();
    cancel_->show();
    RememberFile(path);
    return true;
}

bool TViewerWindow::FirstReading() const {
    return std::any_of(logs_.begin(), logs_.end(), [](const TOpenLog& o) { return !o.FirstRead; });
}

// A file emptied or replaced by a new run: every log is opened again, as they were.
void TViewerWindow::ReopenAll() {
    QStringList paths;
    for (const TOpenLog& open : logs_)
        paths << QString::fromStdString(open.Log->Path());
    OpenFile(paths.front());
    for (qsizetype i = 1; i < paths.size(); ++i)
        AddFile(paths[i]);
}

void TViewerWindow::Tick() {
    ShowExport();
    if (logs_.empty())
        return;
    for (TOpenLog& open : logs_) {
        if (!follow_->isChecked() || open.Log->Cancelled())
            continue;
        const QString path = QString::fromStdString(open.Log->Path());
        switch (open.Log->Poll()) {
        case TIndexedLog::TChange::StartedOver:
            ReopenAll();
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

// The progress bar belongs to the first reading of the files only; after it the status
// follows the data: every publication of new records recounts it.
void TViewerWindow::ShowIndexed() {
    bool changed = false, counted = false;
    uint64_t indexed = 0, total = 0;
    for (TOpenLog& open : logs_) {
        const uint64_t generation = open.Log->Generation();
        const bool published = generation != open.SeenGeneration;
        open.SeenGeneration = generation;
        changed = changed || published;
        if (!open.FirstRead) {
            indexed += open.Log->IndexedBytes();
            total += open.Log->FileBytes();
            open.FirstRead = open.Log->Done();
        }
        if (open.FirstRead && (published || open.Count.isEmpty())) {
            ShowStatus(open);
            counted = true;
        }
    }
    if (changed)
        chart_->DataChanged();
    const bool reading = FirstReading();
    progress_->setValue(int(indexed * 1000 / std::max<uint64_t>(total, 1)));
    progress_->setVisible(reading);
    cancel_->setVisible(reading);
    if (!reading && status_->text().startsWith(QStringLiteral("Читается")))
        status_->clear();
    if (counted) {
        QStringList counts;
        for (const TOpenLog& open : logs_)
            counts << (logs_.size() == 1
                           ? open.Count
                           : QStringLiteral("%1: %2").arg(open.Legend->title(), open.Count));
        count_->setText(counts.join(QStringLiteral("; ")));
    }
}

void TViewerWindow::ShowStatus(TOpenLog& open) {
    const QString path = QString::fromStdString(open.Log->Path());
    const bool emptyFile = open.Log->FileBytes() == 0;
    open.Count = open.Log->Query([&](const TLogIndex& index, const TByteReader&) {
        if (index.Empty())
            return emptyFile
                       ? QStringLiteral("%1: пустой файл").arg(path)
                       : QStringLiteral("%1 не журнал данных: ни одна строка не содержит запись")
                             .arg(path);
        QString text = QStringLiteral("Записей: %1").arg(index.Records());
        if (open.Log->Cancelled())
            text += QStringLiteral(" (чтение прервано)");
        // Lines named by number, the first few of them.
        const auto named = [](uint64_t count, const std::vector<uint64_t>& numbers,
                              const QString& lead) {
            QStringList lines;
            for (const uint64_t line : numbers)
                lines << QString::number(line);
            return QStringLiteral("%1 (%2%3%4)")
                .arg(count)
                .arg(lead, lines.join(QStringLiteral(", ")))
                .arg(count > uint64_t(lines.size()) ? QStringLiteral(", …") : QString());
        };
        if (index.Malformed() > 0)
            text += QStringLiteral("; пропущено строк: %1")
                        .arg(named(index.Malformed(), index.MalformedLines(), QString()));
        if (index.NotFinite() > 0)
            text += QStringLiteral("; значений не числом: %1")
                        .arg(named(index.NotFinite(), index.NotFiniteLines(),
                                   QStringLiteral("строки ")));
        return text;
    });
}

QString TViewerWindow::StatusText() const {
    return status_->text();
}

QString TViewerWindow::CountText() const {
    return count_->text();
}

void TViewerWindow::ShowCursorValues() {
    for (size_t log = 0; log < logs_.size(); ++log) {
        TOpenLog& open = logs_[log];
        const std::optional<TSample>& a = chart_->CursorRecord(log);
        const std::optional<TSample>& b = chart_->PinnedRecord(log);
        open.Times[0]->setText(a ? TimeText(a->Ms) : QString());
        open.Times[1]->setText(b ? TimeText(b->Ms) : QString());
        open.Times[2]->setText(a && b ? TimeText(a->Ms - b->Ms) : QString());
        for (size_t c = 0; c < kChannelCount; ++c) {
            const double va = a ? a->Record.Values[c] : 0, vb = b ? b->Record.Values[c] : 0;
            open.Values[c][0]->setText(a ? ValueText(c, va) : QString());
            open.Values[c][1]->setText(b ? ValueText(c, vb) : QString());
            open.Values[c][2]->setText(a && b ? ValueText(c, Difference(va, vb)) : QString());
        }
    }
}

QString TViewerWindow::CursorText() const {
    QStringList lines;
    const auto row = [](const QString& name, const std::array<QLabel*, 3>& cells) {
        return QStringLiteral("%1\t%2\t%3\t%4")
            .arg(name, cells[0]->text(), cells[1]->text(), cells[2]->text());
    };
    for (const TOpenLog& open : logs_) {
        if (logs_.size() > 1)
            lines << QStringLiteral("Файл: %1").arg(open.Legend->title());
        lines << row(QStringLiteral("Время"), open.Times);
        for (size_t c = 0; c < kChannelCount; ++c)
            lines << row(Caption(c), open.Values[c]);
    }
    return lines.join(QLatin1Char('\n'));
}

bool TViewerWindow::ExportCsv(const QString& path, bool visibleOnly) {
    if (logs_.empty() || exportThread_.joinable())
        return false;
    const TIndexedLog* log = logs_.front().Log.get();
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
    exportThread_ = std::thread(
        [this, range, date = ParseDateName(log->Path()), file = path.toStdString(), log] {
            exportResult_ =
                ExportCsvFile(*log, range, date, file, [this](uint64_t written, uint64_t total) {
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

TMsRange TViewerWindow::StatisticsRange(size_t log) const {
    const std::pair<double, double> ms =
        chart_->Selection().value_or(std::pair{chart_->FromMs(), chart_->ToMs()});
    const double offset = chart_->OffsetMs(log);
    return {int64_t(std::ceil(ms.first - offset)), int64_t(std::floor(ms.second - offset))};
}

QString TViewerWindow::StatisticsText() const {
    QString text;
    for (size_t log = 0; log < logs_.size(); ++log) {
        const std::optional<TRangeStats> stats =
            ComputeRangeStats(*logs_[log].Log, StatisticsRange(log));
        if (logs_.size() > 1)
            text += QStringLiteral("Файл: %1\n").arg(logs_[log].Legend->title());
        if (stats)
            text += StatsText(*stats);
    }
    return text;
}

void TViewerWindow::ShowStatistics() {
    const QString what = chart_->Selection() ? QStringLiteral("выделенный диапазон")
                                             : QStringLiteral("видимый диапазон");
    for (size_t log = 0; log < logs_.size(); ++log) {
        const QString name = logs_[log].Legend->title();
        const std::optional<TRangeStats> stats =
            ComputeRangeStats(*logs_[log].Log, StatisticsRange(log));
        if (!stats) {
            status_->setText(QStringLiteral("Файл %1 не читается").arg(name));
            continue;
        }
        (new TStatsDialog(*stats, QStringLiteral("Статистика: %1, %2").arg(name, what), this))
            ->show();
    }
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
    if (logs_.empty())
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
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить рисунок"), QString(),
                                     filters.join(QStringLiteral(";;")), &filter);
    if (path.isEmpty())
        return;
    const QString suffix = filter.section(QLatin1Char('.'), 1).chopped(1);
    SaveImage(WithSuffix(path, suffix.isEmpty() ? QStringLiteral("png") : suffix));
}

void TViewerWindow::AskAdd() {
    const QStringList paths =
        QFileDialog::getOpenFileNames(this, QStringLiteral("Добавить журнал данных"), QString(),
                                      QStringLiteral("Журналы (*.txt);;Все файлы (*)"));
    for (const QString& path : paths)
        AddFile(path);
}

void TViewerWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TViewerWindow::dropEvent(QDropEvent* event) {
    bool first = true; // several files dropped at once are shown together
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        first ? OpenFile(url.toLocalFile()) : AddFile(url.toLocalFile());
        first = false;
    }
}

} // namespace orvi::viewer
