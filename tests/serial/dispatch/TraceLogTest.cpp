#include "serial/dispatch/TraceLog.h"

#include "platform/SystemError.h"
#include "platform/SystemInfo.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace orvi {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

std::size_t CountOf(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// A device on which every write fails for lack of space (under wine the Unix root is
// drive Z:), and the errors of a file in a missing folder and of a folder as file name,
// as each system words them.
#if defined(_WIN32)
const std::string kDiskFull = "Z:\\dev\\full";
constexpr uint32_t kMissingFolderError = platform::syserr::PathNotFound;
constexpr uint32_t kFolderError = platform::syserr::AccessDenied;
#else
const std::string kDiskFull = "/dev/full";
constexpr uint32_t kMissingFolderError = platform::syserr::FileNotFound;
constexpr uint32_t kFolderError = platform::syserr::GenFailure;
#endif

// The file errors that a trace or log write returns.
struct FileErrorCase {
    std::string Path;
    int32_t Expected;
};

std::vector<FileErrorCase> FileErrorCases(const fs::path& dir, const std::string& name) {
    std::vector<FileErrorCase> cases = {
        {(dir / "missing" / name).string(), -int32_t(kMissingFolderError)},
        {dir.string(), -int32_t(kFolderError)},
    };
    // Opened, not looked up: under wine the device has no attributes to find.
    if (std::fstream(kDiskFull, std::ios::in | std::ios::out | std::ios::binary).is_open())
        cases.push_back({kDiskFull, -int32_t(platform::syserr::DiskFull)});
    return cases;
}

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() / ("tracelog-test-" + std::to_string(std::random_device()()));
        ASSERT_TRUE(fs::create_directory(dir_));
        traceLog_.SetClock([this] { return now_; });
        traceLog_.SetLocalTime([] { return platform::LocalDateTime{2024, 3, 7, 9, 5, 3}; });
        traceLog_.Reset(kStart);
        traceLog_.SetDeviceName("COM5");
        traceLog_.SetScratchSize(64);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path File(const std::string& name) const { return dir_ / name; }

    void Record(uint8_t kind, const std::string& bytes) {
        for (char c : bytes)
            traceLog_.TraceRecord(kind, uint8_t(c));
    }

    // Writes the trace in the given mode and returns the file's contents.
    std::string WrittenTrace(bool inHex, bool allHex = false) {
        const fs::path path = File("ORVI.TRC");
        EXPECT_EQ(traceLog_.TraceWrite(path.string(), false, inHex, allHex), 0);
        return ReadFile(path);
    }

    void LogAt(uint32_t ms, uint8_t type, uint8_t subtype, uint32_t data,
               const std::string& extra = {}) {
        now_ = kStart + ms;
        traceLog_.LogRecord(type, subtype, data, reinterpret_cast<const uint8_t*>(extra.data()),
                            uint32_t(extra.size()));
    }

    // Writes the log and returns the entry lines after the seven header lines.
    std::vector<std::string> WrittenLogEntries(bool inHex = true, bool allHex = false) {
        const fs::path path = File("ORVI.LOG");
        EXPECT_EQ(traceLog_.LogWrite(path.string(), false, inHex, allHex), 0);
        std::vector<std::string> lines = SplitLines(ReadFile(path));
        EXPECT_GE(lines.size(), 7u);
        lines.erase(lines.begin(), lines.begin() + std::min<std::size_t>(7, lines.size()));
        return lines;
    }

    static constexpr uint32_t kStart = 1000000;
    uint32_t now_ = kStart;
    fs::path dir_;
    TOrvTraceLog traceLog_;
};

// ---- trace file ----

TEST_F(TraceLogTest, TraceBlocksInHexMode) {
    ASSERT_EQ(traceLog_.TraceStart(100), 0);
    Record('T', "\x02"
                "ABC\x03");
    Record('R', "xy");
    EXPECT_EQ(WrittenTrace(true), "Transmit: \r\n[02]ABC[03]\r\n\r\nReceive: \r\nxy");
}

TEST_F(TraceLogTest, TraceBlocksInDecimalMode) {
    ASSERT_EQ(traceLog_.TraceStart(100), 0);
    Record('T', "\x02"
                "ABC\x03");
    Record('R', "xy");
    EXPECT_EQ(WrittenTrace(false), "Transmit: \r\n[2]ABC[3]\r\n\r\nReceive: \r\nxy");
}

