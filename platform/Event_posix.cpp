#include "platform/Event.h"

#include <cerrno>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace orvi::platform {

// The event is an eventfd whose counter is non-zero while the event is set. Set adds
// one (the counter may exceed one, which still means "set"); consuming reads the whole
// counter back to zero, so an auto-reset event releases exactly one waiter however
// often it was set.

namespace {

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Milliseconds left until `deadline` for poll(): -1 waits forever.
int Remaining(uint32_t timeoutMs, int64_t deadline) {
    if (timeoutMs == kInfinite)
        return -1;
    const int64_t left = deadline - MonotonicMs();
    return left > 0 ? int(left) : 0;
}

bool Drain(int fd) {
    uint64_t value = 0;
    return read(fd, &value, sizeof value) == ssize_t(sizeof value);
}

// Claims one ready event of the list: a manual-reset event just counts, an auto-reset
// one must be consumed (another waiter may have taken it since poll reported it).
int ClaimReady(const std::vector<Event*>& events, const std::vector<pollfd>& fds) {
    for (size_t i = 0; i < events.size(); ++i) {
        if ((fds[i].revents & POLLIN) == 0)
            continue;
        if (events[i]->ManualReset() || events[i]->TryConsume())
            return int(i);
    }
    return -1;
}

} // namespace

Event::Event(bool manualReset, bool initiallySet)
    : handle_(eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC)), manual_(manualReset) {}

Event::~Event() {
    if (Valid())
        close(int(handle_));
}

bool Event::Valid() const {
    return handle_ >= 0;
}

void Event::Set() {
    if (!Valid())
        return;
    const uint64_t one = 1;
    // EAGAIN only when the counter is near 2^64, which is set all the same.
    (void)!write(int(handle_), &one, sizeof one);
}

void Event::Reset() {
    if (Valid())
        Drain(int(handle_));
}

bool Event::TryConsume() {
    if (!Valid())
        return false;
    if (!manual_)
        return Drain(int(handle_));
    pollfd p{int(handle_), POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool Event::Wait(uint32_t timeoutMs) {
    return WaitAny({this}, timeoutMs) == 0;
}

int WaitAny(std::initializer_list<Event*> events, uint32_t timeoutMs) {
    std::vector<Event*> list(events);
    if (list.empty())
        return -1;
    std::vector<pollfd> fds;
    fds.reserve(list.size());
    for (Event* e : list) {
        if (e == nullptr || !e->Valid())
            return -1;
        fds.push_back(pollfd{int(e->NativeHandle()), POLLIN, 0});
    }
    const int64_t deadline = MonotonicMs() + (timeoutMs == kInfinite ? 0 : int64_t(timeoutMs));
    for (;;) {
        const int ready = poll(fds.data(), fds.size(), Remaining(timeoutMs, deadline));
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready > 0) {
            const int index = ClaimReady(list, fds);
            if (index >= 0)
                return index;
        }
        if (timeoutMs != kInfinite && Remaining(timeoutMs, deadline) == 0)
            return -1;
    }
}

} // namespace orvi::platform
