#include "platform/ReadOnlyFile.h"

#include <atomic>
#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi::platform {

namespace {

// Set while this thread copies from a mapping; the SIGBUS handler jumps back to it.
// Volatile, and fenced below: the compiler must not drop or move the stores around the
// copy, which it otherwise knows cannot read the pointer.
thread_local sigjmp_buf* volatile tGuard = nullptr;
struct sigaction gPrevious {};

void OnBusError(int signal, siginfo_t* info, void* context) {
    if (tGuard)
        siglongjmp(*tGuard, 1);
    // Not ours: hand it to whoever handled it before, or die as without a handler.
    if (gPrevious.sa_flags & SA_SIGINFO) {
        gPrevious.sa_sigaction(signal, info, context);
        return;
    }
    if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
        gPrevious.sa_handler(signal);
        return;
    }
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

void InstallHandlerOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &gPrevious);
    });
}

// The copy sits in a function of its own so that nothing of the caller's lives across the
// jump back. The signal mask is saved and restored with it: a runtime that wraps signal
// handlers (the thread sanitizer's) may block SIGBUS while one runs, and a bus error that
// arrives blocked kills the process.
bool GuardedCopy(char* out, const char* from, size_t length) {
    sigjmp_buf guard;
    if (sigsetjmp(guard, 1) != 0) {
        tGuard = nullptr;
        return false;
    }
    tGuard = &guard;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(out, from, length);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    tGuard = nullptr;
    return true;
}

} // namespace

std::unique_ptr<TReadOnlyFile> TReadOnlyFile::Open(const std::string& path, std::string& error) {
    InstallHandlerOnce();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? "is a folder" : std::strerror(errno ? errno : EINVAL);
        ::close(fd);
        return nullptr;
    }
    const uint64_t size = uint64_t(info.st_size);
    void* data = nullptr;
    if (size > 0) {
        data = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
        if (data == MAP_FAILED) {
            error = std::strerror(errno);
            ::close(fd);
            return nullptr;
        }
        ::madvise(data, size, MADV_SEQUENTIAL);
    }
    ::close(fd); // the mapping keeps the file
    return std::unique_ptr<TReadOnlyFile>(new TReadOnlyFile(data, size));
}

TReadOnlyFile::~TReadOnlyFile() {
    if (size_ > 0)
        ::munmap(native_, size_);
}

bool TReadOnlyFile::Read(uint64_t offset, size_t length, char* out) const {
    if (offset > size_ || length > size_ - offset)
        return false;
    return length == 0 || GuardedCopy(out, static_cast<const char*>(native_) + offset, length);
}

bool TReadOnlyFile::CurrentSize(const std::string& path, uint64_t& size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    size = uint64_t(info.st_size);
    return true;
}

} // namespace orvi::platform
