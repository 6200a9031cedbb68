// Triggers and the handler dispatch over a real pseudo-terminal: the peek protocol,
// data-available notifications, byte-sequence matching, timers, status triggers,
// handler removal and close from inside a handler, and snapshots.
#include "serial/ApplicationException.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/dispatch/DispatcherHooks.h"
#include "tests/serial/dispatch/DispatcherProbe.h"
#include "tests/support/WaitFor.h"
#include "tools/pty/PtyPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvi::testing {
namespace {

std::vector<bool> Feed(TDataTrigger& t, const std::string& bytes) {
    std::vector<bool> hits;
    for (char c : bytes)
        hits.push_back(MatchByte(t, uint8_t(c)));
    return hits;
}

TDataTrigger MakeTrigger(const std::string& sequence, bool ignoreCase = false) {
    TDataTrigger t{};
    t.Length = int32_t(sequence.size());
    t.IgnoreCase = ignoreCase;
    for (size_t i = 0; i < sequence.size(); ++i)
        t.Sequence[i] = uint8_t(ignoreCase ? std::toupper(sequence[i]) : sequence[i]);
    return t;
}

TEST(MatchByteTest, OverlappingSequenceMatchesAtThirdAndFifthByte) {
    auto t = MakeTrigger("ABA");
    EXPECT_EQ(Feed(t, "ABABA"), (std::vector<bool>{false, false, true, false, true}));
}

TEST(MatchByteTest, PartialMatchesRestartAndAdvance) {
    auto t = MakeTrigger("AAB");
    EXPECT_EQ(Feed(t, "AAAB"), (std::vector<bool>{false, false, false, true}));
    auto u = MakeTrigger("abc");
    EXPECT_EQ(Feed(u, "ababcxabc"),
              (std::vector<bool>{false, false, false, false, true, false, false, false, true}));
    auto single = MakeTrigger("x");
    EXPECT_EQ(Feed(single, "axx"), (std::vector<bool>{false, true, true}));
}

TEST(MatchByteTest, IgnoreCaseMatchesLowerCaseInput) {
    auto t = MakeTrigger("end", true);
    EXPECT_EQ(Feed(t, "xEnD"), (std::vector<bool>{false, false, false, true}));
    auto exact = MakeTrigger("END");
    EXPECT_EQ(Feed(exact, "end"), (std::vector<bool>{false, false, false}));
}

// A record of handler calls made on the dispatcher worker.
struct Calls {
    struct Call {
        uint32_t msg, trigger, param;
        std::string taken;
    };
    std::mutex lock;
    std::vector<Call> calls;

    void Add(uint32_t msg, uint32_t trigger, uint32_t param, std::string taken = {}) {
        std::lock_guard l(lock);
        calls.push_back({msg, trigger, param, std::move(taken)});
    }
    size_t Count() {
        std::lock_guard l(lock);
        return calls.size();
    }
    Call At(size_t i) {
        std::lock_guard l(lock);
        return calls.at(i);
    }
};

class TriggersTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0), ecOK);
    }

    std::string Take(size_t n) {
        std::string s;
        uint8_t b;
        for (size_t i = 0; i < n && d.TakeByte(b) == ecOK; ++i)
            s.push_back(char(b));
        return s;
    }

    void Send(const std::string& s) { pty.Write(s.data(), s.size()); }

    uint32_t Param(uint32_t low) const { return low + uint32_t(d.Handle()) * 65536u; }

    PtyPort pty{5};
    DispatcherProbe d;
    Calls calls;
};

TEST_F(TriggersTest, TwoHandlersSeeTheSameBytesAndTheRingAdvancesByTheMost) {
    auto& t = d.Triggers();
    t.AddEventHandler([&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p, Take(3)); },
                      false);
    t.AddEventHandler([&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p, Take(3)); },
                      false);
    t.SetAvailThreshold(3);
    Send("xyz");
    ASSERT_TRUE(WaitFor([&] { return calls.Count() >= 2; }));
    EXPECT_EQ(calls.At(0).msg, MsgTriggerAvail);
    EXPECT_EQ(calls.At(0).trigger, 3u);
    EXPECT_EQ(calls.At(0).param, Param(0));
    EXPECT_EQ(calls.At(0).taken, "xyz");
    EXPECT_EQ(calls.At(1).taken, "xyz");
    EXPECT_TRUE(WaitFor([&] { return d.InputCount() == 0; }));
}

