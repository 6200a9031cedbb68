#include "platform/SystemInfo.h"

namespace orvi::platform {

namespace {

// The service-pack letter of the 9x family: the first non-blank character of the
// service-pack text (" B" on Windows 95 OSR 2, " A" on Windows 98 SE).
char ServicePackLetter(std::string_view servicePack) {
    for (char c : servicePack) {
        if (c != ' ')
            return c;
    }
    return '\0';
}

std::string Name9x(uint32_t major, uint32_t minor, uint32_t build, std::string_view sp) {
    switch (minor) {
    case 0:
        return ServicePackLetter(sp) == 'B' ? "Win32 on Windows 95 OSR 2 "
                                            : "Win32 on Windows 95 OSR 1 ";
    case 10:
        return ServicePackLetter(sp) == 'A' ? "Win32 on Windows 98 OSR 2 "
                                            : "Win32 on Windows 98 OSR 1 ";
    case 90:
        return major == 4 && (build & 0xFFFFu) == 3000 ? "Win32 on Windows ME " : "";
    default:
        return "Win32 on Windows 9x";
    }
}

std::string NameNT(uint32_t major, uint32_t minor) {
    switch (major) {
    case 3:
        return "Windows NT 3.5 ";
    case 4:
        return "Windows NT 4 ";
    case 5:
        return minor == 0 ? "Windows 2000 " : minor == 1 ? "Windows XP " : "";
    default:
        return "WinNT ";
    }
}

} // namespace

std::string WindowsVersionDescription(uint32_t platformId, uint32_t major, uint32_t minor,
                                      uint32_t build, std::string_view servicePack) {
    std::string text;
    std::string_view sp = servicePack;
    switch (platformId) {
    case winplatform::Win32s:
        text = "Win32s on Windows ";
        break;
    case winplatform::Windows9x:
        text = Name9x(major, minor, build, servicePack);
        sp = {};
        break;
    case winplatform::WindowsNT:
        text = NameNT(major, minor);
        break;
    default:
        text = "Unknown";
        break;
    }
    text += std::to_string(major) + "." + std::to_string(minor) + " ";
    text += sp;
    if (text.size() > kMaxSystemDescription)
        text.resize(kMaxSystemDescription);
    return text;
}

} // namespace orvi::platform