TEST_F(TraceLogTest, EveryKindChangeStartsANewBlockAfterAnEmptyLine) {
    ASSERT_EQ(traceLog_.TraceStart(100), 0);
    Record('R', "a");
    Record('T', "bb");
    Record('X', "c");
    Record('R', "d");
    EXPECT_EQ(WrittenTrace(true), "Receive: \r\na\r\n\r\nTransmit: \r\nbb\r\n\r\n"
                                  "Special-X: \r\nc\r\n\r\nReceive: \r\nd");
}

struct ItemCase {
    uint8_t Byte;
    bool InHex;
    bool AllHex;
    const char* Text;
};

TEST_F(TraceLogTest, ItemsByModeAndValue) {
    const ItemCase cases[] = {
        {0x20, false, false, " "},     {0x20, true, false, "[20]"}, {0x21, true, false, "!"},
        {0x7E, false, false, "~"},     {0x7E, true, false, "~"},    {0x7F, true, false, "[7F]"},
        {0x7F, false, false, "[127]"}, {7, false, false, "[7]"},    {7, true, false, "[07]"},
        {31, false, false, "[31]"},    {10, false, false, "[10]"},  {200, false, false, "[200]"},
        {255, false, false, "[255]"},  {255, true, false, "[FF]"},  {'A', true, true, "[41]"},
        {0x20, false, true, "[20]"},   {0, false, false, "[0]"},
    };
    for (const ItemCase& c : cases) {
        SCOPED_TRACE(int(c.Byte));
        ASSERT_EQ(traceLog_.TraceStart(10), 0);
        traceLog_.TraceRecord('R', c.Byte);
        EXPECT_EQ(WrittenTrace(c.InHex, c.AllHex), std::string("Receive: \r\n") + c.Text);
    }
}

TEST_F(TraceLogTest, LinesWrapAt78Columns) {
    struct Case {
        std::string Bytes;
        bool InHex;
        std::string Items;
    };
    const Case cases[] = {
        {std::string(78, 'A') + "B", true, std::string(78, 'A') + "\r\nB"},
        {std::string(77, 'A') + "\x01", true, std::string(77, 'A') + "\r\n[01]"},
        {std::string(74, 'A') + "\x01", true, std::string(74, 'A') + "[01]"},
        {std::string(20, '\x01'), true,
         [] {
             std::string s;
             for (int i = 0; i < 19; ++i)
                 s += "[01]";
             return s + "\r\n[01]";
         }()},
        {std::string(27, '\x07'), false,
         [] {
             std::string s;
             for (int i = 0; i < 26; ++i)
                 s += "[7]";
             return s + "\r\n[7]";
         }()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Items);
        ASSERT_EQ(traceLog_.TraceStart(1000), 0);
        Record('R', c.Bytes);
        EXPECT_EQ(WrittenTrace(c.InHex), "Receive: \r\n" + c.Items);
    }
}

TEST_F(TraceLogTest, WrappedTraceWritesTheNewestEntriesOldestFirst) {
    ASSERT_EQ(traceLog_.TraceStart(10000), 0);
    for (uint32_t i = 0; i < 10003; ++i)
        traceLog_.TraceRecord(i < 3 ? 'R' : 'T', uint8_t('A' + i % 26));
    std::string letters;
    for (uint32_t i = 3; i < 10003; ++i)
        letters += char('A' + i % 26);
    std::string expected = "Transmit: \r\n";
    for (std::size_t at = 0; at < letters.size(); at += 78)
        expected += (at > 0 ? "\r\n" : "") + letters.substr(at, 78);
    EXPECT_EQ(WrittenTrace(true), expected);
}

// ---- trace states ----

TEST_F(TraceLogTest, EmptyTraceTouchesNoFileAndSwitchesOff) {
    ASSERT_EQ(traceLog_.TraceStart(100), 0);
    EXPECT_EQ(traceLog_.TraceWrite(File("t.trc").string(), false, true, false), 0);
    EXPECT_FALSE(fs::exists(File("t.trc")));
    EXPECT_FALSE(traceLog_.TraceOn());
    EXPECT_FALSE(traceLog_.TraceExists());
}

TEST_F(TraceLogTest, TraceWriteWithoutATraceDoesNothing) {
    EXPECT_EQ(traceLog_.TraceWrite(File("t.trc").string(), false, true, false), 0);
    EXPECT_FALSE(fs::exists(File("t.trc")));
}

TEST_F(TraceLogTest, TraceSizeLimit) {
    EXPECT_EQ(traceLog_.TraceStart(4000001), -1002);
    EXPECT_FALSE(traceLog_.TraceOn());
    EXPECT_FALSE(traceLog_.TraceExists());
    EXPECT_EQ(traceLog_.TraceStart(4000000), 0);
    EXPECT_TRUE(traceLog_.TraceOn());
}

