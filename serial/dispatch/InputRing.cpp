#include "serial/dispatch/InputRing.h"

#include <algorithm>
#include <cstring>

namespace orvi {

TInputRing::TInputRing(std::function<void()> roomForBacklog)
    : roomForBacklog_(std::move(roomForBacklog)) {}

void TInputRing::Allocate() {
    data_ = std::make_unique<uint8_t[]>(kInRingSize);
    filled_ = scanned_ = taken_ = 0;
    backlog_ = false;
    peekMode_ = false;
    peekCount_ = maxPeekCount_ = 0;
    peekEnd_ = 0;
    hold_ = false;
    peekWindow_ = 0;
    Publish();
}

void TInputRing::Release() {
    data_.reset();
}

TInputRing::Space TInputRing::FreeSpace() const {
    Space s;
    if (!data_)
        return s;
    const uint32_t head = Head();
    const uint32_t room = kInRingSize - Waiting();
    s.at = data_.get() + head;
    s.first = std::min(room, kInRingSize - head);
    s.second = room - s.first;
    return s;
}

void TInputRing::CommitFill(uint32_t n) {
    filled_ += n;
    backlog_ = Full();
}

void TInputRing::ScanAll() {
    scanned_ = filled_;
    Publish();
}

void TInputRing::Consume(uint32_t n) {
    taken_ += n;
    scanned_ = std::max(scanned_, taken_);
    Publish();
    // Room made for bytes the driver still holds, by a taker or by the end of a dispatch
    // that consumed what its handlers peeked: the worker fills again now instead of
    // leaving them for its next pass. Half the ring, so that not every byte taken wakes it.
    if (backlog_ && Waiting() <= kInRingSize / 2) {
        backlog_ = false;
        if (roomForBacklog_)
            roomForBacklog_();
    }
}

bool TInputRing::IsPeeker() const {
    // A window handler's takes are peeks only from inside the message the worker sent,
    // not from the window's thread elsewhere (its own polling, say).
    if (peekWindow_ != 0)
        return platform::RunningSentMessageTarget() == peekWindow_;
    return std::this_thread::get_id() == peekThread_;
}

bool TInputRing::Window(uint32_t& skip, uint32_t& avail) const {
    skip = 0;
    avail = data_ ? Visible() : 0;
    if (!peekMode_ && !hold_)
        return true;
    // A dispatch runs: the bytes belong to its handlers, in the order they peek them.
    if (!peekMode_ || !IsPeeker())
        return false;
    skip = peekCount_;
    avail = uint32_t(std::min(scanned_, peekEnd_) - std::min(taken_, peekEnd_));
    return true;
}

bool TInputRing::Take(uint8_t* data, uint32_t len) {
    uint32_t skip = 0, avail = 0;
    if (!Window(skip, avail) || avail < skip || avail - skip < len)
        return false;
    const uint32_t start = uint32_t((taken_ + skip) % kInRingSize);
    const uint32_t firstPart = std::min(len, kInRingSize - start);
    std::memcpy(data, data_.get() + start, firstPart);
    std::memcpy(data + firstPart, data_.get(), len - firstPart);
    if (peekMode_)
        peekCount_ += len;
    else
        Consume(len);
    return true;
}

uint32_t TInputRing::Count() const {
    uint32_t skip = 0, avail = 0;
    if (!Window(skip, avail))
        return 0;
    return avail - std::min(avail, skip);
}

bool TInputRing::PeekAt(uint32_t n, uint8_t& byte) const {
    uint32_t skip = 0, avail = 0;
    if (n == 0 || !Window(skip, avail) || avail < skip || avail - skip < n)
        return false;
    byte = data_[(taken_ + skip + n - 1) % kInRingSize];
    return true;
}

void TInputRing::Purge() {
    ++purges_;
    // Dropped now, in a dispatch too: the dispatch's end (an abort or a handler's
    // exception included) cannot hand them out again. Its handlers get nothing more, as
    // its window ends where the ring's bytes end, and it consumes nothing when it ends,
    // since what its handlers peeked went with the purge.
    Consume(Waiting());
    if (peekMode_) {
        dispatchPurged_ = true;
        peekEnd_ = std::min(peekEnd_, taken_);
    }
    peekCount_ = 0;
    // Purged bytes are never scanned: the scan goes on behind them (Consume moved it).
}

void TInputRing::BeginDispatch(bool peek, uint64_t peekEnd) {
    maxPeekCount_ = 0;
    peekCount_ = 0;
    peekMode_ = peek;
    peekEnd_ = peekEnd;
    dispatchPurged_ = false;
    peekThread_ = std::this_thread::get_id();
    peekWindow_ = 0;
}

void TInputRing::SetPeeker(platform::WindowHandle window) {
    peekThread_ = std::this_thread::get_id();
    peekWindow_ = window;
}

uint32_t TInputRing::EndDispatch(bool completed) {
    const uint32_t most = maxPeekCount_;
    if (completed && peekMode_ && !dispatchPurged_)
        Consume(std::min(most, Waiting()));
    peekMode_ = false;
    peekWindow_ = 0;
    if (completed)
        peekCount_ = 0;
    return most;
}

} // namespace orvi