TEST_F(TriggersTest, HandlersTakingFewerBytesThanReportedWaitForNewBytes) {
    d.Triggers().AddEventHandler(
        [&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p, Take(4)); }, false);
    d.Triggers().SetAvailThreshold(5);
    Send("0123456789");
    ASSERT_TRUE(WaitFor([&] { return calls.Count() == 1; }));
    EXPECT_EQ(calls.At(0).trigger, 10u);
    EXPECT_EQ(calls.At(0).taken, "0123");
    std::this_thread::sleep_for(std::chrono::milliseconds(150)); // three dispatch passes
    EXPECT_EQ(calls.Count(), 1u) << "the 6 bytes left must not be reported again";
    EXPECT_EQ(d.InputCount(), 6u);

    Send("A");
    ASSERT_TRUE(WaitFor([&] { return calls.Count() == 2; }));
    EXPECT_EQ(calls.At(1).trigger, 7u);
    EXPECT_EQ(calls.At(1).taken, "4567");
}

TEST_F(TriggersTest, BytesBeforeAMatchedSequenceAreReportedFirst) {
    const int32_t handle = d.Triggers().AddDataTrigger("END", false);
    ASSERT_GT(handle, 0);
    d.Triggers().AddEventHandler(
        [&](uint32_t m, uint32_t tr, uint32_t p) {
            calls.Add(m, tr, p, Take(m == MsgTriggerAvail ? tr : p & 0xFFFF));
        },
        false);
    d.Triggers().SetAvailThreshold(3);
    Send("abcdEND");
    ASSERT_TRUE(WaitFor([&] { return calls.Count() == 2; }));
    EXPECT_EQ(calls.At(0).msg, MsgTriggerAvail);
    EXPECT_EQ(calls.At(0).trigger, 4u);
    EXPECT_EQ(calls.At(0).taken, "abcd");
    EXPECT_EQ(calls.At(1).msg, MsgTriggerData);
    EXPECT_EQ(calls.At(1).trigger, uint32_t(handle));
    EXPECT_EQ(calls.At(1).param, Param(3));
    EXPECT_EQ(calls.At(1).taken, "END");
}

TEST_F(TriggersTest, IgnoreCaseTriggerMatchesReceivedLowerCase) {
    const int32_t handle = d.Triggers().AddDataTrigger("ok", true);
    d.Triggers().AddEventHandler([&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p); },
                                 false);
    Send("xxOk");
    ASSERT_TRUE(WaitFor([&] { return calls.Count() == 1; }));
    EXPECT_EQ(calls.At(0).msg, MsgTriggerData);
    EXPECT_EQ(calls.At(0).trigger, uint32_t(handle));
}

