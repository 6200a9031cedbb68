// The main window's controls: kinds, places, captions, defaults, fonts, colours, the
// edges they follow when the window is resized, and the keyboard order.
#include "app/Controls.h"
#include "app/Unit1.h"
#include "widgets/Gorizont.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QSettings>
#include <QTimer>

namespace orvi::app {

namespace {

using widgets::TFont;

constexpr int kClientWidth = 1024;
constexpr int kClientHeight = 712;
constexpr int kColumnLeft = 8;
constexpr int kColumnStep = 96;
constexpr int kTimerMs = 10;

const QColor kGray(128, 128, 128);
const QColor kMaroon(128, 0, 0);

// Qt's own dialogs keep their state in QtProject.conf in the user's configuration folder (the
// file dialog: its history, last folder and view) and read it back at the next start. The
// console keeps no settings between runs, so Qt's settings go to a folder that cannot exist:
// nothing is read and nothing is written, for the whole program. (Where the native format is
// the Windows registry this does not reach it.)
void KeepNoSettings() {
    const QString nowhere = QStringLiteral("/dev/null/orvi-keeps-no-settings");
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, nowhere);
        QSettings::setPath(format, QSettings::SystemScope, nowhere);
    }
}

QFont WindowFont() {
    return TFont().ToQFont(); // "MS Sans Serif", 11 pixels
}

QFont ValueFont() {
    TFont font;
    font.SetName(QStringLiteral("Arial"));
    font.SetHeight(-27);
    font.SetStyle(unsigned(widgets::TFontStyle::fsBold));
    font.SetCharset(widgets::RUSSIAN_CHARSET);
    return font.ToQFont();
}

QPushButton* MakeButton(const QString& caption, QRect place, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(place);
    return button;
}

QLabel* MakeLabel(const QString& caption, QPoint at, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->move(at);
    label->adjustSize();
    return label;
}

TLabeledEdit* MakeEdit(const QString& label, const QString& text, QRect place, QWidget* parent) {
    auto* edit = new TLabeledEdit(label, text, parent);
    edit->setGeometry(place);
    edit->PlaceLabel();
    return edit;
}

QComboBox* MakeList(const QStringList& items, int selected, QRect place, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    list->addItems(items);
    list->setCurrentIndex(selected);
    list->setGeometry(place);
    return list;
}

QCheckBox* MakeCheckBox(const QString& caption, QRect place, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setGeometry(place);
    return box;
}

} // namespace

void TForm1::CreateControls() {
    setWindowTitle(QStringLiteral("Form1"));
    FDesignSize = QSize(kClientWidth, kClientHeight);
    resize(FDesignSize);
    setFont(WindowFont());
    QPalette shade = palette();
    shade.setColor(QPalette::Window, kGray);
    setPalette(shade);
    setAutoFillBackground(true);

    CreateChannelColumns();
    CreateRightPanel();
    CreateHorizon();
    CreateComponents();
    SetTabOrder();
}

void TForm1::CreateChannelColumns() {
    TLabeledEdit** maxima[8] = {&K1M, &T1M, &K2M, &T2M, &K3M, &T3M, &K4M, &T4M};
    TBarGauge** gauges[8] = {&KK1, &TT1, &KK2, &TT2, &KK3, &TT3, &KK4, &TT4};
    QLabel** values[8] = {&K1V, &T1V, &K2V, &T2V, &K3V, &T3V, &K4V, &T4V};
    const QFont valueFont = ValueFont();
    for (int k = 0; k < 8; ++k) {
        const bool housing = k % 2 == 0;
        const QString channel = QString::number(k / 2 + 1);
        const int left = kColumnLeft + kColumnStep * k;
        const QString label = (housing ? QStringLiteral("Корпус ") : QStringLiteral("Темп ")) +
                              channel + QStringLiteral(". Макс");
        *maxima[k] = MakeEdit(label, QStringLiteral("50"), QRect(left, 24, 81, 21), this);

        auto* gauge =
            new TBarGauge(-50, 50, housing ? QColor(Qt::black) : kMaroon, QColor(Qt::white), this);
        gauge->setGeometry(left, 56, 81, 608);
        Anchor(gauge, false, false, false, true);
        *gauges[k] = gauge;

        QLabel* value = MakeLabel(QStringLiteral("0"), QPoint(k == 0 ? 16 : left, 672), this);
        value->setFont(valueFont);
        value->adjustSize();
        Anchor(value, false, true, false, false);
        *values[k] = value;
    }
}

