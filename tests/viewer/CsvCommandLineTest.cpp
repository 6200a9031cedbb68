// The CSV export through the command line's run: every value byte-equal to the log's
// field, the range bounds inclusive, the header from the record's field table, the local
// time of a date-named log; the statistics of a range against brute force; an output that
// is the log refused, a cancelled export leaving the old file; the export in pieces on a
// thread of its own while the index is queried; and the exit statuses of bad command lines
// and bad files, of the real program where it is built.
#include "tests/support/TempDir.h"
#include "viewer/CommandLine.h"
#include "viewer/CsvExport.h"
#include "viewer/IndexedLog.h"
#include "viewer/LogParse.h"
#include "viewer/RangeStats.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace orvi::viewer {
namespace {

std::vector<std::string> Split(const std::string& text, const std::string& by) {
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t next; (next = text.find(by, at)) != std::string::npos; at = next + by.size())
        parts.push_back(text.substr(at, next - at));
    parts.push_back(text.substr(at));
    return parts;
}

// Ticks 1000, 1500, 2500, 4000 (0, 0.5, 1.5, 3 s), values in the forms a log may hold.
const char* const kLines[] = {
    "1000 25.85 300 -0.5 1E-6 +7 26 26.125 -1E15 10.5 -3.25 -17",
    "1500\t25.9  301 -0.25 0.00001 7 26 26 0 10 -3 32767",
    "2500 26 302 0 0 7 26 26 0 10 -3 -32768",
    "4000 26.1 303 0.25 2 7 26 26 0 10 -3 0",
};

std::string WriteLog(const testing::TempDir& dir, const std::string& name) {
    std::string bytes;
    for (const char* line : kLines)
        bytes += std::string(line) + (bytes.size() % 2 ? "\n" : "\r\n");
    bytes.insert(bytes.find("2500"), "2000 not a record\r\n");
    const std::string path = dir.FilePath(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::vector<std::vector<std::string>> Csv(const std::vector<std::string>& args, std::string& err) {
    TCommandLine line;
    std::string error;
    EXPECT_TRUE(ParseCommandLine(args, line, error)) << error;
    std::ostringstream errors;
    EXPECT_EQ(RunCsv(line, errors), kExitOk);
    err = errors.str();
    std::vector<std::vector<std::string>> rows;
    const std::vector<std::string> lines = Split(testing::FileBytes(line.Output), "\r\n");
    EXPECT_EQ(lines.back(), ""); // every row ends in CR LF
    for (size_t i = 0; i + 1 < lines.size(); ++i)
        rows.push_back(Split(lines[i], ","));
    return rows;
}

TEST(ViewerCsv, ValuesAreTheLogsFieldsWithinInclusiveBounds) {
    testing::TempDir dir;
    const std::string log = WriteLog(dir, "run.txt");
    const std::string out = dir.FilePath("out.csv");
    std::string err;
    const auto rows = Csv({"--csv", out, "--from", "0.5", "--to", "3", log}, err);
    EXPECT_NE(err.find("line 3 skipped"), std::string::npos) << err;
    ASSERT_EQ(rows.size(), 4u); // the header and the records at 0.5, 1.5 and 3 s
    std::vector<std::string> header{"time (s)"};
    for (const app::TRecordField& field : app::RecordFields())
        header.push_back(std::string(field.Key) +
                         (field.Unit.empty() ? "" : " (" + std::string(field.Unit) + ")"));
    EXPECT_EQ(rows[0], header);
    const char* const times[] = {"0.500", "1.500", "3.000"};
    for (size_t r = 1; r < rows.size(); ++r) {
        std::array<std::string_view, app::kRecordFieldCount> fields;
        ASSERT_TRUE(SplitFields(kLines[r], fields));
        std::vector<std::string> expected{times[r - 1]};
        expected.insert(expected.end(), fields.begin(), fields.end());
        EXPECT_EQ(rows[r], expected);
    }
    // Bounds just inside the records' times leave them out.
    EXPECT_EQ(Csv({"--csv", out, "--from", "0.5001", "--to", "2.999", log}, err).size(), 2u);
    EXPECT_EQ(Csv({"--csv", out, log}, err).size(), 5u);
}

TEST(ViewerCsv, DateNamedLogHasLocalTimes) {
    testing::TempDir dir;
    // The console's name, and the acquirer's second file of the same minute.
    for (const char* name : {"2024_2_29_23_59.txt", "2024_2_29_23_59_2.txt"}) {
        const std::string log = WriteLog(dir, name);
        std::string err;
        const auto rows = Csv({"--csv", dir.FilePath("out.csv"), "--from", "3", log}, err);
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0][1], "local time");
        EXPECT_EQ(rows[1][1], "2024-02-29T23:59:03.000");
    }
    for (const char* name : {"2024_2_29_23_59_1.txt", "2024_2_29_23_59_02.txt",
                             "2024_2_29_23_59_.txt", "2024_2_30_23_59_2.txt"})
        EXPECT_FALSE(ParseDateName(name)) << name;
}

