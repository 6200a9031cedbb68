#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

#include <string>

namespace orvi::platform {
namespace {

struct VersionCase {
    uint32_t PlatformId;
    uint32_t Major;
    uint32_t Minor;
    uint32_t Build;
    const char* ServicePack;
    const char* Expected;
};

TEST(SystemInfoTest, WindowsVersionNames) {
    using namespace winplatform;
    const VersionCase cases[] = {
        {Win32s, 1, 30, 0, "", "Win32s on Windows 1.30 "},
        {Windows9x, 4, 0, 950, " B", "Win32 on Windows 95 OSR 2 4.0 "},
        {Windows9x, 4, 0, 950, " C", "Win32 on Windows 95 OSR 1 4.0 "},
        {Windows9x, 4, 0, 950, "", "Win32 on Windows 95 OSR 1 4.0 "},
        {Windows9x, 4, 10, 1998, " A ", "Win32 on Windows 98 OSR 2 4.10 "},
        {Windows9x, 4, 10, 1998, "", "Win32 on Windows 98 OSR 1 4.10 "},
        {Windows9x, 4, 90, 0x045A0BB8, "", "Win32 on Windows ME 4.90 "},
        {Windows9x, 4, 90, 3000, " ", "Win32 on Windows ME 4.90 "},
        {Windows9x, 4, 90, 2999, "", "4.90 "},
        {Windows9x, 4, 3, 0, " X", "Win32 on Windows 9x4.3 "},
        {WindowsNT, 3, 51, 1057, "Service Pack 5", "Windows NT 3.5 3.51 Service Pack 5"},
        {WindowsNT, 4, 0, 1381, "Service Pack 6", "Windows NT 4 4.0 Service Pack 6"},
        {WindowsNT, 5, 0, 2195, "Service Pack 4", "Windows 2000 5.0 Service Pack 4"},
        {WindowsNT, 5, 1, 2600, "Service Pack 3", "Windows XP 5.1 Service Pack 3"},
        {WindowsNT, 5, 2, 3790, "Service Pack 2", "5.2 Service Pack 2"},
        {WindowsNT, 6, 2, 9200, "", "WinNT 6.2 "},
        {WindowsNT, 10, 0, 19045, "", "WinNT 10.0 "},
        {3, 1, 0, 0, "", "Unknown1.0 "},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.Expected);
        EXPECT_EQ(WindowsVersionDescription(c.PlatformId, c.Major, c.Minor, c.Build, c.ServicePack),
                  c.Expected);
    }
}

TEST(SystemInfoTest, DescriptionIsCutTo80Characters) {
    const std::string servicePack(127, 'x');
    const std::string text =
        WindowsVersionDescription(winplatform::WindowsNT, 5, 1, 2600, servicePack);
    EXPECT_EQ(text.size(), kMaxSystemDescription);
    EXPECT_EQ(text.substr(0, 15), "Windows XP 5.1 ");
}

TEST(SystemInfoTest, ThisSystemIsOneShortLine) {
    const std::string text = OperatingSystemDescription();
    EXPECT_FALSE(text.empty());
    EXPECT_LE(text.size(), kMaxSystemDescription);
    for (char c : text)
        EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << text;
}

TEST(SystemInfoTest, LocalTimeIsACalendarTime) {
    const LocalDateTime now = LocalNow();
    EXPECT_GE(now.Year, 2000);
    EXPECT_GE(now.Month, 1);
    EXPECT_LE(now.Month, 12);
    EXPECT_GE(now.Day, 1);
    EXPECT_LE(now.Day, 31);
    EXPECT_LE(now.Hour, 23);
    EXPECT_LE(now.Minute, 59);
    EXPECT_LE(now.Second, 60);
}

} // namespace
} // namespace orvi::platform
