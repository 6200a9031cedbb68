// The com port component over real pseudo-terminals: opening and closing, the port
// operations the console relies on, open failures with their classes and messages,
// settings pushed to an open port, ComNumber changes, and the trace and log files
// written on close.
#include "serial/ComPort.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/dispatch/DispatcherRegistry.h"
#include "tests/serial/ComPortTestSupport.h"
#include "tools/pty/PtyPort.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace orvi::testing {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs a test inside a fresh temporary working folder, so that the default trace and
// log names land there.
class TemporaryWorkingFolder {
public:
    TemporaryWorkingFolder() {
        char cwd[PATH_MAX];
        previous_ = getcwd(cwd, sizeof cwd) ? cwd : "/";
        char name[] = "/tmp/orvi-comport-XXXXXX";
        folder_ = mkdtemp(name) ? name : "";
        if (!folder_.empty() && chdir(folder_.c_str()) != 0)
            folder_.clear();
    }
    ~TemporaryWorkingFolder() {
        (void)chdir(previous_.c_str());
        if (!folder_.empty())
            (void)std::system(("rm -rf '" + folder_ + "'").c_str());
    }
    TemporaryWorkingFolder(const TemporaryWorkingFolder&) = delete;
    TemporaryWorkingFolder& operator=(const TemporaryWorkingFolder&) = delete;

    bool Ready() const { return !folder_.empty(); }
    std::string Path(const std::string& name) const { return folder_ + "/" + name; }

private:
    std::string previous_;
    std::string folder_;
};

class ComPortTest : public ::testing::Test {
protected:
    ComPortTest() {
        port.SetComNumber(7);
        port.SetAutoOpen(false); // as the console sets it
        port.SetOnPortOpen([this](TOrvCustomComPort&) { events.push_back("open"); });
        port.SetOnPortClose([this](TOrvCustomComPort&) { events.push_back("close"); });
    }

    // Waits until the component has `n` received bytes.
    bool WaitForInput(uint16_t n) {
        return PumpUntil([&] { return port.InCount() >= n; });
    }

    PtyPort pty{7};
    ExceptionRecorder shown;
    std::vector<std::string> events; // outlives the port, whose close records into it
    TOrvComPort port;
};

// ---- opening and closing ----

TEST_F(ComPortTest, OpenTwiceOpensOnceAndCloseCallsOnPortClose) {
    port.SetOpen(true);
    port.SetOpen(true);
    EXPECT_TRUE(port.Open());
    EXPECT_EQ(port.PortState(), cpsOpen);
    ASSERT_NE(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.Dispatcher()->DeviceName(), "COM7");
    EXPECT_NE(port.EventWindow(), 0);
    EXPECT_FALSE(Unlocked(pty.SlavePath()));

    port.SetOpen(false);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortState(), cpsClosed);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.EventWindow(), 0);
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
    EXPECT_EQ(events, (std::vector<std::string>{"open", "close"}));
}

TEST_F(ComPortTest, PortHeldByAnotherProgramRaisesAlreadyOpen) {
    HeldPort other(pty.SlavePath());
    ASSERT_TRUE(other.Locked());
    try {
        port.SetOpen(true);
        ADD_FAILURE() << "nothing raised";
    } catch (const EAlreadyOpen& e) {
        EXPECT_STREQ(e.what(), "ie_Open - device already open");
        EXPECT_EQ(e.ErrorCode(), ecAlreadyOpen);
    }
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_TRUE(events.empty());
}

TEST_F(ComPortTest, LineSettingTheDeviceRefusesFailsTheOpenCleanly) {
    port.SetDataBits(4);
    const int32_t slots = DispatcherRegistry::SlotCount();
    EXPECT_THROW(port.SetOpen(true), EInOutError);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.EventWindow(), 0);
    EXPECT_EQ(DispatcherRegistry::SlotCount(), slots);
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
}

