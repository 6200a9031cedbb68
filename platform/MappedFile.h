#pragma once
// A file mapped read-only into memory, for reading large logs without holding them.
//
// Bytes are only ever copied out through Read, never handed out as pointers: on POSIX a
// file cut shorter by another program while mapped makes a read of the lost pages raise
// SIGBUS, and Read turns that into a false return instead of a crash. (Windows refuses to
// cut a file that is mapped, so its backend simply copies.)
//
// Immutable once opened: Read may be called from any thread at the same time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orvi::platform {

class TMappedFile {
public:
    // Maps the whole file as it is now. On failure returns null and sets `error` to the
    // system's reason. An empty file maps to an object of size 0.
    static std::unique_ptr<TMappedFile> Open(const std::string& path, std::string& error);
    ~TMappedFile();
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;

    uint64_t Size() const { return size_; }
    // Copies `length` bytes from `offset` to `out`; false when the range lies beyond the
    // mapping or the file lost those bytes since it was mapped.
    bool Read(uint64_t offset, size_t length, char* out) const;

    // The file's current size on disk; false when it cannot be read (removed, no access).
    static bool CurrentSize(const std::string& path, uint64_t& size);

private:
    TMappedFile(const char* data, uint64_t size) : data_(data), size_(size) {}
    const char* data_;
    uint64_t size_;
};

} // namespace orvi::platform
