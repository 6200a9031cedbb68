// The dispatch engine under random interleavings, over a real pseudo-terminal, with an
// oracle. A peer writes a known stream with embedded trigger sequences; the main thread
// (the GUI thread here) and the handlers (one on the dispatcher worker, one window
// handler on the main thread) take bytes, purge, queue output, close the port from
// handlers and from the main thread and reopen it, all at random; now and then the
// worker's handler purges and then raises, which ends the dispatcher worker, and the
// port is reopened. A second thread peeks meanwhile. Checked:
//   - every byte is delivered exactly once and in order, except bytes written before a
//     purge returned: those may be lost; a byte written after it must arrive (unless a
//     later purge drops it);
//   - a purge is final: a handler gets nothing after its purge, and after a purge in a
//     handler that then raised nothing is left to take (the worker, the only filler,
//     ended with it);
//   - a peek sees exactly what a take would take: as many bytes as the count says, and
//     the bytes delivered next, up to the next purge, are the ones peeked; during a
//     dispatch another thread sees none;
//   - each data trigger fires exactly at each occurrence of its sequence;
//   - handlers of one dispatch see the same bytes;
//   - no handler runs after a handler asked for the close in its pass;
//   - a close from the main thread that returned (not deferred to a running handler) has
//     ended the workers, and after each close no worker is left.
// ORVI_STRESS_SEED repeats a run (the seed is printed with every failure);
// ORVI_STRESS_SECONDS sets the time budget (default 12).
#include "platform/MessageTarget.h"
#include "serial/ApplicationException.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/dispatch/DeviceDispatcher.h"
#include "tests/support/WaitFor.h"
#include "tools/pty/PtyPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace orvi::testing {
namespace {

constexpr char kNoise[] = "abcdefghijklmnopqrstuvwxyz0123456789";
const std::string kSequences[] = {"<#>", "@%"};
constexpr size_t kStreamSize = 6 << 20;

uint64_t EnvNumber(const char* name, uint64_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoull(value, nullptr, 10) : fallback;
}

std::string MakeStream(uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::string s;
    s.reserve(kStreamSize + 4);
    while (s.size() < kStreamSize) {
        if (rng() % 40 == 0)
            s += kSequences[rng() % 2];
        else
            s += kNoise[rng() % (sizeof kNoise - 1)];
    }
    return s;
}

// Writes the stream to the device end in chunks of random size and discards what the
// dispatcher sends.
class Peer {
public:
    Peer(int fd, const std::string& stream, uint64_t seed) : fd_(fd), stream_(stream), rng_(seed) {
        fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
        thread_ = std::thread([this] { Run(); });
    }
    ~Peer() {
        stop_ = true;
        thread_.join();
    }

    // Bytes of the stream written so far. No write is in progress while this is read:
    // every byte at this position or beyond is written after the call.
    size_t Written() {
        std::lock_guard l(writeLock_);
        return written_;
    }

private:
    void Run() {
        uint8_t sink[4096];
        while (!stop_) {
            pollfd p{fd_, short(POLLIN | (Written() < stream_.size() ? POLLOUT : 0)), 0};
            poll(&p, 1, 10);
            if (p.revents & POLLIN)
                (void)!read(fd_, sink, sizeof sink);
            std::lock_guard l(writeLock_);
            if ((p.revents & POLLOUT) && written_ < stream_.size()) {
                const size_t n = std::min<size_t>(1 + rng_() % 700, stream_.size() - written_);
                const ssize_t w = write(fd_, stream_.data() + written_, n);
                if (w > 0)
                    written_ += size_t(w);
            }
        }
    }

    int fd_;
    const std::string& stream_;
    std::mt19937_64 rng_;
    std::atomic<bool> stop_{false};
    std::mutex writeLock_;
    size_t written_ = 0; // writeLock_
    std::thread thread_;
};

// What was delivered, in the order it was taken. Every take and every purge happens with
// `lock` held, so the order recorded is the order of the ring. A purge (a reopen's
// included) starts a new epoch and records how much of the stream the peer had written
// when it returned.
struct Oracle {
    struct Purge {
        size_t at;      // delivered count when it returned
        size_t written; // stream bytes written by then
    };
    std::mutex lock;
    uint32_t epoch = 0;
    std::vector<std::pair<char, uint32_t>> delivered;
    std::vector<Purge> purges;
    std::vector<std::string> failures;
    std::vector<size_t> fireEnds; // delivered count at each fire
    // What the second thread peeked: the bytes, and the delivered count and epoch then.
    struct Peek {
        size_t at;
        uint32_t epoch;
        std::string bytes;
    };
    std::vector<Peek> peeks;
    size_t fires = 0, cutFires = 0, randomPurges = 0, handlerCloses = 0, mainCloses = 0;
    size_t raises = 0, peekRounds = 0, questions = 0;