TEST_F(ComPortTest, RaisingOnPortOpenRollsTheOpenBackCompletely) {
    port.SetOnPortOpen([](TOrvCustomComPort&) { throw Exception("handler failed"); });
    const int32_t slots = DispatcherRegistry::SlotCount();
    EXPECT_EQ(MessageOf<Exception>([&] { port.SetOpen(true); }), "handler failed");
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortState(), cpsClosed);
    EXPECT_EQ(port.Dispatcher(), nullptr);
    EXPECT_EQ(port.EventWindow(), 0);
    EXPECT_EQ(DispatcherRegistry::SlotCount(), slots);
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
    // The port opens normally afterwards.
    port.SetOnPortOpen(nullptr);
    port.SetOpen(true);
    EXPECT_EQ(port.PortState(), cpsOpen);
}

TEST_F(ComPortTest, PromptedPortNumberIsStoredAndOpened) {
    port.SetComNumber(0);
    PromptScope prompt([](bool& ok) {
        ok = true;
        return 7;
    });
    port.SetOpen(true);
    EXPECT_EQ(port.ComNumber(), 7);
    EXPECT_EQ(port.PortState(), cpsOpen);
}

// ---- the console's operations ----

TEST_F(ComPortTest, SevenByteBlockLeavesInOrder) {
    port.SetOpen(true);
    const uint8_t frame[7] = {0x01, 0x03, 0x00, 0x10, 0x00, 0x0A, 0xC5};
    port.SendBlock(frame, sizeof frame);
    uint8_t got[7] = {};
    ASSERT_EQ(pty.ReadExact(got, sizeof got, 5000), sizeof got);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 7), std::vector<uint8_t>(frame, frame + 7));
}

TEST_F(ComPortTest, EmptyBlockSendsNothingAndRaisesNothing) {
    port.SetOpen(true);
    const uint8_t frame[1] = {0x55};
    EXPECT_NO_THROW(port.SendBlock(frame, 0));
    EXPECT_EQ(port.Dispatcher()->OutputUsed(), 0u);
}

TEST_F(ComPortTest, NullBlockWithALengthIsABadArgument) {
    port.SetOpen(true);
    EXPECT_EQ(MessageOf<EBadArgument>([&] { port.SendBlock(nullptr, 5); }),
              "Bad argument passed to function");
}

TEST_F(ComPortTest, TwentyOfTwentyFiveBytesLeaveFiveThenFlushLeavesNone) {
    port.SetOpen(true);
    std::vector<uint8_t> reply(25);
    for (size_t i = 0; i < reply.size(); ++i)
        reply[i] = uint8_t(0xA0 + i);
    pty.Write(reply.data(), reply.size());
    ASSERT_TRUE(WaitForInput(25));
    for (size_t i = 0; i < 20; ++i)
        EXPECT_EQ(port.GetByte(), reply[i]) << i;
    EXPECT_EQ(port.InCount(), 5);
    port.FlushInput();
    EXPECT_EQ(port.InCount(), 0);
    port.FlushOutput();
}

TEST_F(ComPortTest, GetByteOnAnEmptyBufferRaisesBufferIsEmpty) {
    port.SetOpen(true);
    try {
        (void)port.GetByte();
        ADD_FAILURE() << "nothing raised";
    } catch (const EBufferIsEmpty& e) {
        EXPECT_STREQ(e.what(), "Buffer is empty");
        EXPECT_EQ(e.ErrorCode(), ecBufferIsEmpty);
    }
    EXPECT_EQ(port.PortState(), cpsOpen);
}

TEST_F(ComPortTest, InCountNeverOpensEvenWithAutoOpen) {
    port.SetAutoOpen(true);
    EXPECT_EQ(port.InCount(), 0);
    EXPECT_EQ(port.PortState(), cpsClosed);
}

TEST_F(ComPortTest, GetByteOpensAClosedPortWithAutoOpen) {
    port.SetAutoOpen(true);
    EXPECT_THROW((void)port.GetByte(), EBufferIsEmpty);
    EXPECT_EQ(port.PortState(), cpsOpen);
    EXPECT_EQ(events, std::vector<std::string>{"open"});
}

