// The com port component's event delivery over real pseudo-terminals: trigger events
// on the owning thread with their arguments, status kinds, messages for unknown
// dispatchers, the worker's own data-available event, handlers that raise, the deferred close from inside a handler, the open
// and close notifications of registered users, synchronised dispatcher handlers, and
// repeated open/close cycles with traffic.
#include "platform/MessageTarget.h"
#include "serial/ComPort.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/dispatch/DispatcherRegistry.h"
#include "tests/serial/ComPortTestSupport.h"
#include "tests/support/WaitFor.h"
#include "tools/pty/PtyPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvi::testing {
namespace {

// One delivered event: its name and arguments, and the thread it ran on.
struct Event {
    Event(std::string n, int x = 0, int y = 0, int z = 0,
          std::thread::id t = std::this_thread::get_id())
        : name(std::move(n)), a(x), b(y), c(z), thread(t) {}

    std::string name;
    int a, b, c;
    std::thread::id thread;

    bool operator==(const Event& o) const {
        return name == o.name && a == o.a && b == o.b && c == o.c;
    }
};

std::ostream& operator<<(std::ostream& os, const Event& e) {
    return os << e.name << "(" << e.a << "," << e.b << "," << e.c << ")";
}

class ComPortEventsTest : public ::testing::Test {
protected:
    ComPortEventsTest() {
        port.SetComNumber(6);
        port.SetAutoOpen(false);
    }

    void Record(std::string name, int a = 0, int b = 0, int c = 0) {
        events.emplace_back(std::move(name), a, b, c);
    }

    // Every trigger event records itself.
    void RecordAllEvents() {
        port.SetOnTrigger([this](TOrvCustomComPort&, uint16_t msg, uint16_t handle, uint16_t data) {
            Record("Trigger", msg, handle, data);
        });
        port.SetOnTriggerAvail([this](TOrvCustomComPort&, uint16_t n) { Record("Avail", n); });
        port.SetOnTriggerData([this](TOrvCustomComPort&, uint16_t h) { Record("Data", h); });
        port.SetOnTriggerStatus([this](TOrvCustomComPort&, uint16_t h) { Record("Status", h); });
        port.SetOnTriggerTimer([this](TOrvCustomComPort&, uint16_t h) { Record("Timer", h); });
        port.SetOnTriggerLineError(
            [this](TOrvCustomComPort&, uint16_t e, bool b) { Record("LineError", e, b); });
        port.SetOnTriggerModemStatus([this](TOrvCustomComPort&) { Record("ModemStatus"); });
        port.SetOnTriggerOutbuffFree([this](TOrvCustomComPort&) { Record("OutbuffFree"); });
        port.SetOnTriggerOutbuffUsed([this](TOrvCustomComPort&) { Record("OutbuffUsed"); });
        port.SetOnTriggerOutSent([this](TOrvCustomComPort&) { Record("OutSent"); });
    }

    intptr_t Param(uint16_t low) {
        return intptr_t(uint32_t(port.Dispatcher()->Handle()) << 16 | low);
    }

    // Posts a message to the event window as a dispatcher would send it, and delivers it.
    void Deliver(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        ASSERT_TRUE(platform::PostMessageTo(port.EventWindow(), msg, wParam, lParam));
        while (platform::ProcessOneMessage(0)) {
        }
    }