    // Caller holds lock.
    void Deliver(const std::string& bytes) {
        for (char c : bytes)
            delivered.emplace_back(c, epoch);
    }
    void Fail(const std::string& what) {
        if (failures.size() < 20)
            failures.push_back(what);
    }
    // A data trigger fired and its handler took `view`: the sequence ends the delivered bytes.
    void CheckFire(const std::string& sequence, const std::string& view) {
        const size_t n = sequence.size();
        bool ok = !view.empty() && delivered.size() >= n;
        for (size_t i = 0; ok && i < n; ++i) {
            const auto& [c, e] = delivered[delivered.size() - n + i];
            ok = c == sequence[i] && e == epoch;
        }
        if (ok) {
            ++fires;
            fireEnds.push_back(delivered.size());
        } else if (view.empty()) {
            ++cutFires; // a purge emptied the ring first
        } else {
            Fail("data trigger " + sequence + " fired at bytes ending \"" +
                 view.substr(view.size() - std::min<size_t>(view.size(), 40)) + "\"");
        }
    }
};

// One open of the port: the dispatcher and the state its handlers share.
struct Session {
    std::unique_ptr<TOrvPosixDispatcher> d;
    std::atomic<bool> armed{false}; // handlers take only once the start was purged
    std::atomic<bool> closedByHandler{false};
    std::atomic<bool> raised{false}; // the worker's handler purged and raised
    int32_t dataHandles[2] = {0, 0};
    int32_t timer = 0, status = 0;
    std::string view;          // the event handler's bytes of the current dispatch
    std::mt19937_64 workerRng; // the event handler's (dispatcher worker)
};

class StressRun {
public:
    StressRun(uint64_t seed) : seed_(seed), stream_(MakeStream(seed)), rng_(seed + 1) {}

    void Run(double seconds) {
        PtyPort pty{5};
        Peer peer(pty.MasterFd(), stream_, seed_ + 2);
        peer_ = &peer;
        platform::MessageTarget window(
            [this](uint32_t msg, uintptr_t w, intptr_t l) { return WindowHandler(msg, w, l); });
        window_ = window.Handle();
        SetApplicationExceptionDisplay([](std::exception_ptr) {}); // the raising handler's
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        Open(pty);
        std::thread peeker([this] { Peeker(); });
        while (std::chrono::steady_clock::now() < end) {
            Step();
            if (s_->closedByHandler) {
                FinishClose();
                Open(pty);
            } else if (s_->raised) {
                CheckRaisedPurge();
                CloseFromMain();
                Open(pty);
            } else if (rng_() % 4000 == 0) {
                CloseFromMain();
                Open(pty);
            }
        }
        stopPeeker_ = true;
        peeker.join();
        CloseFromMain();
        SetApplicationExceptionDisplay(nullptr);
        peer_ = nullptr;
    }