// A log of random values, spikes and values that are not finite; --stats over the whole
// log and a range inside it against a walk over every line: count, values left out, min
// and max as the log's text with the time of their first record, mean and sample deviation
// to 10 significant digits.
TEST(ViewerStats, EqualsBruteForce) {
    testing::TempDir dir;
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, 2);
    std::uniform_int_distribution<int> percent(0, 99);
    std::string bytes;
    std::vector<std::vector<std::string>> fields; // of every record line
    for (int i = 0; i < 9000; ++i) {
        std::vector<std::string> line{std::to_string(100000 + i * 10)};
        for (size_t c = 0; c < kChannelCount; ++c) {
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", 1000.0 * double(c) + noise(random));
            const int roll = percent(random);
            line.push_back(roll == 0 ? "nan" : roll == 1 ? "-inf" : roll == 2 ? "5e3" : text);
        }
        line.back() = std::to_string(percent(random) - 50);
        for (const std::string& f : line)
            bytes += f + (&f == &line.back() ? "\r\n" : " ");
        fields.push_back(line);
    }
    const std::string log = dir.FilePath("run.txt");
    std::ofstream(log, std::ios::binary) << bytes;
    for (const auto& [from, to] : {std::pair<double, double>{-1, 1e9}, {13.3755, 71.2}}) {
        SCOPED_TRACE(from);
        TCommandLine line;
        std::string error;
        ASSERT_TRUE(ParseCommandLine(
            {"--stats", "--from", std::to_string(from), "--to", std::to_string(to), log}, line,
            error));
        std::ostringstream out, err;
        ASSERT_EQ(RunStats(line, out, err), kExitOk) << err.str();
        const std::vector<std::string> rows = Split(out.str(), "\r\n");
        ASSERT_EQ(rows.size(), kChannelCount + 2);
        EXPECT_EQ(rows[0], "channel,unit,count,not finite,min,min time (s),max,max time (s),mean,"
                           "standard deviation");
        for (size_t c = 0; c < kChannelCount; ++c) {
            uint64_t count = 0, notFinite = 0;
            double min = HUGE_VAL, max = -HUGE_VAL;
            long double sum = 0, squares = 0;
            std::string minText, maxText, minTime, maxTime;
            for (size_t r = 0; r < fields.size(); ++r) {
                const double seconds = double(r) / 100;
                if (seconds < from || seconds > to)
                    continue;
                const std::string& text = fields[r][c + 1];
                const double v = std::strtod(text.c_str(), nullptr);
                if (!std::isfinite(v)) {
                    ++notFinite;
                    continue;
                }
                ++count;
                sum += v;
                squares += (long double)v * v;
                char time[32];
                std::snprintf(time, sizeof time, "%.3f", seconds);
                if (v < min)
                    min = v, minText = text, minTime = time;
                if (v > max)
                    max = v, maxText = text, maxTime = time;
            }
            const long double mean = sum / count;
            const double deviation = double(std::sqrt((squares - sum * mean) / (count - 1)));
            const std::vector<std::string> row = Split(rows[c + 1], ",");
            ASSERT_EQ(row.size(), 10u) << rows[c + 1];
            EXPECT_EQ(row[0], app::RecordFields()[c + 1].Key);
            EXPECT_EQ(row[2], std::to_string(count));
            EXPECT_EQ(row[3], std::to_string(notFinite));
            EXPECT_EQ((std::vector<std::string>{row[4], row[5], row[6], row[7]}),
                      (std::vector<std::string>{minText, minTime, maxText, maxTime}));
            EXPECT_NEAR(std::stod(row[8]), double(mean), 1e-10 * std::abs(double(mean)) + 1e-12);
            EXPECT_NEAR(std::stod(row[9]), deviation, 1e-9 * deviation);
        }
        EXPECT_NE(err.str().find("not a finite number"), std::string::npos);
    }
}

