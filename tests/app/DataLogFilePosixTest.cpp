// The data log file where only POSIX can show it: the lock other programs meet, a device
// that is always full, and a file size limit that stops a line half way.
#include "app/DataLog.h"
#include "serial/Exceptions.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace orvi::app {
namespace {

using testing::FileBytes;

// Limits the size of files this process writes, as a full disk would, with SIGXFSZ ignored
// so that a write past the limit fails with EFBIG; both are restored at the end of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ok_ = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Ok() const { return ok_; }

private:
    rlimit saved_{};
    void (*previous_)(int) = SIG_DFL;
    bool ok_ = false;
};

TEST(DataLogPosix, AnotherProgramCannotTakeTheFile) {
    testing::TempDir dir;
    TDataLog log(dir.FilePath("held.txt"));
    const int fd = open(dir.FilePath("held.txt").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
}

TEST(DataLogPosix, AFullDeviceIsReported) {
    TDataLog log("/dev/full");
    try {
        log.Write("1 2 3\r\n");
        FAIL() << "a write to a full disk succeeded";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.Message(), "Cannot write to file \"/dev/full\". No space left on device");
    }
    EXPECT_TRUE(log.IsOpen());
}

// The disk fills at every place within the fourth line: the file keeps the three whole lines
// and nothing of the fourth, and once there is room again the next line follows them directly
// (no gap of zero bytes).
TEST(DataLogPosix, AFullDiskLeavesNoTornLine) {
    const std::string line =
        "1402846 26.45 28.67 26.65 28.7 26.6 28.69 26.62 28.68 0.5 -0.25 7\r\n";
    const std::string whole = line + line + line;
    for (size_t room = 0; room < line.size(); ++room) {
        SCOPED_TRACE(room);
        testing::TempDir dir;
        const std::string path = dir.FilePath("full.txt");
        TDataLog log(path);
        {
            const FileSizeLimit limit(whole.size() + room);
            ASSERT_TRUE(limit.Ok());
            for (int i = 0; i < 3; ++i)
                log.Write(line);
            try {
                log.Write(line);
                FAIL() << "the line went past the limit";
            } catch (const EInOutError& e) {
                EXPECT_EQ(e.Message(), "Cannot write to file \"" + path + "\". File too large");
            }
            EXPECT_EQ(FileBytes(path), whole);
        }
        log.Write(line);
        log.Close();
        EXPECT_EQ(FileBytes(path), whole + line);
    }
}

} // namespace
} // namespace orvi::app