TEST_F(TriggersTest, HandlerRemovedFromInsideADispatchIsSkippedAndPurgedAfterIt) {
    int32_t second = 0;
    d.Triggers().AddEventHandler(
        [&](uint32_t m, uint32_t tr, uint32_t p) {
            // Recorded last: once the test has seen the call, the handler no longer reads
            // the test's `second`.
            d.Triggers().RemoveEventHandler(second);
            calls.Add(m, tr, p, "first");
        },
        false);
    second = d.Triggers().AddEventHandler(
        [&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p, "second"); }, false);
    d.Triggers().SetAvailThreshold(1);
    Send("a");
    ASSERT_TRUE(WaitFor([&] { return calls.Count() == 1; }));
    Send("b");
    ASSERT_TRUE(WaitFor([&] { return calls.Count() == 2; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(calls.Count(), 2u);
    EXPECT_EQ(calls.At(0).taken, "first");
    EXPECT_EQ(calls.At(1).taken, "first");
}

TEST_F(TriggersTest, HandlerThatClosesThePortAbortsTheDispatchAndTheWorkerReleasesIt) {
    d.Triggers().AddEventHandler(
        [&](uint32_t m, uint32_t tr, uint32_t p) {
            calls.Add(m, tr, p, "closer");
            d.ClosePort();
        },
        false);
    d.Triggers().AddEventHandler(
        [&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p, "after"); }, false);
    d.Triggers().SetAvailThreshold(1);
    Send("a");
    ASSERT_TRUE(WaitFor([&] { return d.WorkerCount() == 0; }));
    EXPECT_TRUE(d.ClosePending());
    EXPECT_FALSE(d.WorkersActive());
    ASSERT_EQ(calls.Count(), 1u);
    EXPECT_EQ(calls.At(0).taken, "closer");
}

TEST_F(TriggersTest, AHandlerThatRaisesOnTheWorkerReachesTheExceptionDisplayAndEndsOnlyThatWorker) {
    std::mutex lock;
    std::vector<std::string> shown;
    SetApplicationExceptionDisplay([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            std::lock_guard l(lock);
            shown.push_back(e.what());
        }
    });
    const int workers = d.WorkerCount();
    d.Triggers().AddEventHandler([](uint32_t, uint32_t, uint32_t) { throw Exception("broken"); },
                                 false);
    d.Triggers().SetAvailThreshold(1);
    Send("a");
    const bool ended = WaitFor([&] { return d.WorkerCount() == workers - 1; });
    SetApplicationExceptionDisplay(nullptr);
    ASSERT_TRUE(ended);
    EXPECT_EQ(shown, std::vector<std::string>{"broken"});
    EXPECT_TRUE(d.WorkersActive()); // the device and output workers go on
    EXPECT_FALSE(d.InDispatch());
    EXPECT_EQ(Take(2), "a"); // consumed, not peeked: the dispatch ended with the worker
    EXPECT_EQ(d.InputCount(), 0u);
    d.ClosePort();
    EXPECT_EQ(d.WorkerCount(), 0);
    EXPECT_FALSE(d.WorkersActive());
}

// The bytes behind a match whose handler raised were filled but not yet scanned: with
// the worker gone nobody scans them, so they become takeable as they are.
TEST_F(TriggersTest, BytesBehindAMatchWhoseHandlerRaisedCanBeTaken) {
    SetApplicationExceptionDisplay([](std::exception_ptr) {});
    const int workers = d.WorkerCount();
    d.Triggers().AddDataTrigger("X", false);
    d.Triggers().AddEventHandler([](uint32_t, uint32_t, uint32_t) { throw Exception("broken"); },
                                 false);
    Send("aXbcd");
    const bool ended = WaitFor([&] { return d.WorkerCount() == workers - 1; });
    SetApplicationExceptionDisplay(nullptr);
    ASSERT_TRUE(ended);
    EXPECT_EQ(Take(10), "aXbcd");
}