void TForm1::CreateRightPanel() {
    Button1 = MakeButton(QStringLiteral("Задать"), QRect(776, 24, 75, 25), this);
    LKren = MakeEdit(QStringLiteral("Крен"), QStringLiteral("0"), QRect(776, 72, 73, 21), this);
    LKren->setReadOnly(true);
    LTang = MakeEdit(QStringLiteral("Тангаж"), QStringLiteral("0"), QRect(856, 72, 73, 21), this);
    LTang->setReadOnly(true);
    LNullK =
        MakeEdit(QStringLiteral("Нулевой К"), QStringLiteral("0"), QRect(936, 72, 73, 21), this);
    LDelta = MakeEdit(QStringLiteral("Дельта"), QStringLiteral("0"), QRect(776, 112, 73, 21), this);

    QStringList ports;
    for (int n = 1; n <= 32; ++n)
        ports << QStringLiteral("COM%1").arg(n);
    PortN = MakeList(ports, 6, QRect(776, 344, 73, 21), this);
    PortS = MakeList({"4800", "9600", "19200", "38400", "115200", "921600"}, 2,
                     QRect(856, 344, 73, 21), this);
    OpenPortButton = MakeButton(QStringLiteral("Открыть"), QRect(936, 344, 75, 25), this);
    Test = MakeButton(QStringLiteral("Тест"), QRect(776, 376, 75, 25), this);
    FindPortButton = MakeButton(QStringLiteral("Найти"), QRect(936, 376, 75, 25), this);
    Anchor(FindPortButton, true, false, false, false);
    PortStatusLabel = MakeLabel(QStringLiteral("Закрыт"), QPoint(872, 384), this);
    Anchor(PortStatusLabel, true, false, false, false);

    FName = MakeEdit(QStringLiteral("Файл"), QString(), QRect(776, 424, 242, 21), this);
    Anchor(FName, false, false, true, false);
    Button4 = MakeButton(QStringLiteral("Обзор"), QRect(945, 448, 75, 25), this);
    Anchor(Button4, true, false, false, false);
    CheckBox1 = MakeCheckBox(QStringLiteral("Имя по дате"), QRect(784, 456, 97, 17), this);
    DTE = MakeEdit(QStringLiteral("Интервал опроса (мс)"), QStringLiteral("1"),
                   QRect(784, 504, 121, 21), this);
    LogBox = MakeCheckBox(QStringLiteral("Писать в файл"), QRect(912, 504, 97, 17), this);

    StartButton = MakeButton(QStringLiteral("Старт"), QRect(776, 560, 233, 25), this);
    FileButton =
        MakeButton(QStringLiteral("Считать данные из файла"), QRect(776, 592, 233, 25), this);
    StartFlashButton =
        MakeButton(QStringLiteral("Данные с флеш-памяти"), QRect(776, 624, 233, 25), this);
    StartFlashButton->hide();
    Label1 = MakeLabel(QStringLiteral("-50C"), QPoint(776, 655), this);
    Anchor(Label1, false, true, false, false);
}

void TForm1::CreateHorizon() {
    using namespace widgets;
    Gorizont1 = new TGorizont(this);
    Gorizont1->setGeometry(800, 144, 193, 193);
    Gorizont1->setMinimumSize(25, 25);
    TFont face;
    face.SetColor(clWhite);
    Gorizont1->SetFont(face);
    Gorizont1->SetTableColor(clBlack);
    Gorizont1->SetBackColor(clGray);
    Gorizont1->SetRoundColor(clBlack);
    Gorizont1->SetGridColor(clLime);
    Gorizont1->SetGridWidth(5);
    Gorizont1->SetIndColor(clYellow);
    Gorizont1->SetIndWidth(1);
    Gorizont1->SetAirColor(clBlue);
    Gorizont1->SetGroundColor(RGBColor(155, 78, 0));
    Gorizont1->SetSectors(9);
    Gorizont1->SetRadius(0.67);
    Gorizont1->SetShowSign(true);
    TFont indicator;
    indicator.SetName(QStringLiteral("Verdana"));
    indicator.SetHeight(-19);
    indicator.SetColor(clWhite);
    indicator.SetCharset(RUSSIAN_CHARSET);
    Gorizont1->SetIndFont(indicator);
}

void TForm1::CreateComponents() {
    KeepNoSettings(); // before the file dialog reads them
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog);
    Timer1 = new QTimer(this);
    Timer1->setInterval(kTimerMs);
    file_timer = new QTimer(this);
    file_timer->setInterval(kTimerMs);
    file_timer->setTimerType(Qt::PreciseTimer); // the replay keeps the recorded pace

    CPort->SetName("CPort");
    CPort->BeginLoading();
    CPort->SetAutoOpen(false);
    CPort->SetTraceName("ORVI.TRC");
    CPort->SetTraceAllHex(true);
    CPort->SetLogName("ORVI.LOG");
    CPort->SetOnPortOpen([this](TOrvCustomComPort& sender) { CPortPortOpen(sender); });
    CPort->SetOnPortClose([this](TOrvCustomComPort& sender) { CPortPortClose(sender); });
    CPort->Loaded();
}

void TForm1::SetTabOrder() {
    QWidget* const order[] = {K1M,        T1M,           K2M,       T2M,
                              Button1,    PortN,         PortS,     OpenPortButton,
                              Test,       FName,         Button4,   DTE,
                              LogBox,     StartButton,   CheckBox1, K3M,
                              T3M,        K4M,           T4M,       StartFlashButton,
                              LTang,      LKren,         LNullK,    LDelta,
                              FileButton, FindPortButton};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void TForm1::Anchor(QWidget* control, bool right, bool bottom, bool stretchWidth,
                    bool stretchHeight) {
    FAnchored.push_back({control, control->geometry(), right, bottom, stretchWidth, stretchHeight});
}

void TForm1::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int dx = width() - FDesignSize.width();
    const int dy = height() - FDesignSize.height();
    for (const TAnchored& a : FAnchored) {
        QRect place = a.Design;
        place.setSize(a.StretchWidth || a.StretchHeight ? a.Design.size() : a.Control->size());
        if (a.Right)
            place.moveLeft(a.Design.left() + dx);
        if (a.Bottom)
            place.moveTop(a.Design.top() + dy);
        if (a.StretchWidth)
            place.setWidth(std::max(0, a.Design.width() + dx));
        if (a.StretchHeight)
            place.setHeight(std::max(0, a.Design.height() + dy));
        a.Control->setGeometry(place);
        if (auto* edit = qobject_cast<TLabeledEdit*>(a.Control))
            edit->PlaceLabel();
    }
}

} // namespace orvi::app