TEST_F(TraceLogTest, PauseResumeClearAndRestart) {
    ASSERT_EQ(traceLog_.TraceStart(100), 0);
    Record('R', "a");
    traceLog_.TracePause();
    EXPECT_FALSE(traceLog_.TraceOn());
    Record('R', "b");
    traceLog_.TraceResume();
    Record('R', "c");
    EXPECT_EQ(WrittenTrace(true), "Receive: \r\nac");

    ASSERT_EQ(traceLog_.TraceStart(100), 0);
    Record('R', "old");
    EXPECT_EQ(traceLog_.TraceClear(), 0);
    EXPECT_TRUE(traceLog_.TraceOn());
    Record('T', "new");
    // Starting a running trace only clears it.
    ASSERT_EQ(traceLog_.TraceStart(5), 0);
    Record('T', "0123456789");
    EXPECT_EQ(WrittenTrace(true), "Transmit: \r\n0123456789");
}

TEST_F(TraceLogTest, ResumeNeedsABuffer) {
    traceLog_.TraceResume();
    EXPECT_FALSE(traceLog_.TraceOn());
    traceLog_.LogResume();
    EXPECT_FALSE(traceLog_.LogOn());
}

TEST_F(TraceLogTest, TraceAppendsOrReplaces) {
    const fs::path path = File("new.trc");
    ASSERT_EQ(traceLog_.TraceStart(10), 0);
    Record('R', "a");
    ASSERT_EQ(traceLog_.TraceWrite(path.string(), true, true, false), 0);
    EXPECT_EQ(ReadFile(path), "Receive: \r\na");

    ASSERT_EQ(traceLog_.TraceStart(10), 0);
    Record('T', "b");
    ASSERT_EQ(traceLog_.TraceWrite(path.string(), true, true, false), 0);
    EXPECT_EQ(ReadFile(path), "Receive: \r\naTransmit: \r\nb");

    ASSERT_EQ(traceLog_.TraceStart(10), 0);
    Record('T', "c");
    ASSERT_EQ(traceLog_.TraceWrite(path.string(), false, true, false), 0);
    EXPECT_EQ(ReadFile(path), "Transmit: \r\nc");
}

TEST_F(TraceLogTest, FailedTraceWritesReturnTheFileError) {
    for (const FileErrorCase& c : FileErrorCases(dir_, "ORVI.TRC")) {
        SCOPED_TRACE(c.Path);
        ASSERT_EQ(traceLog_.TraceStart(10), 0);
        Record('R', "abc");
        EXPECT_EQ(traceLog_.TraceWrite(c.Path, false, true, false), c.Expected);
        EXPECT_LT(c.Expected, 0);
        EXPECT_FALSE(traceLog_.TraceExists());
    }
}

// ---- log file ----

TEST_F(TraceLogTest, LogHeaderAndEntry) {
    traceLog_.LogStart(1000);
    LogAt(1234, 1, 1, 3, "OK\r");
    const fs::path path = File("ORVI.LOG");
    ASSERT_EQ(traceLog_.LogWrite(path.string(), false, true, false), 0);
    EXPECT_EQ(ReadFile(path), "ORVI v4.05\r\n"
                              "Compiler : Unknown\r\n"
                              "Operating System : " +
                                  platform::OperatingSystemDescription() +
                                  "\r\n"
                                  "Device: COM5\r\n"
                                  "Date/time: 07/03/24, 09:05:03\r\n"
                                  "Time      Type      SubType       Data      OtherData\r\n"
                                  "--------  --------  ------------  --------  ---------\r\n"
                                  "0001.234  Dispatch  ReadCom       00000003  OK[0D]\r\n");
    EXPECT_FALSE(traceLog_.LogExists());
}

TEST_F(TraceLogTest, LogEntryTexts) {
    traceLog_.LogStart(4000);
    LogAt(0, 1, 2, 0);
    LogAt(999, 2, 6, 0xABCDEF12);
    LogAt(1000, 10, 0, 1);
    LogAt(1001, 10, 0, 43);
    LogAt(1002, 5, 15, 0, "\x02");
    LogAt(1003, 6, 15, 0, "\x05zz");
    LogAt(1004, 5, 15, 0, "\x09");
    LogAt(1005, 7, 17, 0x1234);
    LogAt(12345678, 9, 16, 20);
    EXPECT_EQ(WrittenLogEntries(), (std::vector<std::string>{
                                       "0000.000  Dispatch  WriteCom      00000000  ",
                                       "0000.999  Trigger   Timer         ABCDEF12  ",
                                       "0001.000  Telnet                  00000001  [Echo]",
                                       "0001.001  Telnet                  0000002B  []",
                                       "0001.002  TrigAllc  Status        00000000  (Line status)",
                                       "0001.003  TrigDisp  Status        00000000  (Output sent)",
                                       "0001.004  TrigAllc  Status        00000000  ",
                                       "0001.005  TrgHdAlc  Window        00001234  ",
                                       "12345.678  TrDatChg  Avail         00000014  ",
                                   }));
}

