#pragma once
// Helpers for the com port component's tests: pumping this thread's messages (the
// component's events arrive as messages), recording what reaches the application's
// exception display, holding a port as "another program", and catching an exception's
// class and message.
#include "platform/MessageTarget.h"
#include "serial/ApplicationException.h"
#include "serial/ComPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace orvi::testing {

// Processes this thread's messages until `done` holds. The limit only keeps a broken
// test from hanging.
template <class Pred> bool PumpUntil(Pred done, int limitMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        platform::ProcessOneMessage(5);
    }
    return true;
}

// Installs a display that records the messages of the exceptions shown.
class ExceptionRecorder {
public:
    ExceptionRecorder() {
        SetApplicationExceptionDisplay([this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception& e) {
                messages.push_back(e.what());
            } catch (...) {
                messages.push_back("unknown");
            }
        });
    }
    ~ExceptionRecorder() { SetApplicationExceptionDisplay(nullptr); }
    ExceptionRecorder(const ExceptionRecorder&) = delete;
    ExceptionRecorder& operator=(const ExceptionRecorder&) = delete;

    std::vector<std::string> messages;
};

// Another program holding the port: a second descriptor with an exclusive lock.
class HeldPort {
public:
    explicit HeldPort(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        locked_ = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
    }
    ~HeldPort() {
        if (fd_ >= 0)
            close(fd_);
    }
    HeldPort(const HeldPort&) = delete;
    HeldPort& operator=(const HeldPort&) = delete;
    bool Locked() const { return locked_; }

private:
    int fd_;
    bool locked_ = false;
};

// True when nobody holds the exclusive lock on the device (no descriptor left open by
// the serial stack).
inline bool Unlocked(const std::string& path) {
    HeldPort probe(path);
    return probe.Locked();
}

// Runs `f`; returns the message of the E it raises, or fails the test.
template <class E, class F> std::string MessageOf(F f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "another exception: " << e.what();
        return {};
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

// Installs a port prompt for a test and removes it afterwards.
class PromptScope {
public:
    explicit PromptScope(TPortPrompt prompt) { SetPortPrompt(std::move(prompt)); }
    ~PromptScope() { SetPortPrompt(nullptr); }
    PromptScope(const PromptScope&) = delete;
    PromptScope& operator=(const PromptScope&) = delete;
};

} // namespace orvi::testing
