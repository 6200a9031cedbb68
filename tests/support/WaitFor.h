#pragma once
// Waits for a condition that another thread or process brings about. The limit only
// keeps a broken test from hanging; tests assert the condition, never the time taken.
#include <chrono>
#include <thread>

namespace orvi::testing {

template <class Pred> bool WaitFor(Pred done, int limitMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace orvi::testing
