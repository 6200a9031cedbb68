// The main window without a device: layout, resizing, keyboard order, "Задать", "Имя по дате",
// "Обзор" and the standard error display.
#include "serial/ApplicationException.h"
#include "tests/app/ConsoleFixture.h"
#include "widgets/Gorizont.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionButton>
#include <QThread>
#include <pwd.h>
#include <thread>
#include <unistd.h>

namespace orvi::app::test {
namespace {

using WindowTest = ConsoleTest;

TEST_F(WindowTest, WindowDefaults) {
    TForm1& f = MakeForm();
    EXPECT_EQ(f.windowTitle(), "Form1");
    EXPECT_EQ(f.size(), QSize(1024, 712));
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(128, 128, 128));
    EXPECT_EQ(f.PortN->count(), 32);
    EXPECT_EQ(f.PortN->itemText(0), "COM1");
    EXPECT_EQ(f.PortN->itemText(31), "COM32");
    EXPECT_EQ(f.PortN->currentText(), "COM7");
    EXPECT_EQ(f.SelectedPortNumber(), 7);
    EXPECT_EQ(f.PortS->count(), 6);
    EXPECT_EQ(f.PortS->itemText(5), "921600");
    EXPECT_EQ(f.PortS->currentText(), "19200");
    EXPECT_EQ(f.DTE->text(), "1");
    EXPECT_EQ(f.DTE->EditLabel()->text(), "Интервал опроса (мс)");
    EXPECT_FALSE(f.LogBox->isChecked());
    EXPECT_FALSE(f.CheckBox1->isChecked());
    EXPECT_TRUE(f.FName->text().isEmpty());
    EXPECT_EQ(f.PortStatusLabel->text(), "Закрыт");
    EXPECT_EQ(f.StartButton->text(), "Старт");
    EXPECT_EQ(f.FileButton->text(), "Считать данные из файла");
    EXPECT_EQ(f.StartFlashButton->text(), "Данные с флеш-памяти");
    EXPECT_TRUE(f.LKren->isReadOnly());
    EXPECT_TRUE(f.LTang->isReadOnly());
    EXPECT_FALSE(f.LNullK->isReadOnly());
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_EQ(f.Timer1->interval(), 10);
    EXPECT_FALSE(f.file_timer->isActive());
    EXPECT_EQ(f.file_timer->interval(), 10);
    EXPECT_FALSE(f.CPort->Open());
    EXPECT_FALSE(f.CPort->AutoOpen());
    EXPECT_EQ(f.CPort->TraceName(), "ORVI.TRC");
    EXPECT_TRUE(f.CPort->TraceAllHex());
    EXPECT_EQ(f.CPort->LogName(), "ORVI.LOG");
    EXPECT_EQ(f.CPort->Tracing(), tlOff);
    EXPECT_EQ(f.CPort->Logging(), tlOff);
}

TEST_F(WindowTest, ChannelColumns) {
    TForm1& f = MakeForm();
    const char* labels[] = {"Корпус 1. Макс", "Темп 1. Макс", "Корпус 2. Макс", "Темп 2. Макс",
                            "Корпус 3. Макс", "Темп 3. Макс", "Корпус 4. Макс", "Темп 4. Макс"};
    for (int k = 0; k < 8; ++k) {
        const int left = 8 + 96 * k;
        TLabeledEdit* edit = f.MaxEdits()[size_t(k)];
        EXPECT_EQ(edit->geometry(), QRect(left, 24, 81, 21)) << k;
        EXPECT_EQ(edit->EditLabel()->text(), labels[k]);
        EXPECT_EQ(edit->text(), "50");
        TBarGauge* gauge = f.Gauges()[size_t(k)];
        EXPECT_EQ(gauge->geometry(), QRect(left, 56, 81, 608)) << k;
        EXPECT_EQ(gauge->Min(), -50);
        EXPECT_EQ(gauge->Max(), 50);
        EXPECT_EQ(gauge->Position(), 0);
        EXPECT_EQ(gauge->BarColor(), k % 2 == 0 ? QColor(Qt::black) : QColor(128, 0, 0));
        EXPECT_EQ(gauge->BackgroundColor(), QColor(Qt::white));
        QLabel* value = f.ValueLabels()[size_t(k)];
        EXPECT_EQ(value->pos(), QPoint(k == 0 ? 16 : left, 672)) << k;
        EXPECT_EQ(value->text(), "0");
        EXPECT_TRUE(value->font().bold());
        EXPECT_EQ(value->font().pixelSize(), 27);
    }
}

TEST_F(WindowTest, RightPanelPlaces) {
    TForm1& f = MakeForm();
    const struct {
        QWidget* control;
        QRect place;
    } cases[] = {
        {f.Button1, {776, 24, 75, 25}},
        {f.LKren, {776, 72, 73, 21}},
        {f.LTang, {856, 72, 73, 21}},
        {f.LNullK, {936, 72, 73, 21}},
        {f.LDelta, {776, 112, 73, 21}},
        {f.Gorizont1, {800, 144, 193, 193}},
        {f.PortN, {776, 344, 73, 21}},
        {f.PortS, {856, 344, 73, 21}},
        {f.OpenPortButton, {936, 344, 75, 25}},
        {f.Test, {776, 376, 75, 25}},
        {f.FindPortButton, {936, 376, 75, 25}},
        {f.FName, {776, 424, 242, 21}},
        {f.Button4, {945, 448, 75, 25}},
        {f.CheckBox1, {784, 456, 97, 17}},
        {f.DTE, {784, 504, 121, 21}},
        {f.LogBox, {912, 504, 97, 17}},
        {f.StartButton, {776, 560, 233, 25}},
        {f.FileButton, {776, 592, 233, 25}},
        {f.StartFlashButton, {776, 624, 233, 25}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.control->geometry(), c.place) << c.control->metaObject()->className();
    EXPECT_EQ(f.PortStatusLabel->pos(), QPoint(872, 384));
    EXPECT_EQ(f.Label1->pos(), QPoint(776, 655));
    EXPECT_EQ(f.Label1->text(), "-50C");
    EXPECT_EQ(f.Gorizont1->minimumSize(), QSize(25, 25));
}

TEST_F(WindowTest, HorizonSettings) {
    using namespace widgets;
    TForm1& f = MakeForm();
    TGorizont& g = *f.Gorizont1;
    EXPECT_EQ(g.TableColor(), clBlack);
    EXPECT_EQ(g.BackColor(), clGray);
    EXPECT_EQ(g.RoundColor(), clBlack);
    EXPECT_EQ(g.GridColor(), clLime);
    EXPECT_EQ(g.GridWidth(), 5);
    EXPECT_EQ(g.IndColor(), clYellow);
    EXPECT_EQ(g.IndWidth(), 1);
    EXPECT_EQ(g.AirColor(), clBlue);
    EXPECT_EQ(g.GroundColor(), RGBColor(155, 78, 0));
    EXPECT_EQ(g.Sectors(), 9);
    EXPECT_DOUBLE_EQ(g.Radius(), 0.67);
    EXPECT_TRUE(g.ShowSign());
    EXPECT_EQ(g.IndFont().Name(), "Verdana");
    EXPECT_EQ(g.IndFont().Height(), -19);
    EXPECT_EQ(g.IndFont().Color(), clWhite);
    EXPECT_EQ(g.IndFont().Charset(), RUSSIAN_CHARSET);
    EXPECT_EQ(g.Font().Color(), clWhite);
}

// Width the style leaves for a button's or check box's caption.
int CaptionRoom(const QAbstractButton& b) {
    QStyleOptionButton option;
    option.initFrom(&b);
    option.text = b.text();
    const bool check = qobject_cast<const QCheckBox*>(&b) != nullptr;
    return b.style()
        ->subElementRect(check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                         &option, &b)
        .width();
}

// The window's sizes are fixed, so a face wider than the designed one would cut captions off.
TEST_F(WindowTest, CaptionsFitTheirControls) {
    TForm1& f = MakeForm();
    int checked = 0;
    for (const QAbstractButton* b : f.findChildren<QAbstractButton*>()) {
        if (b->text().isEmpty())
            continue; // the edits' and lists' own buttons
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), CaptionRoom(*b))
            << b->text().toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, 12);
}