    void Check() {
        std::printf("delivered %zu bytes, %zu data trigger fires (%zu cut by a purge), %zu random "
                    "purges, %zu handlers that purged and raised, %zu closes from handlers, %zu "
                    "from the main thread, %zu peek rounds (%zu with bytes), %zu peeks asked "
                    "for in a dispatch\n",
                    oracle_.delivered.size(), oracle_.fires, oracle_.cutFires, oracle_.randomPurges,
                    oracle_.raises, oracle_.handlerCloses, oracle_.mainCloses, oracle_.peekRounds,
                    oracle_.peeks.size(), oracle_.questions);
        for (const std::string& f : oracle_.failures)
            ADD_FAILURE() << f;
        CheckPeeks();
        size_t occurrences = 0;
        CheckStream(occurrences);
        EXPECT_EQ(oracle_.fires, occurrences) << "data trigger fires against occurrences delivered";
        if (oracle_.fires != occurrences)
            DumpFireMismatch();
        // The run must have exercised the engine, or it proved nothing.
        EXPECT_GT(oracle_.delivered.size(), 10000u);
        EXPECT_GT(oracle_.fires, 10u);
        EXPECT_GT(oracle_.randomPurges, 0u);
        EXPECT_GT(oracle_.handlerCloses + oracle_.mainCloses, 1u);
        EXPECT_GT(oracle_.peeks.size(), 0u);
        EXPECT_GT(oracle_.questions, 0u);
    }

private:
    // The bytes delivered after a peek, up to the next purge, begin with the bytes peeked.
    void CheckPeeks() {
        const auto& got = oracle_.delivered;
        size_t wrong = 0;
        for (const auto& p : oracle_.peeks) {
            for (size_t i = 0; i < p.bytes.size() && p.at + i < got.size(); ++i) {
                if (got[p.at + i].second != p.epoch)
                    break;
                if (got[p.at + i].first != p.bytes[i]) {
                    if (wrong++ < 5)
                        ADD_FAILURE() << "peeked \"" << p.bytes << "\" at delivered byte " << p.at
                                      << ", but byte " << i << " delivered was '"
                                      << got[p.at + i].first << "'";
                    break;
                }
            }
        }
        EXPECT_EQ(wrong, 0u) << "peeks that did not see what the takes took";
    }

    // The bytes delivered between two purges (the first purge comes before anything is
    // delivered) are some bytes written before the first of them returned, in stream order
    // after those delivered earlier, then the stream from what was written when it
    // returned on, without a gap. Where bytes fit both ways, the reading that puts the
    // fewest bytes after the purge is taken, so that later runs are judged leniently.
    void CheckStream(size_t& occurrences) {
        const auto& got = oracle_.delivered;
        const auto& purges = oracle_.purges;
        ASSERT_TRUE(got.empty() || (!purges.empty() && purges.front().at == 0));
        size_t next = 0; // stream position after the bytes delivered so far
        for (size_t k = 0; k < purges.size(); ++k) {
            const size_t from = purges[k].at;
            const size_t to = k + 1 < purges.size() ? purges[k + 1].at : got.size();
            const size_t written = purges[k].written;
            // The longest prefix of the run found, in order, among the earlier bytes.
            std::vector<size_t> before; // stream position after each prefix byte
            for (size_t i = from, at = next; i < to && at < written; ++i) {
                while (at < written && stream_[at] != got[i].first)
                    ++at;
                if (at < written)
                    before.push_back(++at);
            }
            size_t split = before.size() + 1;
            while (split-- > 0) {
                const size_t after = to - from - split;
                bool same = written + after <= stream_.size();
                for (size_t i = 0; same && i < after; ++i)
                    same = got[from + split + i].first == stream_[written + i];
                if (same)
                    break;
            }
            ASSERT_NE(split, size_t(-1))
                << "delivered bytes " << from << ".." << to << " after the purge that returned "
                << "when " << written << " bytes were written: a byte written after that was "
                << "lost, or a byte repeated or out of place";
            next = split < to - from ? written + (to - from - split)
                                     : (split > 0 ? before[split - 1] : next);
        }
        for (size_t i = 0; i < got.size();) {
            size_t j = i;
            std::string piece;
            while (j < got.size() && got[j].second == got[i].second)
                piece.push_back(got[j++].first);
            for (const std::string& sequence : kSequences)
                for (size_t k = piece.find(sequence); k != std::string::npos;
                     k = piece.find(sequence, k + 1))
                    ++occurrences;
            i = j;
        }
    }

    // Names the first occurrence without a fire or fire without an occurrence.
    void DumpFireMismatch() {
        const auto& got = oracle_.delivered;
        std::vector<size_t> ends;
        for (size_t i = 0; i < got.size(); ++i)
            for (const std::string& sequence : kSequences) {
                const size_t n = sequence.size();
                bool match = i + 1 >= n;
                for (size_t k = 0; match && k < n; ++k)
                    match = got[i + 1 - n + k].first == sequence[k] &&
                            got[i + 1 - n + k].second == got[i].second;
                if (match)
                    ends.push_back(i + 1);
            }
        size_t k = 0;
        while (k < ends.size() && k < oracle_.fireEnds.size() && ends[k] == oracle_.fireEnds[k])
            ++k;
        const size_t at = std::min(k < ends.size() ? ends[k] : SIZE_MAX,
                                   k < oracle_.fireEnds.size() ? oracle_.fireEnds[k] : SIZE_MAX);
        std::string around;
        for (size_t i = at >= 20 ? at - 20 : 0; i < std::min(got.size(), at + 10); ++i)
            around += got[i].first;
        ADD_FAILURE() << "first difference at delivered byte " << at << " ("
                      << (k < ends.size() && ends[k] == at ? "occurrence" : "fire") << "), epoch "
                      << got[std::min(at, got.size()) - 1].second << ": \"" << around << "\"";
    }

