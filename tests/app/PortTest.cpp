// Port search, opening and the test poll against simulated devices.
#include "tests/app/SimulatedDevice.h"

namespace orvi::app::test {
namespace {

using PortTest = SimulatedRun;

TEST_F(PortTest, FindSkipsAPortThatFailsAndSelectsTheOneThatOpens) {
    TForm1& f = Start(sim::SteadyScenario(), 4);
    f.DeviceMapReader =
        DeviceMap({{"\\Device\\USBSER000", "COM9"}, {"\\Device\\USBSER001", "COM4"}});
    f.FindPortButton->click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(f.PortN->currentText(), "COM4");
    EXPECT_FALSE(f.CPort->Open()) << "Найти leaves the port closed";
    EXPECT_EQ(f.PortStatusLabel->text(), "Закрыт");
    f.StartButton->click();
    EXPECT_TRUE(f.Running);
    EXPECT_TRUE(f.CPort->Open()) << "a run start leaves it open";
    EXPECT_EQ(f.CPort->ComNumber(), 4);
    EXPECT_EQ(f.PortStatusLabel->text(), "Открыт");
    ASSERT_TRUE(WaitForPolls(1));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
}

TEST_F(PortTest, TheScanStopsAtTheFirstMissingIndex) {
    TForm1& f = Start(sim::SteadyScenario(), 4);
    f.DeviceMapReader = DeviceMap({{"\\Device\\USBSER001", "COM4"}});
    f.FindPortButton->click();
    EXPECT_EQ(Texts(), std::vector<QString>{"Порт не найден!"});
    EXPECT_EQ(f.PortN->currentText(), "COM7");
}

TEST_F(PortTest, TheRealMapListsTheSimulatedAdapter) {
    TForm1& f = Start(sim::SteadyScenario(), 6);
    f.FindPortButton->click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(f.PortN->currentText(), "COM6");
}

TEST_F(PortTest, APortAbove32LeavesNoSelectionAndTheOpenAsksForAPort) {
    TForm1& f = Start(sim::SteadyScenario(), 40);
    f.FindPortButton->click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(f.PortN->currentIndex(), -1);
    EXPECT_TRUE(f.PortN->currentText().isEmpty());
    EXPECT_EQ(f.SelectedPortNumber(), 0);
    EXPECT_EQ(prompts, 0);

    f.StartButton->click(); // the operator cancels the port prompt
    EXPECT_EQ(prompts, 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "The ComNumber property of the TOrvComPort has not been set.");
    EXPECT_FALSE(f.Running);
    EXPECT_FALSE(f.CPort->Open());

    promptAnswer = 40; // now the operator picks the port
    f.StartButton->click();
    EXPECT_EQ(prompts, 2);
    EXPECT_TRUE(f.Running);
    ASSERT_TRUE(WaitForPolls(1));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
}

TEST_F(PortTest, OpenUsesTheChosenPortAndSpeed) {
    TForm1& f = Start(sim::SteadyScenario(), 5);
    f.PortS->setCurrentText("921600");
    OpenByHand(f, 5);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(f.CPort->Open());
    EXPECT_EQ(f.CPort->Baud(), 921600);
    EXPECT_EQ(f.CPort->ComNumber(), 5);
    EXPECT_EQ(f.PortStatusLabel->text(), "Открыт");
}

TEST_F(PortTest, OpenWithASpeedThatIsNoNumber) {
    TForm1& f = Start(sim::SteadyScenario(), 5);
    f.PortS->setCurrentText("fast");
    OpenByHand(f, 5);
    EXPECT_EQ(Texts(), std::vector<QString>{"'fast' is not a valid integer value."});
    EXPECT_FALSE(f.CPort->Open());
}

TEST_F(PortTest, TestOnAClosedPortShowsTheComponentsText) {
    TForm1& f = MakeForm();
    f.Test->click();
    EXPECT_EQ(Texts(), std::vector<QString>{"ie_NOpen - device not open"});
    EXPECT_EQ(shown.at(0).Kind, TMessageKind::Plain);
    EXPECT_FALSE(f.CPort->Open());
    EXPECT_TRUE(f.Test->isEnabled());
}

TEST_F(PortTest, TestPollsOnceAndShows) {
    TForm1& f = Start(sim::SteadyScenario());
    OpenByHand(f, 5);
    f.Test->click();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(f.K1V->text(), "25.85");
    EXPECT_EQ(f.LNullK->text(), "12");
    EXPECT_EQ(device->Counters().sensorRequests, 1u);
    EXPECT_TRUE(f.CPort->Open());
    EXPECT_TRUE(f.Test->isEnabled());
}

TEST_F(PortTest, TestWithoutAnswer) {
    sim::Scenario s = sim::SteadyScenario();
    s.silent = true;
    TForm1& f = Start(s);
    OpenByHand(f, 5);
    f.Test->click();
    EXPECT_EQ(Texts(), std::vector<QString>{"Error, pero not answer"});
    EXPECT_TRUE(f.Test->isEnabled());
}

TEST_F(PortTest, AZeroCountOf0ShowsTheSpreadOfSensors3And1) {
    sim::Scenario s = sim::SteadyScenario();
    s.zeroCount = 0;
    s.sensor[0] = sim::Signal::Steady(14950);
    s.sensor[2] = sim::Signal::Steady(15000);
    TForm1& f = Start(s);
    OpenByHand(f, 5);
    f.Test->click();
    EXPECT_EQ(f.Record.ZeroCount, 50);
    EXPECT_EQ(f.LNullK->text(), "50");
    EXPECT_EQ(f.LDelta->text(), "1");
}

TEST_F(PortTest, A25ByteReplyShiftsTheNextOne) {
    sim::Scenario s = sim::SteadyScenario();
    s.replyLength = 25;
    TForm1& f = Start(s);
    OpenByHand(f, 5);
    f.Test->click();
    EXPECT_TRUE(shown.empty());
    const sim::Reply housing = sim::HousingReply({14950, 14950, 14950, 14950}, -200, 75, 12);
    const sim::Reply sensor = sim::SensorReply({15165, 15100, 15215, 15166});
    EXPECT_TRUE(std::equal(housing.begin(), housing.end(), f.HousingReply.begin()));
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(f.SensorReply[i], sim::kFillerByte) << i;
    EXPECT_TRUE(std::equal(sensor.begin(), sensor.begin() + 15, f.SensorReply.begin() + 5));
    ASSERT_TRUE(PumpUntil([&] { return f.CPort->InCount() == 10; }));
}

} // namespace
} // namespace orvi::app::test
