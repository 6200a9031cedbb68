#include "platform/SystemError.h"

#include <cerrno>
#include <map>

namespace orvi::platform {

namespace {
thread_local uint32_t tLastError = 0;

// Texts for the Windows error numbers that the POSIX layer produces, worded as the
// system words them, so messages read the same on every platform.
const std::map<uint32_t, const char*>& Texts() {
    static const std::map<uint32_t, const char*> texts = {
        {1, "Incorrect function.\r\n"},
        {2, "The system cannot find the file specified.\r\n"},
        {3, "The system cannot find the path specified.\r\n"},
        {4, "The system cannot open the file.\r\n"},
        {5, "Access is denied.\r\n"},
        {6, "The handle is invalid.\r\n"},
        {8, "Not enough memory resources are available to process this command.\r\n"},
        {13, "The data is invalid.\r\n"},
        {19, "The media is write protected.\r\n"},
        {21, "The device is not ready.\r\n"},
        {31, "A device attached to the system is not functioning.\r\n"},
        {50, "The request is not supported.\r\n"},
        {87, "The parameter is incorrect.\r\n"},
        {112, "There is not enough space on the disk.\r\n"},
        {121, "The semaphore timeout period has expired.\r\n"},
        {995, "The I/O operation has been aborted because of either a thread exit or an "
              "application request.\r\n"},
        {996, "Overlapped I/O event is not in a signaled state.\r\n"},
        {997, "Overlapped I/O operation is in progress.\r\n"},
        {1117, "The request could not be performed because of an I/O device error.\r\n"},
        {1167, "The device is not connected.\r\n"},
    };
    return texts;
}
} // namespace

uint32_t LastError() {
    return tLastError;
}

void SetLastError(uint32_t code) {
    tLastError = code;
}

std::string SystemErrorText(uint32_t code) {
    auto it = Texts().find(code);
    return it == Texts().end() ? std::string() : std::string(it->second);
}

uint32_t ErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return syserr::Success;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return syserr::FileNotFound;
    case ENOTDIR:
        return syserr::PathNotFound;
    case EMFILE:
    case ENFILE:
        return syserr::TooManyOpenFiles;
    case EBUSY:
    case EWOULDBLOCK:
    case EACCES:
    case EPERM:
        return syserr::AccessDenied;
    case EBADF:
        return syserr::InvalidHandle;
    case ENOMEM:
        return syserr::NotEnoughMemory;
    case EROFS:
        return 19;
    case ENOTTY:
    case EOPNOTSUPP:
        return syserr::NotSupported;
    case EINVAL:
        return syserr::InvalidParameter;
    case ENOSPC:
        return syserr::DiskFull;
    case ECANCELED:
    case EINTR:
        return syserr::OperationAborted;
    case EIO: // what a hung-up terminal answers to every request
        return syserr::DeviceGone;
    default:
        return syserr::GenFailure;
    }
}

} // namespace orvi::platform
