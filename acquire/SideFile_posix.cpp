#include "acquire/LogQueue.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orvi::acquire {

bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& reason) {
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        reason = std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? size_t(n) : 0;
    }
    ok = ok && fsync(fd) == 0;
    const int err = errno;
    close(fd);
    if (!ok || rename(temporary.c_str(), path.c_str()) != 0) {
        reason = std::strerror(ok ? errno : err);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace orvi::acquire
