// The replay on the window, driven tick by tick with a clock of the test's own.
#include "tests/app/ConsoleFixture.h"
#include "widgets/Gorizont.h"

namespace orvi::app::test {
namespace {

class ReplayTest : public ConsoleTest {
protected:
    TForm1& Replay(const std::string& bytes) {
        std::ofstream(Path("log.txt"), std::ios::binary) << bytes;
        TForm1& f = MakeForm();
        f.FName->setText(QString::fromStdString(Path("log.txt")));
        f.TickSource = [this] { return now; };
        f.AfterShowRecord = [this] { shownHousing.push_back(form->Record.Housing[0]); };
        f.FileButton->click();
        return f;
    }

    // One tick of file_timer at `at` ms after the start, through the handler's wiring.
    void TickAt(uint32_t at) {
        now = kStart + at;
        RunHandler([this] { form->file_timerTimer(); });
    }

    static constexpr uint32_t kStart = 0xFFFFFF00u; // the system's counter wraps meanwhile
    uint32_t now = kStart;
    std::vector<double> shownHousing; // Housing 1 of every record shown, in order
};

std::string Line(int tick, double value, double roll, double pitch) {
    TMeasurementRecord r;
    r.Tick = tick;
    r.Housing.fill(value);
    r.Sensor.fill(value + 1);
    r.Roll = roll;
    r.Pitch = pitch;
    r.ZeroCount = int16_t(value);
    return LogLine(r);
}

TEST_F(ReplayTest, RecordsAreShownWhenTheyFallDue) {
    TForm1& f = Replay(Line(1000, 10, 5, 1) + Line(1500, 20, 10, 2) + Line(3000, 30, 15, 3));
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(f.file_timer->isActive());
    EXPECT_EQ(f.FileButton->text(), "СТОП");
    EXPECT_FALSE(f.StartButton->isEnabled());
    EXPECT_EQ(f.K1V->text(), "0") << "nothing is shown before the first tick";

    TickAt(10);
    EXPECT_EQ(f.K1V->text(), "10");
    TickAt(500);
    EXPECT_EQ(f.K1V->text(), "10") << "due only once more than 500 ms have passed";
    TickAt(510);
    EXPECT_EQ(f.K1V->text(), "20");
    EXPECT_DOUBLE_EQ(f.Gorizont1->Kren(), 10);
    TickAt(2000);
    EXPECT_EQ(f.K1V->text(), "20");
    EXPECT_TRUE(f.file_timer->isActive());

    // The third falls due; the file ends with CR LF, so the read after it meets the end and
    // the all-zero record is shown last.
    TickAt(2010);
    EXPECT_FALSE(f.file_timer->isActive());
    EXPECT_EQ(f.FileButton->text(), "Считать данные из файла");
    EXPECT_TRUE(f.StartButton->isEnabled());
    EXPECT_FALSE(f.ReplayFile);
    for (QLabel* label : f.ValueLabels())
        EXPECT_EQ(label->text(), "0");
    for (TBarGauge* gauge : f.Gauges())
        EXPECT_EQ(gauge->Position(), 0);
    EXPECT_EQ(f.LKren->text(), "0");
    EXPECT_EQ(f.LNullK->text(), "0");
    EXPECT_DOUBLE_EQ(f.Gorizont1->Kren(), 0);
    EXPECT_DOUBLE_EQ(f.Gorizont1->Tangaj(), 0);
    EXPECT_EQ(shownHousing, (std::vector<double>{10, 20, 30, 0}));
    EXPECT_TRUE(shown.empty());
}

TEST_F(ReplayTest, ALastRecordWithoutLineEndIsShownAtOnce) {
    std::string bytes = Line(1000, 10, 0, 0) + Line(1500, 20, 0, 0) + Line(3000, 30, 0, 0);
    bytes.resize(bytes.size() - 2);
    TForm1& f = Replay(bytes);
    TickAt(10);
    TickAt(510);
    EXPECT_FALSE(f.file_timer->isActive()) << "the end of the file is reached";
    EXPECT_EQ(f.K1V->text(), "30") << "shown before it falls due";
}

TEST_F(ReplayTest, AnEmptyFileShowsZerosAndStops) {
    TForm1& f = Replay("");
    f.Record.Roll = 4;
    f.K1V->setText("7");
    TickAt(10);
    EXPECT_FALSE(f.file_timer->isActive());
    EXPECT_EQ(f.K1V->text(), "0");
}

TEST_F(ReplayTest, ADecreasingTickIsDueAtOnce) {
    TForm1& f = Replay(Line(5000, 10, 0, 0) + Line(4000, 20, 0, 0) + Line(9000, 30, 0, 0));
    TickAt(10);
    EXPECT_EQ(shownHousing, (std::vector<double>{10, 20}));
    EXPECT_TRUE(f.file_timer->isActive());
}

TEST_F(ReplayTest, ByteOneAEndsTheFile) {
    TForm1& f = Replay(Line(1000, 10, 0, 0) + "\x1A" + Line(1100, 20, 0, 0));
    TickAt(10);
    EXPECT_FALSE(f.file_timer->isActive());
    EXPECT_EQ(shownHousing, (std::vector<double>{10, 0})) << "nothing after 0x1A is read";
}

TEST_F(ReplayTest, AMalformedFirstNumberDoesNotStart) {
    TForm1& f = Replay("1O00 1 2 3 4 5 6 7 8 9 10 11\r\n");
    EXPECT_EQ(Texts(), std::vector<QString>{"Invalid numeric input"});
    EXPECT_EQ(shown.at(0).Kind, TMessageKind::Plain);
    EXPECT_FALSE(f.file_timer->isActive());
    EXPECT_EQ(f.FileButton->text(), "Считать данные из файла");
    EXPECT_TRUE(f.StartButton->isEnabled());
    EXPECT_FALSE(f.ReplayFile);
}

TEST_F(ReplayTest, AMalformedLaterNumberIsReportedAndTheReplayGoesOn) {
    TForm1& f = Replay(Line(1000, 10, 0, 0) + "1100 x 1 1 1 1 1 1 1 1 1 1\r\n" +
                       Line(1200, 30, 0, 0) + Line(5000, 40, 0, 0));
    TickAt(10);
    EXPECT_EQ(f.K1V->text(), "10");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Kind, TMessageKind::Error);
    EXPECT_EQ(shown[0].Text, "Invalid numeric input.");
    EXPECT_TRUE(f.file_timer->isActive());
    TickAt(300);
    EXPECT_EQ(shownHousing, (std::vector<double>{10, 0, 30}))
        << "the malformed field reads 0 and reading went on after it";
}

TEST_F(ReplayTest, StopByTheButton) {
    TForm1& f = Replay(Line(1000, 10, 0, 0) + Line(900000, 20, 0, 0));
    TickAt(10);
    f.FileButton->click();
    EXPECT_FALSE(f.file_timer->isActive());
    EXPECT_EQ(f.FileButton->text(), "Считать данные из файла");
    EXPECT_TRUE(f.StartButton->isEnabled());
    EXPECT_FALSE(f.ReplayFile);
}

TEST_F(ReplayTest, NoFileName) {
    TForm1& f = MakeForm();
    f.FileButton->click();
    EXPECT_EQ(Texts(), std::vector<QString>{"Имя файла не задано!"});
    EXPECT_FALSE(f.file_timer->isActive());
}

TEST_F(ReplayTest, AMissingFile) {
    TForm1& f = MakeForm();
    const std::string name = Path("missing.txt");
    f.FName->setText(QString::fromStdString(name));
    f.FileButton->click();
    EXPECT_EQ(Texts(), std::vector<QString>{QString::fromStdString(
                           "Cannot open file \"" + name + "\". No such file or directory")});
    EXPECT_FALSE(f.file_timer->isActive());
}

TEST_F(ReplayTest, ARunsLogPlaysBackAsWritten) {
    // Readings a run would write, with the window's own display rules.
    TForm1& f = Replay("100 25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 200 -95 -32768\r\n" +
                       Line(900000, 0, 0, 0));
    TickAt(10);
    EXPECT_EQ(f.K1V->text(), "25.85");
    EXPECT_EQ(f.KK1->Position(), 26);
    EXPECT_EQ(f.LKren->text(), "200");
    EXPECT_DOUBLE_EQ(f.Gorizont1->Kren(), 0) << "out-of-range attitude is not drawn";
    EXPECT_EQ(f.LNullK->text(), "-32768");
    EXPECT_EQ(f.LDelta->text(), "-655.36");
}

} // namespace
} // namespace orvi::app::test