    PtyPort pty{6};
    ExceptionRecorder shown;
    // Both outlive the port, whose close at destruction may record into them.
    std::vector<Event> events;
    std::vector<std::string> order;
    TOrvComPort port;
};

// ---- trigger events from real traffic ----

TEST_F(ComPortEventsTest, AvailEventRunsOnThisThreadWithTheByteCount) {
    std::string taken;
    RecordAllEvents();
    port.SetOnTriggerAvail([&](TOrvCustomComPort& cp, uint16_t count) {
        Record("Avail", count);
        for (uint16_t i = 0; i < count; ++i)
            taken.push_back(char(cp.GetByte()));
    });
    port.SetOpen(true);
    pty.Write("abc", 3);
    ASSERT_TRUE(PumpUntil([&] { return taken.size() >= 3; }));
    EXPECT_EQ(taken, "abc");
    ASSERT_GE(events.size(), 2u);
    const int count = events[1].a;
    // For the data-available message Data is the count, not the parameter's low word.
    EXPECT_EQ(events[0], (Event{"Trigger", int(MsgTriggerAvail), count, count}));
    EXPECT_EQ(events[1].name, "Avail");
    for (const Event& e : events)
        EXPECT_EQ(e.thread, std::this_thread::get_id()) << e;
    // The bytes the handler took are consumed when the dispatch ends.
    EXPECT_TRUE(PumpUntil([&] { return port.InCount() == 0; }));
    EXPECT_TRUE(shown.messages.empty());
}

// The worker's data-available event: on the dispatcher worker, with the bytes its own to
// take; registered again on the dispatcher of the next open; gone once cleared.
TEST_F(ComPortEventsTest, WorkerAvailEventAndReadOnCallerHoldAcrossAReopen) {
    struct Shared {
        std::mutex lock;
        std::string taken;
        std::vector<std::thread::id> threads;
    };
    auto shared = std::make_shared<Shared>();
    const auto taken = [&] {
        std::lock_guard guard(shared->lock);
        return shared->taken;
    };
    port.SetTriggerLength(5);
    port.SetOnWorkerAvail([shared](TOrvBaseDispatcher& d, uint16_t count) {
        std::string bytes(count, '\0');
        if (d.TakeBlock(reinterpret_cast<uint8_t*>(bytes.data()), count) != ecOK)
            return;
        std::lock_guard guard(shared->lock);
        shared->taken += bytes;
        shared->threads.push_back(std::this_thread::get_id());
    });
    port.SetOpen(true);
    pty.Write("hello", 5);
    ASSERT_TRUE(WaitFor([&] { return taken() == "hello"; })) << taken();
    port.SetOpen(false);
    port.SetOpen(true);
    pty.Write("again", 5);
    ASSERT_TRUE(WaitFor([&] { return taken() == "helloagain"; })) << taken();
    {
        std::lock_guard guard(shared->lock);
        for (const std::thread::id& id : shared->threads)
            EXPECT_NE(id, std::this_thread::get_id());
    }
    port.SetOnWorkerAvail({});
    pty.Write("kept!", 5);
    ASSERT_TRUE(PumpUntil([&] { return port.InCount() == 5; }));
    EXPECT_EQ(taken(), "helloagain");

    // Reading on the owning thread instead, kept across a reopen like the event: the new
    // dispatcher's worker leaves the bytes to WaitInput.
    ASSERT_TRUE(port.SetReadOnCaller(true));
    port.SetOpen(false);
    port.SetOpen(true);
    ASSERT_TRUE(port.Dispatcher()->ReadOnCaller());
    pty.Write("owner", 5);
    EXPECT_TRUE(WaitFor([&] { return port.WaitInput(50) == 5; }));
    EXPECT_TRUE(shown.messages.empty());
}

TEST_F(ComPortEventsTest, OutputSentStatusTriggerFiresItsEvents) {
    RecordAllEvents();
    port.SetOpen(true);
    auto& triggers = port.Dispatcher()->Triggers();
    const int32_t handle = triggers.AddStatusTrigger(stOutSent);
    ASSERT_GT(handle, 0);
    ASSERT_EQ(triggers.SetStatusTrigger(handle, 0, true), ecOK);
    const uint8_t frame[2] = {'o', 'k'};
    port.SendBlock(frame, sizeof frame);
    ASSERT_TRUE(PumpUntil([&] { return events.size() >= 3; }));
    EXPECT_EQ(events[0], (Event{"Trigger", int(MsgTriggerStatus), handle & 0xFFFF, 0}));
    EXPECT_EQ(events[1], (Event{"Status", handle & 0xFFFF}));
    EXPECT_EQ(events[2], (Event{"OutSent"}));
}

TEST_F(ComPortEventsTest, OnlyTriggerEventsMakeTheDispatcherCallTheWindow) {
    port.SetOnPortOpen([](TOrvCustomComPort&) {});
    port.SetOnPortClose([](TOrvCustomComPort&) {});
    port.SetOpen(true);
    auto& triggers = port.Dispatcher()->Triggers();
    EXPECT_FALSE(triggers.HandlersActive());
    port.SetOnTriggerAvail([](TOrvCustomComPort&, uint16_t) {});
    EXPECT_TRUE(triggers.HandlersActive());
    port.SetOnTriggerAvail(nullptr);
    EXPECT_FALSE(triggers.HandlersActive());
    port.SetOnTriggerOutSent([](TOrvCustomComPort&) {});
    EXPECT_TRUE(triggers.HandlersActive());
}

TEST_F(ComPortEventsTest, TriggerEventsAssignedBeforeOpenAreServed) {
    port.SetOnTrigger([](TOrvCustomComPort&, uint16_t, uint16_t, uint16_t) {});
    port.SetOpen(true);
    EXPECT_TRUE(port.Dispatcher()->Triggers().HandlersActive());
}

TEST_F(ComPortEventsTest, SynchronisedDispatcherHandlersRunOnThisThread) {
    port.SetOpen(true);
    std::atomic<int> calls{0};
    std::atomic<bool> onThisThread{true};
    const auto self = std::this_thread::get_id();
    auto& triggers = port.Dispatcher()->Triggers();
    triggers.AddEventHandler(
        [&](uint32_t, uint32_t, uint32_t) {
            if (std::this_thread::get_id() != self)
                onThisThread = false;
            ++calls;
        },
        true);
    triggers.SetAvailThreshold(1);
    pty.Write("z", 1);
    ASSERT_TRUE(PumpUntil([&] { return calls.load() > 0; }));
    EXPECT_TRUE(onThisThread.load());
}

// ---- delivery rules, with messages posted as a dispatcher sends them ----

struct StatusCase {
    uint16_t kind;
    const char* extra; // the event after Trigger and Status; null for none
};

TEST_F(ComPortEventsTest, StatusKindsSelectTheirEvent) {
    const StatusCase cases[] = {
        {0, nullptr},       {1, "ModemStatus"}, {2, "LineError"}, {3, "OutbuffFree"},
        {4, "OutbuffUsed"}, {5, "OutSent"},     {6, nullptr},     {7, nullptr},
    };
    RecordAllEvents();
    port.SetOpen(true);
    for (const auto& c : cases) {
        events.clear();
        const uint16_t handle = uint16_t(8 * 3 + c.kind);
        Deliver(MsgTriggerStatus, handle, Param(9));
        std::vector<Event> expected = {{"Trigger", int(MsgTriggerStatus), handle, 9},
                                       {"Status", handle}};
        if (c.extra)
            expected.push_back({c.extra});
        EXPECT_EQ(events, expected) << "kind " << c.kind;
    }
}

TEST_F(ComPortEventsTest, DataAndTimerMessagesCarryHandleAndData) {
    RecordAllEvents();
    port.SetOpen(true);
    Deliver(MsgTriggerData, 0x10018, Param(5));
    Deliver(MsgTriggerTimer, 40, Param(0));
    EXPECT_EQ(events, (std::vector<Event>{{"Trigger", int(MsgTriggerData), 0x18, 5},
                                          {"Data", 0x18},
                                          {"Trigger", int(MsgTriggerTimer), 40, 0},
                                          {"Timer", 40}}));
}

TEST_F(ComPortEventsTest, MessagesForUnknownDispatchersAreIgnored) {
    RecordAllEvents();
    port.SetOpen(true);
    const int32_t beyond = DispatcherRegistry::SlotCount();
    Deliver(MsgTriggerAvail, 3, intptr_t(beyond) << 16);
    Deliver(MsgTriggerAvail, 3, intptr_t(beyond + 100) << 16);
    Deliver(0x7E30, 3, Param(0)); // not a port event
    EXPECT_TRUE(events.empty());
}

TEST_F(ComPortEventsTest, RaisingHandlerIsShownAndTheNextMessageIsDelivered) {
    RecordAllEvents();
    int calls = 0;
    port.SetOnTriggerAvail([&](TOrvCustomComPort&, uint16_t n) {
        if (++calls == 1)
            throw EORVException(ecBufferIsEmpty);
        Record("Avail", n);
    });
    port.SetOpen(true);
    ASSERT_TRUE(platform::PostMessageTo(port.EventWindow(), MsgTriggerAvail, 4, Param(0)));
    ASSERT_TRUE(platform::PostMessageTo(port.EventWindow(), MsgTriggerAvail, 6, Param(0)));
    EXPECT_NO_THROW(while (platform::ProcessOneMessage(0)){});
    EXPECT_EQ(shown.messages, std::vector<std::string>{"Buffer is empty"});
    EXPECT_EQ(events, (std::vector<Event>{{"Trigger", int(MsgTriggerAvail), 4, 4},
                                          {"Trigger", int(MsgTriggerAvail), 6, 6},
                                          {"Avail", 6}}));
}

TEST_F(ComPortEventsTest, HandlerMayClearItsOwnEvent) {
    port.SetOnTriggerAvail([&](TOrvCustomComPort& cp, uint16_t n) {
        cp.SetOnTriggerAvail(nullptr);
        Record("Avail", n);
    });
    port.SetOpen(true);
    Deliver(MsgTriggerAvail, 2, Param(0));
    Deliver(MsgTriggerAvail, 2, Param(0));
    EXPECT_EQ(events, (std::vector<Event>{{"Avail", 2}}));
}

// ---- closing from inside a handler ----

TEST_F(ComPortEventsTest, CloseFromAnAvailHandlerIsDeferredAndReopensWhenAsked) {
    TComPortState stateInHandler = cpsClosed;
    bool openInHandler = false;
    port.SetOnPortOpen([&](TOrvCustomComPort&) { order.push_back("open"); });
    port.SetOnPortClose([&](TOrvCustomComPort&) { order.push_back("close"); });
    port.SetOnTrigger([&](TOrvCustomComPort&, uint16_t msg, uint16_t handle, uint16_t data) {
        if (msg == MsgPortClosing)
            Record("Closing", msg, handle, data);
    });
    port.SetOnTriggerAvail([&](TOrvCustomComPort& cp, uint16_t) {
        if (cp.PortState() != cpsOpen)
            return;
        cp.SetOpen(false);
        stateInHandler = cp.PortState();
        openInHandler = cp.Open();
        order.push_back("handler: close asked");
        cp.SetOpen(true); // remembered until the close has completed
    });
    port.SetOpen(true);
    pty.Write("q", 1);
    ASSERT_TRUE(PumpUntil([&] { return order.size() >= 4; }));

    EXPECT_EQ(stateInHandler, cpsShuttingDown);
    EXPECT_TRUE(openInHandler);
    EXPECT_EQ(order, (std::vector<std::string>{"open", "close", "handler: close asked", "open"}));
    EXPECT_EQ(port.PortState(), cpsOpen);
    EXPECT_TRUE(port.Open());
    EXPECT_NE(port.Dispatcher(), nullptr);
    ASSERT_FALSE(events.empty());
    for (const Event& e : events)
        EXPECT_EQ(e, (Event{"Closing", int(MsgPortClosing), 0, 0}));
    EXPECT_TRUE(shown.messages.empty());
}

TEST_F(ComPortEventsTest, DeferredCloseCompletesAndReleasesEverything) {
    const int32_t slots = DispatcherRegistry::SlotCount();
    int closes = 0;
    port.SetOnPortClose([&](TOrvCustomComPort&) { ++closes; });
    port.SetOnTriggerAvail([&](TOrvCustomComPort& cp, uint16_t) {
        cp.SetOpen(false);
        // While the close is in progress the I/O operations do nothing.
        EXPECT_EQ(cp.GetByte(), 0);
        cp.FlushInput();
    });
    port.SetOpen(true);
    pty.Write("q", 1);
    ASSERT_TRUE(PumpUntil([&] { return port.PortState() == cpsClosed; }));
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.EventWindow(), 0);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(DispatcherRegistry::SlotCount(), slots);
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
}

