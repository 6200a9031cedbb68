#include "serial/ComSelectForm.h"

#include "serial/ComPort.h"
#include "serial/ComSelectProbe.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <cctype>
#include <limits>

namespace orvi {

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 50;
constexpr int kItemHeight = 13;
constexpr size_t kMaxNumberText = 255;

[[noreturn]] void NotAnInteger(const std::string& text) {
    throw EConvertError("'" + text + "' is not a valid integer value");
}

int DigitValue(char c, int base) {
    const int lower = std::tolower(static_cast<unsigned char>(c));
    int value = base;
    if (lower >= '0' && lower <= '9')
        value = lower - '0';
    else if (lower >= 'a' && lower <= 'f')
        value = lower - 'a' + 10;
    return value < base ? value : -1;
}

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y, int w, int h) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setGeometry(x, y, w, h);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int x, int y) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setGeometry(x, y, 85, 27);
    return button;
}

} // namespace

int32_t StrToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        NotAnInteger(text);
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0)
            NotAnInteger(text);
        value = value * base + digit;
        if (value > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            NotAnInteger(text);
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max())
        NotAnInteger(text);
    return int32_t(value);
}

TComSelectForm::TComSelectForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Select Port"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(220, 131);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    setPalette(palette);
    CreateControls();
    FormCreate();
}

void TComSelectForm::CreateControls() {
    // The frame first, so that the texts lie above it.
    Bevel1 = new QFrame(this);
    Bevel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Bevel1->setGeometry(8, 8, 201, 42);
    Label1 = MakeLabel(this, "The configured serial port is not valid.", 18, 14, 176, 13);
    Label2 = MakeLabel(this, "Please choose another port.", 18, 30, 133, 13);

    // Created in tab order (OK, Cancel, the list), so that the focus starts on OK.
    OkBtn = MakeButton(this, "OK", 8, 95);
    OkBtn->setDefault(true);
    AbortBtn = MakeButton(this, "Cancel", 124, 95);
    AbortBtn->setAutoDefault(false);
    PortsComboBox = new QComboBox(this);
    PortsComboBox->setEditable(false);
    PortsComboBox->setGeometry(8, 64, 201, 21);

    setTabOrder(OkBtn, AbortBtn);
    setTabOrder(AbortBtn, PortsComboBox);
    connect(OkBtn, &QPushButton::clicked, this, [this] { done(mrOk); });
    connect(AbortBtn, &QPushButton::clicked, this, [this] { done(mrAbort); });
}

void TComSelectForm::FormCreate() {
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (!IsPortAvailable(n))
            continue;
        PortsComboBox->addItem(QStringLiteral("COM%1").arg(n));
        PortsComboBox->setItemData(PortsComboBox->count() - 1, QSize(0, kItemHeight),
                                   Qt::SizeHintRole);
    }
    PortsComboBox->setCurrentIndex(PortsComboBox->count() > 0 ? 0 : -1);
}

int32_t TComSelectForm::SelectedComNumber() const {
    const QString text =
        PortsComboBox->currentIndex() >= 0 ? PortsComboBox->currentText() : QString();
    return StrToInt(text.mid(3).toStdString().substr(0, kMaxNumberText));
}

void TComSelectForm::reject() {
    done(mrCancel);
}

void TComSelectForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TComSelectForm::showEvent(QShowEvent* event) {
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    OkBtn->setFocus();
    QDialog::showEvent(event);
}

void InstallPortSelectionDialog() {
    SetPortPrompt([](bool& ok) {
        TComSelectForm form;
        ok = form.exec() == mrOk;
        return ok ? form.SelectedComNumber() : 0;
    });
}

} // namespace orvi
