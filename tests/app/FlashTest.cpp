// The flash-memory download against the simulated device's flash memory.
#include "tests/app/SimulatedDevice.h"

#include <filesystem>

namespace orvi::app::test {
namespace {

using FlashTest = SimulatedRun;

sim::FlashRecord Record(uint8_t kind, uint16_t code) {
    return sim::FlashRecord{kind,
                            {code, uint16_t(code + 10), uint16_t(code + 20), uint16_t(code + 30)}};
}

class FlashDownload : public SimulatedRun {
protected:
    TForm1& StartWith(std::vector<sim::FlashRecord> flash) {
        sim::Scenario s = sim::SteadyScenario();
        s.flash = std::move(flash);
        TForm1& f = Start(s);
        OpenByHand(f, 5);
        f.FName->setText(QString::fromStdString(Path("dump.txt")));
        CountTicks(9000, 1);
        return f;
    }
};

TEST_F(FlashDownload, EachRecordBecomesALineWithTheOtherSetAsItWas) {
    TForm1& f =
        StartWith({Record('a', 14950), Record('o', 15150), Record('a', 15000), Record('f', 0)});
    f.Record.Sensor = {1.5, 2.5, 3.5, 4.5};
    f.Record.Roll = -2;
    f.Record.Pitch = 0.75;
    f.Record.ZeroCount = 12;
    f.StartFlashButtonClick();
    EXPECT_TRUE(shown.empty());
    // codes + 10 are 0.2 degrees apart
    EXPECT_EQ(FileLines(Path("dump.txt")),
              (std::vector<std::string>{
                  "9000 25.85 1.5 26.05 2.5 26.25 3.5 26.45 4.5 -2 0.75 12",
                  "9001 25.85 29.85 26.05 30.05 26.25 30.25 26.45 30.45 -2 0.75 12",
                  "9002 26.85 29.85 27.05 30.05 27.25 30.25 27.45 30.45 -2 0.75 12"}));
    EXPECT_EQ(device->Counters().flashRequests, 4u);
    EXPECT_FALSE(f.FlashReading);
    EXPECT_FALSE(f.OutputFile) << "the dump is closed";
    EXPECT_TRUE(f.CPort->Open()) << "the port stays open";
    EXPECT_EQ(f.StartFlashButton->text(), "Данные с флеш-памяти");
    EXPECT_TRUE(f.StartButton->isEnabled());
    EXPECT_TRUE(f.Test->isEnabled());
    EXPECT_TRUE(f.StartFlashButton->isEnabled());
    EXPECT_EQ(f.K1V->text(), "0") << "the download does not touch the display";
}

TEST_F(FlashDownload, AnImmediateEndGivesAnEmptyDump) {
    std::ofstream(Path("dump.txt")) << "old\r\n";
    TForm1& f = StartWith({Record('f', 0)});
    f.StartFlashButtonClick();
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(FileBytes(Path("dump.txt")), "");
    EXPECT_FALSE(f.FlashReading);
}

TEST_F(FlashDownload, ABadKindEndsWithAMessageAndKeepsTheLinesSoFar) {
    TForm1& f = StartWith({Record('a', 14950), Record('x', 1)});
    f.StartFlashButtonClick();
    EXPECT_EQ(Texts(), std::vector<QString>{"Error in reading process!"});
    EXPECT_EQ(FileLines(Path("dump.txt")).size(), 1u);
    EXPECT_FALSE(f.OutputFile);
    EXPECT_TRUE(f.StartButton->isEnabled());
}

TEST_F(FlashDownload, WithoutAFileName) {
    TForm1& f = StartWith({Record('f', 0)});
    f.FName->clear();
    f.StartFlashButtonClick();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(shown[0].Text.startsWith("Exception: Cannot create file \"\". "))
        << shown[0].Text.toStdString();
    EXPECT_EQ(device->Counters().flashRequests, 0u);
    EXPECT_EQ(f.StartFlashButton->text(), "Данные с флеш-памяти");
    EXPECT_TRUE(f.StartButton->isEnabled());
}

TEST_F(FlashTest, OnAClosedPort) {
    TForm1& f = MakeForm();
    f.FName->setText(QString::fromStdString(Path("never.txt")));
    f.StartFlashButtonClick();
    EXPECT_EQ(Texts(), std::vector<QString>{"Exception: Port not open!"});
    EXPECT_FALSE(std::filesystem::exists(Path("never.txt")));
    EXPECT_TRUE(f.StartButton->isEnabled());
    EXPECT_TRUE(f.StartFlashButton->isEnabled());
}

TEST_F(FlashDownload, ButtonsAreDisabledWhileReading) {
    std::vector<sim::FlashRecord> records(3, Record('a', 14950));
    records.push_back(Record('f', 0));
    TForm1& f = StartWith(records);
    std::vector<bool> enabled;
    QString caption;
    QTimer probe;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (f.FlashReading && enabled.empty()) {
            enabled = {f.Test->isEnabled(), f.StartButton->isEnabled(),
                       f.StartFlashButton->isEnabled(), f.OpenPortButton->isEnabled()};
            caption = f.StartFlashButton->text();
        }
    });
    probe.start(0);
    f.StartFlashButtonClick();
    EXPECT_EQ(enabled, (std::vector<bool>{false, false, false, true}));
    EXPECT_EQ(caption, "Идет чтение...");
}

} // namespace
} // namespace orvi::app::test
