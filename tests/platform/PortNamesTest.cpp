#include "platform/PortNames.h"
#include "platform/SerialDeviceMap.h"
#include "platform/UsbSerialAdapters.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace orvi::platform {
namespace {

namespace fs = std::filesystem;
using Map = std::vector<std::pair<std::string, std::string>>;

// A fresh folder, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/orvi-platform-test-XXXXXX";
        path_ = mkdtemp(name) != nullptr ? name : "";
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }
    void Link(const std::string& name, const std::string& target) const {
        fs::create_symlink(target, path_ + "/" + name);
    }
    void File(const std::string& name) const { fs::create_directories(path_ + "/" + name); }

private:
    std::string path_;
};

// Points the override folder somewhere for one test and puts it back afterwards.
class OverrideDirScope {
public:
    explicit OverrideDirScope(const std::string& dir) { SetPortOverrideDir(dir); }
    ~OverrideDirScope() { SetPortOverrideDir(""); }
};

TEST(PortNames, ComDeviceNameUsesTheDeviceNamespace) {
    EXPECT_EQ(ComDeviceName(1), "\\\\.\\COM1");
    EXPECT_EQ(ComDeviceName(12), "\\\\.\\COM12");
    EXPECT_EQ(ComDeviceName(12).size(), 9u);
}

TEST(PortNames, PortNumberFromName) {
    const std::pair<const char*, int> cases[] = {
        {"\\\\.\\COM5", 5},     {"COM5", 5},    {"COM12", 12}, {"com7", 7},
        {"\\\\.\\COM256", 256}, {"COM", 0},     {"COM0", 0},   {"COM05", 0},
        {"COM-1", 0},           {"COM5x", 0},   {"COM 5", 0},  {"LPT1", 0},
        {"/dev/ttyUSB0", 0},    {"\\\\.\\", 0}, {"", 0},       {"COM99999999999", 0},
        {"\\\\?\\COM5", 0},     {"XCOM5", 0},
    };
    for (const auto& [name, number] : cases)
        EXPECT_EQ(PortNumberFromName(name), number) << name;
}

TEST(PortNames, DefaultMappingWithoutOverride) {
    TempDir empty;
    OverrideDirScope scope(empty.Path());
    const std::pair<int, std::string> cases[] = {
        {1, "/dev/ttyUSB0"},   {16, "/dev/ttyUSB15"}, {17, "/dev/ttyACM0"},
        {32, "/dev/ttyACM15"}, {33, "/dev/ttyS0"},    {64, "/dev/ttyS31"},
    };
    for (const auto& [port, path] : cases) {
        EXPECT_EQ(ResolvePortName(ComDeviceName(port)), path) << port;
        EXPECT_EQ(ResolvePortName("COM" + std::to_string(port)), path) << port;
    }
    // Past the mapped range there is no device: the name leads nowhere.
    EXPECT_EQ(ResolvePortName("\\\\.\\COM65"), empty.Path() + "/COM65");
}

TEST(PortNames, OtherNamesAreUnchanged) {
    for (const char* name : {"/dev/pts/3", "COM0", "", "\\\\.\\PIPE\\x", "ttyUSB0"})
        EXPECT_EQ(ResolvePortName(name), name);
}

TEST(PortNames, OverrideLinkWinsEvenWhenItDangles) {
    TempDir dir;
    dir.Link("COM3", "/dev/null");
    dir.Link("COM4", dir.Path() + "/missing");
    OverrideDirScope scope(dir.Path());
    EXPECT_EQ(ResolvePortName("\\\\.\\COM3"), dir.Path() + "/COM3");
    EXPECT_EQ(ResolvePortName("COM4"), dir.Path() + "/COM4");
    EXPECT_EQ(ResolvePortName("COM5"), "/dev/ttyUSB4");
}

TEST(PortNames, OverrideDirFromEnvironmentThenDefault) {
    SetPortOverrideDir("");
    const char* saved = std::getenv("ORVI_PORT_DIR");
    const std::string savedValue = saved != nullptr ? saved : "";
    setenv("ORVI_PORT_DIR", "/tmp/orvi-env-dir", 1);
    EXPECT_EQ(PortOverrideDir(), "/tmp/orvi-env-dir");
    SetPortOverrideDir("/tmp/orvi-set-dir");
    EXPECT_EQ(PortOverrideDir(), "/tmp/orvi-set-dir");
    SetPortOverrideDir("");
    unsetenv("ORVI_PORT_DIR");
    EXPECT_EQ(PortOverrideDir(), "/dev/orvi");
    if (saved != nullptr)
        setenv("ORVI_PORT_DIR", savedValue.c_str(), 1);
}

