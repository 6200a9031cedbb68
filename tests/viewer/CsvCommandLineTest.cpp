// The CSV export through the command line's run: every value byte-equal to the log's
// field, the range bounds inclusive, the header from the record's field table, the local
// time of a date-named log; and the exit statuses of bad command lines and bad files, of
// the real program where it is built.
#include "tests/support/TempDir.h"
#include "viewer/CommandLine.h"
#include "viewer/LogParse.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
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
    const std::string log = WriteLog(dir, "2024_2_29_23_59.txt");
    std::string err;
    const auto rows = Csv({"--csv", dir.FilePath("out.csv"), "--from", "3", log}, err);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][1], "local time");
    EXPECT_EQ(rows[1][1], "2024-02-29T23:59:03.000");
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
    EXPECT_EQ(run("--png " + dir.FilePath("o.png") + " --size 300x200 " + log), kExitOk);
    EXPECT_EQ(testing::FileBytes(dir.FilePath("o.png")).substr(1, 3), "PNG");
    EXPECT_EQ(run("--help"), kExitOk);
    EXPECT_NE(testing::FileBytes(out).find("Usage: orvi_viewer"), std::string::npos);
#endif
}

} // namespace
} // namespace orvi::viewer
