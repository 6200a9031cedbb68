// The data log file on Windows: created over an existing file of a Cyrillic name, held
// against a second writer while a viewer may read it, every line in the file as soon as it
// is written, CR LF bytes exact, and the replay reading back what was written; the serial
// trace and dispatch log kept under a Cyrillic name.
#include "app/DataLog.h"
#include "app/LogReplay.h"
#include "app/SensorProtocol.h"
#include "serial/Exceptions.h"
#include "serial/dispatch/TraceLog.h"
#include "tests/support/TempDir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace orvi::app {
namespace {

HANDLE OpenFile(const std::string& path, DWORD access) {
    const std::filesystem::path name(std::u8string(path.begin(), path.end()));
    return CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string ReadAll(HANDLE file) {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
        bytes.append(chunk, got);
    return bytes;
}

// A record as a poll makes it: temperatures and angles from raw device values.
TMeasurementRecord RandomRecord(std::mt19937& random) {
    std::uniform_int_distribution<int> code(0, 65535), word(-32768, 32767);
    TMeasurementRecord r;
    for (double& t : r.Housing)
        t = TemperatureFromCode(uint16_t(code(random)));
    for (double& t : r.Sensor)
        t = TemperatureFromCode(uint16_t(code(random)));
    r.Roll = word(random) / 100.0;
    r.Pitch = word(random) / 100.0;
    r.ZeroCount = int16_t(word(random));
    r.Tick = int32_t(random());
    return r;
}

TEST(Win32DataLog, HeldWrittenThroughAndReadBackByTheReplay) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("данные.txt");
    HANDLE old = OpenFile(path, GENERIC_WRITE);
    ASSERT_NE(old, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(old, "old line\r\n", 10, &written, nullptr);
    CloseHandle(old);

    TDataLog log(path);
    HANDLE viewer = OpenFile(path, GENERIC_READ);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE)
        << "a viewer may read the log, error " << GetLastError();
    EXPECT_EQ(ReadAll(viewer), "") << "the existing file is emptied";
    EXPECT_THROW(TDataLog second(path), EInOutError);
    EXPECT_EQ(OpenFile(path, GENERIC_WRITE), INVALID_HANDLE_VALUE) << "another program's writer";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));

    constexpr int kLines = 40;
    std::mt19937 random(20261209);
    std::string lines;
    for (int i = 0; i < kLines; ++i) {
        const std::string line = LogLine(RandomRecord(random));
        log.Write(line);
        lines += line;
        ASSERT_EQ(ReadAll(viewer), lines) << "line " << i << " is not in the file yet";
    }
    CloseHandle(viewer);
    log.Close();

    TLogReader reader(path);
    std::string readBack;
    for (int i = 0; i < kLines; ++i) {
        TMeasurementRecord read;
        reader.ReadLogRecord(read);
        readBack += LogLine(read);
    }
    EXPECT_EQ(readBack, lines);
}

// A name that the ANSI code page cannot hold is kept as the operator typed it.
TEST(Win32DataLog, TraceAndDispatchLogKeepACyrillicName) {
    testing::TempDir dir;
    TOrvTraceLog files;
    ASSERT_EQ(files.TraceStart(10), 0);
    files.TraceRecord('T', 'a');
    files.SetScratchSize(64);
    files.LogStart(1000);
    files.LogRecord(1, 1, 1, reinterpret_cast<const uint8_t*>("a"), 1);
    const std::string trace = dir.FilePath("трасса.trc");
    const std::string log = dir.FilePath("журнал.log");
    ASSERT_EQ(files.TraceWrite(trace, false, false, false), 0);
    ASSERT_EQ(files.LogWrite(log, false, false, false), 0);
    for (const std::string& path : {trace, log}) {
        SCOPED_TRACE(path);
        HANDLE file = CreateFileW(
            std::filesystem::path(std::u8string(path.begin(), path.end())).c_str(), GENERIC_READ,
            FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << "no file of that name";
        EXPECT_FALSE(ReadAll(file).empty());
        CloseHandle(file);
    }
}

} // namespace
} // namespace orvi::app
