#include "platform/ByteFile.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstdio>

namespace orvi::platform {

namespace {

// The error of the last failed C library call; a call that failed without saying why
// is a general failure.
uint32_t LastFileError() {
    const uint32_t code = ErrorFromErrno(errno);
    return code != 0 ? code : syserr::GenFailure;
}

} // namespace

ByteFile::~ByteFile() {
    if (file_ != nullptr)
        std::fclose(static_cast<std::FILE*>(file_));
}

uint32_t ByteFile::Open(const std::string& name, bool append) {
    errno = 0;
    file_ = std::fopen(name.c_str(), append ? "ab" : "wb");
    return file_ != nullptr ? 0 : LastFileError();
}

uint32_t ByteFile::Write(const void* data, size_t size) {
    errno = 0;
    if (std::fwrite(data, 1, size, static_cast<std::FILE*>(file_)) != size)
        return LastFileError();
    return 0;
}

uint32_t ByteFile::Close() {
    if (file_ == nullptr)
        return 0;
    errno = 0;
    const int closed = std::fclose(static_cast<std::FILE*>(file_));
    file_ = nullptr;
    return closed == 0 ? 0 : LastFileError();
}

} // namespace orvi::platform
