#include "platform/MessageTarget.h"

#include "platform/Event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fstream>
#include <poll.h>
#include <set>
#include <string>
#endif

namespace orvi::platform {
namespace {

constexpr uint32_t kMsg = 0x7E01; // in the application's range on every platform

struct Delivery {
    uint32_t msg;
    uintptr_t wParam;
    std::thread::id thread;
};

// A target on the calling thread that records what reaches it and answers wParam * 2.
class Recorder {
public:
    Recorder()
        : target_([this](uint32_t msg, uintptr_t wParam, intptr_t) {
              log_.push_back({msg, wParam, std::this_thread::get_id()});
              return intptr_t(wParam * 2);
          }) {}

    WindowHandle Handle() const { return target_.Handle(); }
    const std::vector<Delivery>& Log() const { return log_; }
    std::vector<uintptr_t> Params() const {
        std::vector<uintptr_t> params;
        for (const Delivery& d : log_)
            params.push_back(d.wParam);
        return params;
    }

private:
    std::vector<Delivery> log_; // touched only by the owning thread
    MessageTarget target_;
};

// Sends from a thread of its own; the result arrives through the future.
std::future<std::pair<bool, intptr_t>> SendAsync(WindowHandle target, uintptr_t wParam,
                                                 uint32_t timeoutMs = kInfinite) {
    return std::async(std::launch::async, [=] {
        intptr_t result = -1;
        const bool ok = SendMessageWithTimeout(target, kMsg, wParam, 0, timeoutMs, &result);
        return std::make_pair(ok, result);
    });
}

TEST(MessageTarget, PostAndSendFromOtherThreadsRunOnTheOwningThread) {
    Recorder recorder;
    std::thread([&] { EXPECT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 1, 0)); }).join();
    auto sent = SendAsync(recorder.Handle(), 21);
    while (recorder.Log().size() < 2)
        ASSERT_TRUE(ProcessOneMessage(kInfinite));
    EXPECT_EQ(sent.get(), std::make_pair(true, intptr_t(42)));
    ASSERT_EQ(recorder.Log().size(), 2u);
    for (const Delivery& d : recorder.Log())
        EXPECT_EQ(d.thread, std::this_thread::get_id());
}

TEST(MessageTarget, SendToOwnTargetRunsAtOnceAheadOfPostedMessages) {
    Recorder recorder;
    ASSERT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 1, 0));
    intptr_t result = 0;
    EXPECT_TRUE(SendMessageWithTimeout(recorder.Handle(), kMsg, 5, 0, 0, &result));
    EXPECT_EQ(result, 10);
    EXPECT_EQ(recorder.Params(), std::vector<uintptr_t>{5});
    EXPECT_TRUE(ProcessOneMessage(0));
    EXPECT_FALSE(ProcessOneMessage(0));
    EXPECT_EQ(recorder.Params(), (std::vector<uintptr_t>{5, 1}));
}

TEST(MessageTarget, TimedOutSendIsDroppedNotDeliveredLater) {
    Recorder recorder;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(SendAsync(recorder.Handle(), 1, 30).get().first);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_FALSE(ProcessOneMessage(0));
    EXPECT_TRUE(recorder.Log().empty());
}

// The owner must take the message before the sender's limit; when the machine is too
// slow for that the message is dropped instead, and the case is tried with a longer limit.
TEST(MessageTarget, SendThatTimesOutWhileRunningFailsButCompletes) {
    for (uint32_t limit = 20;; limit *= 2) {
        std::promise<void> senderGaveUp;
        std::shared_future<void> gaveUp = senderGaveUp.get_future().share();
        int runs = 0;
        MessageTarget target([&](uint32_t, uintptr_t, intptr_t) {
            gaveUp.wait();
            return intptr_t(++runs);
        });
        auto sent = std::async(std::launch::async, [&] {
            const bool ok = SendMessageWithTimeout(target.Handle(), kMsg, 0, 0, limit, nullptr);
            senderGaveUp.set_value();
            return ok;
        });
        bool dispatched = false;
        while (!dispatched && sent.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            dispatched = ProcessOneMessage(1);
        EXPECT_FALSE(sent.get());
        if (dispatched) {
            EXPECT_EQ(runs, 1);
            return;
        }
        EXPECT_EQ(runs, 0);
        EXPECT_FALSE(ProcessOneMessage(0));
    }
}

TEST(MessageTarget, DestroyedAndUnknownTargetsRefuseMessages) {
    auto target = std::make_unique<Recorder>();
    const WindowHandle stale = target->Handle();
    EXPECT_TRUE(IsOwnedByCallingThread(stale));
    target.reset();
    Recorder successor;
    const WindowHandle bad[] = {stale, 0, -1, 0xFFFF, INTPTR_MAX};
    for (const WindowHandle h : bad) {
        SCOPED_TRACE(h);
        EXPECT_FALSE(PostMessageTo(h, kMsg, 0, 0));
        EXPECT_FALSE(SendMessageWithTimeout(h, kMsg, 0, 0, 0, nullptr));
        EXPECT_FALSE(SendAsync(h, 0).get().first);
        EXPECT_FALSE(IsOwnedByCallingThread(h));
    }
    EXPECT_FALSE(ProcessOneMessage(0));
    EXPECT_TRUE(successor.Log().empty());
}

TEST(MessageTarget, OwnershipIsPerThread) {
    Recorder recorder;
    EXPECT_TRUE(IsOwnedByCallingThread(recorder.Handle()));
    std::thread([&] { EXPECT_FALSE(IsOwnedByCallingThread(recorder.Handle())); }).join();
}

TEST(MessageTarget, EmptyProcedureGivesNoTarget) {
    MessageTarget target{WindowProcedure()};
    EXPECT_FALSE(target.Valid());
}

// On a thread of its own: the quit request stays queued for good.
TEST(MessageTarget, QuitIsReportedAfterPendingMessagesAndStaysQueued) {
    std::thread([] {
        Recorder recorder;
        ASSERT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 1, 0));
        PostQuitMessageToThread(3);
        ASSERT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 2, 0));
        bool quit = true;
        EXPECT_TRUE(ProcessOneMessage(0, &quit));
        EXPECT_FALSE(quit);
        EXPECT_TRUE(ProcessOneMessage(0, &quit));
        for (int pass = 0; pass < 2; ++pass) {
            EXPECT_FALSE(ProcessOneMessage(kInfinite, &quit));
            EXPECT_TRUE(quit);
        }
        EXPECT_EQ(recorder.Params(), (std::vector<uintptr_t>{1, 2}));
    }).join();
}