TEST_F(TraceLogTest, ModemStatusBitNames) {
    traceLog_.LogStart(4000);
    LogAt(1, 3, 4, 0x11, "A");
    LogAt(2, 3, 4, 0xFF, "B");
    LogAt(3, 3, 4, 0x80, "C");
    LogAt(4, 3, 4, 0, "D");
    EXPECT_EQ(
        WrittenLogEntries(),
        (std::vector<std::string>{
            "0000.001  Error     Modem status  00000011  A(DCTS CTS)",
            "0000.002  Error     Modem status  000000FF  B(DCTS DDSR TERI DDCD CTS DSR RI DCD)",
            "0000.003  Error     Modem status  00000080  C(DCD)",
            "0000.004  Error     Modem status  00000000  D()",
        }));
}

TEST_F(TraceLogTest, UserEntriesAreCharactersInAllHexMode) {
    traceLog_.LogStart(4000);
    LogAt(1, 19, 0, 2,
          std::string("\x01"
                      "a",
                      2));
    LogAt(2, 1, 1, 2,
          std::string("\x01"
                      "a",
                      2));
    EXPECT_EQ(WrittenLogEntries(true, true),
              (std::vector<std::string>{
                  std::string("0000.001  User                    00000002  \x01"
                              "a"),
                  "0000.002  Dispatch  ReadCom       00000002  [01][61]",
              }));
}

TEST_F(TraceLogTest, LongEntriesContinueIndentedUnderTheData) {
    const std::string indent(44, ' ');
    traceLog_.LogStart(4000);
    LogAt(0, 1, 1, 40, std::string(40, 'A'));
    LogAt(0, 1, 1, 10, std::string(10, '\x01'));
    std::string eight;
    for (int i = 0; i < 8; ++i)
        eight += "[01]";
    EXPECT_EQ(WrittenLogEntries(),
              (std::vector<std::string>{
                  "0000.000  Dispatch  ReadCom       00000028  " + std::string(33, 'A'),
                  indent + std::string(7, 'A'),
                  "0000.000  Dispatch  ReadCom       0000000A  " + eight,
                  indent + "[01][01]",
              }));
}

TEST_F(TraceLogTest, FullLogDropsWholeOldestEntries) {
    // 36-byte entries in a 100-byte ring: two fit, and headers wrap around the end.
    traceLog_.LogStart(100);
    for (uint32_t n = 1; n <= 5; ++n)
        LogAt(n, 1, 2, n, std::string(20, char('a' + n)));
    EXPECT_EQ(WrittenLogEntries(false),
              (std::vector<std::string>{
                  "0000.004  Dispatch  WriteCom      00000004  " + std::string(20, 'e'),
                  "0000.005  Dispatch  WriteCom      00000005  " + std::string(20, 'f'),
              }));
}

TEST_F(TraceLogTest, EntryTooLargeForTheLogIsDropped) {
    traceLog_.LogStart(100);
    LogAt(1, 1, 1, 1, "x");
    LogAt(2, 1, 1, 84, std::string(84, 'y')); // 16 + 84 = 100: cannot fit
    EXPECT_EQ(WrittenLogEntries(false), (std::vector<std::string>{
                                            "0000.001  Dispatch  ReadCom       00000001  x",
                                        }));
    traceLog_.LogStart(100);
    LogAt(1, 1, 1, 1, "x");
    LogAt(2, 1, 1, 83, std::string(83, 'z')); // fits, after dropping the rest
    const std::vector<std::string> lines = WrittenLogEntries(false);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "0000.002  Dispatch  ReadCom       00000053  " + std::string(33, 'z'));
}

TEST_F(TraceLogTest, LargestDeviceReadIsWrittenWhole) {
    // The scratch hint (64) is far below one device read of 8192 bytes.
    std::string bytes;
    for (int i = 0; i < 8192; ++i)
        bytes += char('A' + i % 26);
    traceLog_.LogStart(20000);
    LogAt(7, 1, 1, 8192, bytes);
    const std::vector<std::string> lines = WrittenLogEntries(false);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].substr(0, 44), "0000.007  Dispatch  ReadCom       00002000  ");
    std::string items;
    for (const std::string& line : lines) {
        ASSERT_LE(line.size(), 78u);
        items += line.substr(44);
    }
    EXPECT_EQ(items, bytes);
}

