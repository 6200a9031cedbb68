#pragma once
// The statistics of a time range of the log, per channel: count, values left out, minimum
// and maximum with their times, mean and standard deviation, in a table that copies as
// text (tab-separated, a header row, one row per channel) for a spreadsheet or a report.
//
// GUI thread only; the statistics come from the index (TLogIndex::Summarize), so a dialog
// over a whole large log opens at once.
#include "viewer/RangeStats.h"

#include <QDialog>

namespace orvi::viewer {

// The statistics as the table shows them, tab-separated, with a line naming the range.
QString StatsText(const TRangeStats& stats);

class TStatsDialog : public QDialog {
    Q_OBJECT

public:
    TStatsDialog(const TRangeStats& stats, const QString& title, QWidget* owner);

private:
    QString text_;
};

} // namespace orvi::viewer
