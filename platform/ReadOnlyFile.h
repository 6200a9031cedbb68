#pragma once
// A file's bytes as they were when it was opened, read by offset, for reading large logs
// without holding them.
//
// Bytes are only ever copied out through Read, never handed out as pointers, so that the
// backends can differ:
//  - POSIX maps the file. A file cut shorter by another program while mapped makes a read
//    of the lost pages raise SIGBUS; Read turns that into a false return instead of a crash.
//  - Windows reads with ReadFile at the offset, without a mapping: Windows refuses to cut
//    or empty a file that another process has mapped, which would stop the console from
//    starting a new run in the file being viewed. The file is open for sharing reads,
//    writes and deletion. A read of bytes the file lost since it was opened returns false.
//
// Immutable once opened: Read may be called from any thread at the same time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orvi::platform {

class TReadOnlyFile {
public:
    // Opens the file with the size it has now. On failure returns null and sets `error` to
    // the system's reason. An empty file gives an object of size 0.
    static std::unique_ptr<TReadOnlyFile> Open(const std::string& path, std::string& error);
    ~TReadOnlyFile();
    TReadOnlyFile(const TReadOnlyFile&) = delete;
    TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

    uint64_t Size() const { return size_; }
    // Copies `length` bytes from `offset` to `out`; false when the range lies beyond Size()
    // or the file lost those bytes since it was opened.
    bool Read(uint64_t offset, size_t length, char* out) const;

    // The file's current size on disk; false when it cannot be read (removed, no access).
    static bool CurrentSize(const std::string& path, uint64_t& size);

private:
    TReadOnlyFile(void* native, uint64_t size) : native_(native), size_(size) {}
    void* native_; // POSIX: the mapping's address (null when empty); Windows: the file handle
    uint64_t size_;
};

} // namespace orvi::platform