TEST_F(WindowTest, FlashButtonIsHiddenWhenShown) {
    TForm1& f = MakeForm();
    f.show();
    EXPECT_TRUE(f.Button1->isVisible());
    EXPECT_TRUE(f.K1M->EditLabel()->isVisible());
    EXPECT_FALSE(f.StartFlashButton->isVisible());
    EXPECT_TRUE(f.StartFlashButton->isEnabled());
}

TEST_F(WindowTest, KeyboardOrder) {
    TForm1& f = MakeForm();
    const std::vector<QWidget*> order = {
        f.K1M,        f.T1M,           f.K2M,       f.T2M,
        f.Button1,    f.PortN,         f.PortS,     f.OpenPortButton,
        f.Test,       f.FName,         f.Button4,   f.DTE,
        f.LogBox,     f.StartButton,   f.CheckBox1, f.K3M,
        f.T3M,        f.K4M,           f.T4M,       f.StartFlashButton,
        f.LTang,      f.LKren,         f.LNullK,    f.LDelta,
        f.FileButton, f.FindPortButton};
    // The focus chain from K1M round to itself, each control once (the edit inside a list
    // stands for its list).
    std::vector<QWidget*> chain;
    QWidget* w = f.K1M;
    do {
        QWidget* control = qobject_cast<QComboBox*>(w->parentWidget()) ? w->parentWidget() : w;
        if (std::find(order.begin(), order.end(), control) != order.end() &&
            std::find(chain.begin(), chain.end(), control) == chain.end())
            chain.push_back(control);
        w = w->nextInFocusChain();
    } while (w != f.K1M);
    EXPECT_EQ(chain, order);
}

