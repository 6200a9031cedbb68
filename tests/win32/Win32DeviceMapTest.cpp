// The serial device map in wine's registry and the console's search for the USB-serial
// port over it: the values that scripts/wine-tests.sh writes (\Device\USBSER000 names a
// port that cannot be opened, \Device\USBSER001 the simulator), then maps that the test
// writes itself, restoring the script's values afterwards.
#include "app/Conversions.h"
#include "app/PortDiscovery.h"
#include "platform/SerialDeviceMap.h"
#include "serial/ComPort.h"
#include "tests/win32/ComPortPeers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace orvi::testing {
namespace {

constexpr const char* kMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr int kIndexes = 4; // \Device\USBSER000 .. \Device\USBSER003

std::string ComName(int n) {
    return "COM" + std::to_string(n);
}

// The probe of the console: set the number, open, close; it succeeds unless opening
// raised.
bool TryOpenPort(TOrvComPort& port, int n) {
    bool opened = false;
    port.SetComNumber(uint16_t(n));
    try {
        port.SetOpen(true);
        opened = true;
    } catch (const Exception&) {
    }
    port.SetOpen(false);
    return opened;
}

int FindPort(TOrvComPort& port) {
    return app::FindUsbSerialPort(platform::ReadSerialDeviceMap,
                                  [&](int n) { return TryOpenPort(port, n); });
}

// Writes and removes the USB-serial values of the map (the key is writable here: wine
// runs programs with administrator rights).
class MapWriter {
public:
    MapWriter() {
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMapKey, 0, KEY_READ | KEY_WRITE, &key_);
        for (int i = 0; i < kIndexes; ++i) {
            std::string value;
            if (platform::ReadSerialDeviceMap(app::UsbSerialValueName(i), value))
                saved_[i] = value;
        }
    }
    ~MapWriter() {
        Set({});
        for (const auto& [index, value] : saved_)
            Put(index, value);
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    MapWriter(const MapWriter&) = delete;
    MapWriter& operator=(const MapWriter&) = delete;

    bool Ready() const { return key_ != nullptr; }

    // Makes exactly these indexes present, with these texts.
    void Set(const std::map<int, std::string>& values) {
        for (int i = 0; i < kIndexes; ++i)
            RegDeleteValueA(key_, app::UsbSerialValueName(i).c_str());
        for (const auto& [index, value] : values)
            Put(index, value);
    }

private:
    void Put(int index, const std::string& value) {
        RegSetValueExA(key_, app::UsbSerialValueName(index).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()), DWORD(value.size() + 1));
    }

    HKEY key_ = nullptr;
    std::map<int, std::string> saved_;
};

using Win32DeviceMapTest = ComPortPeers;

TEST_F(Win32DeviceMapTest, ValuesWrittenByTheTestScriptAreRead) {
    std::string value;
    ASSERT_TRUE(platform::ReadSerialDeviceMap("\\Device\\USBSER000", value));
    EXPECT_EQ(value, ComName(missing_));
    ASSERT_TRUE(platform::ReadSerialDeviceMap("\\Device\\USBSER001", value));
    EXPECT_EQ(value, ComName(sim_));
    EXPECT_FALSE(platform::ReadSerialDeviceMap("\\Device\\USBSER002", value));

    const auto entries = platform::SerialDeviceMapEntries();
    const std::pair<std::string, std::string> second{"\\Device\\USBSER001", ComName(sim_)};
    EXPECT_NE(std::find(entries.begin(), entries.end(), second), entries.end());
}

TEST_F(Win32DeviceMapTest, SearchSkipsThePortThatDoesNotOpenAndFindsTheSimulator) {
    EXPECT_EQ(FindPort(port_), sim_);
    EXPECT_FALSE(port_.Open()); // the probe leaves the port closed
}

struct MapCase {
    const char* Name;
    std::map<int, std::string> Values; // "$missing", "$sim", "$echo" name the peers
    const char* Found;                 // "0" or one of the names above
};

TEST_F(Win32DeviceMapTest, SearchStopsAtTheFirstMissingIndex) {
    MapWriter map;
    ASSERT_TRUE(map.Ready());
    const std::map<std::string, std::string> ports = {
        {"$missing", ComName(missing_)}, {"$sim", ComName(sim_)}, {"$echo", ComName(echo_)}};
    const std::map<std::string, int> numbers = {
        {"0", 0}, {"$missing", missing_}, {"$sim", sim_}, {"$echo", echo_}};
    const MapCase cases[] = {
        {"first opens", {{0, "$echo"}, {1, "$sim"}}, "$echo"},
        {"second opens", {{0, "$missing"}, {1, "$echo"}}, "$echo"},
        {"only the second index", {{1, "$sim"}}, "0"},
        {"gap before the port", {{0, "$missing"}, {2, "$sim"}}, "0"},
        {"nothing opens", {{0, "$missing"}}, "0"},
        {"empty map", {}, "0"},
        {"prefix only ends the scan", {{0, "COM"}, {1, "$sim"}}, "0"},
    };
    for (const MapCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::map<int, std::string> values;
        for (const auto& [index, text] : c.Values)
            values[index] = ports.count(text) ? ports.at(text) : text;
        map.Set(values);
        EXPECT_EQ(FindPort(port_), numbers.at(c.Found));
        EXPECT_FALSE(port_.Open());
    }
}

TEST_F(Win32DeviceMapTest, PortNameThatIsNotANumberRaisesAConversionError) {
    MapWriter map;
    ASSERT_TRUE(map.Ready());
    map.Set({{0, "COMx5"}, {1, ComName(sim_)}});
    EXPECT_THROW(FindPort(port_), app::EConvertError);
}

} // namespace
} // namespace orvi::testing
