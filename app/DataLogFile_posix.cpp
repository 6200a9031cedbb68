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

} // namespace

bool CreateExclusiveFile(const std::string& name, intptr_t& handle, std::string& reason) {
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return Fail(reason);
    struct stat st {};
    const bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 &&
                    (!S_ISREG(st.st_mode) || ftruncate(fd, 0) == 0);
    if (!ok) {
        if (errno == EWOULDBLOCK)
            errno = EBUSY; // "held by another program" reads better than "try again"
        const int err = errno;
        close(fd);
        errno = err;
        return Fail(reason);
    }
    handle = fd;
    return true;
}

bool OpenExclusiveForAppend(const std::string& name, intptr_t& handle, uint64_t& size,
                            std::string& reason) {
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return Fail(reason);
    struct stat st {};
    const bool ok =
        flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &st) == 0 && lseek(fd, 0, SEEK_END) >= 0;
    if (!ok) {
        if (errno == EWOULDBLOCK)
            errno = EBUSY;
        const int err = errno;
        close(fd);
        errno = err;
        return Fail(reason);
    }
    size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
    handle = fd;
    return true;
}

bool WriteWholeBlock(intptr_t handle, const char* data, size_t size, std::string& reason) {
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
    }
    return true;
}

bool CutFileTo(intptr_t handle, uint64_t size, std::string& reason) {
    struct stat st {};
    if (fstat(int(handle), &st) != 0)
        return Fail(reason);
    if (!S_ISREG(st.st_mode))
        return true;
    if (ftruncate(int(handle), off_t(size)) != 0 || lseek(int(handle), off_t(size), SEEK_SET) < 0)
        return Fail(reason);
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
