#include "viewer/ViewerWindow.h"

#include "app/DataLog.h"
#include "viewer/CsvExport.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <cmath>
#include <fstream>

namespace orvi::viewer {

namespace {

QIcon LineSample(size_t channel) {
    QPixmap pixmap(28, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    QPen pen = widgets::TTrendChart::ChannelPen(channel);
    pen.setWidthF(2);
    p.setPen(pen);
    p.drawLine(0, 6, 28, 6);
    return QIcon(pixmap);
}

QString Caption(size_t channel) {
    const app::TRecordField& field = app::RecordFields()[channel + 1];
    return QString::fromUtf8(field.Caption.data(), int(field.Caption.size()));
}

} // namespace

TViewerWindow::TViewerWindow(QWidget* owner) : QMainWindow(owner) {
    setWindowTitle(QStringLiteral("Просмотр журнала данных"));
    setAcceptDrops(true);
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    chart_ = new widgets::TTrendChart(central);
    layout->addWidget(chart_, 1);
    layout->addWidget(BuildLegend());
    setCentralWidget(central);
    status_ = new QLabel(this);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setMaximumWidth(200);
    cancel_ = new QPushButton(QStringLiteral("Прервать"), this);
    statusBar()->addWidget(status_, 1);
    statusBar()->addPermanentWidget(progress_);
    statusBar()->addPermanentWidget(cancel_);
    progress_->hide();
    cancel_->hide();
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (log_)
            log_->Cancel();
    });
    BuildMenus();
    connect(chart_, &widgets::TTrendChart::CursorMoved, this, &TViewerWindow::ShowCursorValues);
    connect(&timer_, &QTimer::timeout, this, &TViewerWindow::Tick);
    timer_.start(kFollowMs);
    resize(1280, 800);
}

TViewerWindow::~TViewerWindow() {
    Close();
}

void TViewerWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("Файл"));
    file->addAction(QStringLiteral("Открыть…"), QKeySequence::Open, this, &TViewerWindow::AskOpen);
    file->addAction(QStringLiteral("Экспорт CSV…"), this, &TViewerWindow::AskExport);
    file->addAction(QStringLiteral("Сохранить PNG…"), this, &TViewerWindow::AskSavePng);
    file->addSeparator();
    file->addAction(QStringLiteral("Выход"), QKeySequence::Quit, this, &QWidget::close);
    QMenu* view = menuBar()->addMenu(QStringLiteral("Вид"));
    view->addAction(QStringLiteral("Весь журнал"), Qt::Key_Home, chart_,
                    &widgets::TTrendChart::ShowAll);
    follow_ = view->addAction(QStringLiteral("Следить за файлом"));
    follow_->setCheckable(true);
    follow_->setChecked(true);
    wallClock_ = view->addAction(QStringLiteral("Время суток"));
    wallClock_->setCheckable(true);
    wallClock_->setEnabled(false);
    connect(wallClock_, &QAction::toggled, chart_, &widgets::TTrendChart::SetWallClock);
}

QWidget* TViewerWindow::BuildLegend() {
    auto* legend = new QWidget(this);
    auto* column = new QVBoxLayout(legend);
    cursorTime_ = new QLabel(legend);
    column->addWidget(cursorTime_);
    for (size_t c = 0; c < kChannelCount; ++c) {
        boxes_[c] = new QCheckBox(Caption(c), legend);
        boxes_[c]->setChecked(true);
        boxes_[c]->setIcon(LineSample(c));
        boxes_[c]->setMinimumWidth(200);
        connect(boxes_[c], &QCheckBox::toggled, chart_,
                [this, c](bool on) { chart_->SetChannelVisible(c, on); });
        column->addWidget(boxes_[c]);
    }
    column->addStretch(1);
    return legend;
}

void TViewerWindow::Close() {
    chart_->SetLog(nullptr, std::nullopt);
    log_.reset(); // stops the indexing thread
}

