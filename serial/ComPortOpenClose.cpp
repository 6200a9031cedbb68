// The com port component: opening and closing (Open, ComNumber, the open and close
// sequences), loading, the port prompt and Assign.
#include "platform/PortNames.h"
#include "platform/SystemError.h"
#include "serial/ApplicationException.h"
#include "serial/ComPort.h"
#include "serial/CreateDispatcher.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/TapiDispatcher.h"

#include <mutex>

namespace orvi {

namespace {

std::mutex gPromptLock;
TPortPrompt gPrompt; // guarded by gPromptLock

TPortPrompt CurrentPrompt() {
    std::lock_guard lock(gPromptLock);
    return gPrompt;
}

constexpr size_t kMaxDeviceName = 12;
constexpr uint32_t kLastPortNumber = 0xFFFF;

// The dispatcher reports a missing port as "file/path not found" and a port held by
// another program as "access denied"; the component's callers see the port errors.
int32_t TranslateOpenResult(int32_t result) {
    if (result == ecAccessDenied)
        return ecAlreadyOpen;
    if (result == ecFileNotFound || result == ecPathNotFound)
        return ecBadId;
    return result;
}

TSWFlowOptions SoftwareFlowFromBits(uint32_t bits) {
    switch (bits & 3) {
    case 1:
        return swfTransmit;
    case 2:
        return swfReceive;
    case 3:
        return swfBoth;
    default:
        return swfNone;
    }
}

} // namespace

void SetPortPrompt(TPortPrompt prompt) {
    std::lock_guard lock(gPromptLock);
    gPrompt = std::move(prompt);
}

// ---- Open and ComNumber ----

void TOrvCustomComPort::SetOpen(bool value) {
    if (Loading() || Designing()) {
        if (value != open_ && value)
            openAfterLoad_ = true;
        open_ = value;
        return;
    }
    // During a close in progress Open still reads True; what is written now decides
    // whether the port opens again once the close has completed.
    if (portState_ == cpsShuttingDown) {
        openPending_ = value;
        return;
    }
    if (value == open_)
        return;
    if (value)
        StartPort();
    else
        StopPort();
}

void TOrvCustomComPort::SetComNumber(uint16_t value) {
    if (value == comNumber_)
        return;
    const bool wasOpen = portState_ == cpsOpen;
    const TTraceLogState trace = tracing_;
    const TTraceLogState log = logging_;
    if (wasOpen) {
        dispatcher_->Triggers().SaveTriggers(savedTriggers_);
        SetOpen(false);
    }
    comNumber_ = value;
    if (!wasOpen)
        return;
    // A running trace or log starts afresh on the new port.
    SetTracing(trace);
    SetLogging(log);
    SetOpen(true);
    if (IsOpenState())
        dispatcher_->Triggers().RestoreTriggers(savedTriggers_);
}

// ---- the open sequence ----

void TOrvCustomComPort::ValidateComNumber() {
    if (comNumber_ != 0)
        return;
    if (!promptForPort_)
        throw ENoPortSelected(ecNoPortSelected);
    bool ok = false;
    int number = 0;
    if (const TPortPrompt prompt = CurrentPrompt())
        number = prompt(ok);
    if (!ok || number < 1 || uint32_t(number) > kLastPortNumber)
        throw ENoPortSelected(ecNoPortSelected);
    SetComNumber(uint16_t(number));
}

std::unique_ptr<TOrvBaseDispatcher> TOrvCustomComPort::CreateDispatcher() {
    if (deviceLayer_ != dlWin32)
        throw ENullApi(ecNullApi);
    if (tapiMode_ == tmOn)
        return std::make_unique<TOrvTAPI32Dispatcher>(this, tapiDeviceHandle_);
    return CreatePlatformDispatcher(this);
}

int32_t TOrvCustomComPort::OpenDevice() {
    std::string name;
    if (tapiMode_ != tmOn)
        name = platform::ComDeviceName(comNumber_).substr(0, kMaxDeviceName);
    uint32_t options = 0;
    if (dtr_)
        options |= openopt::DtrOn;
    if (rts_)
        options |= openopt::RtsOn;
    if (hwFlowOptions_ & HWFlow(hwfUseDTR))
        options |= openopt::DtrByFlow;
    if (hwFlowOptions_ & HWFlow(hwfUseRTS))
        options |= openopt::RtsByFlow;
    return dispatcher_->OpenPort(name, baud_, parity_, dataBits_, stopBits_, inSize_, outSize_,
                                 options);
}

void TOrvCustomComPort::StartPort() {
    if (portState_ != cpsClosed || dispatcher_)
        return;
    if (tapiMode_ != tmOn)
        ValidateComNumber();
    dispatcher_ = CreateDispatcher();
    dispatcher_->SetDeviceName("COM" + std::to_string(comNumber_));
    try {
        OpenSequence();
    } catch (...) {
        RollBackOpen();
        throw;
    }
}

// Steps after the dispatcher exists; every failure here is undone by RollBackOpen.
void TOrvCustomComPort::OpenSequence() {
    if (tapiMode_ == tmOn) {
        if (tapiDeviceHandle_ == 0) {
            (void)Report(ecNotOpenedByTapi);
            RollBackOpen(); // reached only while loading, when codes are not raised
            return;
        }
        int32_t baud = 0, parity = 0, dataBits = 0, stopBits = 0;
        dispatcher_->GetLineSettings(baud, parity, dataBits, stopBits);
        uint32_t hw = 0, sw = 0;
        dispatcher_->GetFlowSettings(hw, sw, xonChar_, xoffChar_);
        baud_ = baud;
        parity_ = TParity(parity);
        dataBits_ = uint16_t(dataBits);
        stopBits_ = uint16_t(stopBits);
        hwFlowOptions_ = THWFlowOptionSet(hw & 0x0F);
        swFlowOptions_ = SoftwareFlowFromBits(sw);
    }
    const int32_t result = TranslateOpenResult(OpenDevice());
    if (result != ecOK) {
        (void)Report(result);
        RollBackOpen();
        return;
    }
    portState_ = cpsOpen;
    UpdateHandlerFlags();
    ReapplySettings();
    open_ = true;
    SetupEventWindow(true);
    // Registering the event window switches the dispatcher's handlers on; they stay on
    // only when a trigger event is assigned.
    UpdateHandlerFlags();
    if (restoreTriggersOnOpen_) {
        restoreTriggersOnOpen_ = false;
        dispatcher_->Triggers().RestoreTriggers(savedTriggers_);
    }
    NotifyPortOpen();
}

// Pushes every stored setting to the new dispatcher.
void TOrvCustomComPort::ReapplySettings() {
    const bool previous = forceApply_;
    forceApply_ = true;
    try {
        SetTracing(tracing_);
        SetLogging(logging_);
        SetHWFlowOptions(hwFlowOptions_);
        SetSWFlowOptions(swFlowOptions_);
        SetXOnChar(xonChar_);
        SetXOffChar(xoffChar_);
        SetTriggerLength(triggerLength_);
        SetDTR(dtr_);
        SetRTS(rts_);
        SetUseEventWord(useEventWord_);
        SetRS485Mode(rs485Mode_);
        SetThreadBoost(threadBoost_);
        SetWriteAtOnce(writeAtOnce_);
        SetReadOnCaller(readOnCaller_);
        workerAvailId_ = 0; // the new dispatcher has none of our handlers
        RegisterWorkerAvail();
    } catch (...) {
        forceApply_ = previous;
        throw;
    }
    forceApply_ = previous;
}

// A failed open leaves nothing behind: no event window, no dispatcher (whose
// destruction closes the device and ends its workers).
void TOrvCustomComPort::RollBackOpen() {
    open_ = false;
    portState_ = cpsClosed;
    SetupEventWindow(false);
    TOrvBaseDispatcher::Dispose(std::move(dispatcher_));
}

// ---- the close sequence ----

void TOrvCustomComPort::StopPort() {
    if (portState_ != cpsOpen)
        return;
    SetTracing(tlDump);
    SetLogging(tlDump);
    portState_ = cpsShuttingDown;
    NotifyPortClosing();
    dispatcher_->Triggers().SaveTriggers(savedTriggers_);
    restoreTriggersOnOpen_ = true;
    // A close that gave up on a device call that never left is raised once the close has
    // completed. Other close failures stay unreported, as they always were: the port is
    // closed all the same and nothing more can be done about it.
    const int32_t closed = dispatcher_->ClosePort();
    if (dispatcher_->InDispatch() && InsideHandler()) {
        // Called from a handler: the dispatcher worker waits for that handler to return
        // before it can end, so the event window completes the close later. A close asked
        // outside any handler completes at once even while the worker is dispatching:
        // destroying the dispatcher serves the worker's pending messages while it waits.
        platform::PostMessageTo(EventWindow(), MsgPortClosing, 0,
                                intptr_t(dispatcher_->Handle()) << 16);
        try {
            bool quit = false;
            platform::ProcessOneMessage(0, &quit);
        } catch (...) {
            ShowApplicationException(std::current_exception());
        }
    } else {
        FinishClose();
    }
    NotifyPortClose();
    // An open asked for while the close ran (from a handler it called).
    if (portState_ == cpsClosed && openPending_) {
        openPending_ = false;
        StartPort();
    }
    if (closed == -int32_t(platform::syserr::TimedOut))
        (void)Report(closed);
}

void TOrvCustomComPort::FinishClose() {
    SetupEventWindow(false);
    TOrvBaseDispatcher::Dispose(std::move(dispatcher_));
    portState_ = cpsClosed;
    open_ = false;
}

// ---- loading and copying ----

void TOrvCustomComPort::Loaded() {
    TOrvBaseComponent::Loaded();
    if (Designing())
        return;
    if (openAfterLoad_)
        open_ = true;
    if (!open_ || portState_ != cpsClosed)
        return;
    openAfterLoad_ = false;
    try {
        StartPort();
    } catch (...) {
        open_ = false;
        ShowApplicationException(std::current_exception());
    }
}

void TOrvCustomComPort::Assign(const TOrvBaseComponent& source) {
    const auto* src = dynamic_cast<const TOrvCustomComPort*>(&source);
    if (src == nullptr || src == this)
        return;
    // The settings below are copied without their setter effects, so an open port of
    // this component would no longer match them: it is closed first.
    if (portState_ == cpsOpen)
        StopPort();
    portUsers_ = src->portUsers_;
    if (src->portState_ == cpsOpen && src->dispatcher_) {
        src->dispatcher_->Triggers().SaveTriggers(savedTriggers_);
        restoreTriggersOnOpen_ = true;
    }
    deviceLayer_ = src->deviceLayer_;
    comNumber_ = src->comNumber_;
    baud_ = src->baud_;
    parity_ = src->parity_;
    dataBits_ = src->dataBits_;
    stopBits_ = src->stopBits_;
    inSize_ = src->inSize_;
    outSize_ = src->outSize_;
    autoOpen_ = src->autoOpen_;
    promptForPort_ = src->promptForPort_;
    rs485Mode_ = src->rs485Mode_;
    threadBoost_ = src->threadBoost_;
    dtr_ = src->dtr_;
    rts_ = src->rts_;
    bufferFull_ = src->bufferFull_;
    bufferResume_ = src->bufferResume_;
    hwFlowOptions_ = src->hwFlowOptions_;
    swFlowOptions_ = src->swFlowOptions_;
    xonChar_ = src->xonChar_;
    xoffChar_ = src->xoffChar_;
    tracing_ = src->tracing_;
    traceSize_ = src->traceSize_;
    traceName_ = src->traceName_;
    traceHex_ = src->traceHex_;
    traceAllHex_ = src->traceAllHex_;
    logging_ = src->logging_;
    logSize_ = src->logSize_;
    logName_ = src->logName_;
    logHex_ = src->logHex_;
    logAllHex_ = src->logAllHex_;
    triggerLength_ = src->triggerLength_;
    open_ = false;
    SetOnTrigger(src->onTrigger_);
    SetOnTriggerAvail(src->onTriggerAvail_);
    SetOnTriggerData(src->onTriggerData_);
    SetOnTriggerStatus(src->onTriggerStatus_);
    SetOnTriggerTimer(src->onTriggerTimer_);
    onPortOpen_ = src->onPortOpen_;
    onPortClose_ = src->onPortClose_;
    tapiMode_ = src->tapiMode_;
}

} // namespace orvi
