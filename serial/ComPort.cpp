// The com port component: construction, the I/O operations and the settings that go
// to an open port's dispatcher (line, buffers, control lines, flow control, trace and
// log). Opening and closing are in ComPortOpenClose.cpp, the event window and the
// events in ComPortEvents.cpp.
#include "serial/ComPort.h"

#include "platform/Clock.h"
#include "platform/CommDevice.h"
#include "serial/ApplicationException.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"

#include <algorithm>

namespace orvi {

namespace {

constexpr uint32_t kMaxTraceSize = 4000000;
constexpr uint32_t kMaxLogSize = 16000000;
constexpr uint32_t kOptionEventWord = 4;

// Sets a flag for a scope and puts the previous value back, also when a reported
// failure leaves the scope.
class FlagScope {
public:
    FlagScope(bool& flag, bool value) : flag_(flag), previous_(flag) { flag_ = value; }
    ~FlagScope() { flag_ = previous_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    const bool previous_;
};

// A percentage of a threshold, truncated.
uint16_t Percent(uint32_t value, uint32_t percent) {
    return uint16_t(value * percent / 100);
}

bool Running(TTraceLogState state) {
    return state == tlOn || state == tlPause;
}

// What a closed port keeps of a trace or log state: only off and on.
TTraceLogState ClosedState(TTraceLogState value) {
    return value == tlOn ? tlOn : tlOff;
}

} // namespace

void TOrvBaseComponent::Assign(const TOrvBaseComponent&) {}

// ---- construction ----

TOrvCustomComPort::TOrvCustomComPort(void* owner) : TOrvBaseComponent(owner) {}

TOrvCustomComPort::~TOrvCustomComPort() {
    if (portState_ == cpsOpen) {
        try {
            StopPort();
        } catch (...) {
            // A trace or log that cannot be written must not keep the port open: the
            // failure is shown and the close goes on without them.
            ShowApplicationException(std::current_exception());
            tracing_ = logging_ = tlOff;
            try {
                StopPort();
            } catch (...) {
                ShowApplicationException(std::current_exception());
            }
        }
    }
    // A close still in progress completes here: the dispatcher's destruction waits for
    // its workers.
    SetupEventWindow(false);
    TOrvBaseDispatcher::Dispose(std::move(dispatcher_));
    TOrvTriggers::FreeTriggerSnapshot(savedTriggers_);
}

int32_t TOrvCustomComPort::Report(int32_t code) {
    return ErrorCodeToException(Loading(), code);
}

TOrvBaseDispatcher* TOrvCustomComPort::Dispatcher() {
    if (!dispatcher_ && !Loading() && !Designing() && portState_ != cpsOpen && autoOpen_)
        SetOpen(true);
    return dispatcher_.get();
}

TOrvBaseDispatcher* TOrvCustomComPort::RequireDispatcher() {
    TOrvBaseDispatcher* dispatcher = Dispatcher();
    if (!dispatcher)
        (void)Report(ecCommNotOpen);
    return dispatcher;
}

// ---- reading and writing ----

uint16_t TOrvCustomComPort::InCount() {
    if (!IsOpenState())
        return 0;
    // Nobody else reads the device then: what waits in the driver counts as received.
    return uint16_t(readOnCaller_ ? dispatcher_->WaitAndRead(0) : dispatcher_->InputCount());
}

uint16_t TOrvCustomComPort::WaitInput(uint32_t timeoutMs) {
    if (IsOpenState())
        return uint16_t(dispatcher_->WaitAndRead(readOnCaller_ ? timeoutMs : 0));
    // Nothing can come: the wait takes its time, so that a caller's loop keeps its pace.
    platform::SleepMs(timeoutMs);
    return 0;
}

uint16_t TOrvCustomComPort::LineError() {
    return IsOpenState() ? uint16_t(dispatcher_->TakeLineError()) : 0;
}

bool TOrvCustomComPort::LineBreak() {
    return IsOpenState() && dispatcher_->TakeLineBreak();
}

uint8_t TOrvCustomComPort::GetByte() {
    if (portState_ == cpsShuttingDown)
        return 0;
    TOrvBaseDispatcher* dispatcher = RequireDispatcher();
    if (!dispatcher)
        return 0;
    uint8_t byte = 0;
    return Report(dispatcher->TakeByte(byte)) < 0 ? 0 : byte;
}

void TOrvCustomComPort::SendBlock(const void* data, uint16_t length) {
    if (portState_ == cpsShuttingDown)
        return;
    TOrvBaseDispatcher* dispatcher = RequireDispatcher();
    if (!dispatcher)
        return;
    if (data == nullptr && length > 0) {
        (void)Report(ecBadArgument);
        return;
    }
    (void)Report(dispatcher->QueueBlock(static_cast<const uint8_t*>(data), length));
}

void TOrvCustomComPort::FlushInput() {
    if (portState_ == cpsShuttingDown)
        return;
    if (TOrvBaseDispatcher* dispatcher = RequireDispatcher())
        (void)Report(dispatcher->PurgeInput());
}

void TOrvCustomComPort::FlushOutput() {
    if (portState_ == cpsShuttingDown)
        return;
    if (TOrvBaseDispatcher* dispatcher = RequireDispatcher())
        (void)Report(dispatcher->PurgeOutput());
}

void TOrvCustomComPort::GiveTimeSlice() {
    if (portState_ == cpsShuttingDown)
        return;
    // The dispatcher's own yield gives up the time slice and reports 0.
    if (RequireDispatcher())
        platform::YieldThread();
}

// ---- line settings and buffers ----

void TOrvCustomComPort::SetDeviceLayer(TDeviceLayer value) {
    if (portState_ != cpsClosed || (supportedDeviceLayers_ & (1u << value)) == 0)
        return;
    if (value == deviceLayer_)
        return;
    deviceLayer_ = value;
    DeviceLayerChanged();
}

void TOrvCustomComPort::ApplyLineSettings() {
    if (IsOpenState())
        (void)Report(dispatcher_->SetLineSettings(baud_, parity_, dataBits_, stopBits_));
}

void TOrvCustomComPort::SetBaud(int32_t value) {
    if (value == baud_)
        return;
    baud_ = value;
    ApplyLineSettings();
}

void TOrvCustomComPort::SetParity(TParity value) {
    if (value == parity_)
        return;
    parity_ = value;
    ApplyLineSettings();
}

void TOrvCustomComPort::SetDataBits(uint16_t value) {
    if (value == dataBits_)
        return;
    dataBits_ = value;
    ApplyLineSettings();
}

void TOrvCustomComPort::SetStopBits(uint16_t value) {
    if (value == stopBits_)
        return;
    stopBits_ = value;
    ApplyLineSettings();
}

void TOrvCustomComPort::SetInSize(uint16_t value) {
    if (value == inSize_)
        return;
    inSize_ = value;
    if (IsOpenState())
        (void)dispatcher_->SetQueueSizes(inSize_, outSize_);
}

void TOrvCustomComPort::SetOutSize(uint16_t value) {
    if (value == outSize_)
        return;
    outSize_ = value;
    if (IsOpenState())
        (void)dispatcher_->SetQueueSizes(inSize_, outSize_);
}

// ---- control lines and small options ----

void TOrvCustomComPort::SetDTR(bool value) {
    if (value == dtr_ && !forceApply_)
        return;
    if (!IsOpenState()) {
        dtr_ = value;
        return;
    }
    // 1: the line is driven by flow control; the property keeps its value.
    if (Report(dispatcher_->SetDtr(value ? 1 : 0)) == 0)
        dtr_ = value;
}

void TOrvCustomComPort::SetRTS(bool value) {
    if (value == rts_ && !forceApply_)
        return;
    if (!IsOpenState()) {
        rts_ = value;
        return;
    }
    if (Report(dispatcher_->SetRts(value ? 1 : 0)) == 0)
        rts_ = value;
}

void TOrvCustomComPort::SetXOnChar(uint8_t value) {
    if (value == xonChar_ && !forceApply_)
        return;
    xonChar_ = value;
    if (IsOpenState())
        (void)Report(dispatcher_->SetFlowChars(xonChar_, xoffChar_));
}

void TOrvCustomComPort::SetXOffChar(uint8_t value) {
    if (value == xoffChar_ && !forceApply_)
        return;
    xoffChar_ = value;
    if (IsOpenState())
        (void)Report(dispatcher_->SetFlowChars(xonChar_, xoffChar_));
}

void TOrvCustomComPort::SetTriggerLength(uint16_t value) {
    if (value == triggerLength_ && !forceApply_)
        return;
    triggerLength_ = value;
    if (IsOpenState())
        dispatcher_->Triggers().SetAvailThreshold(triggerLength_);
}

void TOrvCustomComPort::SetUseEventWord(bool value) {
    if (value == useEventWord_ && !forceApply_)
        return;
    useEventWord_ = value;
    if (!IsOpenState())
        return;
    if (value)
        dispatcher_->SetOptionBits(kOptionEventWord);
    else
        dispatcher_->ClearOptionBits(kOptionEventWord);
}

void TOrvCustomComPort::SetThreadBoost(uint8_t value) {
    if (value == threadBoost_ && !forceApply_)
        return;
    threadBoost_ = value;
    if (IsOpenState())
        dispatcher_->SetWorkerBoost(threadBoost_);
}

void TOrvCustomComPort::SetWriteAtOnce(bool value) {
    if (value == writeAtOnce_ && !forceApply_)
        return;
    writeAtOnce_ = value;
    if (IsOpenState())
        dispatcher_->SetWriteAtOnce(writeAtOnce_);
}

bool TOrvCustomComPort::SetReadOnCaller(bool value) {
    if (value && !platform::CommDevice::WatchesInput())
        return false;
    if (value == readOnCaller_ && !forceApply_)
        return true;
    readOnCaller_ = value;
    // A dispatcher that cannot (one made for another device) leaves it off.
    if (IsOpenState() && !dispatcher_->SetReadOnCaller(value))
        readOnCaller_ = false;
    return readOnCaller_ == value;
}

void TOrvCustomComPort::SetOnWorkerAvail(TWorkerAvailEvent handler) {
    onWorkerAvail_ = std::move(handler);
    if (IsOpenState())
        RegisterWorkerAvail();
}

void TOrvCustomComPort::RegisterWorkerAvail() {
    TOrvTriggers& triggers = dispatcher_->Triggers();
    if (workerAvailId_ != 0)
        triggers.RemoveEventHandler(workerAvailId_);
    workerAvailId_ = 0;
    if (!onWorkerAvail_)
        return;
    // The handler is copied: the dispatcher worker calls its own copy, never this member.
    workerAvailId_ = triggers.AddEventHandler(
        [&dispatcher = *dispatcher_, handler = onWorkerAvail_](uint32_t msg, uint32_t count,
                                                               uint32_t) {
            if (msg == MsgTriggerAvail)
                handler(dispatcher, uint16_t(count));
        },
        false);
}

void TOrvCustomComPort::SetCommNotificationLevel(uint16_t value) {
    commNotificationLevel_ = value;
}

// ---- flow control ----

void TOrvCustomComPort::SetHWFlowOptions(THWFlowOptionSet value) {
    value &= THWFlowOptionSet(0x0F);
    if (value == hwFlowOptions_ && !forceApply_)
        return;
    const uint32_t word = value; // the set's bits are the flow word's
    if (word != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = Percent(inSize_, 90);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = Percent(inSize_, 10);
    }
    if (IsOpenState())
        (void)Report(dispatcher_->SetHardwareFlow(bufferFull_, bufferResume_, word));
    hwFlowOptions_ = value;
    if (value & (HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS)))
        SetRS485Mode(false);
}

void TOrvCustomComPort::SetSWFlowOptions(TSWFlowOptions value) {
    if (value == swFlowOptions_ && !forceApply_)
        return;
    static constexpr uint32_t kMode[] = {0, 2, 1, 3}; // none, receive, transmit, both
    const uint32_t mode = value <= swfBoth ? kMode[value] : 0;
    if (mode != 0) {
        if (bufferFull_ == 0 || bufferFull_ > inSize_)
            bufferFull_ = Percent(inSize_, 75);
        if (bufferResume_ == 0 || bufferResume_ > bufferFull_)
            bufferResume_ = Percent(inSize_, 25);
    }
    if (IsOpenState()) {
        const int32_t result = mode != 0
                                   ? dispatcher_->SetSoftwareFlow(bufferFull_, bufferResume_, mode)
                                   : dispatcher_->ClearSoftwareFlow();
        (void)Report(result);
    }
    swFlowOptions_ = value <= swfBoth ? value : swfNone;
}

void TOrvCustomComPort::ReapplyFlowControl() {
    FlagScope force(forceApply_, true);
    SetHWFlowOptions(hwFlowOptions_);
    SetSWFlowOptions(swFlowOptions_);
}

void TOrvCustomComPort::SetBufferFull(uint16_t value) {
    if (value == bufferFull_ && !forceApply_)
        return;
    // Above the input size the threshold becomes 90 % of the value written.
    bufferFull_ = value > inSize_ ? Percent(value, 90) : value;
    ReapplyFlowControl();
}

void TOrvCustomComPort::SetBufferResume(uint16_t value) {
    if (value == bufferResume_ && !forceApply_)
        return;
    bufferResume_ = value > bufferFull_ ? Percent(bufferFull_, 10) : value;
    ReapplyFlowControl();
}

void TOrvCustomComPort::SetRS485Mode(bool value) {
    if (value == rs485Mode_ && !forceApply_)
        return;
    const bool changed = value != rs485Mode_;
    rs485Mode_ = value;
    if (IsOpenState())
        dispatcher_->SetRS485(value);
    if (value) {
        SetHWFlowOptions(hwFlowOptions_ & ~(HWFlow(hwfUseRTS) | HWFlow(hwfRequireCTS)));
        SetRTS(false);
    }
    if (changed && IsOpenState())
        ApplyRtsToggle();
}

// The RTS toggle belongs to the hardware flow control, whose setter skips options that
// stay as they were: on an open port it is written again so that the toggle comes or
// goes, and when it goes RTS is the program's again.
void TOrvCustomComPort::ApplyRtsToggle() {
    FlagScope force(forceApply_, true);
    SetHWFlowOptions(hwFlowOptions_);
    if (!rs485Mode_)
        SetRTS(rts_);
}

// ---- trace and log ----

void TOrvCustomComPort::SetTracing(TTraceLogState value) {
    if (value == tracing_ && !forceApply_)
        return;
    if (IsOpenState())
        ApplyTrace(value);
    else
        tracing_ = ClosedState(value);
}

void TOrvCustomComPort::ApplyTrace(TTraceLogState value) {
    TOrvTraceLog& trace = dispatcher_->TraceLog();
    const TTraceLogState current = tracing_;
    switch (value) {
    case tlOff:
        if (Running(current)) {
            trace.TraceStop();
            tracing_ = tlOff;
        }
        break;
    case tlOn:
        if (current == tlPause) {
            trace.TraceResume();
            tracing_ = tlOn;
        } else if (Report(trace.TraceStart(traceSize_)) >= 0) {
            tracing_ = tlOn;
        }
        break;
    case tlDump:
    case tlAppend:
        if (Running(current)) {
            trace.TraceResume();
            const int32_t result =
                trace.TraceWrite(traceName_, value == tlAppend, traceHex_, traceAllHex_);
            tracing_ = tlOff; // the write ends the trace whatever its result
            (void)Report(result);
        }
        break;
    case tlClear:
        if (Running(current))
            (void)trace.TraceClear();
        break;
    case tlPause:
        if (current == tlOn) {
            trace.TracePause();
            tracing_ = tlPause;
        }
        break;
    }
}

void TOrvCustomComPort::SetLogging(TTraceLogState value) {
    if (value == logging_ && !forceApply_)
        return;
    if (IsOpenState())
        ApplyLog(value);
    else
        logging_ = ClosedState(value);
}

void TOrvCustomComPort::ApplyLog(TTraceLogState value) {
    TOrvTraceLog& log = dispatcher_->TraceLog();
    const TTraceLogState current = logging_;
    switch (value) {
    case tlOff:
        if (Running(current)) {
            log.LogStop();
            logging_ = tlOff;
        }
        break;
    case tlOn:
        if (current == tlPause)
            log.LogResume();
        else
            log.LogStart(logSize_);
        logging_ = tlOn;
        break;
    case tlDump:
    case tlAppend:
        if (Running(current)) {
            log.LogResume();
            const int32_t result = log.LogWrite(logName_, value == tlAppend, logHex_, logAllHex_);
            logging_ = tlOff;
            (void)Report(result);
        }
        break;
    case tlClear:
        if (Running(current))
            log.LogClear();
        break;
    case tlPause:
        if (current == tlOn) {
            log.LogPause();
            logging_ = tlPause;
        }
        break;
    }
}

// The written value is compared before it is limited: writing 5000000 over a stored 4000000
// still restarts a running trace.
void TOrvCustomComPort::SetTraceSize(uint32_t value) {
    if (value == traceSize_)
        return;
    traceSize_ = std::min(value, kMaxTraceSize);
    if (!IsOpenState() || !Running(tracing_))
        return;
    // A running trace restarts with the new size; a paused one ends.
    const TTraceLogState previous = tracing_;
    dispatcher_->TraceLog().TraceStop();
    tracing_ = tlOff;
    SetTracing(previous);
}

void TOrvCustomComPort::SetLogSize(uint32_t value) {
    if (value == logSize_)
        return;
    logSize_ = std::min(value, kMaxLogSize);
    if (!IsOpenState() || !Running(logging_))
        return;
    const TTraceLogState previous = logging_;
    dispatcher_->TraceLog().LogStop();
    logging_ = tlOff;
    SetLogging(previous);
}

void TOrvCustomComPort::SetTraceName(const TPassString& value) {
    traceName_ = value.substr(0, kPassStringMax);
}

void TOrvCustomComPort::SetLogName(const TPassString& value) {
    logName_ = value.substr(0, kPassStringMax);
}

} // namespace orvi
