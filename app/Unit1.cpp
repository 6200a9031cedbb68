// The main window's creation, the wiring of its handlers, the handlers of its own controls
// ("Задать", "Обзор", "Имя по дате") and closing.
#include "app/Unit1.h"

#include "app/Controls.h"
#include "app/Conversions.h"
#include "app/ErrorDisplay.h"
#include "platform/Clock.h"
#include "platform/SerialDeviceMap.h"
#include "serial/QtEventAdapter.h"
#include "widgets/Gorizont.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace orvi::app {

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), CPort(std::make_unique<TOrvComPort>(this)),
      Device(*CPort,
             {[] { QCoreApplication::processEvents(); }, [this] { return FClosing; }, {},
              TStrayBytes::StartOfNextReply, {}}),
      Run(*CPort, Device, [this] { return TickSource(); }),
      TickSource(&platform::TickCount), DeviceMapReader(&platform::ReadSerialDeviceMap),
      FEventAdapter(std::make_unique<QtEventAdapter>()) {
    InstallStandardErrorDisplay();
    CreateControls();
    ConnectHandlers();
    FormCreate();
}

TForm1::~TForm1() {
    FClosing = true;
    Timer1->stop();
    file_timer->stop();
    // The port's events must not reach controls that are about to go.
    CPort->SetOnPortOpen({});
    CPort->SetOnPortClose({});
    try {
        CPort->SetOpen(false);
    } catch (...) {
        // Nothing left to tell; the component's destructor releases what remains.
    }
}

void TForm1::FormCreate() {
    PollBusy = false;
    OutputFile.reset();
}

std::array<TLabeledEdit*, 8> TForm1::MaxEdits() const {
    return {K1M, T1M, K2M, T2M, K3M, T3M, K4M, T4M};
}

std::array<TBarGauge*, 8> TForm1::Gauges() const {
    return {KK1, TT1, KK2, TT2, KK3, TT3, KK4, TT4};
}

std::array<QLabel*, 8> TForm1::ValueLabels() const {
    return {K1V, T1V, K2V, T2V, K3V, T3V, K4V, T4V};
}

void TForm1::ConnectHandlers() {
    const auto on = [this](auto* sender, auto signal, void (TForm1::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { Handle([=, this] { (this->*handler)(); }); });
    };
    on(Button1, &QPushButton::clicked, &TForm1::Button1Click);
    on(OpenPortButton, &QPushButton::clicked, &TForm1::OpenPortButtonClick);
    on(Test, &QPushButton::clicked, &TForm1::TestClick);
    on(FindPortButton, &QPushButton::clicked, &TForm1::FindPortButtonClick);
    on(Button4, &QPushButton::clicked, &TForm1::Button4Click);
    on(CheckBox1, &QCheckBox::toggled, &TForm1::CheckBox1Click);
    on(StartButton, &QPushButton::clicked, &TForm1::StartButtonClick);
    on(FileButton, &QPushButton::clicked, &TForm1::FileButtonClick);
    on(StartFlashButton, &QPushButton::clicked, &TForm1::StartFlashButtonClick);
    on(Timer1, &QTimer::timeout, &TForm1::Timer1Timer);
    on(file_timer, &QTimer::timeout, &TForm1::file_timerTimer);
}

void TForm1::Handle(const std::function<void()>& handler) {
    ++FHandlerDepth;
    RunHandler(handler);
    --FHandlerDepth;
    if (FHandlerDepth == 0 && FCloseDeferred) {
        FCloseDeferred = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

void TForm1::Say(const QString& text) {
    if (!FClosing)
        ShowMessage(text);
}

void TForm1::Button1Click() {
    const auto edits = MaxEdits();
    const auto gauges = Gauges();
    for (size_t i = 0; i < edits.size(); ++i)
        gauges[i]->SetMax(IntFromText(edits[i]->text().toStdString()));
}

void TForm1::Button4Click() {
    if (OpenDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList files = OpenDialog1->selectedFiles();
    if (!files.isEmpty())
        FName->setText(QDir::toNativeSeparators(files.first()));
}

void TForm1::CheckBox1Click() {
    if (!CheckBox1->isChecked()) {
        FName->clear();
        return;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QDate day = now.date();
    const QTime time = now.time();
    FName->setText(QString::fromStdString(
        DateFileName(day.year(), day.month(), day.day(), time.hour(), time.minute())));
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    FClosing = false;
    if (FCentred || screen() == nullptr)
        return;
    FCentred = true;
    QRect frame = frameGeometry();
    frame.moveCenter(screen()->availableGeometry().center());
    move(frame.topLeft());
}

// A close asked for while a handler runs (inside the reply wait or the flash download) is
// put off: the activity sees Closing() and ends at its next step, and the close is carried
// out once every handler has returned, so nothing on the stack loses its window.
void TForm1::closeEvent(QCloseEvent* event) {
    FClosing = true;
    if (FHandlerDepth > 0) {
        FCloseDeferred = true;
        event->ignore();
        return;
    }
    RunHandler([this] { ShutDownActivities(); });
    event->accept();
}

void TForm1::ShutDownActivities() {
    if (file_timer->isActive())
        StopReplay();
    if (FlashReading)
        EndFlashDownload();
    if (Running)
        StopRun();
    CPort->SetOpen(false);
}

} // namespace orvi::app
