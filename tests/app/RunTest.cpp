// Acquisition runs against the simulated device: display, data log, stop, silence, end of data.
#include "tests/app/SimulatedDevice.h"
#include "widgets/Gorizont.h"

#include <QLocale>
#include <filesystem>

namespace orvi::app::test {
namespace {

using RunTest = SimulatedRun;

TEST_F(RunTest, AWholeRunShowsAndLogsEveryReading) {
    TForm1& f = Start(sim::SteadyScenario());
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("run.txt")));
    CountTicks(0x7FFFFFFE, 1); // the tick count passes the signed range during the run
    f.StartButton->click();
    ASSERT_TRUE(f.Running) << (shown.empty() ? "" : shown[0].Text.toStdString());
    EXPECT_EQ(f.StartButton->text(), "Стоп");
    EXPECT_FALSE(f.Test->isEnabled());
    EXPECT_FALSE(f.StartFlashButton->isEnabled());
    EXPECT_EQ(f.PortStatusLabel->text(), "Открыт");
    EXPECT_EQ(f.SelectedPortNumber(), 5);
    EXPECT_EQ(f.Timer1->interval(), 1);
    ASSERT_TRUE(WaitForPolls(4));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(shown.empty());

    const std::vector<std::string> lines = FileLines(Path("run.txt"));
    ASSERT_GE(lines.size(), 4u);
    const char* ticks[] = {"2147483646", "2147483647", "-2147483648", "-2147483647"};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(lines[i], std::string(ticks[i]) + " " + kSteadyFields);
    const std::string bytes = FileBytes(Path("run.txt"));
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n") << "every line ends in CR LF";

    const int gauges[] = {26, 30, 26, 29, 26, 31, 26, 30};
    const char* labels[] = {"25.85", "30.15", "25.85", "28.85", "25.85", "31.15", "25.85", "30.17"};
    for (size_t k = 0; k < 8; ++k) {
        EXPECT_EQ(f.Gauges()[k]->Position(), gauges[k]) << k;
        EXPECT_EQ(f.ValueLabels()[k]->text(), labels[k]) << k;
    }
    EXPECT_EQ(f.LKren->text(), "-2");
    EXPECT_EQ(f.LTang->text(), "0.75");
    EXPECT_EQ(f.LNullK->text(), "12");
    EXPECT_EQ(f.LDelta->text(), "0.24");
    EXPECT_DOUBLE_EQ(f.Gorizont1->Kren(), -2);
    EXPECT_DOUBLE_EQ(f.Gorizont1->Tangaj(), 0.75);

    EXPECT_FALSE(f.CPort->Open());
    EXPECT_EQ(f.PortStatusLabel->text(), "Закрыт");
    EXPECT_EQ(f.StartButton->text(), "Старт");
    EXPECT_TRUE(f.Test->isEnabled());
    EXPECT_TRUE(f.StartFlashButton->isEnabled());
    EXPECT_FALSE(f.Timer1->isActive());
    EXPECT_FALSE(f.OutputFile);
}

TEST_F(RunTest, LabelsUseTheOperatorsSeparatorAndTheLogDoesNot) {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    TForm1& f = Start(sim::SteadyScenario());
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("comma.txt")));
    CountTicks(1000, 10);
    f.StartButton->click();
    ASSERT_TRUE(WaitForPolls(1));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    QLocale::setDefault(previous);
    EXPECT_EQ(f.K1V->text(), "25,85");
    EXPECT_EQ(f.T4V->text(), "30,17");
    EXPECT_EQ(f.LTang->text(), "0,75");
    EXPECT_EQ(f.LDelta->text(), "0,24");
    EXPECT_EQ(FileLines(Path("comma.txt")).at(0), "1000 " + kSteadyFields);
}

TEST_F(RunTest, StopIsServedAfterThePollInProgress) {
    sim::Scenario s = sim::SteadyScenario();
    s.replyDelayMs = 50;
    TForm1& f = Start(s);
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("stop.txt")));
    CountTicks(500, 1);
    // Clicks "Стоп" from inside the first poll's housing wait.
    QTimer clicker;
    bool clicked = false;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        const sim::SimCounters c = device->Counters();
        if (!clicked && c.housingRequests == 1 && c.sensorRequests == 0 && f.PollBusy) {
            clicked = true;
            f.StartButton->click();
        }
    });
    clicker.start(1);
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(device->Counters().housingRequests, 1u) << "no poll after the one in progress";
    EXPECT_EQ(device->Counters().sensorRequests, 1u);
    EXPECT_EQ(FileLines(Path("stop.txt")), std::vector<std::string>{"500 " + kSteadyFields});
    EXPECT_EQ(f.K1V->text(), "25.85") << "the last poll is shown";
}

