#pragma once
// What the dispatch log's header says about the machine: a one-line description of
// the operating system and the local date and time.
//
// Thread safety: no state is kept; any thread may call these at any time.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvi::platform {

// At most this many characters come back from OperatingSystemDescription.
constexpr std::size_t kMaxSystemDescription = 80;

// One line naming the operating system and its version, at most 80 characters.
std::string OperatingSystemDescription();

// Windows platform identifiers as reported in the version information.
namespace winplatform {
constexpr uint32_t Win32s = 0;
constexpr uint32_t Windows9x = 1;
constexpr uint32_t WindowsNT = 2;
} // namespace winplatform

// The description of a Windows version: a name chosen by platform and version, then
// "major.minor " and the service-pack text (left out on the 9x family). `build` is
// the version information's build number; on the 9x family only its low word counts.
// Pure, so it can be checked on every platform.
std::string WindowsVersionDescription(uint32_t platformId, uint32_t major, uint32_t minor,
                                      uint32_t build, std::string_view servicePack);

// Local calendar time, fields as on a calendar (Month 1-12, Day 1-31).
struct LocalDateTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
};

LocalDateTime LocalNow();

} // namespace orvi::platform