TEST(SerialDeviceMap, OverrideEntriesInNumberOrder) {
    TempDir dir;
    dir.Link("COM12", "/dev/null");
    dir.Link("COM3", "/dev/null");
    dir.Link("COM7", "/dev/zero");
    dir.Link("com8", "/dev/null");  // not the spelling the resolver looks for
    dir.Link("COM07", "/dev/null"); // nor this
    dir.Link("README", "/dev/null");
    const Map expected = {
        {"\\Device\\USBSER000", "COM3"},
        {"\\Device\\USBSER001", "COM7"},
        {"\\Device\\USBSER002", "COM12"},
    };
    EXPECT_EQ(BuildSerialDeviceMap(dir.Path(), {}), expected);

    OverrideDirScope scope(dir.Path());
    const Map entries = SerialDeviceMapEntries();
    ASSERT_GE(entries.size(), expected.size());
    EXPECT_EQ(Map(entries.begin(), entries.begin() + 3), expected);
    std::string port;
    EXPECT_TRUE(ReadSerialDeviceMap("\\Device\\USBSER001", port));
    EXPECT_EQ(port, "COM7");
}

TEST(SerialDeviceMap, MissingValueOrFolder) {
    TempDir dir;
    OverrideDirScope scope(dir.Path() + "/absent");
    EXPECT_TRUE(BuildSerialDeviceMap(dir.Path() + "/absent", {}).empty());
    std::string port = "unchanged";
    EXPECT_FALSE(ReadSerialDeviceMap("\\Device\\USBSER0099", port));
    EXPECT_EQ(port, "unchanged");
}

TEST(SerialDeviceMap, IndexesPastNineFollowTheConsolesNaming) {
    TempDir dir;
    for (int n = 1; n <= 11; ++n)
        dir.Link("COM" + std::to_string(n), "/dev/null");
    const Map map = BuildSerialDeviceMap(dir.Path(), {});
    ASSERT_EQ(map.size(), 11u);
    EXPECT_EQ(map[9].first, "\\Device\\USBSER009");
    EXPECT_EQ(map[10].first, "\\Device\\USBSER0010");
    EXPECT_EQ(map[10].second, "COM11");
}

TEST(SerialDeviceMap, AdaptersFollowEntriesUnlessTaken) {
    TempDir dir;
    dir.Link("COM5", "/dev/ttyUSB3"); // the same device as the adapter at COM4
    dir.Link("COM2", "/dev/null");
    const std::vector<UsbSerialAdapter> adapters = {
        {1, "/dev/ttyUSB0"}, {2, "/dev/ttyUSB1"}, {4, "/dev/ttyUSB3"}, {17, "/dev/ttyACM0"}};
    const Map expected = {
        {"\\Device\\USBSER000", "COM2"},
        {"\\Device\\USBSER001", "COM5"},
        {"\\Device\\USBSER002", "COM1"},
        {"\\Device\\USBSER003", "COM17"},
    };
    EXPECT_EQ(BuildSerialDeviceMap(dir.Path(), adapters), expected);
}

TEST(SerialDeviceMap, FindsUsbAdaptersInSysfs) {
    TempDir sys;
    const std::string usb = "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/";
    sys.Link("ttyUSB1", usb + "ttyUSB1/tty/ttyUSB1");
    sys.Link("ttyUSB0", usb + "ttyUSB0/tty/ttyUSB0");
    sys.Link("ttyACM2", usb + "tty/ttyACM2");
    sys.Link("ttyUSB16", usb + "ttyUSB16/tty/ttyUSB16"); // past the mapped range
    sys.Link("ttyS0", "../../devices/pnp0/00:04/tty/ttyS0");
    sys.Link("ttyUSB5", "../../devices/virtual/usb-fake/ttyUSB5");
    sys.Link("ttyACM1", "../../devices/platform/serial8250/tty/ttyACM1");
    sys.Link("tty0", "../../devices/virtual/tty/tty0");
    sys.File("ttyUSB7"); // not a link: no device behind it
    const std::vector<UsbSerialAdapter> found = FindUsbSerialAdapters(sys.Path());
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[0].port, 1);
    EXPECT_EQ(found[0].device, "/dev/ttyUSB0");
    EXPECT_EQ(found[1].port, 2);
    EXPECT_EQ(found[1].device, "/dev/ttyUSB1");
    EXPECT_EQ(found[2].port, 19);
    EXPECT_EQ(found[2].device, "/dev/ttyACM2");
}

} // namespace
} // namespace orvi::platform
