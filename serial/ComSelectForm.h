#pragma once
// The "Select Port" dialog: offered when the com port component is asked to open with
// no port number. It lists the ports 1 to 50 that exist (a port held by another program
// included) and returns the chosen number.
//
// Results: "OK" closes with mrOk, "Cancel" with mrAbort, the close box with mrCancel;
// Enter presses "OK"; no key is bound to "Cancel" (Escape does nothing).
//
// Threads: GUI thread only. Probing runs synchronously in the constructor.
#include "serial/Exceptions.h"

#include <QDialog>

#include <cstdint>
#include <string>

class QComboBox;
class QFrame;
class QLabel;
class QPushButton;

namespace orvi {

// A text that is not a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Decimal (or "$"/"0x" hexadecimal) text to a 32-bit integer, leading spaces and a sign
// allowed. Anything else raises EConvertError "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);

enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3 };

class TComSelectForm : public QDialog {
    Q_OBJECT

public:
    // Probes the ports (FormCreate) before it returns.
    explicit TComSelectForm(QWidget* parent = nullptr);

    // The number in the selected entry ("COM12" gives 12); with nothing selected the
    // empty text fails to convert (EConvertError).
    int32_t SelectedComNumber() const;

    // The close box.
    void reject() override;

    QLabel* Label1;
    QLabel* Label2;
    QFrame* Bevel1;
    QComboBox* PortsComboBox;
    QPushButton* OkBtn;
    QPushButton* AbortBtn;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void FormCreate();
};

// Makes the dialog the com port component's port prompt.
void InstallPortSelectionDialog();

} // namespace orvi