// ---- settings on an open port ----

TEST_F(ComPortTest, BaudChangeReachesTheOpenPort) {
    port.SetOpen(true);
    port.SetBaud(9600);
    EXPECT_EQ(port.Dispatcher()->CurrentBaud(), 9600);
    EXPECT_EQ(port.Dispatcher()->GetDeviceState().BaudRate, 9600u);
}

TEST_F(ComPortTest, RefusedLineSettingRaisesAndStaysStored) {
    port.SetOpen(true);
    EXPECT_THROW(port.SetDataBits(4), EInOutError);
    EXPECT_EQ(port.DataBits(), 4);
    EXPECT_EQ(port.PortState(), cpsOpen);
}

TEST_F(ComPortTest, DtrUnderDtrFlowControlKeepsItsValue) {
    port.SetHWFlowOptions(HWFlow(hwfUseDTR));
    port.SetOpen(true);
    EXPECT_NO_THROW(port.SetDTR(false));
    EXPECT_TRUE(port.DTR());
    EXPECT_NO_THROW(port.SetRTS(false));
    EXPECT_FALSE(port.RTS());
}

TEST_F(ComPortTest, FlowThresholdsBeyondTheInputSizeAreRefusedByAnOpenPort) {
    port.SetOpen(true);
    EXPECT_EQ(MessageOf<EBadArgument>([&] { port.SetBufferFull(5000); }),
              "Bad argument passed to function");
    EXPECT_EQ(port.BufferFull(), 4500);
}

TEST_F(ComPortTest, RS485ModeOnAnOpenPortDropsRtsFlow) {
    port.SetHWFlowOptions(HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS));
    port.SetOpen(true);
    port.SetRS485Mode(true);
    EXPECT_EQ(port.HWFlowOptions(), 0);
    EXPECT_TRUE(port.RS485Mode());
}

TEST_F(ComPortTest, TriggerLengthBecomesTheAvailThreshold) {
    port.SetTriggerLength(20);
    port.SetOpen(true);
    EXPECT_EQ(port.Dispatcher()->Triggers().AvailThreshold(), 20);
    port.SetTriggerLength(7);
    EXPECT_EQ(port.Dispatcher()->Triggers().AvailThreshold(), 7);
}

// ---- ComNumber on an open port ----

TEST_F(ComPortTest, ComNumberChangeReopensOnTheNewPortKeepingTriggers) {
    PtyPort other(5);
    port.SetTracing(tlOn);
    port.SetOpen(true);
    const int32_t trigger = port.Dispatcher()->Triggers().AddDataTrigger("END", false);
    ASSERT_GT(trigger, 0);
    port.SetTriggerLength(3);
    events.clear();

    port.SetComNumber(5);
    EXPECT_EQ(events, (std::vector<std::string>{"close", "open"}));
    EXPECT_EQ(port.ComNumber(), 5);
    EXPECT_EQ(port.PortState(), cpsOpen);
    EXPECT_EQ(port.Dispatcher()->DeviceName(), "COM5");
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
    EXPECT_FALSE(Unlocked(other.SlavePath()));
    TTriggerSnapshot kept;
    port.Dispatcher()->Triggers().SaveTriggers(kept);
    ASSERT_TRUE(kept.Data.has_value());
    ASSERT_EQ(kept.Data->size(), 1u);
    EXPECT_EQ((*kept.Data)[0].Handle, trigger);
    EXPECT_EQ(kept.AvailThreshold, 3);
    EXPECT_EQ(port.Tracing(), tlOn);
    EXPECT_TRUE(port.Dispatcher()->TraceLog().TraceOn());
    port.SetTracing(tlOff);
}

TEST_F(ComPortTest, ComNumberChangeToAMissingPortRaisesAndLeavesItClosed) {
    port.SetOpen(true);
    EXPECT_THROW(port.SetComNumber(77), EBadId);
    EXPECT_EQ(port.ComNumber(), 77);
    EXPECT_FALSE(port.Open());
    EXPECT_EQ(port.PortState(), cpsClosed);
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
}