TEST(MessageTarget, ProcedureMayDestroyItsTargetOrPostAgain) {
    std::unique_ptr<MessageTarget> target;
    int calls = 0;
    target = std::make_unique<MessageTarget>([&](uint32_t msg, uintptr_t, intptr_t) {
        if (++calls < 3)
            EXPECT_TRUE(PostMessageTo(target->Handle(), msg, 0, 0)); // delivered next pass
        else
            target.reset();
        return intptr_t(0);
    });
    const WindowHandle handle = target->Handle();
    ASSERT_TRUE(PostMessageTo(handle, kMsg, 0, 0));
    for (int pass = 1; pass <= 3; ++pass) {
        EXPECT_TRUE(ProcessOneMessage(0));
        EXPECT_EQ(calls, pass);
    }
    EXPECT_FALSE(ProcessOneMessage(0));
    EXPECT_FALSE(PostMessageTo(handle, kMsg, 0, 0));
}

TEST(MessageTarget, RaisingProcedureReleasesItsSenderAndReachesTheLoop) {
    MessageTarget target([](uint32_t, uintptr_t wParam, intptr_t) -> intptr_t {
        if (wParam == 1)
            throw std::runtime_error("handler failed");
        return 7;
    });
    EXPECT_THROW(SendMessageWithTimeout(target.Handle(), kMsg, 1, 0, 0, nullptr),
                 std::runtime_error);
    auto sent = SendAsync(target.Handle(), 1);
    EXPECT_THROW(ProcessOneMessage(kInfinite), std::runtime_error);
    const auto [ok, answer] = sent.get();
    EXPECT_TRUE(!ok || answer == 0) << "a failed procedure reported a real answer";
    auto next = SendAsync(target.Handle(), 2);
    EXPECT_TRUE(ProcessOneMessage(kInfinite));
    EXPECT_EQ(next.get(), std::make_pair(true, intptr_t(7)));
}

TEST(MessageTarget, ManyThreadsSendAndPostConcurrently) {
    constexpr int kThreads = 8;
    constexpr int kEach = 50;
    std::vector<std::vector<uintptr_t>> seen(kThreads);
    int delivered = 0;
    MessageTarget target([&](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        seen[size_t(lParam)].push_back(wParam);
        ++delivered;
        return intptr_t(msg == kMsg ? wParam + 1 : 0);
    });
    std::vector<std::future<bool>> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.push_back(std::async(std::launch::async, [&target, t] {
            bool ok = true;
            for (int i = 0; i < kEach; ++i) {
                intptr_t result = 0;
                const bool send = t % 2 == 0;
                ok &= send ? SendMessageWithTimeout(target.Handle(), kMsg, i, t, kInfinite,
                                                    &result) &&
                                 result == i + 1
                           : PostMessageTo(target.Handle(), kMsg + 1, i, t);
            }
            return ok;
        }));
    }
    while (delivered < kThreads * kEach)
        ASSERT_TRUE(ProcessOneMessage(kInfinite));
    for (auto& w : workers)
        EXPECT_TRUE(w.get());
    std::vector<uintptr_t> inOrder;
    for (int i = 0; i < kEach; ++i)
        inOrder.push_back(uintptr_t(i));
    for (const auto& s : seen)
        EXPECT_EQ(s, inOrder); // FIFO per sender
}

#if !defined(_WIN32)

