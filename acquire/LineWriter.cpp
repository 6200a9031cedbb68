#include "acquire/LineWriter.h"

#include "acquire/Terminal.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orvi::acquire {

struct TLineWriter::TShared {
    std::FILE* out = nullptr;
    size_t capacity = 0;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::string> queue; // guarded by lock
    bool ending = false;           // guarded by lock: no more text comes
    bool ended = false;            // guarded by lock: the writer thread has finished
    bool writing = false;          // guarded by lock: a write is in progress on either thread
    std::string failure;           // guarded by lock
};

TLineWriter::TLineWriter(std::FILE* out, size_t capacity) : shared_(std::make_shared<TShared>()) {
    shared_->out = out;
    shared_->capacity = capacity;
    std::thread([shared = shared_] { Write(shared); }).detach();
}

TLineWriter::~TLineWriter() {
    Close(std::chrono::seconds(1));
}

bool TLineWriter::Put(std::string text) {
    std::unique_lock<std::mutex> hold(shared_->lock);
    if (closed_ || !shared_->failure.empty() || shared_->queue.size() >= shared_->capacity)
        return false;
    if (shared_->queue.empty() && !shared_->writing && platform::WritableNow(shared_->out)) {
        shared_->writing = true;
        hold.unlock();
        std::string reason;
        const bool written =
            platform::WriteAllTo(shared_->out, text.data(), text.size(), reason);
        hold.lock();
        shared_->writing = false;
        if (!written)
            shared_->failure = reason.empty() ? "write failed" : reason;
        return true;
    }
    shared_->queue.push_back(std::move(text));
    hold.unlock();
    shared_->changed.notify_all();
    return true;
}

size_t TLineWriter::Close(std::chrono::milliseconds limit) {
    if (closed_)
        return 0;
    closed_ = true;
    std::unique_lock<std::mutex> hold(shared_->lock);
    shared_->ending = true;
    shared_->changed.notify_all();
    shared_->changed.wait_for(hold, limit, [&] { return shared_->ended; });
    // A writer still blocked is let go: it holds shared_ by itself and finds `ending` when
    // its write returns. What it has not taken yet is not written.
    const size_t left = shared_->queue.size();
    shared_->queue.clear();
    return left;
}

std::string TLineWriter::Failure() const {
    std::lock_guard<std::mutex> hold(shared_->lock);
    return shared_->failure;
}

void TLineWriter::Write(const std::shared_ptr<TShared>& shared) {
    std::unique_lock<std::mutex> hold(shared->lock);
    for (;;) {
        shared->changed.wait(hold, [&] { return shared->ending || !shared->queue.empty(); });
        if (shared->queue.empty() || !shared->failure.empty())
            break;
        const std::string text = std::move(shared->queue.front());
        shared->queue.pop_front();
        shared->writing = true;
        hold.unlock();
        std::string reason;
        const bool written = platform::WriteAllTo(shared->out, text.data(), text.size(), reason);
        hold.lock();
        shared->writing = false;
        if (!written) {
            shared->failure = reason.empty() ? "write failed" : reason;
            shared->queue.clear();
        }
    }
    shared->ended = true;
    shared->changed.notify_all();
}

} // namespace orvi::acquire