// ---- trace and log ----

TEST_F(ComPortTest, TraceOnThenCloseWritesTheTraceFile) {
    TemporaryWorkingFolder folder;
    ASSERT_TRUE(folder.Ready());
    port.SetTracing(tlOn);
    port.SetOpen(true);
    const uint8_t frame[5] = {0x02, 'A', 'B', 'C', 0x03};
    port.SendBlock(frame, sizeof frame);
    pty.Write("xyz", 3);
    ASSERT_TRUE(WaitForInput(3));
    for (int i = 0; i < 3; ++i)
        (void)port.GetByte();
    port.SetOpen(false);

    EXPECT_EQ(port.Tracing(), tlOff);
    const std::string trace = ReadFile(folder.Path("ORVI.TRC"));
    EXPECT_EQ(trace.rfind("Transmit: ", 0), 0u) << trace;
    EXPECT_NE(trace.find("[02]ABC[03]"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Receive: "), std::string::npos) << trace;
    EXPECT_EQ(trace.substr(trace.size() - 3), "xyz") << trace;
}

TEST_F(ComPortTest, LogOnThenCloseWritesTheDispatchLog) {
    TemporaryWorkingFolder folder;
    ASSERT_TRUE(folder.Ready());
    port.SetLogging(tlOn);
    port.SetOpen(true);
    const uint8_t frame[3] = {'a', 'b', 'c'};
    port.SendBlock(frame, sizeof frame);
    port.SetOpen(false);

    EXPECT_EQ(port.Logging(), tlOff);
    const std::string log = ReadFile(folder.Path("ORVI.LOG"));
    EXPECT_EQ(log.rfind("ORVI v4.05\r\n", 0), 0u) << log;
    EXPECT_NE(log.find("Device: COM7\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("WriteCom"), std::string::npos) << log;
}

TEST_F(ComPortTest, TraceStatesOnAnOpenPort) {
    TemporaryWorkingFolder folder;
    ASSERT_TRUE(folder.Ready());
    port.SetOpen(true);
    auto& trace = port.Dispatcher()->TraceLog();
    port.SetTracing(tlOn);
    EXPECT_TRUE(trace.TraceOn());
    port.SetTracing(tlPause);
    EXPECT_EQ(port.Tracing(), tlPause);
    EXPECT_FALSE(trace.TraceOn());
    port.SetTracing(tlClear);
    EXPECT_EQ(port.Tracing(), tlPause);
    port.SetTracing(tlOn);
    EXPECT_EQ(port.Tracing(), tlOn);
    EXPECT_TRUE(trace.TraceOn());
    port.SetTracing(tlOff);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_FALSE(trace.TraceExists());
    port.SetTracing(tlDump); // nothing to write
    EXPECT_EQ(port.Tracing(), tlOff);
    port.SetOpen(false);
    EXPECT_FALSE(std::ifstream(folder.Path("ORVI.TRC")).good());
}

TEST_F(ComPortTest, TraceSizeChangeRestartsARunningTraceAndEndsAPausedOne) {
    port.SetOpen(true);
    port.SetTracing(tlOn);
    port.SetTraceSize(500);
    EXPECT_EQ(port.Tracing(), tlOn);
    EXPECT_TRUE(port.Dispatcher()->TraceLog().TraceOn());
    port.SetTracing(tlPause);
    port.SetTraceSize(600);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_FALSE(port.Dispatcher()->TraceLog().TraceExists());
}

// A size above the limit over a stored limit is still a change: the running trace or log
// restarts, so what was recorded before it is gone from the file written on close.
TEST_F(ComPortTest, SizeAboveTheLimitOverTheStoredLimitRestartsTheTraceOrLog) {
    const struct {
        const char* file;
        void (TOrvComPort::*setSize)(uint32_t);
        uint32_t (TOrvComPort::*size)() const;
        void (TOrvComPort::*setState)(TTraceLogState);
        uint32_t limit;
        const char* marker; // written once per frame sent
    } cases[] = {
        {"ORVI.TRC", &TOrvComPort::SetTraceSize, &TOrvComPort::TraceSize, &TOrvComPort::SetTracing,
         4000000, "Transmit: "},
        {"ORVI.LOG", &TOrvComPort::SetLogSize, &TOrvComPort::LogSize, &TOrvComPort::SetLogging,
         16000000, "WriteCom"},
    };
    for (const auto& c : cases) {
        TemporaryWorkingFolder folder;
        ASSERT_TRUE(folder.Ready());
        (port.*c.setSize)(c.limit);
        port.SetOpen(true);
        (port.*c.setState)(tlOn);
        const uint8_t before[3] = {'o', 'l', 'd'};
        port.SendBlock(before, sizeof before);
        uint8_t sent[4];
        ASSERT_EQ(pty.ReadExact(sent, sizeof before, 5000), sizeof before);
        (port.*c.setSize)(c.limit + 1000000);
        EXPECT_EQ((port.*c.size)(), c.limit) << c.file;
        const uint8_t after[4] = {'n', 'e', 'w', '!'};
        port.SendBlock(after, sizeof after);
        ASSERT_EQ(pty.ReadExact(sent, sizeof after, 5000), sizeof after);
        port.SetOpen(false);

        const std::string text = ReadFile(folder.Path(c.file));
        size_t markers = 0;
        for (size_t at = text.find(c.marker); at != std::string::npos;
             at = text.find(c.marker, at + 1))
            ++markers;
        EXPECT_EQ(markers, 1u) << c.file << "\n" << text;
        EXPECT_EQ(text.find("old"), std::string::npos) << c.file << "\n" << text;
    }
}

TEST_F(ComPortTest, UnwritableTraceRaisesOnCloseAndASecondCloseSucceeds) {
    port.SetTraceName("/nonexistent-folder/ORVI.TRC");
    port.SetTracing(tlOn);
    port.SetOpen(true);
    const uint8_t frame[2] = {'o', 'k'};
    port.SendBlock(frame, sizeof frame);
    EXPECT_THROW(port.SetOpen(false), EInOutError);
    EXPECT_EQ(port.Tracing(), tlOff);
    EXPECT_EQ(port.PortState(), cpsOpen);
    port.SetOpen(false);
    EXPECT_EQ(port.PortState(), cpsClosed);
}

TEST_F(ComPortTest, DestroyingAnOpenPortWritesTheTraceAndReleasesThePort) {
    TemporaryWorkingFolder folder;
    ASSERT_TRUE(folder.Ready());
    {
        TOrvComPort scoped;
        scoped.SetAutoOpen(false);
        scoped.SetComNumber(7);
        scoped.SetTracing(tlOn);
        scoped.SetOpen(true);
        const uint8_t frame[2] = {'h', 'i'};
        scoped.SendBlock(frame, sizeof frame);
    }
    EXPECT_NE(ReadFile(folder.Path("ORVI.TRC")).find("hi"), std::string::npos);
    EXPECT_TRUE(Unlocked(pty.SlavePath()));
}

// ---- loading ----

TEST_F(ComPortTest, OpenWrittenWhileLoadingOpensInLoaded) {
    TOrvComPort loaded;
    loaded.BeginLoading();
    loaded.SetAutoOpen(false);
    loaded.SetComNumber(7);
    loaded.SetOpen(true);
    EXPECT_EQ(loaded.PortState(), cpsClosed);
    int opens = 0;
    loaded.SetOnPortOpen([&](TOrvCustomComPort&) { ++opens; });
    loaded.Loaded();
    EXPECT_EQ(loaded.PortState(), cpsOpen);
    EXPECT_TRUE(loaded.Open());
    EXPECT_EQ(opens, 1);
    EXPECT_TRUE(shown.messages.empty());
}

} // namespace
} // namespace orvi::testing