TEST_F(ComPortEventsTest, RaisingOnTriggerDoesNotStopADeferredClose) {
    port.SetOnTrigger([](TOrvCustomComPort&, uint16_t msg, uint16_t, uint16_t) {
        if (msg == MsgPortClosing)
            throw Exception("closing handler failed");
    });
    port.SetOnTriggerAvail([](TOrvCustomComPort& cp, uint16_t) { cp.SetOpen(false); });
    port.SetOpen(true);
    pty.Write("q", 1);
    ASSERT_TRUE(PumpUntil([&] { return port.PortState() == cpsClosed; }));
    ASSERT_FALSE(shown.messages.empty());
    EXPECT_EQ(shown.messages[0], "closing handler failed");
}

TEST_F(ComPortEventsTest, OpenFalseWhileClosingCancelsAPendingOpen) {
    port.SetOnTriggerAvail([](TOrvCustomComPort& cp, uint16_t) {
        cp.SetOpen(false);
        cp.SetOpen(true);
        cp.SetOpen(false);
    });
    port.SetOpen(true);
    pty.Write("q", 1);
    ASSERT_TRUE(PumpUntil([&] { return port.PortState() == cpsClosed; }));
    platform::ProcessOneMessage(0);
    EXPECT_EQ(port.PortState(), cpsClosed);
}

