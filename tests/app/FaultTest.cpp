// Faults the console must survive: closing the window in the middle of an activity, a run
// that fails to start after creating its data log, a poll interval of 0 or below, and an
// error that ends a run, and an adapter pulled out.
#include "tests/app/SimulatedDevice.h"

#include <QCloseEvent>
#include <filesystem>

namespace orvi::app::test {
namespace {

using FaultTest = SimulatedRun;

// Calls `action` once `when` holds, from inside whatever handler is processing events.
class WhenThen {
public:
    WhenThen(std::function<bool()> when, std::function<void()> action) {
        QObject::connect(&timer_, &QTimer::timeout, [this, when, action] {
            if (!done_ && when()) {
                done_ = true;
                action();
            }
        });
        timer_.start(1);
    }
    bool Done() const { return done_; }

private:
    QTimer timer_;
    bool done_ = false;
};

TEST_F(FaultTest, ClosingDuringAnExchangeEndsTheRunCleanly) {
    sim::Scenario s = sim::SteadyScenario();
    s.answerFirst = 3; // then silent: the fourth poll waits
    TForm1& f = Start(s);
    f.show();
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("closed.txt")));
    CountTicks(100, 1);
    WhenThen closer([&] { return device->Counters().housingRequests == 4 && f.PollBusy; },
                    [&] { f.close(); });
    f.StartButton->click();
    ASSERT_TRUE(PumpUntil([&] { return !f.isVisible(); }));
    EXPECT_TRUE(closer.Done());
    EXPECT_TRUE(f.Closing());
    EXPECT_FALSE(f.Running);
    EXPECT_FALSE(f.CPort->Open());
    EXPECT_FALSE(f.OutputFile);
    EXPECT_TRUE(shown.empty()) << "no 'no answer' box for a window that is closing";
    EXPECT_EQ(FileLines(Path("closed.txt")),
              (std::vector<std::string>{"100 " + kSteadyFields, "101 " + kSteadyFields,
                                        "102 " + kSteadyFields}));
    EXPECT_NO_THROW(TDataLog(Path("closed.txt"))) << "the data log was released";
}

TEST_F(FaultTest, ClosingDuringAFlashDownloadEndsIt) {
    sim::Scenario s = sim::SteadyScenario();
    s.flash = sim::MakeFlashRecords(100000);
    TForm1& f = Start(s);
    f.show();
    OpenByHand(f, 5);
    f.FName->setText(QString::fromStdString(Path("flash.txt")));
    WhenThen closer([&] { return device->Counters().flashRequests >= 5; }, [&] { f.close(); });
    f.StartFlashButtonClick();
    ASSERT_TRUE(PumpUntil([&] { return !f.isVisible(); }));
    EXPECT_TRUE(closer.Done());
    EXPECT_FALSE(f.FlashReading);
    EXPECT_FALSE(f.OutputFile);
    EXPECT_FALSE(f.CPort->Open());
    EXPECT_TRUE(shown.empty());
    const size_t lines = FileLines(Path("flash.txt")).size();
    EXPECT_GE(lines, 4u);
    EXPECT_LT(lines, 100000u);
    const std::string bytes = FileBytes(Path("flash.txt"));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "the dump ends with a whole line";
}

TEST_F(FaultTest, ClosingDuringAReplayStopsIt) {
    std::ofstream(Path("log.txt"))
        << "1 2 3 4 5 6 7 8 9 10 11 12\r\n999999 1 1 1 1 1 1 1 1 1 1 1\r\n";
    TForm1& f = MakeForm();
    f.show();
    f.FName->setText(QString::fromStdString(Path("log.txt")));
    f.FileButton->click();
    ASSERT_TRUE(f.file_timer->isActive());
    f.close();
    EXPECT_FALSE(f.isVisible());
    EXPECT_FALSE(f.file_timer->isActive());
    EXPECT_FALSE(f.ReplayFile);
}

TEST_F(FaultTest, AnIntervalThatIsNoNumberLeavesNoLockedFile) {
    TForm1& f = Start(sim::SteadyScenario());
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("locked.txt")));
    f.DTE->setText("1.5");
    f.StartButton->click();
    EXPECT_EQ(Texts(), std::vector<QString>{"'1.5' is not a valid integer value."});
    EXPECT_FALSE(f.Running);
    EXPECT_TRUE(f.CPort->Open()) << "the port stays open";
    EXPECT_FALSE(f.OutputFile);
    EXPECT_NO_THROW(TDataLog(Path("locked.txt"))) << "the data log was released";

    shown.clear();
    f.DTE->setText("1");
    f.StartButton->click();
    EXPECT_TRUE(shown.empty());
    ASSERT_TRUE(f.Running);
    ASSERT_TRUE(WaitForPolls(1));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_FALSE(FileLines(Path("locked.txt")).empty());
}