    void Open(PtyPort& pty) {
        {
            std::lock_guard l(oracle_.lock); // the peeker reads s_
            s_ = std::make_unique<Session>();
        }
        s_->workerRng.seed(rng_());
        s_->d = std::make_unique<TOrvPosixDispatcher>(nullptr);
        auto& d = *s_->d;
        ASSERT_EQ(d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0), ecOK);
        Session* s = s_.get();
        auto& t = d.Triggers();
        t.AddEventHandler(
            [this, s](uint32_t m, uint32_t tr, uint32_t p) { EventHandler(*s, m, tr, p); }, false);
        t.AddNotifyWindow(window_);
        d.SetHandlerFlags(hmPortHandlerOn); // the window handler is called too
        for (int i = 0; i < 2; ++i)
            s->dataHandles[i] = t.AddDataTrigger(kSequences[i], false);
        s->timer = t.AddTimerTrigger();
        t.SetTimerTrigger(s->timer, 1, true);
        s->status = t.AddStatusTrigger(stOutSent);
        t.SetStatusTrigger(s->status, 0, true);
        t.SetAvailThreshold(int32_t(1 + rng_() % 48));
        // What arrived before the triggers were in place starts no epoch.
        std::lock_guard l(oracle_.lock);
        PurgeLocked(*s);
        s->armed = true;
    }

    void PurgeLocked(Session& s) {
        ++oracle_.epoch;
        s.d->PurgeInput();
        oracle_.purges.push_back({oracle_.delivered.size(), peer_->Written()});
    }
    void RandomPurgeLocked(Session& s) {
        ++oracle_.randomPurges;
        PurgeLocked(s);
    }

    // A close asked for by a handler: the rest of the pass must call no handler.
    void CloseFromHandler(Session& s) {
        {
            std::lock_guard l(oracle_.lock);
            PurgeLocked(s);
            s.armed = false; // what the close's own purge leaves behind is not delivered
            ++oracle_.handlerCloses;
        }
        s.closedByHandler = true;
        s.d->ClosePort();
    }

    void CloseFromMain() {
        {
            std::lock_guard l(oracle_.lock);
            PurgeLocked(*s_);
            s_->armed = false;
            ++oracle_.mainCloses;
        }
        auto& d = *s_->d;
        d.ClosePort();
        // Unless deferred to a handler that runs, the close has ended the workers.
        if (!d.ClosePending() && (d.WorkerCount() != 0 || d.WorkersActive()))
            oracle_.Fail("a close returned before its workers were counted out");
        FinishClose();
    }

    // The worker's handler purged and raised: the worker has ended, and since it was the
    // one that fills the ring, nothing may be left to take.
    void CheckRaisedPurge() {
        auto& d = *s_->d;
        if (!WaitFor([&] { return d.WorkerCount() == 2; }, 20000))
            oracle_.Fail("the dispatcher worker did not end after its handler raised");
        std::lock_guard l(oracle_.lock);
        uint8_t b;
        if (d.InputCount() != 0 || d.PeekByte(1, b) == ecOK || d.TakeByte(b) == ecOK)
            oracle_.Fail("a purge in a handler that then raised was undone");
    }

