#include "platform/SerialDeviceMap.h"

#include <windows.h>

namespace orvi::platform {

namespace {

constexpr const char* kKeyPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr size_t kMaxBuffer = 1 << 16;

// The map's key, opened for reading only; closed when the holder goes.
class MapKey {
public:
    MapKey() {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKeyPath, 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~MapKey() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    MapKey(const MapKey&) = delete;
    MapKey& operator=(const MapKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

bool IsText(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// Registry strings need not end in a zero: take the bytes up to the first one.
std::string TextOf(const std::string& bytes) {
    const size_t end = bytes.find('\0');
    return end == std::string::npos ? bytes : bytes.substr(0, end);
}

} // namespace

bool ReadSerialDeviceMap(const std::string& valueName, std::string& portName) {
    MapKey key;
    if (key.Get() == nullptr)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        !IsText(type))
        return false;
    std::string data(size, '\0');
    if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS ||
        !IsText(type))
        return false;
    data.resize(size);
    portName = TextOf(data);
    return true;
}

std::vector<std::pair<std::string, std::string>> SerialDeviceMapEntries() {
    std::vector<std::pair<std::string, std::string>> entries;
    MapKey key;
    if (key.Get() == nullptr)
        return entries;
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &maxName, &maxData, nullptr, nullptr) != ERROR_SUCCESS)
        return entries;
    std::string name(maxName + 1, '\0');
    std::string data(maxData + 1, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD nameSize = DWORD(name.size());
        DWORD dataSize = DWORD(data.size());
        DWORD type = 0;
        const LONG r = RegEnumValueA(key.Get(), index, name.data(), &nameSize, nullptr, &type,
                                     reinterpret_cast<BYTE*>(data.data()), &dataSize);
        if (r == ERROR_MORE_DATA && name.size() < kMaxBuffer && data.size() < kMaxBuffer) {
            // A value was added or grew since the sizes were asked for.
            name.resize(name.size() * 2);
            data.resize(data.size() * 2);
            --index;
            continue;
        }
        if (r != ERROR_SUCCESS)
            break;
        if (IsText(type))
            entries.emplace_back(name.substr(0, nameSize), TextOf(data.substr(0, dataSize)));
    }
    return entries;
}

} // namespace orvi::platform