// The wake descriptor counts the pending messages; /proc shows the count without
// consuming it, which lets a test wait until another thread's message is queued.
uint64_t PendingCount(intptr_t wakeFd) {
    std::ifstream info("/proc/self/fdinfo/" + std::to_string(wakeFd));
    for (std::string line; std::getline(info, line);)
        if (line.rfind("eventfd-count:", 0) == 0)
            return std::stoull(line.substr(14), nullptr, 16);
    ADD_FAILURE() << "no eventfd count for " << wakeFd;
    return 0;
}

void WaitUntilPending(intptr_t wakeFd, uint64_t count) {
    while (PendingCount(wakeFd) < count)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool Readable(intptr_t fd) {
    pollfd p{int(fd), POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

TEST(MessageTargetPosix, SentBeforePostedAndFifoWithinEachKind) {
    Recorder recorder;
    const intptr_t fd = ThreadQueueWakeHandle();
    ASSERT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 1, 0));
    auto first = SendAsync(recorder.Handle(), 10);
    WaitUntilPending(fd, 2);
    ASSERT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 2, 0));
    auto second = SendAsync(recorder.Handle(), 20);
    WaitUntilPending(fd, 4);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(ProcessOneMessage(0));
    EXPECT_EQ(recorder.Params(), (std::vector<uintptr_t>{10, 20, 1, 2}));
    EXPECT_TRUE(first.get().first);
    EXPECT_TRUE(second.get().first);
}

TEST(MessageTargetPosix, WakeHandleIsReadableExactlyWhileMessagesArePending) {
    Recorder recorder;
    const intptr_t fd = ThreadQueueWakeHandle();
    EXPECT_EQ(fd, ThreadQueueWakeHandle());
    EXPECT_FALSE(Readable(fd));
    ASSERT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 1, 0));
    ASSERT_TRUE(PostMessageTo(recorder.Handle(), kMsg, 2, 0));
    EXPECT_TRUE(Readable(fd));
    EXPECT_TRUE(ProcessOneMessage(0));
    EXPECT_TRUE(Readable(fd));
    EXPECT_TRUE(ProcessOneMessage(0));
    EXPECT_FALSE(Readable(fd));
    EXPECT_FALSE(SendAsync(recorder.Handle(), 3, 10).get().first); // withdrawn on time-out
    EXPECT_FALSE(Readable(fd));
    intptr_t other = -1;
    std::thread([&] { other = ThreadQueueWakeHandle(); }).join();
    EXPECT_NE(other, fd);
}

TEST(MessageTargetPosix, QuitKeepsTheWakeHandleReadable) {
    const intptr_t fd = ThreadQueueWakeHandle();
    std::thread([] {
        PostQuitMessageToThread(0);
        bool quit = false;
        EXPECT_FALSE(ProcessOneMessage(kInfinite, &quit));
        EXPECT_TRUE(quit);
        EXPECT_TRUE(Readable(ThreadQueueWakeHandle()));
    }).join();
    EXPECT_FALSE(Readable(fd)); // the quit belonged to the other thread
}

TEST(MessageTargetPosix, DestroyingTheTargetReleasesBlockedSenders) {
    auto recorder = std::make_unique<Recorder>();
    const intptr_t fd = ThreadQueueWakeHandle();
    ASSERT_TRUE(PostMessageTo(recorder->Handle(), kMsg, 1, 0));
    auto sent = SendAsync(recorder->Handle(), 2);
    WaitUntilPending(fd, 2);
    recorder.reset();
    EXPECT_FALSE(sent.get().first);
    EXPECT_FALSE(Readable(fd)); // its posted message went with it
}

TEST(MessageTargetPosix, EndingTheOwningThreadReleasesBlockedSenders) {
    std::unique_ptr<MessageTarget> orphan;
    std::future<std::pair<bool, intptr_t>> sent;
    std::thread([&] {
        orphan = std::make_unique<MessageTarget>([](uint32_t, uintptr_t, intptr_t) {
            ADD_FAILURE() << "delivered after its thread ended";
            return intptr_t(0);
        });
        sent = SendAsync(orphan->Handle(), 1);
        WaitUntilPending(ThreadQueueWakeHandle(), 1);
    }).join();
    EXPECT_FALSE(sent.get().first);
    EXPECT_FALSE(PostMessageTo(orphan->Handle(), kMsg, 0, 0));
    EXPECT_FALSE(SendAsync(orphan->Handle(), 2).get().first);
}

TEST(MessageTargetPosix, HandlesAreNeverReused) {
    std::set<WindowHandle> handles;
    for (int i = 0; i < 100; ++i)
        handles.insert(MessageTarget([](uint32_t, uintptr_t, intptr_t) { return 0; }).Handle());
    EXPECT_EQ(handles.size(), 100u);
    EXPECT_FALSE(handles.contains(0));
}

TEST(MessageTargetPosix, WaitEndsWhenTheTimeRunsOut) {
    bool quit = true;
    EXPECT_FALSE(ProcessOneMessage(5, &quit));
    EXPECT_FALSE(quit);
    EXPECT_FALSE(Readable(ThreadQueueWakeHandle()));
}

#endif

} // namespace
} // namespace orvi::platform