    // A second thread that peeks now and then: the bytes it sees are the ones the next
    // takes take (CheckPeeks). Asked by a handler, it looks during that handler's
    // dispatch, when it must see nothing (AskPeeker).
    void Peeker() {
        std::mt19937_64 rng(seed_ + 3);
        while (!stopPeeker_) {
            AnswerPeekerQuestion(std::chrono::microseconds(rng() % 200));
            std::lock_guard l(oracle_.lock);
            if (!s_ || !s_->armed || s_->raised)
                continue;
            auto& d = *s_->d;
            const size_t want = 1 + rng() % 24;
            std::string bytes;
            uint8_t b;
            while (bytes.size() < want && d.PeekByte(uint32_t(bytes.size() + 1), b) == ecOK)
                bytes.push_back(char(b));
            ++oracle_.peekRounds;
            if (!bytes.empty())
                oracle_.peeks.push_back({oracle_.delivered.size(), oracle_.epoch, bytes});
        }
    }

    // On the peeker: waits up to `wait` for a handler's question and answers it.
    void AnswerPeekerQuestion(std::chrono::microseconds wait) {
        std::unique_lock l(question_.lock);
        if (!question_.changed.wait_for(l, wait, [this] { return question_.of != nullptr; }))
            return;
        uint8_t b;
        question_.saw = question_.of->InputCount() != 0 || question_.of->PeekByte(1, b) == ecOK;
        question_.of = nullptr;
        question_.answered = true;
        question_.changed.notify_all();
    }

    // On the dispatcher worker, in a data dispatch: has another thread any byte to take
    // or to peek? It must not.
    void AskPeeker(TOrvBaseDispatcher& d) {
        bool saw = false;
        {
            std::unique_lock l(question_.lock);
            question_.of = &d;
            question_.answered = false;
            question_.changed.notify_all();
            if (!question_.changed.wait_for(l, std::chrono::seconds(2),
                                            [this] { return question_.answered; })) {
                question_.of = nullptr; // the peeker has stopped
                return;
            }
            saw = question_.saw;
        }
        std::lock_guard l(oracle_.lock);
        ++oracle_.questions;
        if (saw)
            oracle_.Fail("another thread could take or peek during a data dispatch");
    }

    // Waits (serving the window handler) until the workers have gone, then frees the port.
    void FinishClose() {
        auto& d = *s_->d;
        const bool ended = WaitFor(
            [&] {
                platform::ProcessOneMessage(0);
                return d.WorkerCount() == 0;
            },
            20000);
        if (!ended || d.WorkersActive())
            oracle_.Fail("a worker still runs after the close");
        std::unique_ptr<Session> gone;
        {
            std::lock_guard l(oracle_.lock); // the peeker reads s_
            gone = std::move(s_);
        }
        gone.reset();
    }

    void Step() {
        const uint64_t r = rng_() % 1000;
        for (int i = 0; i < 8 && platform::ProcessOneMessage(0); ++i) {
        }
        if (!s_ || s_->closedByHandler || s_->raised)
            return;
        if (r < 600) {
            std::lock_guard l(oracle_.lock);
            if (!s_->armed || s_->raised)
                return;
            const uint32_t want = r < 60 ? kInRingSize : uint32_t(rng_() % 64);
            oracle_.Deliver(Take(*s_->d, want));
        } else if (r < 605) {
            std::lock_guard l(oracle_.lock);
            RandomPurgeLocked(*s_);
        } else if (r < 650) {
            const std::string block(1 + rng_() % 32, 'q');
            s_->d->QueueBlock(reinterpret_cast<const uint8_t*>(block.data()),
                              uint32_t(block.size()));
        } else if (r < 660) {
            // Without the window handler the worker goes on while this thread pauses.
            s_->d->SetHandlerFlags(rng_() % 2 ? hmPortHandlerOn : hmPortHandlerOff);
        } else if (r < 700) {
            // Pauses let the ring fill, now and then up to all of it unscanned.
            std::this_thread::sleep_for(std::chrono::milliseconds(r < 663 ? 150 : rng_() % 15));
        }
    }

    static std::string Take(TOrvBaseDispatcher& d, uint32_t want) {
        std::string got;
        uint8_t b;
        while (got.size() < want && d.TakeByte(b) == ecOK)
            got.push_back(char(b));
        return got;
    }

    void Entered(Session& s, const char* who) {
        if (s.closedByHandler)
            oracle_.Fail(std::string(who) + " ran after a handler asked for the close");
    }

    const std::string& SequenceOf(const Session& s, uint32_t handle) const {
        return kSequences[int32_t(handle) == s.dataHandles[0] ? 0 : 1];
    }

