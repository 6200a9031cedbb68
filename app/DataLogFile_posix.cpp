#include "app/DataLogFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi::app::detail {

namespace {

bool Fail(std::string& reason) {
    reason = std::strerror(errno);
    return false;
}

constexpr int kWriteFlags = O_WRONLY | O_APPEND | O_CLOEXEC;

// Takes the lock of a file just opened; closes it on failure.
bool Lock(int fd, std::string& reason) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (errno == EWOULDBLOCK)
        errno = EBUSY; // "held by another program" reads better than "try again"
    const int err = errno;
    close(fd);
    errno = err;
    return Fail(reason);
}

} // namespace

bool CreateExclusiveFile(const std::string& name, intptr_t& handle, std::string& reason) {
    const int fd = open(name.c_str(), kWriteFlags | O_CREAT, 0644);
    if (fd < 0)
        return Fail(reason);
    if (!Lock(fd, reason))
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0)) {
        const int err = errno;
        close(fd);
        errno = err;
        return Fail(reason);
    }
    handle = fd;
    return true;
}

bool CreateNewFile(const std::string& name, intptr_t& handle, bool& exists, std::string& reason) {
    const int fd = open(name.c_str(), kWriteFlags | O_CREAT | O_EXCL, 0644);
    exists = fd < 0 && errno == EEXIST;
    if (fd < 0)
        return Fail(reason);
    if (!Lock(fd, reason))
        return false;
    handle = fd;
    return true;
}

bool OpenExclusiveForAppend(const std::string& name, intptr_t& handle, uint64_t& size,
                            std::string& reason) {
    const int fd = open(name.c_str(), kWriteFlags | O_CREAT, 0644);
    if (fd < 0)
        return Fail(reason);
    if (!Lock(fd, reason))
        return false;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        close(fd);
        errno = err;
        return Fail(reason);
    }
    size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    handle = fd;
    return true;
}

bool WriteWholeBlock(intptr_t handle, const char* data, size_t size, size_t& written,
                     std::string& reason) {
    written = 0;
    while (size > 0) {
        const ssize_t n = write(int(handle), data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return Fail(reason);
        }
        data += n;
        size -= size_t(n);
        written += size_t(n);
    }
    return true;
}

bool CutOffEnd(intptr_t handle, uint64_t bytes, std::string& reason) {
    struct stat st {};
    if (fstat(int(handle), &st) != 0)
        return Fail(reason);
    if (!S_ISREG(st.st_mode) || bytes == 0)
        return true;
    const off_t size = st.st_size > off_t(bytes) ? st.st_size - off_t(bytes) : 0;
    if (ftruncate(int(handle), size) != 0)
        return Fail(reason);
    return true;
}

// With O_APPEND the write position is the file's end after every write: no stat needed.
bool FileEnd(intptr_t handle, uint64_t& end) {
    const off_t at = lseek(int(handle), 0, SEEK_CUR);
    if (at <= 0)
        return false;
    end = uint64_t(at);
    return true;
}

bool CloseFileHandle(intptr_t handle, std::string& reason) {
    if (close(int(handle)) != 0 && errno != EINTR)
        return Fail(reason);
    return true;
}

std::FILE* OpenForReading(const std::string& name) {
    return std::fopen(name.c_str(), "rb");
}

} // namespace orvi::app::detail