TEST_F(TraceLogTest, EmptyLogTouchesNoFileAndFreesTheBuffer) {
    traceLog_.LogStart(100);
    EXPECT_EQ(traceLog_.LogWrite(File("e.log").string(), false, true, false), 0);
    EXPECT_FALSE(fs::exists(File("e.log")));
    EXPECT_FALSE(traceLog_.LogExists());
    EXPECT_FALSE(traceLog_.LogOn());
}

TEST_F(TraceLogTest, PausedOrClearedLogKeepsNothing) {
    traceLog_.LogStart(1000);
    traceLog_.LogPause();
    LogAt(1, 1, 1, 0);
    traceLog_.LogResume();
    LogAt(2, 1, 2, 0);
    EXPECT_EQ(WrittenLogEntries().size(), 1u);

    traceLog_.LogStart(1000);
    LogAt(3, 1, 1, 0);
    traceLog_.LogClear();
    EXPECT_EQ(traceLog_.LogWrite(File("c.log").string(), false, true, false), 0);
    EXPECT_FALSE(fs::exists(File("c.log")));
}

TEST_F(TraceLogTest, LogAppendCreatesAMissingFile) {
    const fs::path path = File("sub.log");
    traceLog_.LogStart(1000);
    LogAt(1, 1, 1, 0);
    ASSERT_EQ(traceLog_.LogWrite(path.string(), true, true, false), 0);
    const std::string first = ReadFile(path);
    EXPECT_EQ(SplitLines(first).size(), 8u);

    traceLog_.LogStart(1000);
    LogAt(2, 1, 2, 0);
    ASSERT_EQ(traceLog_.LogWrite(path.string(), true, true, false), 0);
    const std::string both = ReadFile(path);
    EXPECT_EQ(both.substr(0, first.size()), first);
    EXPECT_EQ(SplitLines(both).size(), 16u);
}

TEST_F(TraceLogTest, FailedLogWriteKeepsEveryEntry) {
    for (const FileErrorCase& c : FileErrorCases(dir_, "ORVI.LOG")) {
        SCOPED_TRACE(c.Path);
        traceLog_.LogStart(1000);
        LogAt(1, 1, 1, 1, "a");
        LogAt(2, 1, 2, 1, "b");
        EXPECT_EQ(traceLog_.LogWrite(c.Path, false, true, false), c.Expected);
        EXPECT_LT(c.Expected, 0);
        EXPECT_TRUE(traceLog_.LogExists());
        EXPECT_FALSE(traceLog_.LogOn());
        LogAt(3, 1, 1, 1, "c"); // off: not recorded
        EXPECT_EQ(WrittenLogEntries(),
                  (std::vector<std::string>{"0000.001  Dispatch  ReadCom       00000001  a",
                                            "0000.002  Dispatch  WriteCom      00000001  b"}));
    }
}

TEST_F(TraceLogTest, ResetDropsTraceAndLog) {
    ASSERT_EQ(traceLog_.TraceStart(10), 0);
    traceLog_.LogStart(100);
    Record('R', "a");
    LogAt(1, 1, 1, 0);
    traceLog_.Reset(kStart);
    EXPECT_FALSE(traceLog_.TraceExists());
    EXPECT_FALSE(traceLog_.LogExists());
    EXPECT_FALSE(traceLog_.TraceOn());
    EXPECT_FALSE(traceLog_.LogOn());
}

TEST_F(TraceLogTest, RecordingFromSeveralThreadsKeepsEveryEntry) {
    traceLog_.LogStart(1000000);
    ASSERT_EQ(traceLog_.TraceStart(100000), 0);
    auto worker = [this](uint8_t kind) {
        const uint8_t byte = kind;
        for (int i = 0; i < 2000; ++i) {
            traceLog_.LogRecord(1, kind == 'R' ? 1 : 2, uint32_t(i), &byte, 1);
            traceLog_.TraceRecord(kind, byte);
        }
    };
    std::thread a(worker, uint8_t('R'));
    std::thread b(worker, uint8_t('T'));
    a.join();
    b.join();
    EXPECT_EQ(WrittenLogEntries().size(), 4000u);
    const std::string trace = WrittenTrace(true);
    EXPECT_EQ(CountOf(trace, "R") - CountOf(trace, "Receive: "), 2000u);
    EXPECT_EQ(CountOf(trace, "T") - CountOf(trace, "Transmit: "), 2000u);
}

} // namespace
} // namespace orvi
