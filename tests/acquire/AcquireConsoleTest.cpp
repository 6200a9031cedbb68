// orvi_acquire against the console's own window (offscreen): the same device, answering the
// same replies, and the console's tick source fed the ticks that orvi_acquire wrote, give
// the same data log byte for byte, up to the end-of-data mark that ends both runs.
#include "tests/acquire/AcquireProcess.h"
#include "tests/app/SimulatedDevice.h"

namespace orvi::acquire::test {
namespace {

using AcquireAgainstConsole = app::test::SimulatedRun;

std::vector<uint32_t> Ticks(const std::string& bytes) {
    std::vector<uint32_t> ticks;
    bool whole = false;
    for (const std::string& line : LogLines(bytes, whole))
        ticks.push_back(uint32_t(std::stoll(line)));
    return ticks;
}

TEST_F(AcquireAgainstConsole, TheSameRepliesGiveTheSameLog) {
    sim::Scenario s; // sweeping values
    s.zeroCount = 0; // the zero count then comes from the sensor spread
    s.endAfterPolls = 40;
    std::string acquired;
    {
        orvi::testing::TempDir ports;
        sim::DeviceSimulator acquireDevice(s, sim::PortSetup{5, ports.Path()});
        TProcess acquire({kAcquire, "--port", "COM5", "--log", Path("acquire.txt")}, ports.Path(),
                         Path("out"), Path("err"));
        ASSERT_EQ(acquire.Wait(), 0) << orvi::testing::FileBytes(Path("err"));
        acquired = orvi::testing::FileBytes(Path("acquire.txt"));
    }
    const std::vector<uint32_t> ticks = Ticks(acquired);
    ASSERT_EQ(ticks.size(), 40u);

    app::TForm1& f = Start(s);
    f.TickSource = [ticks, next = size_t(0)]() mutable {
        return next < ticks.size() ? ticks[next++] : 0u;
    };
    f.LogBox->setChecked(true);
    f.FName->setText(QString::fromStdString(Path("console.txt")));
    f.StartButton->click();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(Texts(), std::vector<QString>{"Чтение закончено"});
    EXPECT_EQ(app::test::FileBytes(Path("console.txt")), acquired);
}

} // namespace
} // namespace orvi::acquire::test