// The peer sends "abcXdef" in one piece. The data trigger's handler peeks, takes, purges
// and then raises, while another thread looks at the ring during the dispatch. A peek
// gives what the next take would give; the other thread sees nothing; after the purge
// the handler gets nothing; and the raise, which ends the dispatch and the worker,
// brings no purged byte back.
TEST_F(TriggersTest, APurgeInAHandlerIsFinalAndAPeekSeesWhatATakeWould) {
    SetApplicationExceptionDisplay([](std::exception_ptr) {});
    const int workers = d.WorkerCount();
    std::atomic<int> stage{0}; // 1: the handler runs; 2: the other thread has looked
    std::string seen;          // the handler's peeks ('-': none) and takes, then its count
    const auto peek = [&](uint32_t n) {
        uint8_t b = 0;
        return d.PeekByte(n, b) == ecOK ? std::string(1, char(b)) : std::string("-");
    };
    d.Triggers().AddDataTrigger("X", false);
    d.Triggers().AddEventHandler(
        [&](uint32_t, uint32_t, uint32_t) {
            stage = 1;
            WaitFor([&] { return stage == 2; });
            for (const uint32_t n : {1, 0, 1, 3, 4}) // a, take a, b, X, past the match
                seen += n ? peek(n) : Take(1);
            d.PurgeInput();
            seen += std::to_string(d.InputCount());
            seen += Take(1);
            seen += peek(1);
            throw Exception("broken after the purge");
        },
        false);
    d.Reads.Arm();
    Send("abcXdef");
    ASSERT_TRUE(d.Reads.WaitHeld());
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // all seven reach the port
    d.Reads.Release();
    ASSERT_TRUE(WaitFor([&] { return stage == 1; }));
    EXPECT_EQ(d.InputCount(), 0u);
    EXPECT_EQ(peek(1), "-") << "another thread peeked during the dispatch";
    stage = 2;
    const bool ended = WaitFor([&] { return d.WorkerCount() == workers - 1; });
    SetApplicationExceptionDisplay(nullptr);
    ASSERT_TRUE(ended);
    EXPECT_EQ(seen, "aabX-0-");
    EXPECT_EQ(Take(10), "") << "the raise brought purged bytes back";
    EXPECT_EQ(peek(1), "-");
}

// The output worker may take the close's purge before the stop request: then only the
// release from the ending dispatcher worker wakes it again. Repeated, since the order
// varies.
TEST(ClosingHandlerTest, AHandlerThatClosesAndRaisesStillLetsThePortGo) {
    SetApplicationExceptionDisplay([](std::exception_ptr) {});
    PtyPort pty{5};
    for (int cycle = 0; cycle < 20; ++cycle) {
        DispatcherProbe d;
        ASSERT_EQ(d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0), ecOK);
        d.Triggers().AddEventHandler(
            [&](uint32_t, uint32_t, uint32_t) {
                d.ClosePort();
                throw Exception("broken after the close");
            },
            false);
        d.Triggers().SetAvailThreshold(1);
        pty.Write("a", 1);
        // The output worker is woken and ends too: nothing is left running.
        EXPECT_TRUE(WaitFor([&] { return d.WorkerCount() == 0; })) << "cycle " << cycle;
        EXPECT_FALSE(d.WorkersActive());
        EXPECT_TRUE(d.ClosePending());
        if (d.WorkerCount() != 0)
            break; // the destructor would wait for ever
    }
    SetApplicationExceptionDisplay(nullptr);
}

// An open while the last close waits for a handler is refused before it touches the
// rings and flags that handler's worker still uses; the close then completes when the
// handler returns, and the next open works.
TEST(ClosingHandlerTest, AnOpenWhileTheCloseWaitsForAHandlerLeavesThatCloseAlone) {
    PtyPort pty{5};
    DispatcherProbe d;
    ASSERT_EQ(d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0), ecOK);
    std::atomic<bool> inHandler{false}, release{false};
    d.Triggers().AddEventHandler(
        [&](uint32_t, uint32_t, uint32_t) {
            inHandler = true;
            while (!release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        false);
    d.Triggers().SetAvailThreshold(1);
    pty.Write("a", 1);
    ASSERT_TRUE(WaitFor([&] { return inHandler.load(); }));
    d.ClosePort(); // deferred: the handler runs
    EXPECT_THROW(d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0), Exception);
    release = true;
    EXPECT_TRUE(WaitFor([&] { return d.WorkerCount() == 0; }));
    EXPECT_TRUE(d.ClosePending());
    ASSERT_EQ(d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0), ecOK);
    pty.Write("bc", 2);
    EXPECT_TRUE(WaitFor([&] { return d.InputCount() == 2; }));
}

