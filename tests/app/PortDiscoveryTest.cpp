// The search over the serial device map and the whole-number conversions.
#include "app/PortDiscovery.h"
#include "app/Conversions.h"

#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace orvi::app {
namespace {

struct Search {
    std::map<std::string, std::string> values;
    std::vector<int> openable;
    std::vector<int> probed;

    int Run() {
        return FindUsbSerialPort(
            [this](const std::string& name, std::string& data) {
                const auto it = values.find(name);
                if (it == values.end())
                    return false;
                data = it->second;
                return true;
            },
            [this](int port) {
                probed.push_back(port);
                return std::find(openable.begin(), openable.end(), port) != openable.end();
            });
    }
};

TEST(UsbSerialValueName, IndexWithoutLeadingZeros) {
    EXPECT_EQ(UsbSerialValueName(0), "\\Device\\USBSER000");
    EXPECT_EQ(UsbSerialValueName(1), "\\Device\\USBSER001");
    EXPECT_EQ(UsbSerialValueName(10), "\\Device\\USBSER0010");
}

TEST(FindUsbSerialPort, TakesTheFirstPortThatOpens) {
    Search s{{{"\\Device\\USBSER000", "COM9"}, {"\\Device\\USBSER001", "COM4"}}, {4}, {}};
    EXPECT_EQ(s.Run(), 4);
    EXPECT_EQ(s.probed, (std::vector<int>{9, 4}));
}

TEST(FindUsbSerialPort, StopsAtTheFirstMissingIndex) {
    Search s{{{"\\Device\\USBSER001", "COM4"}}, {4}, {}};
    EXPECT_EQ(s.Run(), 0);
    EXPECT_TRUE(s.probed.empty());
}

TEST(FindUsbSerialPort, NothingOpensGivesZero) {
    Search s{{{"\\Device\\USBSER000", "COM9"}, {"\\Device\\USBSER001", "COM3"}}, {}, {}};
    EXPECT_EQ(s.Run(), 0);
    EXPECT_EQ(s.probed, (std::vector<int>{9, 3}));
}

TEST(FindUsbSerialPort, ShortTextEndsTheScan) {
    Search s{{{"\\Device\\USBSER000", "COM"}, {"\\Device\\USBSER001", "COM4"}}, {4}, {}};
    EXPECT_EQ(s.Run(), 0);
}

TEST(FindUsbSerialPort, PortsAbove32AreFound) {
    Search s{{{"\\Device\\USBSER000", "COM40"}}, {40}, {}};
    EXPECT_EQ(s.Run(), 40);
}

TEST(FindUsbSerialPort, ANameThatIsNoNumberRaises) {
    Search s{{{"\\Device\\USBSER000", "COMX1"}}, {}, {}};
    try {
        s.Run();
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'X1' is not a valid integer value");
    }
}

TEST(IntFromText, WholeNumbersOnly) {
    const struct {
        const char* text;
        std::optional<int32_t> value;
    } cases[] = {{"50", 50},
                 {"-51", -51},
                 {" 30", 30},
                 {"+7", 7},
                 {"2147483647", INT32_MAX},
                 {"-2147483648", INT32_MIN},
                 {"2147483648", std::nullopt},
                 {"", std::nullopt},
                 {"abc", std::nullopt},
                 {"1.5", std::nullopt},
                 {"30 ", std::nullopt},
                 {"-", std::nullopt}};
    for (const auto& c : cases) {
        EXPECT_EQ(ParseInteger(c.text), c.value) << c.text;
        if (!c.value) {
            EXPECT_THROW(IntFromText(c.text), EConvertError) << c.text;
        }
    }
    try {
        IntFromText("абв");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'абв' is not a valid integer value");
    }
}

} // namespace
} // namespace orvi::app
