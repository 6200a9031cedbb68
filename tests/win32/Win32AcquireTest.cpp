// orvi_acquire.exe under wine against the device simulator of scripts/wine-tests.sh: a run on
// the named port, a run on the port that the serial device map search finds (its first
// entry cannot be opened), the JSON stream, and the statuses of a missing port and a bad
// command line.
#include "tests/support/TempDir.h"
#include "tests/win32/WineSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace orvi::testing {
namespace {

// The program's path as wine sees it: drive Z: is the root of the Linux tree.
std::string ProgramPath() {
    std::string path = "Z:" + std::string(ORVI_ACQUIRE_PATH);
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return path;
}

HANDLE Inheritable(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs orvi_acquire with `arguments`, standard output into `outPath`; the exit status, or
// -1 when it could not be started or did not end within a minute.
int RunAcquire(const std::string& arguments, const std::string& outPath) {
    const HANDLE out = Inheritable(outPath);
    STARTUPINFOA start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = out;
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    std::string line = "\"" + ProgramPath() + "\" " + arguments;
    const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &start, &process);
    CloseHandle(out);
    if (!started)
        return -1;
    DWORD status = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &status);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(status);
}

size_t Count(const std::string& bytes, const std::string& what) {
    size_t n = 0;
    for (size_t at = 0; (at = bytes.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

TEST(Win32Acquire, RunsAgainstTheSimulator) {
    const int sim = PeerPort("ORVI_WINE_SIM_PORT");
    if (sim == 0)
        GTEST_SKIP() << SkipText("ORVI_WINE_SIM_PORT");
    TempDir dir;
    const std::string log = dir.FilePath("log.txt"), out = dir.FilePath("out.txt");
    const std::string port = "--port COM" + std::to_string(sim);

    EXPECT_EQ(RunAcquire(port + " --polls 5 --log \"" + log + "\"", out), 0);
    std::string bytes = FileBytes(log);
    EXPECT_EQ(Count(bytes, "\r\n"), 5u) << bytes;
    EXPECT_EQ(Count(bytes, " "), 5u * 11) << "twelve fields a line";
    EXPECT_EQ(FileBytes(out), "");

    EXPECT_EQ(RunAcquire("--polls 3 --json --log \"" + log + "\"", out), 0) << "found by search";
    EXPECT_EQ(Count(FileBytes(log), "\r\n"), 3u);
    const std::string json = FileBytes(out);
    EXPECT_EQ(Count(json, "{\"seq\":"), 3u) << json;
    EXPECT_EQ(json.rfind("{\"seq\":1,\"tick\":", 0), 0u) << "seq is the line in the log: " << json;
    EXPECT_NE(json.find("\n{\"seq\":3,\"tick\":"), std::string::npos) << json;
    EXPECT_EQ(Count(json, "\"zero_count\":"), 3u) << json;
    EXPECT_EQ(Count(json, "\n"), 3u) << json;
    EXPECT_EQ(Count(json, "\r"), 0u) << "a JSON line ends in LF alone, as on Linux";

    EXPECT_EQ(RunAcquire("--port COM" + std::to_string(PeerPort("ORVI_WINE_MISSING_PORT")), out),
              3);
    EXPECT_EQ(RunAcquire("--polls none", out), 2);
}

} // namespace
} // namespace orvi::testing