TEST_F(WindowTest, ResizingMovesAndStretchesTheAnchoredControls) {
    TForm1& f = MakeForm();
    f.show();
    f.resize(1224, 812);
    EXPECT_EQ(f.KK1->geometry(), QRect(8, 56, 81, 708));
    EXPECT_EQ(f.TT4->geometry(), QRect(8 + 96 * 7, 56, 81, 708));
    EXPECT_EQ(f.K1V->pos(), QPoint(16, 772));
    EXPECT_EQ(f.T4V->pos(), QPoint(8 + 96 * 7, 772));
    EXPECT_EQ(f.Label1->pos(), QPoint(776, 755));
    EXPECT_EQ(f.FName->geometry(), QRect(776, 424, 442, 21));
    EXPECT_EQ(f.Button4->geometry(), QRect(1145, 448, 75, 25));
    EXPECT_EQ(f.FindPortButton->geometry(), QRect(1136, 376, 75, 25));
    EXPECT_EQ(f.PortStatusLabel->pos(), QPoint(1072, 384));
    // the rest stays
    EXPECT_EQ(f.Button1->geometry(), QRect(776, 24, 75, 25));
    EXPECT_EQ(f.OpenPortButton->geometry(), QRect(936, 344, 75, 25));
    EXPECT_EQ(f.StartButton->geometry(), QRect(776, 560, 233, 25));
    EXPECT_EQ(f.Gorizont1->geometry(), QRect(800, 144, 193, 193));
    EXPECT_EQ(f.FName->EditLabel()->pos().y(), f.FName->y() - f.FName->EditLabel()->height() - 3);
    f.resize(1024, 712);
    EXPECT_EQ(f.KK1->geometry(), QRect(8, 56, 81, 608));
    EXPECT_EQ(f.FindPortButton->geometry(), QRect(936, 376, 75, 25));
}