// An output that is the log itself, also through a symbolic or a hard link, is refused
// with status 2 and the log stays; a cancelled export leaves the old output as it was and
// no temporary file behind.
TEST(ViewerCsv, NeverOverwritesTheLogNorLeavesHalfFiles) {
    testing::TempDir dir;
    const std::string log = WriteLog(dir, "run.txt");
    const std::string before = testing::FileBytes(log);
    // Windows may refuse links to a user without the right: those cases are left out there.
    std::vector<std::string> outputs{"run.txt"};
    std::error_code ec;
    std::filesystem::create_symlink(log, dir.FilePath("link.txt"), ec);
    if (!ec)
        outputs.push_back("link.txt");
    std::filesystem::create_hard_link(log, dir.FilePath("hard.txt"), ec);
    if (!ec)
        outputs.push_back("hard.txt");
    for (const std::string& out : outputs) {
        TCommandLine line;
        std::string error;
        ASSERT_TRUE(ParseCommandLine({"--csv", dir.FilePath(out), log}, line, error));
        std::ostringstream err;
        EXPECT_EQ(RunCsv(line, err), kExitUsage) << out;
        EXPECT_NE(err.str().find("is the log"), std::string::npos) << err.str();
        EXPECT_EQ(testing::FileBytes(log), before);
    }
    std::string error;
    const auto opened = TIndexedLog::Open(log, error);
    ASSERT_TRUE(opened);
    opened->IndexHere();
    const std::string old = dir.FilePath("old.csv");
    std::ofstream(old) << "old";
    const TExportResult cancelled = ExportCsvFile(*opened, {0, 1 << 30}, std::nullopt, old,
                                                  [](uint64_t, uint64_t) { return false; });
    EXPECT_EQ(cancelled.Status, TExportStatus::Cancelled);
    EXPECT_EQ(testing::FileBytes(old), "old");
    EXPECT_EQ(ExportCsvFile(*opened, {0, 1 << 30}, std::nullopt, log, nullptr).Status,
              TExportStatus::SameFile);
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        ++files;
    EXPECT_EQ(files, outputs.size() + 1); // the log, its links and old.csv
}

// The whole-log export in pieces on a thread of its own, while the owner queries the
// index: the same bytes as the export in one go, the progress growing to the total.
TEST(ViewerCsv, ExportsInPiecesWhileTheIndexIsQueried) {
    testing::TempDir dir;
    std::string bytes;
    for (int i = 0; i < 30000; ++i)
        bytes += std::to_string(1000 + i * 7) + " " + std::to_string(i % 97) +
                 " 1 2 3 4 5 6 7 8.5 -9 " + std::to_string(i % 5) + "\r\n";
    const std::string path = dir.FilePath("run.txt");
    std::ofstream(path, std::ios::binary) << bytes;
    std::string error;
    const auto log = TIndexedLog::Open(path, error);
    ASSERT_TRUE(log);
    log->IndexHere();
    std::ostringstream whole;
    log->Query([&](const TLogIndex& index, const TByteReader& read) {
        return WriteCsv(index, read, {0, 1 << 30}, std::nullopt, whole);
    });
    std::ostringstream pieces;
    std::vector<uint64_t> progress;
    TExportResult result;
    std::atomic<bool> done{false};
    std::thread exporter([&] {
        result =
            ExportCsv(*log, {0, 1 << 30}, std::nullopt, pieces, [&](uint64_t n, uint64_t total) {
                progress.push_back(n);
                EXPECT_EQ(total, 30000u);
                return true;
            });
        done = true;
    });
    int queries = 0;
    while (!done) {
        EXPECT_EQ(ComputeRangeStats(*log, {0, 1 << 30})->Channels[0].Count, 30000u);
        ++queries;
    }
    exporter.join();
    EXPECT_EQ(result.Status, TExportStatus::Done);
    EXPECT_EQ(result.Records, 30000u);
    EXPECT_EQ(pieces.str(), whole.str());
    ASSERT_GE(progress.size(), 3u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 30000u);
    EXPECT_GT(queries, 0);
}

