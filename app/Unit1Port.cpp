// The port search, opening and test.
#include "app/Conversions.h"
#include "app/ErrorDisplay.h"
#include "app/PortDiscovery.h"
#include "app/Unit1.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace orvi::app {

int TForm1::FindUsbSerialPort() {
    return app::FindUsbSerialPort(DeviceMapReader, [this](int port) { return TryOpenPort(port); });
}

// A number the port component cannot hold (0 would even ask the operator for a port) is
// not probed.
bool TForm1::TryOpenPort(int portNumber) {
    return Run.TryOpenPort(portNumber);
}

bool TForm1::FindAndOpenPort() {
    const int port = FindUsbSerialPort();
    if (port == 0)
        return false;
    SelectPortItem(port - 1);
    OpenPortButtonClick();
    return true;
}

int TForm1::SelectedPortNumber() const {
    return PortN->findText(PortN->currentText(), Qt::MatchExactly) + 1;
}

void TForm1::SelectPortItem(int index) {
    PortN->setCurrentIndex(index >= 0 && index < PortN->count() ? index : -1);
}

// Closed before the speed is read: a speed that is no number leaves the port closed.
void TForm1::OpenPortButtonClick() {
    CPort->SetOpen(false);
    const int32_t baud = IntFromText(PortS->currentText().toStdString());
    Run.OpenPort(SelectedPortNumber(), baud);
}

void TForm1::FindPortButtonClick() {
    const int port = FindUsbSerialPort();
    if (port != 0)
        SelectPortItem(port - 1);
    else
        ShowMessage(QStringLiteral("Порт не найден!"));
}

void TForm1::TestClick() {
    Test->setEnabled(false);
    try {
        // The test shows any reading, the end-of-data mark too.
        if (Device.PollDevice() != TPollResult::NoAnswer)
            ShowRecord();
        else
            Say(QStringLiteral("Error, pero not answer"));
    } catch (...) {
        ShowMessage(ExceptionText(std::current_exception()));
    }
    Test->setEnabled(true);
}

void TForm1::CPortPortOpen(TOrvCustomComPort&) {
    PortStatusLabel->setText(QStringLiteral("Открыт"));
    PortStatusLabel->adjustSize();
}

void TForm1::CPortPortClose(TOrvCustomComPort&) {
    PortStatusLabel->setText(QStringLiteral("Закрыт"));
    PortStatusLabel->adjustSize();
}

} // namespace orvi::app