    // On the dispatcher worker.
    void EventHandler(Session& s, uint32_t msg, uint32_t trigger, uint32_t) {
        Entered(s, "the event handler");
        auto& rng = s.workerRng;
        if (rng() % 300 == 0) {
            CloseFromHandler(s);
            return;
        }
        auto& d = *s.d;
        if ((msg == MsgTriggerAvail || msg == MsgTriggerData) && rng() % 20 == 0)
            AskPeeker(d);
        {
            std::lock_guard l(oracle_.lock);
            s.view.clear();
            if (!s.armed)
                return;
            if (msg == MsgTriggerAvail) {
                s.view = Take(d, uint32_t(rng() % (d.InputCount() + 1)));
                if (s.view.size() > trigger)
                    oracle_.Fail("a data-available handler took more than reported");
            } else if (msg == MsgTriggerData) {
                s.view = Take(d, kInRingSize);
            } else if (msg == MsgTriggerTimer) {
                oracle_.Deliver(Take(d, uint32_t(rng() % 8)));
            }
            oracle_.Deliver(s.view);
            if (msg == MsgTriggerData)
                oracle_.CheckFire(SequenceOf(s, trigger), s.view);
            const uint64_t purge = rng() % 400;
            if (purge < 2) {
                RandomPurgeLocked(s);
                uint8_t b;
                if (d.InputCount() != 0 || d.PeekByte(1, b) == ecOK || d.TakeByte(b) == ecOK)
                    oracle_.Fail("a handler got a byte after its purge");
                if (purge == 0 && (msg == MsgTriggerAvail || msg == MsgTriggerData)) {
                    // Its dispatch ends as an abort, and the worker with it.
                    ++oracle_.raises;
                    s.raised = true;
                    s.armed = false;
                }
            }
        }
        if (s.raised)
            throw Exception("the handler raises after its purge");
        if (msg == MsgTriggerTimer)
            d.Triggers().SetTimerTrigger(s.timer, 1, true);
        if (msg == MsgTriggerStatus)
            d.Triggers().SetStatusTrigger(s.status, 0, true);
    }

    // On the main thread, after the event handler of the same dispatch.
    intptr_t WindowHandler(uint32_t msg, uintptr_t, intptr_t) {
        if (!s_ || !s_->d)
            return 0;
        Session& s = *s_;
        Entered(s, "the window handler");
        if (rng_() % 300 == 0) {
            CloseFromHandler(s);
            return 0;
        }
        std::lock_guard l(oracle_.lock);
        if (!s.armed)
            return 0;
        auto& d = *s.d;
        if (msg == MsgTriggerAvail || msg == MsgTriggerData) {
            // Peeking: the same bytes as the event handler first, then maybe more.
            const std::string got = Take(d, uint32_t(rng_() % (d.InputCount() + 1)));
            const size_t common = std::min(got.size(), s.view.size());
            if (got.compare(0, common, s.view, 0, common) != 0)
                oracle_.Fail("two handlers of one dispatch saw different bytes");
            if (got.size() > s.view.size())
                oracle_.Deliver(got.substr(s.view.size()));
        } else if (msg == MsgTriggerTimer) {
            oracle_.Deliver(Take(d, uint32_t(rng_() % 4)));
        }
        return 0;
    }

    uint64_t seed_;
    std::string stream_;
    std::mt19937_64 rng_; // main thread
    platform::WindowHandle window_ = 0;
    Peer* peer_ = nullptr;
    std::unique_ptr<Session> s_; // main thread; read by the peeker under oracle_.lock
    Oracle oracle_;
    std::atomic<bool> stopPeeker_{false};
    // A handler's question to the peeker.
    struct {
        std::mutex lock;
        std::condition_variable changed;
        TOrvBaseDispatcher* of = nullptr;   // the dispatcher to look at; lock
        bool answered = false, saw = false; // lock
    } question_;
};

TEST(DispatchStressTest, RandomInterleavingsKeepEveryByteAndEveryTrigger) {
    const uint64_t seed = EnvNumber("ORVI_STRESS_SEED", std::random_device{}());
    SCOPED_TRACE("ORVI_STRESS_SEED=" + std::to_string(seed));
    StressRun run(seed);
    run.Run(double(EnvNumber("ORVI_STRESS_SECONDS", 12)));
    run.Check();
}

} // namespace
} // namespace orvi::testing