bool TViewerWindow::OpenFile(const QString& path) {
    Close();
    std::string error;
    log_ = TIndexedLog::Open(path.toStdString(), error);
    if (!log_) {
        status_->setText(QStringLiteral("Не удалось открыть %1: %2")
                             .arg(path, QString::fromLocal8Bit(error.c_str())));
        return false;
    }
    const std::optional<TDateName> date = ParseDateName(log_->Path());
    wallClock_->setEnabled(date.has_value());
    setWindowTitle(QStringLiteral("%1 — просмотр журнала данных").arg(path));
    status_->setText(QStringLiteral("Читается %1…").arg(path));
    reported_ = false;
    seenGeneration_ = 0;
    log_->Start();
    chart_->SetLog(log_.get(), date);
    return true;
}

void TViewerWindow::Tick() {
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

void TViewerWindow::ShowIndexed() {
    const uint64_t generation = log_->Generation();
    if (generation != seenGeneration_) {
        seenGeneration_ = generation;
        chart_->DataChanged();
    }
    const bool done = log_->Done();
    const uint64_t total = std::max<uint64_t>(log_->FileBytes(), 1);
    progress_->setValue(int(log_->IndexedBytes() * 1000 / total));
    progress_->setVisible(!done);
    cancel_->setVisible(!done);
    if (done && !reported_) {
        reported_ = true;
        ReportSkipped();
    }
}

void TViewerWindow::ReportSkipped() {
    const QString path = QString::fromStdString(log_->Path());
    status_->setText(log_->Query([&](const TLogIndex& index, const TByteReader&) {
        if (index.Empty())
            return QStringLiteral("%1 не журнал данных: ни одна строка не содержит запись")
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

void TViewerWindow::ShowCursorValues() {
    const std::optional<TSample>& s = chart_->CursorRecord();
    const auto& fields = app::RecordFields();
    cursorTime_->setText(s ? QStringLiteral("%1 с").arg(double(s->Ms) / 1000, 0, 'f', 3)
                           : QString());
    for (size_t c = 0; c < kChannelCount; ++c) {
        QString text = Caption(c);
        if (s) {
            const double v = s->Record.Values[c];
            text += QStringLiteral(": %1 %2").arg(
                QString::fromStdString(fields[c + 1].Type == app::TFieldType::Integer
                                           ? std::to_string(int64_t(v))
                                           : app::LogNumberText(v)),
                QString::fromUtf8(fields[c + 1].Unit.data(), int(fields[c + 1].Unit.size())));
        }
        boxes_[c]->setText(text);
    }
}

bool TViewerWindow::ExportCsv(const QString& path, bool visibleOnly) {
    if (!log_)
        return false;
    std::ofstream out(path.toStdString(), std::ios::binary | std::ios::trunc);
    TMsRange range{INT64_MIN, INT64_MAX};
    if (visibleOnly)
        range = {int64_t(std::ceil(chart_->FromMs())), int64_t(std::floor(chart_->ToMs()))};
    const int64_t written = out ? log_->Query([&](const TLogIndex& index, const TByteReader& read) {
        return WriteCsv(index, read, range, ParseDateName(log_->Path()), out);
    })
                                : -1;
    out.close();
    const bool ok = written >= 0 && out;
    status_->setText(ok ? QStringLiteral("Записано в %1 записей: %2").arg(path).arg(written)
                        : QStringLiteral("Не удалось записать %1").arg(path));
    return ok;
}

bool TViewerWindow::SavePng(const QString& path) {
    const bool ok = chart_->grab().save(path, "PNG");
    status_->setText(ok ? QStringLiteral("Рисунок сохранён в %1").arg(path)
                        : QStringLiteral("Не удалось сохранить %1").arg(path));
    return ok;
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
        ExportCsv(path, ask.clickedButton() == visible);
}

void TViewerWindow::AskSavePng() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить PNG"),
                                                      QString(), QStringLiteral("PNG (*.png)"));
    if (!path.isEmpty())
        SavePng(path);
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
