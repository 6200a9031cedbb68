// The com port component without a device: property defaults, write rules and clamps
// on a closed port, the flow-control threshold arithmetic, RS-485 mode, the loading
// state, Assign, and the failures of operations on a closed port.
#include "serial/ComPort.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/dispatch/DispatcherRegistry.h"
#include "tests/serial/ComPortTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace orvi::testing {
namespace {

struct DefaultCase {
    const char* property;
    std::function<int64_t(TOrvComPort&)> read;
    int64_t expected;
};

TEST(ComPortDefaultsTest, EveryPropertyStartsAtItsDefault) {
    const DefaultCase cases[] = {
        {"DeviceLayer", [](TOrvComPort& p) { return p.DeviceLayer(); }, dlWin32},
        {"ComNumber", [](TOrvComPort& p) { return p.ComNumber(); }, 0},
        {"Baud", [](TOrvComPort& p) { return p.Baud(); }, 19200},
        {"PromptForPort", [](TOrvComPort& p) { return p.PromptForPort(); }, 1},
        {"Parity", [](TOrvComPort& p) { return p.Parity(); }, pNone},
        {"DataBits", [](TOrvComPort& p) { return p.DataBits(); }, 8},
        {"StopBits", [](TOrvComPort& p) { return p.StopBits(); }, 1},
        {"InSize", [](TOrvComPort& p) { return p.InSize(); }, 4096},
        {"OutSize", [](TOrvComPort& p) { return p.OutSize(); }, 4096},
        {"AutoOpen", [](TOrvComPort& p) { return p.AutoOpen(); }, 1},
        {"Open", [](TOrvComPort& p) { return p.Open(); }, 0},
        {"DTR", [](TOrvComPort& p) { return p.DTR(); }, 1},
        {"RTS", [](TOrvComPort& p) { return p.RTS(); }, 1},
        {"HWFlowOptions", [](TOrvComPort& p) { return p.HWFlowOptions(); }, 0},
        {"SWFlowOptions", [](TOrvComPort& p) { return p.SWFlowOptions(); }, swfNone},
        {"XOnChar", [](TOrvComPort& p) { return p.XOnChar(); }, 17},
        {"XOffChar", [](TOrvComPort& p) { return p.XOffChar(); }, 19},
        {"BufferFull", [](TOrvComPort& p) { return p.BufferFull(); }, 0},
        {"BufferResume", [](TOrvComPort& p) { return p.BufferResume(); }, 0},
        {"Tracing", [](TOrvComPort& p) { return p.Tracing(); }, tlOff},
        {"TraceSize", [](TOrvComPort& p) { return p.TraceSize(); }, 10000},
        {"TraceHex", [](TOrvComPort& p) { return p.TraceHex(); }, 1},
        {"TraceAllHex", [](TOrvComPort& p) { return p.TraceAllHex(); }, 0},
        {"Logging", [](TOrvComPort& p) { return p.Logging(); }, tlOff},
        {"LogSize", [](TOrvComPort& p) { return p.LogSize(); }, 10000},
        {"LogHex", [](TOrvComPort& p) { return p.LogHex(); }, 1},
        {"LogAllHex", [](TOrvComPort& p) { return p.LogAllHex(); }, 0},
        {"UseMSRShadow", [](TOrvComPort& p) { return p.UseMSRShadow(); }, 1},
        {"UseEventWord", [](TOrvComPort& p) { return p.UseEventWord(); }, 1},
        {"CommNotificationLevel", [](TOrvComPort& p) { return p.CommNotificationLevel(); }, 10},
        {"TapiMode", [](TOrvComPort& p) { return p.TapiMode(); }, tmAuto},
        {"RS485Mode", [](TOrvComPort& p) { return p.RS485Mode(); }, 0},
        {"TriggerLength", [](TOrvComPort& p) { return p.TriggerLength(); }, 1},
        {"ThreadBoost", [](TOrvComPort& p) { return p.ThreadBoost(); }, 0},
        {"PortState", [](TOrvComPort& p) { return p.PortState(); }, cpsClosed},
    };
    TOrvComPort port;
    for (const auto& c : cases)
        EXPECT_EQ(c.read(port), c.expected) << c.property;
    EXPECT_EQ(port.TraceName(), "ORVI.TRC");
    EXPECT_EQ(port.LogName(), "ORVI.LOG");
    EXPECT_EQ(port.Version(), "v4.05");
    port.SetVersion("v9.99");
    EXPECT_EQ(port.Version(), "v4.05");
    EXPECT_FALSE(port.Designing());
    EXPECT_FALSE(port.OnPortOpen());
    EXPECT_FALSE(port.OnTriggerAvail());
    EXPECT_EQ(port.EventWindow(), 0);
}

struct WriteCase {
    const char* what;
    std::function<void(TOrvComPort&)> write;
    std::function<int64_t(TOrvComPort&)> read;
    int64_t expected;
};

TEST(ComPortClosedWritesTest, ClampsAndClosedPortRules) {
    const WriteCase cases[] = {
        {"TraceSize above the limit", [](TOrvComPort& p) { p.SetTraceSize(5000000); },
         [](TOrvComPort& p) { return p.TraceSize(); }, 4000000},
        {"TraceSize at the limit", [](TOrvComPort& p) { p.SetTraceSize(4000000); },
         [](TOrvComPort& p) { return p.TraceSize(); }, 4000000},
        {"LogSize above the limit", [](TOrvComPort& p) { p.SetLogSize(20000000); },
         [](TOrvComPort& p) { return p.LogSize(); }, 16000000},
        {"UseMSRShadow False", [](TOrvComPort& p) { p.SetUseMSRShadow(false); },
         [](TOrvComPort& p) { return p.UseMSRShadow(); }, 1},
        {"Tracing tlDump", [](TOrvComPort& p) { p.SetTracing(tlDump); },
         [](TOrvComPort& p) { return p.Tracing(); }, tlOff},
        {"Tracing tlAppend", [](TOrvComPort& p) { p.SetTracing(tlAppend); },
         [](TOrvComPort& p) { return p.Tracing(); }, tlOff},
        {"Tracing tlPause", [](TOrvComPort& p) { p.SetTracing(tlPause); },
         [](TOrvComPort& p) { return p.Tracing(); }, tlOff},
        {"Tracing tlClear", [](TOrvComPort& p) { p.SetTracing(tlClear); },
         [](TOrvComPort& p) { return p.Tracing(); }, tlOff},
        {"Tracing tlOn", [](TOrvComPort& p) { p.SetTracing(tlOn); },
         [](TOrvComPort& p) { return p.Tracing(); }, tlOn},
        {"Tracing tlOn then tlPause",
         [](TOrvComPort& p) {
             p.SetTracing(tlOn);
             p.SetTracing(tlPause);
         },
         [](TOrvComPort& p) { return p.Tracing(); }, tlOff},
        {"Logging tlDump", [](TOrvComPort& p) { p.SetLogging(tlDump); },
         [](TOrvComPort& p) { return p.Logging(); }, tlOff},
        {"Logging tlOn", [](TOrvComPort& p) { p.SetLogging(tlOn); },
         [](TOrvComPort& p) { return p.Logging(); }, tlOn},
        {"DeviceLayer not supported", [](TOrvComPort& p) { p.SetDeviceLayer(dlWinsock); },
         [](TOrvComPort& p) { return p.DeviceLayer(); }, dlWin32},
        {"TraceName of 300 characters",
         [](TOrvComPort& p) { p.SetTraceName(std::string(300, 'a')); },
         [](TOrvComPort& p) { return int64_t(p.TraceName().size()); }, 255},
        {"LogName of 256 characters", [](TOrvComPort& p) { p.SetLogName(std::string(256, 'b')); },
         [](TOrvComPort& p) { return int64_t(p.LogName().size()); }, 255},
        {"DTR stored while closed", [](TOrvComPort& p) { p.SetDTR(false); },
         [](TOrvComPort& p) { return p.DTR(); }, 0},
        {"Baud stored while closed", [](TOrvComPort& p) { p.SetBaud(115200); },
         [](TOrvComPort& p) { return p.Baud(); }, 115200},
        {"ComNumber stored while closed", [](TOrvComPort& p) { p.SetComNumber(12); },
         [](TOrvComPort& p) { return p.ComNumber(); }, 12},
        {"SWFlowOptions out of range",
         [](TOrvComPort& p) { p.SetSWFlowOptions(TSWFlowOptions(9)); },
         [](TOrvComPort& p) { return p.SWFlowOptions(); }, swfNone},
        {"HWFlowOptions beyond the four options",
         [](TOrvComPort& p) { p.SetHWFlowOptions(0xF0 | HWFlow(hwfRequireDSR)); },
         [](TOrvComPort& p) { return p.HWFlowOptions(); }, HWFlow(hwfRequireDSR)},
    };
    for (const auto& c : cases) {
        TOrvComPort port;
        c.write(port);
        EXPECT_EQ(c.read(port), c.expected) << c.what;
        EXPECT_EQ(port.PortState(), cpsClosed) << c.what;
    }
}

struct FlowCase {
    const char* what;
    uint16_t inSize;
    std::function<void(TOrvComPort&)> write;
    uint16_t full, resume;
};

TEST(ComPortFlowControlTest, ThresholdArithmetic) {
    const FlowCase cases[] = {
        {"hardware flow from zero thresholds", 4096,
         [](TOrvComPort& p) { p.SetHWFlowOptions(HWFlow(hwfUseRTS)); }, 3686, 409},
        {"software flow from zero thresholds", 4096,
         [](TOrvComPort& p) { p.SetSWFlowOptions(swfBoth); }, 3072, 1024},
        {"BufferFull above InSize without flow control", 4096,
         [](TOrvComPort& p) { p.SetBufferFull(5000); }, 4500, 0},
        {"BufferFull above InSize with hardware flow on", 4096,
         [](TOrvComPort& p) {
             p.SetHWFlowOptions(HWFlow(hwfUseRTS));
             p.SetBufferFull(5000);
         },
         3686, 409},
        {"BufferFull within InSize is kept", 4096,
         [](TOrvComPort& p) {
             p.SetHWFlowOptions(HWFlow(hwfRequireCTS));
             p.SetBufferFull(2000);
         },
         2000, 409},
        {"BufferResume above BufferFull", 4096,
         [](TOrvComPort& p) {
             p.SetBufferFull(3000);
             p.SetBufferResume(3500);
         },
         3000, 300},
        {"BufferResume above BufferFull with flow on", 4096,
         [](TOrvComPort& p) {
             p.SetBufferFull(1000);
             p.SetBufferResume(2000);
             p.SetHWFlowOptions(HWFlow(hwfUseDTR));
         },
         1000, 100},
        {"small input buffer", 100, [](TOrvComPort& p) { p.SetSWFlowOptions(swfReceive); }, 75, 25},
        {"turning flow off keeps the thresholds", 4096,
         [](TOrvComPort& p) {
             p.SetHWFlowOptions(HWFlow(hwfUseRTS));
             p.SetHWFlowOptions(0);
         },
         3686, 409},
    };
    for (const auto& c : cases) {
        TOrvComPort port;
        port.SetInSize(c.inSize);
        c.write(port);
        EXPECT_EQ(port.BufferFull(), c.full) << c.what;
        EXPECT_EQ(port.BufferResume(), c.resume) << c.what;
    }
}

TEST(ComPortFlowControlTest, RS485ModeRemovesRtsFlowAndLowersRts) {
    TOrvComPort port;
    port.SetHWFlowOptions(HWFlow(hwfUseDTR) | HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS));
    port.SetRS485Mode(true);
    EXPECT_TRUE(port.RS485Mode());
    EXPECT_EQ(port.HWFlowOptions(), HWFlow(hwfUseDTR));
    EXPECT_FALSE(port.RTS());
}