// ---- notifications of registered users ----

class ComPortWithUsers : public TOrvComPort {
public:
    using TOrvComPort::PortUsers;
};

TEST_F(ComPortEventsTest, CloseOutsideHandlersCompletesAtOnceWhileTheWorkerDispatches) {
    ComPortWithUsers busy;
    busy.SetAutoOpen(false);
    busy.SetComNumber(6);
    std::atomic<bool> entered{false}, closing{false};
    // Tells the worker's handler below that the close has begun.
    busy.PortUsers().push_back(
        {0, nullptr, [&](TOrvCustomComPort&, int32_t kind) { closing = closing || kind == 1; },
         true});
    busy.SetOnPortClose([&](TOrvCustomComPort& cp) {
        order.push_back(cp.Open() ? "OnPortClose while open" : "OnPortClose after close");
    });
    busy.SetOpen(true);
    busy.Dispatcher()->Triggers().AddEventHandler(
        [&](uint32_t, uint32_t, uint32_t) {
            entered = true;
            WaitFor([&] { return closing.load(); });
        },
        false);
    pty.Write("w", 1);
    ASSERT_TRUE(WaitFor([&] { return entered.load(); }));
    ASSERT_TRUE(busy.Dispatcher()->InDispatch());

    busy.SetOpen(false);
    EXPECT_EQ(busy.PortState(), cpsClosed);
    EXPECT_FALSE(busy.Open());
    EXPECT_EQ(busy.Dispatcher(), nullptr);
    EXPECT_EQ(order, std::vector<std::string>{"OnPortClose after close"});
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
}

