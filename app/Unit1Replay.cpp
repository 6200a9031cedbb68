// Log replay: a data log played back on the window at the pace it was recorded, driven by
// file_timer.
#include "app/Controls.h"
#include "app/ErrorDisplay.h"
#include "app/Unit1.h"

#include <QPushButton>
#include <QTimer>

namespace orvi::app {

void TForm1::FileButtonClick() {
    if (file_timer->isActive())
        StopReplay();
    else
        StartReplay();
}

void TForm1::StartReplay() {
    const QString name = FName->text();
    if (name.isEmpty()) {
        ShowMessage(QStringLiteral("Имя файла не задано!"));
        return;
    }
    try {
        auto reader = std::make_unique<TLogReader>(name.toStdString());
        reader->ReadLogRecord(Record);
        ReplayFirstTick = Record.Tick;
        ReplayStartTick = TickSource();
        ReplayFile = std::move(reader);
    } catch (...) {
        ShowMessage(ExceptionText(std::current_exception()));
        return;
    }
    FileButton->setText(QStringLiteral("СТОП"));
    StartButton->setEnabled(false);
    file_timer->start();
}

void TForm1::StopReplay() {
    file_timer->stop();
    StartButton->setEnabled(true);
    ReplayFile.reset();
    FileButton->setText(QStringLiteral("Считать данные из файла"));
}

// Shows, in turn, every record that has fallen due since the last tick; a malformed number
// raises out of here to the error display while the timer keeps running, and reading goes
// on after the malformed text.
void TForm1::file_timerTimer() {
    if (!ReplayFile)
        return;
    while (ReplayLag(Record.Tick, ReplayFirstTick, TickSource(), ReplayStartTick) < 0) {
        if (ReplayFile->Eof())
            break;
        ShowRecord();
        ReplayFile->ReadLogRecord(Record);
    }
    if (ReplayFile->Eof()) {
        ShowRecord();
        StopReplay();
    }
}

} // namespace orvi::app
