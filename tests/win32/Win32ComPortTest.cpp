// The com port component over wine: opening by number, the missing port, the exchange
// through the component, the hidden event window (a message-only window of the class
// "ovComWindow"), trigger messages with their numbers and parameters on the owning
// thread, the close deferred from inside a handler, RS-485 mode on a driver without the
// RTS toggle, and a device pulled out while open.
#include "platform/MessageTarget.h"
#include "platform/SystemError.h"
#include "serial/ComPort.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/MessageTable.h"
#include "serial/dispatch/BaseDispatcher.h"
#include "serial/dispatch/DispatcherRegistry.h"
#include "tests/win32/ComPortPeers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace orvi::testing {
namespace {

// A message as a window received it, with the thread it ran on.
struct Received {
    uint32_t msg;
    uintptr_t wParam;
    intptr_t lParam;
    DWORD thread;
};

class Win32ComPortTest : public ComPortPeers {
protected:
    void SetUp() override {
        ComPortPeers::SetUp();
        if (!IsSkipped())
            port_.SetComNumber(uint16_t(sim_));
    }

    // Sends the housing request and takes the reply as it arrives.
    std::vector<uint8_t> Exchange() {
        port_.SendBlock(sim::kHousingRequest.data(), uint16_t(sim::kHousingRequest.size()));
        std::vector<uint8_t> reply;
        PumpUntil([&] { return port_.InCount() >= sim::kReplyLength; });
        while (reply.size() < sim::kReplyLength && port_.InCount() > 0)
            reply.push_back(port_.GetByte());
        return reply;
    }
};

TEST_F(Win32ComPortTest, OpensByNumberAndExchangesWithTheDevice) {
    port_.SetOpen(true);
    ASSERT_TRUE(port_.Open());
    EXPECT_EQ(port_.PortState(), cpsOpen);
    port_.FlushInput();
    for (int i = 0; i < 3; ++i) {
        const auto reply = Exchange();
        ASSERT_EQ(reply.size(), sim::kReplyLength);
        EXPECT_TRUE(IsHousingReply(reply.data()));
    }
    port_.SetOpen(false);
    EXPECT_EQ(port_.PortState(), cpsClosed);
}

TEST_F(Win32ComPortTest, MissingPortRaisesBadIdAndStaysClosed) {
    port_.SetComNumber(uint16_t(missing_));
    const DWORD before = HandleCount();
    try {
        port_.SetOpen(true);
        FAIL() << "no exception";
    } catch (const EBadId& e) {
        EXPECT_EQ(e.ErrorCode(), ecBadId);
        EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
    }
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(port_.PortState(), cpsClosed);
    EXPECT_EQ(port_.EventWindow(), 0);
    EXPECT_EQ(HandleCount(), before);
}

// The device opens, then refuses the line settings: the open fails and takes back
// everything it had made (device handle, events, threads, window).
TEST_F(Win32ComPortTest, RefusedLineSettingFailsTheOpenAndLeavesNoHandle) {
    port_.SetOpen(true); // first use creates the process's lasting objects
    port_.SetOpen(false);
    const DWORD before = HandleCount();
    port_.SetDataBits(4);
    EXPECT_THROW(port_.SetOpen(true), Exception);
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(port_.Dispatcher(), nullptr);
    EXPECT_EQ(port_.EventWindow(), 0);
    EXPECT_EQ(HandleCount(), before);
    port_.SetDataBits(8);
    port_.SetOpen(true);
    EXPECT_EQ(port_.PortState(), cpsOpen);
}

TEST_F(Win32ComPortTest, EventWindowIsAMessageOnlyWindowOfItsClass) {
    port_.SetOpen(true);
    const HWND window = reinterpret_cast<HWND>(port_.EventWindow());
    ASSERT_NE(window, nullptr);
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    EXPECT_STREQ(name, "ovComWindow");
    // Listed among the children of the message-only parent, so it needs no desktop.
    EXPECT_EQ(FindWindowExA(HWND_MESSAGE, nullptr, "ovComWindow", nullptr), window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
    port_.SetOpen(false);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(Win32ComPortTest, TriggerEventsRunOnTheOwningThreadWithTheMessageNumbers) {
    std::vector<Received> triggers;
    std::vector<uint8_t> taken;
    port_.SetOnTrigger([&](TOrvCustomComPort&, uint16_t msg, uint16_t handle, uint16_t data) {
        triggers.push_back({msg, handle, data, GetCurrentThreadId()});
    });
    port_.SetOnTriggerAvail([&](TOrvCustomComPort& cp, uint16_t count) {
        for (uint16_t i = 0; i < count; ++i)
            taken.push_back(cp.GetByte());
    });
    port_.SetOpen(true);
    port_.SendBlock(sim::kHousingRequest.data(), uint16_t(sim::kHousingRequest.size()));
    ASSERT_TRUE(PumpUntil([&] { return taken.size() >= sim::kReplyLength; }));
    ASSERT_EQ(taken.size(), sim::kReplyLength);
    EXPECT_TRUE(IsHousingReply(taken.data()));
    ASSERT_FALSE(triggers.empty());
    uint32_t counted = 0;
    for (const Received& r : triggers) {
        EXPECT_EQ(r.msg, 32257u); // MsgTriggerAvail
        EXPECT_EQ(r.wParam, uintptr_t(r.lParam)) << "Data is the byte count";
        EXPECT_EQ(r.thread, GetCurrentThreadId());
        counted += uint32_t(r.wParam);
    }
    EXPECT_EQ(counted, sim::kReplyLength);
}

// A window of the test's own, registered with the dispatcher like any user window,
// receives the raw messages: number, wParam (low word: count or trigger handle) and
// lParam (high word: the dispatcher's handle; low word: the trigger's data).
TEST_F(Win32ComPortTest, UserWindowsReceiveTheRawTriggerMessages) {
    std::vector<Received> received;
    platform::MessageTarget window([&](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        received.push_back({msg, wParam, lParam, GetCurrentThreadId()});
        return intptr_t(0);
    });
    ASSERT_TRUE(window.Valid());
    port_.SetComNumber(uint16_t(echo_));
    port_.SetOpen(true);
    port_.FlushInput();
    TOrvBaseDispatcher& d = *port_.Dispatcher();
    d.Triggers().AddNotifyWindow(window.Handle());
    const int32_t dataHandle = d.Triggers().AddDataTrigger("OK", false);
    ASSERT_GT(dataHandle, 0);
    const int32_t timerHandle = d.Triggers().AddTimerTrigger();
    ASSERT_GT(timerHandle, 0);
    ASSERT_EQ(d.Triggers().SetTimerTrigger(timerHandle, 1, true), ecOK);

    port_.SendBlock("xOK", 3);
    auto has = [&](uint32_t msg) {
        for (const Received& r : received)
            if (r.msg == msg)
                return true;
        return false;
    };
    ASSERT_TRUE(PumpUntil([&] { return has(32257) && has(32258) && has(32259); }));
    const auto dispatcherHandle = uint32_t(d.Handle());
    for (const Received& r : received) {
        SCOPED_TRACE(r.msg);
        EXPECT_EQ(r.thread, GetCurrentThreadId());
        EXPECT_EQ(uint32_t(r.lParam) >> 16, dispatcherHandle);
        if (r.msg == 32258) {
            EXPECT_EQ(r.wParam & 0xFFFF, uintptr_t(dataHandle));
        } else if (r.msg == 32259) {
            EXPECT_EQ(r.wParam & 0xFFFF, uintptr_t(timerHandle));
        } else {
            EXPECT_EQ(r.msg, 32257u);
        }
    }
    d.Triggers().RemoveNotifyWindow(window.Handle());
    port_.SetOpen(false);
}

TEST_F(Win32ComPortTest, CloseFromAHandlerIsDeferredAndCompletes) {
    const int32_t slots = DispatcherRegistry::SlotCount();
    std::vector<std::string> order;
    std::vector<uint16_t> closingMessages;
    port_.SetOnPortClose([&](TOrvCustomComPort&) { order.push_back("close"); });
    port_.SetOnTrigger([&](TOrvCustomComPort&, uint16_t msg, uint16_t, uint16_t) {
        if (msg == MsgPortClosing)
            closingMessages.push_back(msg);
    });
    port_.SetOnTriggerAvail([&](TOrvCustomComPort& cp, uint16_t) {
        if (cp.PortState() != cpsOpen)
            return;
        cp.SetOpen(false);
        order.push_back(cp.PortState() == cpsShuttingDown ? "handler: shutting down"
                                                          : "handler: closed at once");
    });
    port_.SetOpen(true);
    const HWND window = reinterpret_cast<HWND>(port_.EventWindow());
    port_.SendBlock(sim::kHousingRequest.data(), uint16_t(sim::kHousingRequest.size()));
    ASSERT_TRUE(PumpUntil([&] { return port_.PortState() == cpsClosed; }));
    EXPECT_EQ(order, (std::vector<std::string>{"close", "handler: shutting down"}));
    EXPECT_FALSE(closingMessages.empty());
    EXPECT_EQ(closingMessages.front(), 32266u);
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(port_.EventWindow(), 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(DispatcherRegistry::SlotCount(), slots);

    port_.SetOpen(true); // the port is free again
    EXPECT_EQ(port_.PortState(), cpsOpen);
}

// Wine's driver refuses the RTS toggle, as many USB adapters' do: the port opens in
// RS-485 mode all the same. On the open port the mode sets and removes the toggle, and
// without it RTS is the program's again (SetRts 0, not 1 for "driven by the flow").
TEST_F(Win32ComPortTest, Rs485ModeTogglesRtsOnAnOpenPortAndARefusalLetsItOpen) {
    port_.SetComNumber(uint16_t(echo_));
    port_.SetRS485Mode(true);
    port_.SetOpen(true);
    ASSERT_TRUE(port_.Open());
    TOrvBaseDispatcher& d = *port_.Dispatcher();
    const auto rtsControl = [&] { return platform::dcb::RtsControl(d.GetDeviceState().Flags); };
    EXPECT_EQ(rtsControl(), platform::dcb::ControlToggle);
    for (bool on : {false, true, false}) {
        SCOPED_TRACE(on);
        port_.SetRS485Mode(on);
        EXPECT_EQ(rtsControl() == platform::dcb::ControlToggle, on);
        EXPECT_EQ(d.SetRts(1), on ? 1 : ecOK);
    }
    port_.FlushInput();
    port_.SendBlock("rs", 2);
    EXPECT_TRUE(PumpUntil([&] { return port_.InCount() == 2; }));
}

// The peer goes away in the middle of the exchange, as a pulled-out adapter does. The
// component's next call that reaches the device (the flush a run ends with) raises the
// system's words for a device that stopped working, not a bare code; no worker spins on
// the gone device, and the port closes.
TEST_F(Win32ComPortTest, PulledOutDeviceIsToldInTheSystemsWords) {
    const int unplug = PeerPort("ORVI_WINE_UNPLUG_PORT");
    if (unplug == 0)
        GTEST_SKIP() << SkipText("ORVI_WINE_UNPLUG_PORT");
    port_.SetComNumber(uint16_t(unplug));
    port_.SetOpen(true);
    port_.FlushInput();
    port_.SendBlock("ping", 4);
    ASSERT_TRUE(PumpUntil([&] { return port_.InCount() == 4; }));
    port_.SendBlock("UNPLUG!", 7);

    std::optional<std::string> told;
    int32_t code = 0;
    PumpUntil([&] {
        try {
            port_.FlushInput();
            return false;
        } catch (const EInOutError& e) {
            code = e.ErrorCode();
            told = e.what();
        } catch (const std::exception& e) {
            told = e.what();
        }
        return true;
    });
    ASSERT_TRUE(told) << "the gone device was never told";
    EXPECT_EQ(code, int32_t(platform::syserr::DeviceGone)) << *told;
    EXPECT_EQ(*told, ErrorMessageText(-int32_t(platform::syserr::DeviceGone)));
    EXPECT_FALSE(told->empty());

    const double before = ProcessCpuMs();
    Sleep(1000);
    EXPECT_LT(ProcessCpuMs() - before, 300.0) << "a worker spins on the gone device";
    port_.SetOpen(false);
    EXPECT_FALSE(port_.Open());
    EXPECT_EQ(port_.PortState(), cpsClosed);
}

} // namespace
} // namespace orvi::testing