TEST(ViewerCommandLine, BadLinesAndBadFilesHaveTheirExitStatus) {
    const std::vector<std::vector<std::string>> bad = {
        {"--csv"},
        {"--csv", "o.csv"},
        {"--png", "o.png", "--csv", "o.csv", "f"},
        {"--png", "o.png", "--size", "20x20", "f"},
        {"--png", "o.png", "--size", "800", "f"},
        {"--csv", "o.csv", "--from", "abc", "f"},
        {"--csv", "o.csv", "--to", "nan", "f"},
        {"--csv", "o.csv", "--from", "5", "--to", "1", "f"},
        {"--stats", "--from", "5", "--to", "1", "f"},
        {"--stats"},
        {"--stats", "--csv", "o.csv", "f"},
        {"--stats", "--size", "800x600", "f"},
        {"--from", "1", "f"},
        {"--size", "800x600", "f"},
        {"--bogus"},
        {"a", "b"},
    };
    for (const auto& args : bad) {
        TCommandLine line;
        std::string error;
        EXPECT_FALSE(ParseCommandLine(args, line, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
#ifdef ORVI_VIEWER_PROGRAM
    testing::TempDir dir;
    const std::string log = WriteLog(dir, "run.txt");
    const std::string binary = dir.FilePath("binary.txt");
    std::ofstream(binary, std::ios::binary) << std::string("\x7f"
                                                           "ELF\0\0\x01\x02\xff\xfe",
                                                           10);
    const std::string out = dir.FilePath("out");
    // The program's Qt gets a home of its own in the folder, never the user's.
    const std::string runtime = dir.FilePath("runtime");
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::string env = "env HOME=" + dir.Path() + " XDG_CACHE_HOME=" + dir.FilePath("cache") +
                            " XDG_CONFIG_HOME=" + dir.FilePath("config") +
                            " XDG_RUNTIME_DIR=" + runtime + " ";
    const auto run = [&](const std::string& args) {
        const std::string command =
            env + ORVI_VIEWER_PROGRAM + " " + args + " >" + out + " 2>" + dir.FilePath("err");
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--csv"), kExitUsage);
    EXPECT_EQ(run("--bogus " + log), kExitUsage);
    EXPECT_EQ(testing::FileBytes(out), ""); // nothing but data on standard output
    EXPECT_EQ(run("--csv " + dir.FilePath("o.csv") + " " + dir.FilePath("missing.txt")),
              kExitUnreadable);
    EXPECT_EQ(run("--csv " + dir.FilePath("o.csv") + " " + binary), kExitUnreadable);
    EXPECT_NE(testing::FileBytes(dir.FilePath("err")).find("not a data log"), std::string::npos);
    std::ofstream(dir.FilePath("empty.txt")).close();
    EXPECT_EQ(run("--stats " + dir.FilePath("empty.txt")), kExitUnreadable);
    EXPECT_NE(testing::FileBytes(dir.FilePath("err")).find("is an empty file"), std::string::npos);
    const std::string logBytes = testing::FileBytes(log);
    EXPECT_EQ(run("--png " + log + " " + log), kExitUsage);
    EXPECT_EQ(testing::FileBytes(log), logBytes);
    EXPECT_EQ(run("--stats --to 1 " + log), kExitOk);
    EXPECT_EQ(Split(testing::FileBytes(out), "\r\n")[1],
              "housing1,°C,2,0,25.85,0.000,25.9,0.500,25.875,0.0353553390593");
    EXPECT_EQ(run("--png " + dir.FilePath("o.png") + " --size 300x200 " + log), kExitOk);
    EXPECT_EQ(testing::FileBytes(dir.FilePath("o.png")).substr(1, 3), "PNG");
    EXPECT_EQ(run("--help"), kExitOk);
    EXPECT_NE(testing::FileBytes(out).find("Usage: orvi_viewer"), std::string::npos);
#endif
}

} // namespace
} // namespace orvi::viewer
