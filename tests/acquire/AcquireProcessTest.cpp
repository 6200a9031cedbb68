// orvi_acquire as a process against the device simulator on a pty: command lines and their
// exit statuses, stop signals in the middle of a poll, an unplug with and without
// --reconnect, a full disk, the end-of-data mark with date-named logs, and the JSON stream
// against the data log.
#include "tests/acquire/AcquireProcess.h"
#include "app/RecordFields.h"
#include "tools/simulator/DeviceSimulator.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace orvi::acquire::test {
namespace {

using orvi::testing::FileBytes;

// `text` against `pattern`, where 'D' stands for one digit and every other character for
// itself; without std::regex, which GCC 12 warns about under the sanitizers.
bool Fits(const std::string& text, const std::string& pattern) {
    if (text.size() != pattern.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == 'D' ? !digit : text[i] != pattern[i])
            return false;
    }
    return true;
}

// YYYY_M_D_h_m.txt, each of the last four one or two digits, or that with _2.
bool IsDatedName(const std::string& name) {
    std::vector<std::string> parts;
    std::string stem = name.substr(0, name.size() - 4);
    for (size_t at = 0, end = 0; end != std::string::npos; at = end + 1) {
        end = stem.find('_', at);
        parts.push_back(stem.substr(at, end == std::string::npos ? end : end - at));
    }
    if (name.substr(name.size() - 4) != ".txt" || parts.size() < 5 || parts.size() > 6 ||
        !Fits(parts[0], "DDDD") || (parts.size() == 6 && parts[5] != "2"))
        return false;
    for (size_t i = 1; i < 5; ++i) {
        if (!Fits(parts[i], "D") && !Fits(parts[i], "DD"))
            return false;
    }
    return true;
}

int MinuteNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return parts.tm_hour * 60 + parts.tm_min;
}

class AcquireProcess : public ::testing::Test {
protected:
    void Plug(sim::Scenario scenario) {
        device.reset();
        device = std::make_unique<sim::DeviceSimulator>(std::move(scenario),
                                                        sim::PortSetup{5, ports.Path()});
    }

    std::unique_ptr<TProcess> Start(std::vector<std::string> args,
                                    std::optional<rlim_t> fileSizeLimit = std::nullopt) {
        args.insert(args.begin(), kAcquire);
        return std::make_unique<TProcess>(args, ports.Path(), Path("out"), Path("err"),
                                          fileSizeLimit);
    }

    int Run(std::vector<std::string> args) { return Start(std::move(args))->Wait(); }

    template <class Pred> bool Until(Pred done, int limitMs = 15000) {
        for (int waited = 0; !done(); waited += 2) {
            if (waited > limitMs)
                return false;
            platform::SleepMs(2);
        }
        return true;
    }

    std::string Path(const std::string& name) const { return files.FilePath(name); }
    std::string Err() const { return FileBytes(Path("err")); }

    orvi::testing::TempDir ports, files;
    std::unique_ptr<sim::DeviceSimulator> device;
};