// The close holds its release lock while it stops the workers and, meanwhile, serves
// the thread's messages. A message handler run there that closes the same dispatcher
// takes that lock again on the same thread: it must re-enter, not deadlock. The
// handler runs only if the close waited for a worker, so cycles repeat until it has.
TEST(ClosingHandlerTest, AMessageHandlerThatClosesWhileTheCloseStopsTheWorkersReEnters) {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock l(lock);
        if (!finished.wait_for(l, std::chrono::seconds(30), [&] { return done; })) {
            std::fprintf(stderr, "the close from a message handler run inside the close "
                                 "deadlocked\n");
            std::_Exit(1);
        }
    });
    PtyPort pty{5};
    const auto gui = std::this_thread::get_id();
    bool ranInsideClose = false;
    for (int cycle = 0; cycle < 20 && !ranInsideClose; ++cycle) {
        DispatcherProbe d;
        if (d.OpenPort(pty.DeviceName(), 921600, 0, 8, 1, 4096, 4096, 0) != ecOK) {
            ADD_FAILURE() << "open failed in cycle " << cycle;
            break;
        }
        bool armed = true;
        SetPendingMessageProcessor([&] {
            if (std::this_thread::get_id() == gui && armed) {
                armed = false;
                d.ClosePort(); // say, the user's close, handled during the first one
                ranInsideClose = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        });
        d.ClosePort();
        SetPendingMessageProcessor(nullptr);
        EXPECT_EQ(d.WorkerCount(), 0) << "cycle " << cycle;
        EXPECT_FALSE(d.WorkersActive()) << "cycle " << cycle;
    }
    {
        std::lock_guard l(lock);
        done = true;
    }
    finished.notify_one();
    watchdog.join();
    EXPECT_TRUE(ranInsideClose) << "no close waited for a worker";
}

TEST_F(TriggersTest, TimerTriggerFiresOnceAfterExpiry) {
    const int32_t handle = d.Triggers().AddTimerTrigger();
    ASSERT_GT(handle, 0);
    d.Triggers().AddEventHandler([&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p); },
                                 false);
    ASSERT_EQ(d.Triggers().SetTimerTrigger(handle, 1, true), ecOK);
    ASSERT_TRUE(WaitFor([&] { return calls.Count() == 1; }));
    EXPECT_EQ(calls.At(0).msg, MsgTriggerTimer);
    EXPECT_EQ(calls.At(0).trigger, uint32_t(handle));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(calls.Count(), 1u);
}

TEST_F(TriggersTest, EachStatusTriggerTypeFiresWithItsValue) {
    auto& t = d.Triggers();
    t.AddEventHandler([&](uint32_t m, uint32_t tr, uint32_t p) { calls.Add(m, tr, p); }, false);
    const struct {
        uint32_t type;
        uint16_t value;
        uint32_t reported;
    } cases[] = {
        {stModem, 0x1010, 0}, // expects CTS on; a pty has it off
        {stLine, platform::ce::RxParity, 0},
        {stOutBuffFree, 100, 4096},
        {stOutBuffUsed, 0, 0},
        {stOutSent, 0, 0},
    };
    for (const auto& c : cases) {
        const int32_t handle = t.AddStatusTrigger(c.type);
        ASSERT_GT(handle, 0);
        EXPECT_EQ(uint32_t(handle) & 7, c.type);
        const size_t before = calls.Count();
        if (c.type == stLine)
            d.SetLineErrors(platform::ce::RxParity);
        ASSERT_EQ(t.SetStatusTrigger(handle, c.value, true), ecOK);
        if (c.type == stOutSent) {
            const uint8_t byte = 1;
            d.QueueBlock(&byte, 1);
        }
        ASSERT_TRUE(WaitFor([&] { return calls.Count() == before + 1; })) << "type " << c.type;
        const auto call = calls.At(before);
        EXPECT_EQ(call.msg, MsgTriggerStatus);
        EXPECT_EQ(call.trigger, uint32_t(handle));
        EXPECT_EQ(call.param, Param(c.reported)) << "type " << c.type;
        ASSERT_EQ(t.RemoveTrigger(handle), ecOK);
    }
}

