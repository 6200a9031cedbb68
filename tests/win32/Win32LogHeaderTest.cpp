// The dispatch log's header names the system as the system reports itself. Under wine
// the Windows version a program sees can be chosen per program name
// (HKCU\Software\Wine\AppDefaults\<program>\Version), so the test copies itself under
// one name per version, runs the copy's child case, which writes a dispatch log through
// the com port component, and checks the "Operating System : " line of each log.
#include "platform/PortNames.h"
#include "serial/ComPort.h"
#include "tests/win32/WineSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace orvi::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLogFileVariable = "ORVI_LOG_HEADER_FILE";

std::vector<std::string> Lines(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<std::string> lines;
    std::string all = text.str();
    for (size_t start = 0, end; (end = all.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        lines.push_back(all.substr(start, end - start));
    return lines;
}

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Runs `program` with a gtest filter and waits for it; its exit code, or -1.
int RunChild(const fs::path& program, const std::string& filter) {
    std::string command = "\"" + program.string() + "\" --gtest_filter=" + filter;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

// A copy of this program that wine runs as the given Windows version.
class VersionedCopy {
public:
    VersionedCopy(const fs::path& folder, const std::string& version)
        : path_(folder / ("orvi_log_header_" + version + ".exe")),
          key_("Software\\Wine\\AppDefaults\\" + path_.filename().string()) {
        char self[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, self, MAX_PATH);
        ok_ = CopyFileA(self, path_.string().c_str(), FALSE) &&
              RegSetKeyValueA(HKEY_CURRENT_USER, key_.c_str(), "Version", REG_SZ, version.c_str(),
                              DWORD(version.size() + 1)) == ERROR_SUCCESS;
    }
    ~VersionedCopy() {
        RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
        DeleteFileA(path_.string().c_str());
    }
    VersionedCopy(const VersionedCopy&) = delete;
    VersionedCopy& operator=(const VersionedCopy&) = delete;

    bool Ready() const { return ok_; }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
    std::string key_;
    bool ok_ = false;
};

struct VersionCase {
    const char* Version; // wine's name of the Windows version
    const char* Description;
};

TEST(Win32LogHeaderTest, OperatingSystemLineNamesTheReportedVersion) {
    const int echo = PeerPort("ORVI_WINE_ECHO_PORT");
    if (echo == 0)
        GTEST_SKIP() << SkipText("ORVI_WINE_ECHO_PORT");
    if (!UnderWine())
        GTEST_SKIP() << "the reported Windows version is chosen per program under wine only";
    const fs::path folder =
        fs::temp_directory_path() / ("orvi-log-header-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder);
    const VersionCase cases[] = {
        {"nt40", "Windows NT 4 4.0 Service Pack 6a"},
        {"win2k", "Windows 2000 5.0 Service Pack 4"},
        {"winxp", "Windows XP 5.1 Service Pack 3"},
        {"winxp64", "5.2 Service Pack 2"},
        {"win7", "WinNT 6.1 Service Pack 1"},
        // From Windows 8 on, a program without a compatibility manifest is told 6.2.
        {"win10", "WinNT 6.2 "},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.Version);
        const fs::path log = folder / (std::string(c.Version) + ".LOG");
        VersionedCopy copy(folder, c.Version);
        ASSERT_TRUE(copy.Ready());
        SetEnvironmentVariableA(kLogFileVariable, log.string().c_str());
        const int exitCode = RunChild(copy.Path(), "Win32LogHeaderChild.*");
        SetEnvironmentVariableA(kLogFileVariable, nullptr);
        ASSERT_EQ(exitCode, 0);
        const auto lines = Lines(log);
        ASSERT_GE(lines.size(), 8u);
        EXPECT_EQ(lines[0], "ORVI v4.05");
        EXPECT_EQ(lines[2], std::string("Operating System : ") + c.Description);
        EXPECT_EQ(lines[3], "Device: COM" + std::to_string(echo));
        const std::string sent = "Dispatch  WriteCom      00000003  abc";
        EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                               [&](const std::string& l) { return l.substr(10) == sent; }),
                  lines.end());
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

// The child's part: one open, one block sent, and the close writes the dispatch log.
TEST(Win32LogHeaderChild, WritesTheDispatchLogOnClose) {
    const char* file = std::getenv(kLogFileVariable);
    if (file == nullptr)
        GTEST_SKIP() << "run by Win32LogHeaderTest";
    TOrvComPort port;
    port.SetAutoOpen(false);
    port.SetComNumber(uint16_t(PeerPort("ORVI_WINE_ECHO_PORT")));
    port.SetLogName(file);
    port.SetLogging(tlOn);
    port.SetOpen(true);
    port.SendBlock("abc", 3);
    port.SetOpen(false);
    EXPECT_TRUE(fs::exists(file));
}

} // namespace
} // namespace orvi::testing