TEST_F(AcquireProcess, CommandLinesAndTheirStatuses) {
    Plug(sim::SteadyScenario());
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says; // in standard error
    };
    std::ofstream(Path("plain.txt")) << "not a port\n";
    const Case cases[] = {
        {{"--bogus"}, 2, "unknown argument \"--bogus\"\n\nUsage: orvi_acquire"},
        {{"--baud", "fast"}, 2, "--baud: \"fast\" is not a whole number"},
        {{"--interval", "0"}, 2, "--interval: 0 (polls back to back) needs --pace line"},
        {{"--interval", "-1", "--pace", "line"},
         2,
         "--interval: \"-1\" is not a whole number from 0"},
        {{"--pace", "fast"}, 2, "--pace: \"fast\" is neither console nor line"},
        {{"--duration", "10x"}, 2, "--duration: \"10x\" is not a time"},
        {{"--duration", "3000000h", "--polls", "100"}, 2, "at most 1000000h"},
        {{"--polls"}, 2, "--polls: value missing"},
        {{"--json=yes"}, 2, "--json takes no value"},
        {{"--log", "a", "--log-dir", "b"}, 2, "--log and --log-dir exclude each other"},
        {{"--port", "COM9"}, 3, "cannot open COM9"},
        {{"--port", "/no/such/tty"}, 3, "no port: there is no device /no/such/tty"},
        {{"--port", "/dev/null"}, 3, "no port: /dev/null is not a serial port\n"},
        {{"--port", Path("plain.txt")}, 3, "plain.txt is not a serial port\n"},
        {{"--port", "COM5", "--log", "/no/such/folder/log.txt"},
         1,
         "Cannot create file \"/no/such/folder/log.txt\". No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
        EXPECT_EQ(Run(c.args), c.status);
        EXPECT_NE(Err().find(c.says), std::string::npos) << Err();
        EXPECT_EQ(FileBytes(Path("out")), "") << "nothing but data on standard output";
    }
    device->Sync();
    EXPECT_EQ(device->Counters().Requests(), 0u) << "no poll before the log exists";
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(FileBytes(Path("out")).find("Exit status:"), std::string::npos);
    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(FileBytes(Path("out")).rfind("orvi_acquire 1.", 0), 0u) << FileBytes(Path("out"));
    // A device path that no port number names gets a link of its own in TMPDIR, gone
    // afterwards; messages name the port as given, never that link.
    const std::string slave = device->SlavePath();
    EXPECT_EQ(Run({"--port", slave, "--polls", "2", "--log", Path("path.txt")}), 0) << Err();
    bool whole = false;
    EXPECT_EQ(LogLines(FileBytes(Path("path.txt")), whole).size(), 2u);
    EXPECT_EQ(Run({"--port", slave.substr(5), "--polls", "1"}), 0) << "without /dev/: " << Err();
    Plug(sim::Scenario{}); // sweeping values, on a new pty
    const std::string late = device->SlavePath();
    auto silent = Start({"--port", late, "--polls", "50"});
    ASSERT_TRUE(Until([&] { return device->Counters().sensorRequests >= 2; }));
    device->Stop(); // silent from now on
    EXPECT_EQ(silent->Wait(), 1);
    EXPECT_NE(Err().find("orvi_acquire: no answer from the device on " + late + " within 5 s"),
              std::string::npos)
        << Err();
    for (const auto& entry : std::filesystem::directory_iterator(files.Path()))
        EXPECT_EQ(entry.path().filename().string().rfind("orvi-acquire-", 0), std::string::npos);
}

// The end-of-data mark ends the run with status 0; a second run in the same minute keeps
// the first one's file and takes the name with _2.
TEST_F(AcquireProcess, EndOfDataAndDateNamedLogs) {
    sim::Scenario s = sim::SteadyScenario();
    s.endAfterPolls = 4;
    Plug(s);
    EXPECT_EQ(Run({"--log-dir", files.Path() + "/logs"}), 1) << "no such folder yet";
    std::filesystem::create_directories(Path("logs"));
    const int minuteBefore = MinuteNow();
    for (int run = 0; run < 2; ++run) {
        Plug(s);
        EXPECT_EQ(Run({"--log-dir", files.Path() + "/logs"}), 0);
        EXPECT_NE(Err().find("end of its data"), std::string::npos) << Err();
    }
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path("logs"))) {
        names.push_back(entry.path().filename().string());
        bool whole = false;
        EXPECT_EQ(LogLines(FileBytes(entry.path().string()), whole).size(), 4u) << names.back();
        EXPECT_TRUE(whole);
    }
    ASSERT_EQ(names.size(), 2u);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        EXPECT_TRUE(IsDatedName(name)) << name;
    if (MinuteNow() != minuteBefore)
        GTEST_SKIP() << "the runs fell into two minutes; the suffix is not shown this time";
    const std::string first = names[0].substr(0, names[0].size() - 4);
    EXPECT_EQ(names[1], first + "_2.txt");
}

// SIGINT or SIGTERM between the housing and the sensor reply: the poll completes, is logged,
// and the run ends with status 0 and whole lines.
TEST_F(AcquireProcess, AStopSignalLetsThePollInProgressComplete) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        sim::Scenario s = sim::SteadyScenario();
        s.replyDelayMs = 100;
        Plug(s);
        auto acquire = Start({"--port", "COM5", "--log", Path("stop.txt")});
        ASSERT_TRUE(Until([&] {
            const sim::SimCounters c = device->Counters();
            return c.sensorRequests >= 2 && c.housingRequests == c.sensorRequests + 1;
        }));
        acquire->Signal(signal);
        EXPECT_EQ(acquire->Wait(), 0) << Err();
        bool whole = false;
        const auto lines = LogLines(FileBytes(Path("stop.txt")), whole);
        EXPECT_TRUE(whole);
        EXPECT_EQ(lines.size(), device->Counters().sensorRequests) << "the last poll is logged";
        EXPECT_EQ(Err(), "");
    }
    // A device that does not answer does not hold the stop for the rest of its wait.
    sim::Scenario s = sim::SteadyScenario();
    s.answerFirst = 2;
    Plug(s);
    auto acquire = Start({"--port", "COM5", "--log", Path("silent.txt")});
    ASSERT_TRUE(Until([&] { return device->Counters().housingRequests >= 3; }));
    platform::SleepMs(100);
    acquire->Signal(SIGTERM);
    EXPECT_EQ(acquire->Wait(), 0) << Err();
    EXPECT_EQ(Err(), "");
}