TEST(ComPortFlowControlTest, RtsFlowEndsRS485Mode) {
    TOrvComPort port;
    port.SetRS485Mode(true);
    port.SetHWFlowOptions(HWFlow(hwfRequireCTS));
    EXPECT_FALSE(port.RS485Mode());
    port.SetRS485Mode(true);
    port.SetHWFlowOptions(HWFlow(hwfRequireDSR));
    EXPECT_TRUE(port.RS485Mode());
}

// ---- a closed port ----

struct ClosedOperation {
    const char* name;
    std::function<void(TOrvComPort&)> run;
};

TEST(ComPortClosedTest, IoOnAClosedPortWithoutAutoOpenRaisesCommNotOpen) {
    const uint8_t frame[7] = {};
    const ClosedOperation operations[] = {
        {"GetByte", [](TOrvComPort& p) { (void)p.GetByte(); }},
        {"SendBlock", [&](TOrvComPort& p) { p.SendBlock(frame, sizeof frame); }},
        {"FlushInput", [](TOrvComPort& p) { p.FlushInput(); }},
        {"FlushOutput", [](TOrvComPort& p) { p.FlushOutput(); }},
    };
    for (const auto& op : operations) {
        TOrvComPort port;
        port.SetAutoOpen(false);
        port.SetComNumber(5);
        try {
            op.run(port);
            ADD_FAILURE() << op.name << " raised nothing";
        } catch (const ECommNotOpen& e) {
            EXPECT_STREQ(e.what(), "ie_NOpen - device not open") << op.name;
            EXPECT_EQ(e.ErrorCode(), ecCommNotOpen) << op.name;
        }
        EXPECT_EQ(port.PortState(), cpsClosed) << op.name;
    }
}

