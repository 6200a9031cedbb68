// The flash-memory download: the device's stored records read one by one over the open port
// and written as lines of the data log format into the file named in FName.
#include "app/Controls.h"
#include "app/ErrorDisplay.h"
#include "app/Unit1.h"
#include "serial/Exceptions.h"

#include <QCoreApplication>
#include <QPushButton>

namespace orvi::app {

void TForm1::BeginFlashDownload() {
    if (!CPort->Open())
        throw orvi::Exception("Port not open!");
    OutputFile = std::make_unique<TDataLog>(FName->text().toStdString());
    FFlashOwnsFile = true;
    CPort->FlushInput();
    CPort->FlushOutput();
    StartFlashButton->setText(QStringLiteral("Идет чтение..."));
    Test->setEnabled(false);
    StartButton->setEnabled(false);
    StartFlashButton->setEnabled(false);
    FlashReading = true;
}

// Restores the window in every case; a failure to close the dump is raised afterwards.
void TForm1::EndFlashDownload() {
    std::exception_ptr failure;
    if (FFlashOwnsFile) {
        FFlashOwnsFile = false;
        try {
            CloseOutputFile();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    StartFlashButton->setText(QStringLiteral("Данные с флеш-памяти"));
    Test->setEnabled(true);
    StartButton->setEnabled(true);
    StartFlashButton->setEnabled(true);
    FlashReading = false;
    if (failure)
        std::rethrow_exception(failure);
}

void TForm1::StartFlashButtonClick() {
    try {
        BeginFlashDownload();
        // A close of the window ends the download at the next record; the dump keeps the
        // lines written so far.
        while (FlashReading && !FClosing) {
            switch (Device.ReadFlashRecord()) {
            case TFlashResult::Record:
                WriteLogLine();
                break;
            case TFlashResult::End:
                EndFlashDownload();
                break;
            case TFlashResult::Failure:
                EndFlashDownload();
                Say(QStringLiteral("Error in reading process!"));
                break;
            }
            QCoreApplication::processEvents();
        }
        if (FlashReading)
            EndFlashDownload();
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        try {
            EndFlashDownload();
        } catch (...) {
            // The first error is the one to show.
        }
        ShowMessage(QStringLiteral("Exception: ") + ExceptionText(error));
    }
}

} // namespace orvi::app