// SIGHUP after the log was moved away starts a new file under the old name; a SIGHUP with
// the file still in place keeps its lines; a file emptied without a signal (copytruncate)
// goes on at its start. No poll is lost or doubled across the first two.
TEST_F(AcquireProcess, AHangUpSignalOpensTheLogAgain) {
    Plug(sim::SteadyScenario());
    const std::string log = Path("rot.txt");
    auto acquire = Start({"--port", "COM5", "--log", log});
    const auto lines = [&](const std::string& path) {
        bool whole = false;
        return LogLines(FileBytes(path), whole).size();
    };
    ASSERT_TRUE(Until([&] { return lines(log) >= 3; }));
    std::filesystem::rename(log, Path("rot.1"));
    acquire->Signal(SIGHUP);
    ASSERT_TRUE(Until([&] { return lines(log) >= 3; }));
    acquire->Signal(SIGHUP);
    const size_t before = lines(log);
    ASSERT_TRUE(Until([&] { return lines(log) >= before + 3; })) << "the lines are kept";
    // copytruncate: the file emptied under the writer goes on at its start, not after a hole.
    const std::string copied = FileBytes(log);
    std::filesystem::resize_file(log, 0);
    ASSERT_TRUE(Until([&] { return lines(log) >= 3; }));
    acquire->Signal(SIGTERM);
    EXPECT_EQ(acquire->Wait(), 0) << Err();
    bool whole = false;
    const auto first = LogLines(FileBytes(Path("rot.1")), whole);
    EXPECT_TRUE(whole);
    const std::string rest = FileBytes(log);
    ASSERT_FALSE(rest.empty());
    EXPECT_NE(rest[0], '\0') << "no hole where the old lines were";
    const auto second = LogLines(copied + rest, whole);
    EXPECT_TRUE(whole);
    // A line written while the file was being emptied may be lost with the old contents,
    // as copytruncate warns; none is doubled and none torn.
    EXPECT_LE(first.size() + second.size(), device->Counters().sensorRequests);
    EXPECT_GE(first.size() + second.size() + 1, device->Counters().sensorRequests);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_LE(std::stoll(first.back()), std::stoll(second.front()));
}

// The ticks of the lines after a gap show it.
int64_t LargestStep(const std::vector<std::string>& lines) {
    int64_t largest = 0;
    for (size_t i = 1; i < lines.size(); ++i)
        largest = std::max<int64_t>(largest, std::stoll(lines[i]) - std::stoll(lines[i - 1]));
    return largest;
}

TEST_F(AcquireProcess, AnUnplugEndsTheRunUnlessItShallReconnect) {
    for (const bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect);
        Plug(sim::SteadyScenario());
        // A log of each round's own, so that the wait below sees only this run's lines.
        const std::string log = Path(reconnect ? "unplug-reconnect.txt" : "unplug.txt");
        std::vector<std::string> args{"--log", log, "--polls", "10"};
        if (reconnect)
            args.push_back("--reconnect");
        auto acquire = Start(args);
        // Four polls logged (a sensor request seen is not yet a line written).
        ASSERT_TRUE(Until([&] {
            bool ended = false;
            return LogLines(FileBytes(log), ended).size() >= 4;
        }));
        device->Unplug();
        platform::SleepMs(300);
        device.reset(); // the link goes with the simulator ...
        platform::SleepMs(200);
        Plug(sim::SteadyScenario()); // ... and comes back on a new pty
        // The loss shows once the poll's wait has run out (5 s, as in the console).
        bool whole = false;
        EXPECT_EQ(acquire->Wait(), reconnect ? 0 : 1) << Err();
        const auto lines = LogLines(FileBytes(log), whole);
        EXPECT_TRUE(whole);
        EXPECT_NE(Err().find("was lost: "), std::string::npos) << Err();
        EXPECT_EQ(Err().find(" ;"), std::string::npos) << Err();
        if (reconnect) {
            EXPECT_EQ(lines.size(), 10u);
            EXPECT_GE(LargestStep(lines), 500) << "the gap shows as a jump of the tick";
            EXPECT_NE(Err().find("polling again on COM5"), std::string::npos) << Err();
        } else {
            EXPECT_GE(lines.size(), 4u);
            EXPECT_LT(lines.size(), 10u);
        }
    }
}