TEST(ComPortClosedTest, CountsAndLineStatusOfAClosedPortAreZero) {
    TOrvComPort port; // AutoOpen True: reading these still never opens
    port.SetComNumber(77);
    EXPECT_EQ(port.InCount(), 0);
    EXPECT_EQ(port.LineError(), 0);
    EXPECT_FALSE(port.LineBreak());
    EXPECT_EQ(port.PortState(), cpsClosed);
    EXPECT_FALSE(port.Open());
}

TEST(ComPortClosedTest, WritingOpenFalseOnAClosedPortDoesNothing) {
    TOrvComPort port;
    int closes = 0;
    port.SetOnPortClose([&](TOrvCustomComPort&) { ++closes; });
    port.SetOpen(false);
    EXPECT_EQ(closes, 0);
}

// ---- open failures that need no device ----

TEST(ComPortOpenFailureTest, NoPortNumberWithoutPromptRaisesNoPortSelected) {
    TOrvComPort port;
    port.SetPromptForPort(false);
    bool asked = false;
    PromptScope prompt([&](bool& ok) {
        asked = true;
        ok = true;
        return 3;
    });
    EXPECT_EQ(MessageOf<ENoPortSelected>([&] { port.SetOpen(true); }),
              "The ComNumber property of the TOrvComPort has not been set");
    EXPECT_FALSE(asked);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.ComNumber(), 0);
}

