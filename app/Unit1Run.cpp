// Acquisition runs: start and stop, the poll cycle, the display refresh and the data log.
#include "app/Controls.h"
#include "app/Conversions.h"
#include "app/DisplayFormat.h"
#include "app/ErrorDisplay.h"
#include "app/Unit1.h"
#include "widgets/Gorizont.h"

#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTimer>

namespace orvi::app {

namespace {

QString Shown(double value, const std::string& separator) {
    return QString::fromStdString(DisplayNumberText(value, separator));
}

void SetCaption(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

} // namespace

void TForm1::StartButtonClick() {
    if (Running)
        StopRequested = true;
    else
        StartRun();
}

void TForm1::StartRun() {
    // A timer that never ticks would make a run that can never stop: refuse before anything
    // is opened or created. Text that is no number at all fails below, in its turn.
    const std::optional<int32_t> asked = ParseInteger(DTE->text().toStdString());
    if (asked && *asked <= 0)
        throw EConvertError("Интервал опроса должен быть больше 0 мс");
    if (!FindAndOpenPort())
        throw orvi::Exception("COM-порт не найден!");
    LogToFile = LogBox->isChecked();
    std::unique_ptr<TDataLog> log;
    if (LogToFile)
        log = std::make_unique<TDataLog>(FName->text().toStdString());
    // Should this fail, the new data log is released with `log`: the next start can take it.
    Timer1->setInterval(IntFromText(DTE->text().toStdString()));
    OutputFile = std::move(log);
    StartButton->setText(QStringLiteral("Стоп"));
    Test->setEnabled(false);
    StartFlashButton->setEnabled(false);
    StopRequested = false;
    Running = true;
    PollBusy = false;
    Timer1->start();
}

// Every step is carried out even when an earlier one fails (a port that went away must not
// leave the data log open or the run half-stopped); the first failure is raised at the end.
void TForm1::StopRun() {
    Timer1->stop();
    const TAcquisitionRun::TEnding ending = Run.End(LogToFile);
    StopRequested = false;
    Running = false;
    PollBusy = false;
    Test->setEnabled(true);
    StartFlashButton->setEnabled(true);
    StartButton->setText(QStringLiteral("Старт"));
    if (ending.Port)
        std::rethrow_exception(ending.Port);
    if (ending.Log)
        std::rethrow_exception(ending.Log);
}

void TForm1::Timer1Timer() {
    if (PollBusy)
        return;
    PollBusy = true;
    try {
        const TPollResult poll = Run.Poll();
        if (poll == TPollResult::NoAnswer) {
            StopRun();
            Say(QStringLiteral("Пирометры не отвечают!"));
            return;
        }
        if (poll == TPollResult::DataEnded) {
            StopRun();
            Say(QStringLiteral("Чтение закончено"));
            return;
        }
        ShowRecord();
        if (LogToFile)
            WriteLogLine();
        if (StopRequested)
            StopRun();
        PollBusy = false;
    } catch (...) {
        // The run ends as it would without the error, and then the operator learns why: a
        // silent stop would hide readings that never reached the data log.
        const std::exception_ptr error = std::current_exception();
        if (Running) {
            try {
                StopRun();
            } catch (...) {
                // The first error is the one to show.
            }
        }
        PollBusy = false;
        ShowException(error);
    }
}

void TForm1::ShowRecord() {
    const std::string separator = QLocale().decimalPoint().toStdString();
    const auto gauges = Gauges();
    const auto labels = ValueLabels();
    for (size_t channel = 0; channel < 4; ++channel) {
        const double housing = Record.Housing[channel];
        const double sensor = Record.Sensor[channel];
        gauges[2 * channel]->SetPosition(GaugeValue(housing));
        gauges[2 * channel + 1]->SetPosition(GaugeValue(sensor));
        SetCaption(labels[2 * channel], Shown(housing, separator));
        SetCaption(labels[2 * channel + 1], Shown(sensor, separator));
    }
    LTang->setText(Shown(Record.Pitch, separator));
    LKren->setText(Shown(Record.Roll, separator));
    LNullK->setText(QString::number(Record.ZeroCount));
    LDelta->setText(Shown(Record.ZeroCount * 0.02, separator));
    Gorizont1->SetKrenTangaj(Record.Roll, Record.Pitch);
    if (AfterShowRecord)
        AfterShowRecord();
}

void TForm1::WriteLogLine() {
    Run.StampTick();
    if (!OutputFile)
        throw EInOutError("File not open", 103);
    Run.LogRecord();
}

void TForm1::CloseOutputFile() {
    if (!OutputFile)
        return;
    const std::unique_ptr<TDataLog> file = std::move(OutputFile);
    file->Close();
}

} // namespace orvi::app