// A file size limit (ulimit -f) is met as a full disk: whole lines, status 1, the reason in
// words, and the private port folder removed.
TEST_F(AcquireProcess, AFullDiskEndsTheRunWithWholeLines) {
    Plug(sim::SteadyScenario());
    auto acquire = Start({"--port", device->SlavePath(), "--log", Path("full.txt")}, 500);
    EXPECT_EQ(acquire->Wait(), 1);
    EXPECT_NE(Err().find("File too large"), std::string::npos) << Err();
    for (const auto& entry : std::filesystem::directory_iterator(files.Path()))
        EXPECT_EQ(entry.path().filename().string().rfind("orvi-acquire-", 0), std::string::npos);
    bool whole = false;
    const std::string bytes = FileBytes(Path("full.txt"));
    const auto lines = LogLines(bytes, whole);
    EXPECT_TRUE(whole) << bytes;
    EXPECT_GE(lines.size(), 6u);
    EXPECT_GT(bytes.size() + 75, 500u) << "only the line that did not fit is missing";
}

// A reader that stops reading (`--json | sleep 30`, here a pipe of 4 KiB that the test never
// reads) holds up neither the polls, nor the log, nor a stop: the stream loses records,
// counted and told, and the log has every poll.
TEST_F(AcquireProcess, AStalledReaderLosesStreamRecordsNeverLogLines) {
    Plug(sim::SteadyScenario());
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    const std::string log = Path("stall.txt");
    auto acquire = std::make_unique<TProcess>(
        std::vector<std::string>{kAcquire, "--port", "COM5", "--json", "--log", log}, ports.Path(),
        "fd:" + std::to_string(pipeFds[1]), Path("err"));
    close(pipeFds[1]);
    const auto lines = [&] {
        bool whole = false;
        return LogLines(FileBytes(log), whole).size();
    };
    ASSERT_TRUE(Until([&] { return Err().find("falls behind") != std::string::npos; }, 15000))
        << Err() << lines();
    const size_t behind = lines();
    ASSERT_TRUE(Until([&] { return lines() >= behind + 20; })) << "the polls go on";
    acquire->Signal(SIGTERM);
    EXPECT_EQ(acquire->Wait(), 0) << Err();
    bool whole = false;
    EXPECT_EQ(LogLines(FileBytes(log), whole).size(), device->Counters().sensorRequests);
    EXPECT_TRUE(whole);
    EXPECT_NE(Err().find("JSON stream records were dropped"), std::string::npos) << Err();
    close(pipeFds[0]);
}

TEST_F(AcquireProcess, TheJsonStreamCarriesTheLoggedRecords) {
    Plug(sim::Scenario{}); // sweeping values
    EXPECT_EQ(Run({"--json", "--log", Path("log.txt"), "--polls", "25"}), 0) << Err();
    bool whole = false;
    const auto lines = LogLines(FileBytes(Path("log.txt")), whole);
    const std::string out = FileBytes(Path("out"));
    std::vector<std::string> objects;
    for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
        objects.push_back(out.substr(at, end - at));
    ASSERT_EQ(objects.size(), 25u) << out;
    ASSERT_EQ(lines.size(), 25u);
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        std::string fromJson;
        for (const app::TRecordField& field : app::RecordFields())
            (fromJson += fromJson.empty() ? "" : " ") += Member(objects[i], field.Key);
        EXPECT_EQ(fromJson, lines[i]);
        EXPECT_EQ(Member(objects[i], "seq"), std::to_string(i + 1)) << "the line's number";
        EXPECT_TRUE(Fits(Member(objects[i], "time"), "\"DDDD-DD-DDTDD:DD:DD.DDDZ\"")) << objects[i];
        EXPECT_EQ(objects[i].front(), '{');
        EXPECT_EQ(objects[i].back(), '}');
    }
}

} // namespace
} // namespace orvi::acquire::test