TEST(ComPortOpenFailureTest, CancelledPromptRaisesNoPortSelected) {
    TOrvComPort port;
    int asked = 0;
    PromptScope prompt([&](bool& ok) {
        ++asked;
        ok = false;
        return 0;
    });
    EXPECT_EQ(MessageOf<ENoPortSelected>([&] { port.SetOpen(true); }),
              "The ComNumber property of the TOrvComPort has not been set");
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.ComNumber(), 0);
}

TEST(ComPortOpenFailureTest, WithoutAPromptInstalledTheOpenIsCancelled) {
    TOrvComPort port;
    EXPECT_EQ(MessageOf<ENoPortSelected>([&] { port.SetOpen(true); }),
              "The ComNumber property of the TOrvComPort has not been set");
}

TEST(ComPortOpenFailureTest, PromptAnswerOutOfRangeCountsAsNoPort) {
    for (int answer : {0, -3, 70000}) {
        TOrvComPort port;
        PromptScope prompt([answer](bool& ok) {
            ok = true;
            return answer;
        });
        EXPECT_THROW(port.SetOpen(true), ENoPortSelected) << answer;
        EXPECT_EQ(port.ComNumber(), 0) << answer;
    }
}

TEST(ComPortOpenFailureTest, MissingPortRaisesBadIdAndLeavesNothingOpen) {
    TOrvComPort port;
    port.SetAutoOpen(false);
    port.SetComNumber(77);
    const int32_t slots = DispatcherRegistry::SlotCount();
    int opens = 0, closes = 0;
    port.SetOnPortOpen([&](TOrvCustomComPort&) { ++opens; });
    port.SetOnPortClose([&](TOrvCustomComPort&) { ++closes; });
    try {
        port.SetOpen(true);
        ADD_FAILURE() << "nothing raised";
    } catch (const EBadId& e) {
        EXPECT_STREQ(e.what(), "ie_BadId - Specified comport doesn't exist");
        EXPECT_EQ(e.ErrorCode(), ecBadId);
    }
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortState(), cpsClosed);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.EventWindow(), 0);
    EXPECT_EQ(DispatcherRegistry::SlotCount(), slots);
    port.SetOpen(false);
    EXPECT_EQ(opens, 0);
    EXPECT_EQ(closes, 0);
}