TEST_F(FaultTest, AnIntervalOf0OrBelowIsRefusedBeforeAnythingIsCreated) {
    for (const char* interval : {"0", "-5"}) {
        shown.clear();
        TForm1& f = Start(sim::SteadyScenario());
        f.LogBox->setChecked(true);
        f.FName->setText(QString::fromStdString(Path("zero.txt")));
        f.DTE->setText(interval);
        f.StartButton->click();
        EXPECT_EQ(Texts(), std::vector<QString>{"Интервал опроса должен быть больше 0 мс."});
        EXPECT_FALSE(f.Running);
        EXPECT_FALSE(f.CPort->Open());
        EXPECT_EQ(f.PortStatusLabel->text(), "Закрыт");
        EXPECT_FALSE(std::filesystem::exists(Path("zero.txt")));
        form.reset();
        device.reset();
    }
}

TEST_F(FaultTest, AFailingDataLogStopsTheRunAndSaysWhy) {
    TForm1& f = Start(sim::SteadyScenario());
    f.LogBox->setChecked(true);
    f.FName->setText("/dev/full");
    f.StartButton->click();
    ASSERT_TRUE(f.Running);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Texts(),
              std::vector<QString>{"Cannot write to file \"/dev/full\". No space left on device."});
    EXPECT_EQ(shown.at(0).Kind, TMessageKind::Error);
    EXPECT_FALSE(f.CPort->Open());
    EXPECT_FALSE(f.OutputFile);
    EXPECT_FALSE(f.PollBusy);
    EXPECT_EQ(f.StartButton->text(), "Старт");
    EXPECT_TRUE(f.Test->isEnabled());
}

TEST_F(FaultTest, APortThatGoesAwayStopsTheRunAndSaysWhy) {
    TForm1& f = Start(sim::SteadyScenario());
    f.StartButton->click();
    ASSERT_TRUE(WaitForPolls(1));
    // "Найти" during a run probes the ports and leaves the run's port closed.
    f.FindPortButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Kind, TMessageKind::Error);
    EXPECT_EQ(shown[0].Text, "ie_NOpen - device not open.");
    EXPECT_EQ(f.StartButton->text(), "Старт");
}

// Pulling the adapter out is told in the system's words wherever the operator meets it: the
// run in progress stops cleanly with every line written kept, and "Тест", "Открыть" and the
// flash download afterwards say what is wrong too.
TEST_F(FaultTest, AnUnplugIsToldInWords) {
    const QString gone = "A device attached to the system is not functioning. ";
    sim::Scenario s = sim::SteadyScenario();
    s.answerFirst = 3;
    TForm1& f = Start(s);
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("unplug.txt")));
    CountTicks(100, 1);
    WhenThen unplug([&] { return device->Counters().housingRequests == 4 && f.PollBusy; },
                    [&] { device->Unplug(); });
    f.StartButton->click();
    ASSERT_TRUE(PumpUntil([&] { return unplug.Done() && !f.Running; }));
    ASSERT_EQ(Texts(), std::vector<QString>{gone});
    EXPECT_EQ(shown[0].Kind, TMessageKind::Error);
    EXPECT_FALSE(f.CPort->Open());
    EXPECT_FALSE(f.OutputFile);
    EXPECT_FALSE(f.PollBusy);
    EXPECT_EQ(f.StartButton->text(), "Старт");
    EXPECT_EQ(FileBytes(Path("unplug.txt")), "100 " + kSteadyFields + "\r\n101 " + kSteadyFields +
                                                 "\r\n102 " + kSteadyFields + "\r\n");

    shown.clear();
    f.Test->click();
    OpenByHand(f, 5);
    f.StartFlashButtonClick();
    EXPECT_EQ(Texts(), (std::vector<QString>{"ie_NOpen - device not open",
                                             "ie_BadId - Specified comport doesn't exist.",
                                             "Exception: Port not open!"}));

    // Pulled out while the port is open: the download's first step meets the gone device.
    form.reset();
    device.reset();
    TForm1& g = Start(sim::SteadyScenario());
    g.FName->setText(QString::fromStdString(Path("flash.txt")));
    OpenByHand(g, 5);
    ASSERT_TRUE(g.CPort->Open());
    device->Unplug();
    shown.clear();
    g.StartFlashButtonClick();
    EXPECT_EQ(Texts(), std::vector<QString>{"Exception: " + gone});
    EXPECT_FALSE(g.FlashReading);
    EXPECT_EQ(g.StartFlashButton->text(), "Данные с флеш-памяти");
    EXPECT_EQ(FileBytes(Path("flash.txt")), "");
}

} // namespace
} // namespace orvi::app::test
