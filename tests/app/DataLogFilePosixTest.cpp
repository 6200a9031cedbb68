// The data log file where only POSIX can show it: the lock other programs meet, a device
// that is always full, and a file size limit that stops a line half way.
#include "app/DataLog.h"
#include "serial/Exceptions.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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

// Emptied under the writer (logrotate's copytruncate, truncate -s 0): the next line goes to
// the start, not after a hole of NUL bytes, and the line count starts again; a file opened
// again for appending counts the lines it holds.
TEST(DataLogPosix, AnEmptiedFileGoesOnAtItsStart) {
    const std::string line = "1 2 3 4 5 6 7 8 9 10 11 12\r\n";
    testing::TempDir dir;
    const std::string path = dir.FilePath("rotated.txt");
    TDataLog log(path);
    for (int i = 0; i < 3; ++i)
        log.Write(line);
    EXPECT_EQ(log.Lines(), 3u);
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    log.Write(line);
    EXPECT_EQ(FileBytes(path), line);
    EXPECT_EQ(log.Lines(), 1u);
    log.Write(line);
    log.Close();
    TDataLog again(path, TDataLog::TOpen::Append);
    EXPECT_EQ(again.Lines(), 2u);
    again.Write(line);
    EXPECT_EQ(again.Lines(), 3u);
    EXPECT_EQ(FileBytes(path), line + line + line);
}

// From now on the kernel refuses every ftruncate of this process with EIO (a seccomp filter,
// which cannot be lifted again: call it in a child process only).
bool RefuseTruncation() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_ftruncate, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EIO & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// The disk fills in the middle of the second line and the cut back fails too: the torn rest
// stays, and the log refuses the third line instead of joining it to that rest. Run in a
// child whose exit status names the step that went wrong.
TEST(DataLogPosix, AFailedCutTakesNoFurtherLines) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "the truncation filter is written for x86-64";
#endif
    testing::TempDir dir;
    const std::string path = dir.FilePath("torn.txt");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TDataLog log(path);
        log.Write("1 A A A\r\n");
        if (!RefuseTruncation())
            _exit(10);
        {
            const FileSizeLimit limit(12);
            try {
                log.Write("2 B B B\r\n");
                _exit(11);
            } catch (const EInOutError& e) {
                if (e.Message().find("may end in part of a line: Input/output error") ==
                    std::string::npos)
                    _exit(12);
            }
        }
        try {
            log.Write("3 C C C\r\n");
            _exit(13);
        } catch (const EInOutError& e) {
            if (e.Message().find("ends in part of a line") == std::string::npos)
                _exit(14);
        }
        log.Close();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 no filter, 11 no failure, 12/14 wrong text, "
                                         "13 a line written after the torn rest";
    EXPECT_EQ(FileBytes(path), "1 A A A\r\n2 B") << "the torn rest stays, nothing joins it";
}

} // namespace
} // namespace orvi::app