TEST_F(WindowTest, SetMaximaInChannelOrder) {
    TForm1& f = MakeForm();
    f.KK1->SetPosition(40);
    f.K1M->setText("30");
    f.T1M->setText("-50");
    f.K4M->setText("120");
    f.Button1->click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(f.KK1->Max(), 30);
    EXPECT_EQ(f.KK1->Position(), 30) << "a value above the new maximum takes the maximum";
    EXPECT_EQ(f.TT1->Max(), -50) << "exactly -50 is accepted";
    EXPECT_EQ(f.KK4->Max(), 120);
    EXPECT_EQ(f.KK1->Min(), -50);
}

TEST_F(WindowTest, SetMaximaStopsAtTheFirstBadText) {
    const struct {
        const char* t2m;
        const char* message;
    } cases[] = {{"abc", "'abc' is not a valid integer value."},
                 {"-51", "Value must be between -49 and 2147483647."},
                 {"", "'' is not a valid integer value."}};
    for (const auto& c : cases) {
        shown.clear();
        TForm1& f = MakeForm();
        f.K1M->setText("30");
        f.T1M->setText("31");
        f.K2M->setText("32");
        f.T2M->setText(c.t2m);
        f.K3M->setText("33");
        f.Button1->click();
        ASSERT_EQ(shown.size(), 1u) << c.t2m;
        EXPECT_EQ(shown[0].Kind, TMessageKind::Error);
        EXPECT_EQ(shown[0].Text, c.message);
        EXPECT_EQ(shown[0].Caption, QCoreApplication::applicationName());
        EXPECT_EQ(f.KK1->Max(), 30);
        EXPECT_EQ(f.TT1->Max(), 31);
        EXPECT_EQ(f.KK2->Max(), 32);
        EXPECT_EQ(f.TT2->Max(), 50);
        EXPECT_EQ(f.KK3->Max(), 50) << "later channels keep theirs";
    }
}

TEST_F(WindowTest, NameByDate) {
    TForm1& f = MakeForm();
    f.FName->setText("typed.txt");
    const auto name = [](const QDateTime& t) {
        return QString::fromStdString(DateFileName(
            t.date().year(), t.date().month(), t.date().day(), t.time().hour(), t.time().minute()));
    };
    const QString before = name(QDateTime::currentDateTime());
    f.CheckBox1->click();
    const QString after = name(QDateTime::currentDateTime());
    EXPECT_TRUE(f.FName->text() == before || f.FName->text() == after)
        << f.FName->text().toStdString();
    EXPECT_TRUE(f.FName->text().endsWith(".txt"));
    f.CheckBox1->click();
    EXPECT_TRUE(f.FName->text().isEmpty()) << "clearing the box empties the name";
}

TEST_F(WindowTest, BrowsePutsTheChosenPathIntoTheName) {
    TForm1& f = MakeForm();
    const std::string chosen = Path("chosen.txt");
    std::ofstream(chosen) << "x";
    f.FName->setText("before.txt");
    QTimer::singleShot(0, [&] {
        f.OpenDialog1->selectFile(QString::fromStdString(chosen));
        static_cast<QDialog*>(f.OpenDialog1)->accept();
    });
    f.Button4->click();
    EXPECT_EQ(f.FName->text().toStdString(), chosen);
    QTimer::singleShot(0, [&] { static_cast<QDialog*>(f.OpenDialog1)->reject(); });
    f.Button4->click();
    EXPECT_EQ(f.FName->text().toStdString(), chosen) << "cancel leaves the name";
}

// Everything under `folder`, hidden entries included.
QStringList Contents(const QString& folder) {
    QStringList entries;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next();
    entries.sort();
    return entries;
}

