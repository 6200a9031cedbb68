#include "serial/ApplicationException.h"

#include <cstdio>
#include <mutex>
#include <thread>

namespace orvi {

namespace {

std::mutex gDisplayLock;
std::function<void(std::exception_ptr)> gDisplay; // guarded by gDisplayLock

// Static initialisation runs on the thread that starts the program.
const std::thread::id gMainThread = std::this_thread::get_id();

void PrintToStderr(std::exception_ptr error) noexcept {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "unknown exception\n");
    }
}

} // namespace

void ShowApplicationException(std::exception_ptr error) noexcept {
    if (!error)
        return;
    std::function<void(std::exception_ptr)> display;
    {
        std::lock_guard lock(gDisplayLock);
        display = gDisplay;
    }
    if (!display) {
        PrintToStderr(error);
        return;
    }
    // The display is the last stop: what it raises itself is printed, never passed on.
    try {
        display(error);
    } catch (...) {
        PrintToStderr(std::current_exception());
    }
}

void SetApplicationExceptionDisplay(std::function<void(std::exception_ptr)> display) {
    std::lock_guard lock(gDisplayLock);
    gDisplay = std::move(display);
}

bool IsMainThread() {
    return std::this_thread::get_id() == gMainThread;
}

} // namespace orvi