TEST_F(TriggersTest, TriggerMisuseGivesTriggerCodes) {
    auto& t = d.Triggers();
    EXPECT_EQ(t.AddDataTrigger(std::string(23, 'x'), false), ecTriggerTooLong);
    EXPECT_EQ(t.AddDataTrigger("", false), ecTriggerTooLong);
    EXPECT_EQ(t.AddStatusTrigger(9), ecBadTriggerHandle);
    EXPECT_EQ(t.SetTimerTrigger(12345, 1, true), ecBadTriggerHandle);
    EXPECT_EQ(t.RemoveTrigger(12345), ecBadTriggerHandle);
}

TEST_F(TriggersTest, OnlyTheComponentsOwnWindowCallsNothing) {
    platform::MessageTarget window([&](uint32_t m, uintptr_t w, intptr_t l) {
        calls.Add(m, uint32_t(w), uint32_t(l));
        return intptr_t(0);
    });
    d.Triggers().SetHandlerFlags(hmPortHandlerOff);
    d.Triggers().AddNotifyWindow(window.Handle());
    EXPECT_TRUE(d.Triggers().CallHandlers(MsgTriggerTimer, 1, 0));
    EXPECT_EQ(calls.Count(), 0u) << "the lone window is the component's own";
    d.Triggers().SetHandlerFlags(hmPortHandlerOff);
    EXPECT_FALSE(d.Triggers().HandlersActive());
    d.Triggers().SetHandlerFlags(hmPortHandlerOn);
    EXPECT_TRUE(d.Triggers().HandlersActive());
    d.Triggers().RemoveNotifyWindow(window.Handle());
    d.Triggers().SetHandlerFlags(hmPortHandlerOff);
    EXPECT_FALSE(d.Triggers().HandlersActive());
}

TEST(TriggerSnapshotTest, SaveAndRestoreCarryWholeRecordsToTheNextDispatcher) {
    PtyPort pty{5};
    TTriggerSnapshot snapshot;
    {
        DispatcherProbe first;
        ASSERT_EQ(first.OpenPort(pty.DeviceName(), 19200, 0, 8, 1, 4096, 4096, 0), ecOK);
        auto& t = first.Triggers();
        t.SetAvailThreshold(7);
        t.AddTimerTrigger();
        t.AddDataTrigger("ABC", true);
        const int32_t status = t.AddStatusTrigger(stOutBuffFree);
        t.SetStatusTrigger(status, 77, false);
        t.SaveTriggers(snapshot);
    }
    ASSERT_TRUE(snapshot.Timers && snapshot.Data && snapshot.Status);
    EXPECT_EQ(snapshot.AvailThreshold, 7);

    DispatcherProbe second;
    ASSERT_EQ(second.OpenPort(pty.DeviceName(), 19200, 0, 8, 1, 4096, 4096, 0), ecOK);
    second.Triggers().RestoreTriggers(snapshot);
    TTriggerSnapshot again;
    second.Triggers().SaveTriggers(again);
    EXPECT_EQ(again.AvailThreshold, 7);
    ASSERT_EQ(again.Data->size(), 1u);
    EXPECT_EQ(std::memcmp(again.Data->data(), snapshot.Data->data(), sizeof(TDataTrigger)), 0);
    ASSERT_EQ(again.Status->size(), 1u);
    EXPECT_EQ(again.Status->at(0).Value, 77);
    EXPECT_EQ(again.Status->at(0).Handle, snapshot.Status->at(0).Handle);
    ASSERT_EQ(again.Timers->size(), 1u);
    const int32_t fresh = second.Triggers().AddTimerTrigger();
    for (const auto& old : *again.Timers)
        EXPECT_NE(fresh, old.Handle);
    TOrvTriggers::FreeTriggerSnapshot(again);
    EXPECT_FALSE(again.Timers.has_value());
}