TEST(ComPortOpenFailureTest, TelephonyModeWithoutADeviceHandleRaisesNotOpenedByTapi) {
    TOrvComPort port;
    port.SetAutoOpen(false);
    port.SetTapiMode(tmOn); // no port number is needed in this mode
    EXPECT_EQ(MessageOf<ENotOpenedByTapi>([&] { port.SetOpen(true); }),
              "Comport was not opened by Tapi");
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
}

// ---- loading ----

TEST(ComPortLoadingTest, CodesAreReturnedInsteadOfRaisedWhileLoading) {
    TOrvComPort port; // AutoOpen True, but loading never opens
    port.SetComNumber(77);
    port.BeginLoading();
    EXPECT_NO_THROW(EXPECT_EQ(port.GetByte(), 0));
    EXPECT_NO_THROW(port.FlushInput());
    EXPECT_EQ(port.PortState(), cpsClosed);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.PortState(), cpsClosed);
}

TEST(ComPortLoadingTest, AFailedOpenInLoadedGoesToTheExceptionDisplay) {
    ExceptionRecorder shown;
    TOrvComPort port;
    port.BeginLoading();
    port.SetComNumber(77);
    port.SetOpen(true);
    EXPECT_NO_THROW(port.Loaded());
    ASSERT_EQ(shown.messages.size(), 1u);
    EXPECT_EQ(shown.messages[0], "ie_BadId - Specified comport doesn't exist");
    EXPECT_FALSE(port.Open());
    EXPECT_FALSE(port.Loading());
    // Loading is over: failures raise again.
    port.SetAutoOpen(false);
    EXPECT_THROW(port.FlushInput(), ECommNotOpen);
}

// ---- Assign ----

TEST(ComPortAssignTest, CopiesSettingsAndSomeEvents) {
    TOrvComPort source;
    source.SetComNumber(9);
    source.SetBaud(57600);
    source.SetParity(pEven);
    source.SetInSize(2048);
    source.SetHWFlowOptions(HWFlow(hwfUseRTS));
    source.SetTraceName("a.trc");
    source.SetTracing(tlOn);
    source.SetTriggerLength(20);
    source.SetUseEventWord(false);
    source.SetCommNotificationLevel(3);
    source.SetTapiMode(tmOff);
    source.SetName("CPort");
    int avail = 0, lineErrors = 0;
    source.SetOnTriggerAvail([&](TOrvCustomComPort&, uint16_t) { ++avail; });
    source.SetOnTriggerLineError([&](TOrvCustomComPort&, uint16_t, bool) { ++lineErrors; });

    TOrvComPort copy;
    copy.Assign(source);
    EXPECT_EQ(copy.ComNumber(), 9);
    EXPECT_EQ(copy.Baud(), 57600);
    EXPECT_EQ(copy.Parity(), pEven);
    EXPECT_EQ(copy.InSize(), 2048);
    EXPECT_EQ(copy.HWFlowOptions(), HWFlow(hwfUseRTS));
    EXPECT_EQ(copy.BufferFull(), source.BufferFull());
    EXPECT_EQ(copy.TraceName(), "a.trc");
    EXPECT_EQ(copy.Tracing(), tlOn);
    EXPECT_EQ(copy.TriggerLength(), 20);
    EXPECT_EQ(copy.TapiMode(), tmOff);
    EXPECT_FALSE(copy.Open());
    EXPECT_TRUE(copy.OnTriggerAvail());
    // Not copied: the other events, UseEventWord, CommNotificationLevel, the name.
    EXPECT_FALSE(copy.OnTriggerLineError());
    EXPECT_TRUE(copy.UseEventWord());
    EXPECT_EQ(copy.CommNotificationLevel(), 10);
    EXPECT_EQ(copy.Name(), "");
}

TEST(ComPortAssignTest, ItselfAndOtherComponentsAreIgnored) {
    TOrvComPort port;
    port.SetBaud(300);
    port.Assign(port);
    EXPECT_EQ(port.Baud(), 300);
    class OtherComponent : public TOrvBaseComponent {};
    OtherComponent other;
    port.Assign(other);
    EXPECT_EQ(port.Baud(), 300);
}

} // namespace
} // namespace orvi::testing