TEST_F(RunTest, ASilentSensorSetStopsTheRunAndKeepsTheRecord) {
    sim::Scenario s = sim::SteadyScenario();
    s.answerSensor = false;
    TForm1& f = Start(s);
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("silent.txt")));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Texts(), std::vector<QString>{"Пирометры не отвечают!"});
    EXPECT_EQ(shown.at(0).Kind, TMessageKind::Plain);
    EXPECT_EQ(f.Record.Housing[0], 0) << "the record is unchanged";
    EXPECT_EQ(f.Record.Roll, 0);
    const sim::Reply housing = sim::HousingReply({14950, 14950, 14950, 14950}, -200, 75, 12);
    EXPECT_TRUE(std::equal(housing.begin(), housing.end(), f.HousingReply.begin()))
        << "the housing reply stays in its buffer";
    EXPECT_EQ(f.K1V->text(), "0");
    EXPECT_FALSE(f.CPort->Open());
    EXPECT_EQ(FileBytes(Path("silent.txt")), "");
    EXPECT_NO_THROW(TDataLog(Path("silent.txt"))) << "the data log was released";
}

TEST_F(RunTest, TheEndOfDataMarkEndsTheRun) {
    sim::Scenario s = sim::SteadyScenario();
    s.endAfterPolls = 2;
    TForm1& f = Start(s);
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("end.txt")));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Texts(), std::vector<QString>{"Чтение закончено"});
    EXPECT_EQ(FileLines(Path("end.txt")).size(), 2u) << "the end mark is neither shown nor logged";
    EXPECT_EQ(f.T1V->text(), "30.15");
    EXPECT_FALSE(f.CPort->Open());
}

TEST_F(RunTest, WithoutAnAdapterTheRunDoesNotStart) {
    TForm1& f = MakeForm();
    f.DeviceMapReader = DeviceMap({});
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("none.txt")));
    f.StartButton->click();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Kind, TMessageKind::Error);
    EXPECT_EQ(shown[0].Text, "COM-порт не найден!");
    EXPECT_FALSE(f.Running);
    EXPECT_EQ(f.StartButton->text(), "Старт");
    EXPECT_FALSE(std::filesystem::exists(Path("none.txt")));
}

TEST_F(RunTest, WithoutLoggingNoFileIsTouched) {
    for (const QString& name : {QString::fromStdString(Path("untouched.txt")), QString()}) {
        TForm1& f = Start(sim::SteadyScenario());
        f.FName->setText(name);
        f.StartButton->click();
        ASSERT_TRUE(WaitForPolls(2));
        f.StartButton->click();
        ASSERT_TRUE(WaitForRunEnd());
        EXPECT_TRUE(shown.empty());
        EXPECT_FALSE(std::filesystem::exists(Path("untouched.txt")));
        form.reset();
        device.reset();
    }
}

TEST_F(RunTest, AnExistingLogIsEmptied) {
    std::ofstream(Path("old.txt")) << "1 2 3 4 5 6 7 8 9 10 11 12\r\nold\r\n";
    TForm1& f = Start(sim::SteadyScenario());
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("old.txt")));
    CountTicks(7, 0);
    f.StartButton->click();
    ASSERT_TRUE(WaitForPolls(1));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    for (const std::string& line : FileLines(Path("old.txt")))
        EXPECT_EQ(line, "7 " + kSteadyFields);
}

TEST_F(RunTest, OpenDuringARunReopensThePortAndTheRunGoesOn) {
    TForm1& f = Start(sim::SteadyScenario());
    std::vector<QString> status;
    f.StartButton->click();
    ASSERT_TRUE(WaitForPolls(2));
    f.CPort->SetOnPortClose([&](TOrvCustomComPort& p) {
        status.push_back("close");
        f.CPortPortClose(p);
    });
    f.CPort->SetOnPortOpen([&](TOrvCustomComPort& p) {
        status.push_back("open");
        f.CPortPortOpen(p);
    });
    f.OpenPortButton->click();
    EXPECT_EQ(status, (std::vector<QString>{"close", "open"}));
    EXPECT_TRUE(f.Running);
    EXPECT_EQ(f.PortStatusLabel->text(), "Открыт");
    const uint64_t before = device->Counters().sensorRequests;
    ASSERT_TRUE(WaitForPolls(before + 2));
    EXPECT_TRUE(f.Running);
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(shown.empty());
}

TEST_F(RunTest, SweepingReadingsMove) {
    TForm1& f = Start(sim::Scenario{});
    f.StartButton->click();
    ASSERT_TRUE(WaitForPolls(2));
    const QString first = f.LKren->text();
    ASSERT_TRUE(WaitForPolls(device->Counters().sensorRequests + 2));
    EXPECT_NE(f.LKren->text(), first);
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
}

} // namespace
} // namespace orvi::app::test