// The console keeps no settings: the file dialog neither reads what Qt programs keep in the
// user's configuration folder (here an earlier run's folder history) nor changes or leaves
// anything in the home folder, which is a temporary one in every test.
TEST_F(WindowTest, BrowsingReadsAndKeepsNoSettings) {
    const QString home = QDir::homePath();
    ASSERT_NE(home, QString::fromLocal8Bit(getpwuid(getuid())->pw_dir));
    const QString earlier = QString::fromStdString(Path("earlier"));
    ASSERT_TRUE(QDir().mkpath(earlier) && QDir().mkpath(home + "/.config"));
    const std::string kept = (home + "/.config/QtProject.conf").toStdString();
    const std::string url = "file://" + earlier.toStdString();
    const std::string keptText = "[FileDialog]\nhistory=" + url + "\nlastVisited=" + url + "\n";
    std::ofstream(kept) << keptText;
    const QStringList before = Contents(home);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Path("visited"))));
    const std::string chosen = Path("visited/chosen.txt");
    std::ofstream(chosen) << "x";

    TForm1& f = MakeForm();
    // Where Qt's dialogs look for their settings, nothing is found.
    EXPECT_TRUE(QSettings(QSettings::UserScope, "QtProject").allKeys().isEmpty());
    QTimer::singleShot(0, [&] {
        f.OpenDialog1->selectFile(QString::fromStdString(chosen));
        static_cast<QDialog*>(f.OpenDialog1)->accept();
    });
    f.Button4->click();
    ASSERT_EQ(f.FName->text().toStdString(), chosen);
    form.reset(); // the dialog goes with the window

    EXPECT_EQ(Contents(home).join('\n').toStdString(), before.join('\n').toStdString());
    EXPECT_EQ(FileBytes(kept), keptText);
    std::remove(kept.c_str());
}

TEST(ErrorDisplay, FullStopOnlyAfterCharactersThatSortAfterIt) {
    const struct {
        const char* message;
        const char* shown;
    } cases[] = {{"COM-порт не найден!", "COM-порт не найден!"},
                 {"Invalid numeric input", "Invalid numeric input."},
                 {"Done.", "Done."},
                 {"Value (1-2)", "Value (1-2)"},
                 {"ends in 0", "ends in 0."},
                 {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(WithFullStop(QString::fromUtf8(c.message)), QString::fromUtf8(c.shown));
}

TEST(ErrorDisplay, HandlersThatRaiseLeaveTheWindowUsable) {
    std::vector<TShownMessage> shown;
    SetMessageCapture([&](const TShownMessage& m) { shown.push_back(m); });
    RunHandler([] { throw std::runtime_error("broken"); });
    RunHandler([] { throw 42; });
    RunHandler([] { throw std::bad_alloc(); });
    SetMessageCapture({});
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].Text, "broken.");
    EXPECT_EQ(shown[1].Text, "Unknown error.");
    EXPECT_EQ(shown[2].Text, "Out of memory.");
}

TEST(ErrorDisplay, AnExceptionFromASerialWorkerIsShownOnTheGuiThread) {
    std::vector<TShownMessage> shown;
    std::vector<bool> onGuiThread;
    SetMessageCapture([&](const TShownMessage& m) {
        shown.push_back(m);
        onGuiThread.push_back(QThread::currentThread() == qApp->thread());
    });
    InstallStandardErrorDisplay();
    std::thread worker(
        [] { ShowApplicationException(std::make_exception_ptr(std::runtime_error("worker"))); });
    worker.join();
    EXPECT_TRUE(shown.empty());
    QCoreApplication::processEvents();
    SetApplicationExceptionDisplay(nullptr);
    SetMessageCapture({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(onGuiThread[0]);
    EXPECT_EQ(shown[0].Kind, TMessageKind::Error);
    EXPECT_EQ(shown[0].Caption, ApplicationTitle());
    EXPECT_EQ(shown[0].Text, "worker.");
}

} // namespace
} // namespace orvi::app::test
