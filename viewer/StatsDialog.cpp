#include "viewer/StatsDialog.h"

#include "viewer/CsvExport.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace orvi::viewer {

namespace {

QString Utf8(std::string_view text) {
    return QString::fromUtf8(text.data(), int(text.size()));
}

QString Seconds(int64_t ms) {
    return QString::fromStdString(SecondsText(ms));
}

QString Number(double v) {
    return std::isnan(v) ? QString() : QString::number(v, 'g', 12);
}

QStringList Header() {
    return {QStringLiteral("Канал"),          QStringLiteral("Значений"),
            QStringLiteral("Не числа"),       QStringLiteral("Минимум"),
            QStringLiteral("Время мин., с"),  QStringLiteral("Максимум"),
            QStringLiteral("Время макс., с"), QStringLiteral("Среднее"),
            QStringLiteral("Ст. отклонение")};
}

// The cells of a channel's row; min and max exactly as the log holds them.
QStringList Row(size_t channel, const TChannelStats& s) {
    const app::TRecordField& field = app::RecordFields()[channel + 1];
    const bool any = s.Count > 0;
    return {QStringLiteral("%1, %2").arg(Utf8(field.Caption), Utf8(field.Unit)),
            QString::number(s.Count),
            QString::number(s.NotFinite),
            any ? QString::fromStdString(s.MinText) : QString(),
            any ? Seconds(s.MinMs) : QString(),
            any ? QString::fromStdString(s.MaxText) : QString(),
            any ? Seconds(s.MaxMs) : QString(),
            Number(s.Mean),
            Number(s.StdDev)};
}

} // namespace

QString StatsText(const TRangeStats& stats) {
    QStringList lines;
    lines << QStringLiteral("Диапазон: %1 … %2 с, записей: %3")
                 .arg(Seconds(stats.Range.From), Seconds(stats.Range.To))
                 .arg(stats.Records);
    lines << Header().join(QLatin1Char('\t'));
    for (size_t c = 0; c < kChannelCount; ++c)
        lines << Row(c, stats.Channels[c]).join(QLatin1Char('\t'));
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

TStatsDialog::TStatsDialog(const TRangeStats& stats, const QString& title, QWidget* owner)
    : QDialog(owner), text_(StatsText(stats)) {
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    auto* table = new QTableWidget(int(kChannelCount), Header().size(), this);
    table->setHorizontalHeaderLabels(Header());
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (size_t c = 0; c < kChannelCount; ++c) {
        const QStringList cells = Row(c, stats.Channels[c]);
        for (int k = 0; k < cells.size(); ++k) {
            auto* item = new QTableWidgetItem(cells[k]);
            if (k > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(int(c), k, item);
        }
    }
    table->resizeColumnsToContents();
    layout->addWidget(table);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy =
        buttons->addButton(QStringLiteral("Копировать"), QDialogButtonBox::ActionRole);
    connect(copy, &QPushButton::clicked, this,
            [this] { QApplication::clipboard()->setText(text_); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    resize(900, 420);
}

} // namespace orvi::viewer
