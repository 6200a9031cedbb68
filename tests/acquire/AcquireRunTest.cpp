// The run inside the test process, where the reply wait's sleeps are shortened ten times: a
// device that falls silent ends the run with status 1 after its whole wait and the log keeps
// the lines before; with --reconnect a silent device is asked again until a stop request,
// and a gone one is waited for until the run's duration is over. And the command line's
// times.
#include "acquire/Acquisition.h"
#include "platform/Clock.h"
#include "tests/support/TempDir.h"
#include "tools/simulator/DeviceSimulator.h"

#include <filesystem>
#include <fstream>
#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>

namespace orvi::acquire {
namespace {

using orvi::testing::FileBytes;

struct Captured {
    Captured() : err(std::tmpfile()) {}
    ~Captured() { std::fclose(err); }
    std::string Text() const {
        std::rewind(err);
        std::string text;
        for (int c; (c = std::fgetc(err)) != EOF;)
            text += char(c);
        return text;
    }
    std::FILE* err;
};

TAcquireHooks Quick(std::FILE* err) {
    TAcquireHooks hooks;
    hooks.Sleep = [](uint32_t ms) { platform::SleepMs(std::max<uint32_t>(1, ms / 10)); };
    hooks.Err = err;
    return hooks;
}

TEST(AcquireRun, ASilentDeviceEndsTheRunOrIsAskedAgain) {
    for (const bool reconnect : {false, true}) {
        SCOPED_TRACE(reconnect);
        orvi::testing::TempDir dir;
        sim::Scenario s = sim::SteadyScenario();
        s.answerFirst = 3;
        sim::DeviceSimulator device(s, sim::PortSetup{5, {}});
        TAcquireOptions options;
        options.Port = "COM5";
        options.LogFile = dir.FilePath("silent.txt");
        options.Reconnect = reconnect;
        TStopRequests requests;
        Captured err;
        uint32_t tick = 1000;
        TAcquireHooks hooks = Quick(err.err);
        hooks.Tick = [&] { return tick++; };
        TAcquisition run(options, requests, hooks);
        std::thread stopper;
        if (reconnect) {
            stopper = std::thread([&] {
                while (device.Counters().housingRequests < 6)
                    platform::SleepMs(5);
                requests.Stop = true;
            });
        }
        EXPECT_EQ(run.Run(), reconnect ? 0 : 1);
        if (stopper.joinable())
            stopper.join();
        EXPECT_EQ(FileBytes(options.LogFile),
                  "1000 25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 -2 0.75 12\r\n"
                  "1001 25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 -2 0.75 12\r\n"
                  "1002 25.85 30.15 25.85 28.85 25.85 31.15 25.85 30.17 -2 0.75 12\r\n");
        const std::string said = err.Text();
        EXPECT_NE(said.find("orvi_acquire: no answer from the device on COM5 within 5 s"),
                  std::string::npos)
            << said;
        EXPECT_EQ(said.find("polling again") != std::string::npos, reconnect) << said;
    }
}

// An adapter that never comes back does not hold a run past its duration.
TEST(AcquireRun, TheDurationEndsTheWaitForTheAdapter) {
    orvi::testing::TempDir dir;
    sim::DeviceSimulator device(sim::SteadyScenario(), sim::PortSetup{5, {}});
    TAcquireOptions options;
    options.Port = "COM5";
    options.LogFile = dir.FilePath("gone.txt");
    options.Reconnect = true;
    options.DurationMs = 2000;
    TStopRequests requests;
    Captured err;
    TAcquisition run(options, requests, Quick(err.err));
    std::thread unplug([&] {
        while (device.Counters().sensorRequests < 3)
            platform::SleepMs(5);
        device.Unplug();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(run.Run(), 0) << err.Text();
    unplug.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_NE(err.Text().find("waiting for the adapter"), std::string::npos) << err.Text();
    EXPECT_EQ(err.Text().find("polling again"), std::string::npos) << err.Text();
}

// A sysfs tree of USB-serial adapters, made for the test: each port a tty under its USB
// interface, each interface under its USB device.
struct TFakeSys {
    explicit TFakeSys(std::string folder) : root(std::move(folder)) {}
    // A port `tty` on interface `iface` of the device at bus place `bus` with `serial`
    // (none when empty); ttyUSB ports sit one folder below their interface, ttyACM ones are it.
    void Port(const std::string& tty, const std::string& bus, const std::string& serial,
              const std::string& iface) {
        namespace fs = std::filesystem;
        const fs::path device = fs::path(root) / "devices/pci0000:00/usb1" / bus;
        const fs::path interface = device / (bus + ":1." + std::to_string(std::stoi(iface)));
        const fs::path port = tty.rfind("ttyACM", 0) == 0 ? interface : interface / tty;
        fs::create_directories(port);
        std::ofstream(device / "idVendor") << "0403\n";
        if (!serial.empty())
            std::ofstream(device / "serial") << serial << "\n";
        std::ofstream(interface / "bInterfaceNumber") << iface << "\n";
        fs::create_directories(fs::path(root) / "class/tty" / tty);
        fs::create_directory_symlink(port, fs::path(root) / "class/tty" / tty / "device");
    }
    void Unplug() { std::filesystem::remove_all(root); }
    std::string root;
};

// One adapter of four ports (one serial number), a second of two with no serial number: each
// port is found again after a replug by its identity alone, wherever it is enumerated now,
// and two ports of one identity are refused in words.
TEST(AcquireAdapter, APortIsFoundAgainByItsIdentityOnly) {
    orvi::testing::TempDir dir;
    TFakeSys sys(dir.FilePath("sys"));
    for (int i = 0; i < 4; ++i)
        sys.Port("ttyUSB" + std::to_string(i), "1-1", "FT4X", "0" + std::to_string(i));
    sys.Port("ttyUSB4", "1-2", "", "00");
    sys.Port("ttyACM0", "1-3", "", "00");
    sys.Port("ttyACM1", "1-3", "", "02");
    const TPortIdentity standB = IdentityOf("/dev/ttyUSB1", sys.root);
    EXPECT_EQ(standB.Words(), "USB serial number FT4X, interface 01");
    const TPortIdentity bare = IdentityOf("/dev/ttyUSB4", sys.root);
    EXPECT_EQ(bare.Words(), "USB port 1-2:1.0");
    const TPortIdentity acm = IdentityOf("/dev/ttyACM1", sys.root);
    EXPECT_EQ(acm.Words(), "USB port 1-3:1.2");
    EXPECT_FALSE(IdentityOf("/dev/ttyS0", sys.root).Known());
    EXPECT_EQ(PortsWithIdentity(standB, sys.root), std::vector<std::string>{"/dev/ttyUSB1"});

    // Replugged: the four-port adapter comes back after the bare one, in another socket.
    sys.Unplug();
    sys.Port("ttyUSB0", "1-2", "", "00");
    for (int i = 0; i < 4; ++i)
        sys.Port("ttyUSB" + std::to_string(i + 1), "1-4", "FT4X", "0" + std::to_string(i));
    sys.Port("ttyACM0", "1-3", "", "02");
    EXPECT_EQ(PortsWithIdentity(standB, sys.root), std::vector<std::string>{"/dev/ttyUSB2"});
    EXPECT_EQ(PortsWithIdentity(bare, sys.root), std::vector<std::string>{"/dev/ttyUSB0"});
    EXPECT_EQ(PortsWithIdentity(acm, sys.root), std::vector<std::string>{"/dev/ttyACM0"});
    EXPECT_TRUE(PortsWithIdentity(TPortIdentity{"FT4X", "07", ""}, sys.root).empty());

    // A second adapter with the same serial number (clones do that): no longer one port.
    sys.Port("ttyUSB5", "1-5", "FT4X", "01");
    EXPECT_EQ(PortsWithIdentity(standB, sys.root),
              (std::vector<std::string>{"/dev/ttyUSB2", "/dev/ttyUSB5"}));
}

// Instances started together into one folder each create a date-made name of their own.
TEST(AcquireOutput, InstancesSharingAFolderTakeTheNextName) {
    orvi::testing::TempDir dir;
    const auto when = std::chrono::system_clock::now();
    constexpr size_t kInstances = 6;
    for (int round = 0; round < 100; ++round) {
        const std::string folder = dir.FilePath(std::to_string(round));
        std::filesystem::create_directory(folder);
        std::vector<std::string> paths(kInstances), errors(kInstances);
        std::vector<std::unique_ptr<app::TDataLog>> logs(kInstances);
        std::atomic<size_t> ready{0};
        std::vector<std::thread> instances;
        for (size_t i = 0; i < kInstances; ++i) {
            instances.emplace_back([&, i] {
                for (++ready; ready < kInstances;)
                    std::this_thread::yield();
                try {
                    logs[i] = CreateDatedLog(folder, when, paths[i]);
                } catch (const std::exception& e) {
                    errors[i] = e.what();
                }
            });
        }
        for (std::thread& instance : instances)
            instance.join();
        EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), kInstances);
        EXPECT_EQ(errors, std::vector<std::string>(kInstances));
    }
}

TEST(AcquireOptions, Durations) {
    const std::pair<const char*, std::optional<uint64_t>> cases[] = {
        {"90s", 90000},
        {"5", 5000},
        {"10m", 600000},
        {"12h", 43200000},
        {"1s", 1000},
        {"0s", {}},
        {"10", 10000},
        {"s", {}},
        {"1.5m", {}},
        {"-1m", {}},
        {"10d", {}},
        {"1000000h", 3600000000000},
        {"1000001h", {}},
        {"3000000h", {}},
        {"3600000000s", 3600000000000},
        {"3600000001", {}},
        {"18446744073709551615s", {}},
    };
    for (const auto& [text, ms] : cases)
        EXPECT_EQ(ParseDuration(text), ms) << text;
}

} // namespace
} // namespace orvi::acquire