// The steps of one dispatcher pass, run on this thread over a ring filled by hand, each
// after a dispatch whose handler asks for the close: no later step may call a handler.
TEST(AbortedPassTest, AHandlerThatAsksForTheCloseEndsThePass) {
    enum Step { ComEvent, StatusAndTimers };
    const struct {
        const char* name;
        uint32_t closingMsg; // the handler that receives it closes
        bool byWindow;       // the closing handler is a window handler
        Step step;
        uint32_t expectedMsg;
    } cases[] = {
        // The status check comes before the data triggers of the same pass.
        {"status handler, then a data trigger", MsgTriggerStatus, false, ComEvent,
         MsgTriggerStatus},
        // The status check comes before the timers.
        {"status handler, then a timer", MsgTriggerStatus, false, StatusAndTimers,
         MsgTriggerStatus},
        {"timer handler, then a second timer", MsgTriggerTimer, false, StatusAndTimers,
         MsgTriggerTimer},
        // The bytes in front of a matched sequence are reported before its data trigger.
        {"window handler, then a data trigger", MsgTriggerAvail, true, ComEvent, MsgTriggerAvail},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DispatcherProbe d;
        d.AllocateRings(4096, 4096);
        std::vector<uint32_t> calls;
        auto handler = [&](uint32_t msg) {
            calls.push_back(msg);
            if (msg == c.closingMsg)
                d.ClosePort();
        };
        platform::MessageTarget window([&](uint32_t m, uintptr_t, intptr_t) {
            handler(m);
            return intptr_t(0);
        });
        auto& t = d.Triggers();
        if (c.byWindow) {
            t.AddNotifyWindow(window.Handle());
            d.SetHandlerFlags(hmPortHandlerOn);
        } else {
            t.AddEventHandler([&](uint32_t m, uint32_t, uint32_t) { handler(m); }, false);
        }
        ASSERT_GT(t.AddDataTrigger("<#>", false), 0);
        t.SetAvailThreshold(3);
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(t.SetTimerTrigger(t.AddTimerTrigger(), 0, true), ecOK);
        if (c.closingMsg == MsgTriggerStatus) {
            const int32_t status = t.AddStatusTrigger(stOutSent);
            ASSERT_EQ(t.SetStatusTrigger(status, 0, true), ecOK);
            d.SetOutputSent();
        }
        d.FeedRing("abc<#>");
        std::this_thread::sleep_for(std::chrono::milliseconds(60)); // the timers expire
        if (c.step == ComEvent)
            d.ProcessComEvent();
        else
            d.CheckStatusAndTimers();
        EXPECT_TRUE(d.ClosePending());
        EXPECT_EQ(calls, std::vector<uint32_t>{c.expectedMsg});
    }
}

// A ring filled to the last byte before the triggers saw any of it: the scan position
// equals the head, and the ring is full, not empty.
TEST(FullRingScanTest, AFullRingOfUnscannedBytesIsScanned) {
    DispatcherProbe d;
    d.AllocateRings(4096, 4096);
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    d.Triggers().AddEventHandler(
        [&](uint32_t m, uint32_t tr, uint32_t) {
            uint8_t b;
            uint32_t taken = 0;
            while (d.TakeByte(b) == ecOK)
                ++taken;
            calls.emplace_back(m, m == MsgTriggerAvail ? tr : taken);
        },
        false);
    const int32_t handle = d.Triggers().AddDataTrigger("<#>", false);
    d.Triggers().SetAvailThreshold(1);
    d.FeedRing(std::string(kInRingSize - 3, 'a') + "<#>");
    ASSERT_EQ(d.InputCount(), 0u); // not scanned yet: not for the takers either
    d.ProcessComEvent();
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {MsgTriggerAvail, kInRingSize - 3}, // the bytes in front of the sequence
        {MsgTriggerData, 3},                // the sequence, through its last byte
    };
    EXPECT_EQ(calls, expected);
    EXPECT_GT(handle, 0);
    EXPECT_EQ(d.InputCount(), 0u);
    // The dispatches emptied the ring: the worker watches the device for the bytes behind
    // it again at once, not only at its next timed pass.
    EXPECT_FALSE(d.InputRingFull());
}

} // namespace
} // namespace orvi::testing
