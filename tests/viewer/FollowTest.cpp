// Following a log on the indexing thread, on a real file that the test writes as a run
// would: records appear as lines are completed, a torn last line is waited for, a file
// emptied by a new run (or cut while mapped) starts over without a crash, and cancelling
// keeps what was indexed.
#include "tests/support/TempDir.h"
#include "tests/support/WaitFor.h"
#include "viewer/IndexedLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

namespace orvi::viewer {
namespace {

std::string Line(int tick) {
    return std::to_string(tick) + " 25.5 300 25.5 300 25.5 300 25.5 300 1.5 -2 7\r\n";
}

void Append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

uint64_t Records(const TIndexedLog& log) {
    return log.Query([](const TLogIndex& index, const TByteReader&) { return index.Records(); });
}

// Polls as the window's timer does until `records` are indexed.
bool FollowUntil(TIndexedLog& log, uint64_t records) {
    return testing::WaitFor([&] {
        log.Poll();
        return Records(log) == records && log.Done();
    });
}

TEST(ViewerFollow, GrowsWithTheFileAndWaitsForTornLines) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("run.txt");
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += Line(1000 + 10 * i);
    Append(path, bytes);
    std::string error;
    auto log = TIndexedLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    log->Start();
    ASSERT_TRUE(FollowUntil(*log, 5000));

    const std::string next = Line(60000);
    Append(path, next.substr(0, 20)); // a line still being written
    ASSERT_TRUE(FollowUntil(*log, 5000));
    EXPECT_EQ(log->IndexedBytes(), bytes.size());
    Append(path, next.substr(20) + Line(60010));
    ASSERT_TRUE(FollowUntil(*log, 5002));
    EXPECT_EQ(log->Query([](const TLogIndex& index, const TByteReader&) { return index.LastMs(); }),
              59010);

    // A new run empties the file: the bytes mapped are gone, reading them fails, and Poll
    // says to start over.
    std::filesystem::resize_file(path, 0);
    const bool readable = log->Query([](const TLogIndex& index, const TByteReader& read) {
        return index.ForEach(read, 0, 1 << 30, [](const TSample&) { return true; });
    });
    EXPECT_FALSE(readable);
    EXPECT_EQ(log->Poll(), TIndexedLog::TChange::StartedOver);
    Append(path, Line(5) + Line(6));
    log = TIndexedLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    log->Start();
    ASSERT_TRUE(FollowUntil(*log, 2));
}

// A last line without its line end shows once the file stays as it is; when the line goes
// on after all, the record shown is taken back and the whole line read once.
TEST(ViewerFollow, UnterminatedLastLineShowsWhenTheFileStaysAsItIs) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("run.txt");
    const std::string last = Line(300);
    Append(path, Line(100) + Line(200) + last.substr(0, last.size() - 2)); // "... 7", no end
    std::string error;
    auto log = TIndexedLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    log->Start(std::chrono::milliseconds(20));
    ASSERT_TRUE(FollowUntil(*log, 3));
    const auto lastZero = [&] {
        return log->Query([](const TLogIndex& index, const TByteReader& read) {
            double zero = 0;
            index.ForEach(read, 200, 200, [&](const TSample& s) {
                zero = s.Record.Values.back();
                return true;
            });
            return zero;
        });
    };
    EXPECT_EQ(lastZero(), 7);
    Append(path, "5\r\n" + Line(400)); // the zero count was 75
    ASSERT_TRUE(FollowUntil(*log, 4));
    EXPECT_EQ(lastZero(), 75);
    EXPECT_EQ(log->Query([](const TLogIndex& index, const TByteReader&) {
        return index.Lines() * 10 + index.Malformed();
    }),
              40u);
}

TEST(ViewerFollow, ReplacedFileStartsOverAndCancelKeepsWhatIsIndexed) {
    testing::TempDir dir;
    const std::string path = dir.FilePath("run.txt");
    Append(path, Line(100) + Line(200));
    std::string error;
    auto log = TIndexedLog::Open(path, error);
    ASSERT_TRUE(log) << error;
    log->Start();
    ASSERT_TRUE(FollowUntil(*log, 2));
    { std::ofstream(path, std::ios::binary | std::ios::trunc) << Line(7) + Line(8) + Line(9); }
    EXPECT_EQ(log->Poll(), TIndexedLog::TChange::StartedOver);
    log->Cancel();
    log->Cancel();
    EXPECT_TRUE(log->Done());
    EXPECT_EQ(Records(*log), 2u);
}

} // namespace
} // namespace orvi::viewer