TEST_F(ComPortEventsTest, UsersAreToldFromTheLastToTheFirst) {
    std::vector<std::string> told;
    platform::MessageTarget simpleWindow([&](uint32_t msg, uintptr_t, intptr_t) {
        told.push_back("simple window " + std::to_string(msg));
        return intptr_t(0);
    });
    platform::MessageTarget extendedWindow([&](uint32_t msg, uintptr_t, intptr_t) {
        told.push_back("extended window " + std::to_string(msg));
        return intptr_t(0);
    });
    ComPortWithUsers withUsers;
    withUsers.SetAutoOpen(false);
    withUsers.SetComNumber(6);
    withUsers.SetOnPortOpen([&](TOrvCustomComPort&) { told.push_back("OnPortOpen"); });
    withUsers.SetOnPortClose([&](TOrvCustomComPort&) { told.push_back("OnPortClose"); });
    auto& users = withUsers.PortUsers();
    users.push_back({0,
                     [&](TOrvCustomComPort&, bool opened) {
                         told.push_back(std::string("simple ") + (opened ? "opened" : "closed"));
                     },
                     nullptr, false});
    users.push_back({0, nullptr,
                     [&](TOrvCustomComPort&, int32_t kind) {
                         told.push_back("extended " + std::to_string(kind));
                     },
                     true});
    users.push_back({simpleWindow.Handle(), nullptr, nullptr, false});
    users.push_back({extendedWindow.Handle(), nullptr, nullptr, true});

    withUsers.SetOpen(true);
    withUsers.SetOpen(false);
    EXPECT_EQ(told, (std::vector<std::string>{"extended window 32264", "simple window 32264",
                                              "extended 0", "simple opened", "OnPortOpen",
                                              // closing: extended users only
                                              "extended window 32266", "extended 1",
                                              // closed
                                              "extended window 32265", "simple window 32265",
                                              "extended 2", "simple closed", "OnPortClose"}));

    // Assign copies the users.
    ComPortWithUsers copy;
    copy.Assign(withUsers);
    EXPECT_EQ(copy.PortUsers().size(), 4u);
}

// ---- many cycles ----

TEST_F(ComPortEventsTest, RepeatedOpenCloseWithTrafficStaysClean) {
    constexpr int kCycles = 200;
    const int32_t slots = DispatcherRegistry::SlotCount();
    std::string received;
    port.SetOnTriggerAvail([&](TOrvCustomComPort& cp, uint16_t count) {
        for (uint16_t i = 0; i < count; ++i)
            received.push_back(char(cp.GetByte()));
    });
    int completed = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        received.clear();
        port.SetOpen(true);
        ASSERT_EQ(port.PortState(), cpsOpen) << cycle;
        const std::string message = "cycle" + std::to_string(cycle % 10);
        pty.Write(message.data(), message.size());
        const uint8_t reply[3] = {'a', 'c', 'k'};
        port.SendBlock(reply, sizeof reply);
        ASSERT_TRUE(PumpUntil([&] { return received.size() >= message.size(); })) << cycle;
        EXPECT_EQ(received, message) << cycle;
        uint8_t echoed[3] = {};
        EXPECT_EQ(pty.ReadExact(echoed, sizeof echoed, 5000), sizeof echoed) << cycle;
        port.SetOpen(false);
        ASSERT_EQ(port.PortState(), cpsClosed) << cycle;
        ++completed;
    }
    EXPECT_EQ(completed, kCycles);
    EXPECT_EQ(DispatcherRegistry::SlotCount(), slots);
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
    EXPECT_TRUE(shown.messages.empty());
}

} // namespace
} // namespace orvi::testing
