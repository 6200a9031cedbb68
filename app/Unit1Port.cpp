// Exchanges with the device over CPort, and the port search, opening and test.
#include "app/Conversions.h"
#include "app/ErrorDisplay.h"
#include "app/PortDiscovery.h"
#include "app/Unit1.h"
#include "platform/Clock.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

namespace orvi::app {

namespace {
constexpr int kSleepMs = 10;
constexpr int kWaitLimitMs = 5000;
constexpr int kHighestPort = 65535;
} // namespace

// Sleeps 10 ms at a time and lets the window handle what is pending in between, so timer
// ticks and clicks are served in the middle of an exchange. Only the sleeps count: the wait
// lasts at least 5 s. A close of the window ends the wait at once, as no answer.
bool TForm1::WaitReply(TReply& buffer) {
    int counter = 0;
    while (CPort->InCount() < kReplyLength && counter < kWaitLimitMs) {
        if (FClosing)
            return false;
        platform::SleepMs(kSleepMs);
        QCoreApplication::processEvents();
        counter += kSleepMs;
    }
    if (counter >= kWaitLimitMs)
        return false;
    for (uint8_t& byte : buffer)
        byte = CPort->GetByte();
    return true;
}

bool TForm1::Exchange(const uint8_t* frame, uint16_t length, TReply& buffer) {
    CPort->SendBlock(frame, length);
    TReply reply{};
    if (!WaitReply(reply))
        return false;
    buffer = reply;
    return true;
}

bool TForm1::PollDevice() {
    if (!Exchange(HousingRequest.data(), HousingRequest.size(), HousingReply))
        return false;
    if (!Exchange(SensorRequest.data(), SensorRequest.size(), SensorReply))
        return false;
    DecodePoll(HousingReply, SensorReply, Record);
    return true;
}

TFlashResult TForm1::ReadFlashRecord() {
    if (!Exchange(FlashRequest.data(), FlashRequest.size(), FlashReply))
        return TFlashResult::Failure;
    return DecodeFlashRecord(FlashReply, Record);
}

int TForm1::FindUsbSerialPort() {
    return app::FindUsbSerialPort(DeviceMapReader, [this](int port) { return TryOpenPort(port); });
}

// A number the port component cannot hold (0 would even ask the operator for a port) is
// not probed.
bool TForm1::TryOpenPort(int portNumber) {
    if (portNumber <= 0 || portNumber > kHighestPort)
        return false;
    bool opened = false;
    try {
        CPort->SetComNumber(uint16_t(portNumber));
        CPort->SetOpen(true);
        opened = true;
    } catch (const std::exception&) {
        // The port cannot be opened: not the one searched for.
    }
    CPort->SetOpen(false);
    return opened;
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

void TForm1::OpenPortButtonClick() {
    CPort->SetOpen(false);
    CPort->SetBaud(IntFromText(PortS->currentText().toStdString()));
    CPort->SetComNumber(uint16_t(SelectedPortNumber()));
    CPort->SetOpen(true);
    CPort->FlushInput();
    CPort->FlushOutput();
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
        if (PollDevice())
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
