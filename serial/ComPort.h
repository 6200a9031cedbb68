#pragma once
// The com port component. TOrvComPort holds the line settings and options of one
// serial port as properties, opens the port by creating a dispatcher (and destroys it
// on close), forwards every I/O call to that dispatcher, turns negative result codes
// into exceptions (ErrorCodeToException), and brings the dispatcher's trigger events to
// its own thread through a hidden event window.
//
// Properties are getter/setter pairs named after the property (ComNumber /
// SetComNumber). Setters compare with the stored value and do nothing on equality
// unless ForceApply is set (the open sequence sets it to push every stored setting to a
// new dispatcher); the exceptions to that rule are noted at each setter.
//
// Loading: an owner that applies layout values calls BeginLoading first and Loaded
// last. In between, negative result codes are returned instead of raised and writing
// Open only records the wish; Loaded opens the port. Design time does not exist in this
// program: Designing() is always false.
//
// Threads: a component belongs to the thread that creates it (the GUI thread). Every
// property, operation and event runs there; the dispatcher's workers never call the
// component: they send messages to its event window, which that thread serves while
// it processes messages (platform::ProcessOneMessage, or the Qt event adapter). No field
// is shared with another thread, so none needs a lock.
#include "platform/MessageTarget.h"
#include "serial/Exceptions.h" // what the component raises
#include "serial/dispatch/BaseDispatcher.h"
#include "serial/dispatch/Triggers.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvi {

enum TDeviceLayer : uint8_t { dlWin32, dlWinsock };
using TDeviceLayers = uint8_t; // set of TDeviceLayer: bit n is ordinal n

enum TParity : uint8_t { pNone, pOdd, pEven, pMark, pSpace };

enum THWFlowOptions : uint8_t { hwfUseDTR, hwfUseRTS, hwfRequireDSR, hwfRequireCTS };
// Set of THWFlowOptions: bit 0 hwfUseDTR ... bit 3 hwfRequireCTS. Its value is also the
// dispatcher's hardware flow word (1 DTR, 2 RTS, 4 require DSR, 8 require CTS).
using THWFlowOptionSet = uint8_t;
constexpr THWFlowOptionSet HWFlow(THWFlowOptions option) {
    return THWFlowOptionSet(1u << option);
}

enum TSWFlowOptions : uint8_t { swfNone, swfReceive, swfTransmit, swfBoth };
enum TTraceLogState : uint8_t { tlOff, tlOn, tlDump, tlAppend, tlClear, tlPause };
enum TTapiMode : uint8_t { tmNone, tmAuto, tmOn, tmOff };
enum TComPortState : uint8_t { cpsClosed = 0, cpsShuttingDown = 1, cpsOpen = 2 };

// Messages of the open and close notifications (the trigger messages are in Triggers.h).
constexpr uint32_t MsgPortOpened = 0x7E08;
constexpr uint32_t MsgPortClosed = 0x7E09;
constexpr uint32_t MsgPortClosing = 0x7E0A;

// A text of at most 255 characters; longer values are cut when stored.
using TPassString = std::string;
constexpr size_t kPassStringMax = 255;

// The port prompt asked for a port number when ComNumber is 0 and PromptForPort is set.
// It returns the chosen number with ok = true, or sets ok = false when the operator
// cancelled; an exception it raises leaves the open. Without a prompt installed the
// open behaves as if the operator cancelled. The GUI layer installs the "Select Port"
// dialog; an empty function removes the prompt.
using TPortPrompt = std::function<int(bool& ok)>;
void SetPortPrompt(TPortPrompt prompt);

// The component framework's part: name, tag, owner, the version text and the loading
// state.
class TOrvBaseComponent {
public:
    // `owner` is the object that holds the component; it is only remembered.
    explicit TOrvBaseComponent(void* owner = nullptr) : owner_(owner) {}
    virtual ~TOrvBaseComponent() = default;
    TOrvBaseComponent(const TOrvBaseComponent&) = delete;
    TOrvBaseComponent& operator=(const TOrvBaseComponent&) = delete;

    // Always "v4.05"; writing it does nothing.
    std::string Version() const { return "v4.05"; }
    void SetVersion(const std::string&) {}

    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    intptr_t Tag() const { return tag_; }
    void SetTag(intptr_t tag) { tag_ = tag; }
    void* Owner() const { return owner_; }

    void BeginLoading() { loading_ = true; }
    // Ends loading; overrides call this first.
    virtual void Loaded() { loading_ = false; }
    bool Loading() const { return loading_; }
    bool Designing() const { return designing_; }

    // Copies the settings of a component of the same kind; other sources are ignored.
    virtual void Assign(const TOrvBaseComponent& source);

private:
    void* owner_;
    std::string name_;
    intptr_t tag_ = 0;
    bool loading_ = false;
    const bool designing_ = false;
};

class TOrvCustomComPort : public TOrvBaseComponent, public TOrvDispatcherOwner {
public:
    // ---- event types; the first parameter is always the component ----
    using TNotifyEvent = std::function<void(TOrvCustomComPort& Sender)>;
    using TTriggerEvent = std::function<void(TOrvCustomComPort& CP, uint16_t Msg,
                                             uint16_t TriggerHandle, uint16_t Data)>;
    using TTriggerAvailEvent = std::function<void(TOrvCustomComPort& CP, uint16_t Count)>;
    using TTriggerDataEvent = std::function<void(TOrvCustomComPort& CP, uint16_t TriggerHandle)>;
    using TTriggerStatusEvent = TTriggerDataEvent;
    using TTriggerTimerEvent = TTriggerDataEvent;
    using TTriggerLineErrorEvent =
        std::function<void(TOrvCustomComPort& CP, uint16_t Error, bool LineBreak)>;
    using TWaitCharEvent = std::function<void(TOrvCustomComPort& CP, char C)>;

    // A registered user of the port, told when it opens, is closing and has closed:
    // a window (sent MsgPortOpened / MsgPortClosing / MsgPortClosed) or a callback.
    struct TPortUser {
        platform::WindowHandle Window = 0;
        std::function<void(TOrvCustomComPort&, bool opened)> Callback;
        // Event kind 0 opened, 1 closing, 2 closed.
        std::function<void(TOrvCustomComPort&, int32_t kind)> ExtendedCallback;
        bool Extended = false;
    };

    explicit TOrvCustomComPort(void* owner = nullptr);
    // Closes an open port (an active trace or log is written first) and completes a
    // close still in progress. Must not run inside one of the component's own events.
    ~TOrvCustomComPort() override;

    // ---- properties, in their published order ----
    TDeviceLayer DeviceLayer() const { return deviceLayer_; }
    // Ignored unless the port is closed and the layer is supported (dlWin32 only).
    void SetDeviceLayer(TDeviceLayer value);
    uint16_t ComNumber() const { return comNumber_; }
    // On an open port: closes it, stores the number and opens the new port, keeping
    // the triggers and the Tracing/Logging states.
    void SetComNumber(uint16_t value);
    int32_t Baud() const { return baud_; }
    void SetBaud(int32_t value);
    bool PromptForPort() const { return promptForPort_; }
    void SetPromptForPort(bool value) { promptForPort_ = value; }
    TParity Parity() const { return parity_; }
    void SetParity(TParity value);
    uint16_t DataBits() const { return dataBits_; }
    void SetDataBits(uint16_t value);
    uint16_t StopBits() const { return stopBits_; }
    void SetStopBits(uint16_t value);
    uint16_t InSize() const { return inSize_; }
    void SetInSize(uint16_t value);
    uint16_t OutSize() const { return outSize_; }
    void SetOutSize(uint16_t value);
    bool AutoOpen() const { return autoOpen_; }
    void SetAutoOpen(bool value) { autoOpen_ = value; }
    // Still True while a close is in progress (cpsShuttingDown).
    bool Open() const { return open_; }
    void SetOpen(bool value);
    bool DTR() const { return dtr_; }
    // On an open port kept unchanged when flow control drives the line.
    void SetDTR(bool value);
    bool RTS() const { return rts_; }
    void SetRTS(bool value);
    THWFlowOptionSet HWFlowOptions() const { return hwFlowOptions_; }
    void SetHWFlowOptions(THWFlowOptionSet value);
    TSWFlowOptions SWFlowOptions() const { return swFlowOptions_; }
    void SetSWFlowOptions(TSWFlowOptions value);
    uint8_t XOnChar() const { return xonChar_; }
    void SetXOnChar(uint8_t value);
    uint8_t XOffChar() const { return xoffChar_; }
    void SetXOffChar(uint8_t value);
    uint16_t BufferFull() const { return bufferFull_; }
    void SetBufferFull(uint16_t value);
    uint16_t BufferResume() const { return bufferResume_; }
    void SetBufferResume(uint16_t value);
    TTraceLogState Tracing() const { return tracing_; }
    void SetTracing(TTraceLogState value);
    uint32_t TraceSize() const { return traceSize_; }
    void SetTraceSize(uint32_t value); // at most 4000000
    const TPassString& TraceName() const { return traceName_; }
    void SetTraceName(const TPassString& value);
    bool TraceHex() const { return traceHex_; }
    void SetTraceHex(bool value) { traceHex_ = value; }
    bool TraceAllHex() const { return traceAllHex_; }
    void SetTraceAllHex(bool value) { traceAllHex_ = value; }
    TTraceLogState Logging() const { return logging_; }
    void SetLogging(TTraceLogState value);
    uint32_t LogSize() const { return logSize_; }
    void SetLogSize(uint32_t value); // at most 16000000
    const TPassString& LogName() const { return logName_; }
    void SetLogName(const TPassString& value);
    bool LogHex() const { return logHex_; }
    void SetLogHex(bool value) { logHex_ = value; }
    bool LogAllHex() const { return logAllHex_; }
    void SetLogAllHex(bool value) { logAllHex_ = value; }
    // Always True; writing it has no effect.
    bool UseMSRShadow() const { return true; }
    virtual void SetUseMSRShadow(bool) {}
    bool UseEventWord() const { return useEventWord_; }
    void SetUseEventWord(bool value);
    uint16_t CommNotificationLevel() const { return commNotificationLevel_; }
    void SetCommNotificationLevel(uint16_t value);
    TTapiMode TapiMode() const { return tapiMode_; }
    void SetTapiMode(TTapiMode value) { tapiMode_ = value; }
    bool RS485Mode() const { return rs485Mode_; }
    void SetRS485Mode(bool value);

    // ---- events ----
    const TNotifyEvent& OnPortClose() const { return onPortClose_; }
    void SetOnPortClose(TNotifyEvent handler) { onPortClose_ = std::move(handler); }
    const TNotifyEvent& OnPortOpen() const { return onPortOpen_; }
    void SetOnPortOpen(TNotifyEvent handler) { onPortOpen_ = std::move(handler); }
    // The ten trigger events: writing one also updates the dispatcher's handler flags.
    const TTriggerEvent& OnTrigger() const { return onTrigger_; }
    void SetOnTrigger(TTriggerEvent handler);
    const TTriggerAvailEvent& OnTriggerAvail() const { return onTriggerAvail_; }
    void SetOnTriggerAvail(TTriggerAvailEvent handler);
    const TTriggerDataEvent& OnTriggerData() const { return onTriggerData_; }
    void SetOnTriggerData(TTriggerDataEvent handler);
    const TTriggerStatusEvent& OnTriggerStatus() const { return onTriggerStatus_; }
    void SetOnTriggerStatus(TTriggerStatusEvent handler);
    const TTriggerTimerEvent& OnTriggerTimer() const { return onTriggerTimer_; }
    void SetOnTriggerTimer(TTriggerTimerEvent handler);
    const TTriggerLineErrorEvent& OnTriggerLineError() const { return onTriggerLineError_; }
    void SetOnTriggerLineError(TTriggerLineErrorEvent handler);
    const TNotifyEvent& OnTriggerModemStatus() const { return onTriggerModemStatus_; }
    void SetOnTriggerModemStatus(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutbuffFree() const { return onTriggerOutbuffFree_; }
    void SetOnTriggerOutbuffFree(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutbuffUsed() const { return onTriggerOutbuffUsed_; }
    void SetOnTriggerOutbuffUsed(TNotifyEvent handler);
    const TNotifyEvent& OnTriggerOutSent() const { return onTriggerOutSent_; }
    void SetOnTriggerOutSent(TNotifyEvent handler);
    // Unpublished. Called on the dispatcher worker, not on the owning thread, when the
    // data-available threshold (TriggerLength) is reached: `Count` bytes wait, and during
    // the call the dispatcher's TakeBlock and TakeByte give them to this handler alone.
    // For a program that waits for every reply and wants it without a hand-over to the
    // owning thread; the handler shares its state with that thread under its own lock.
    // Kept across a close and the next open. A handler that is replaced or cleared may
    // still be running on the worker when the setter returns, and is then not called
    // again: what it uses must outlive that call (share it, do not point into the owner).
    using TWorkerAvailEvent = std::function<void(TOrvBaseDispatcher& Dispatcher, uint16_t Count)>;
    void SetOnWorkerAvail(TWorkerAvailEvent handler);
    // Unpublished; nothing in this program fires it.
    void SetOnWaitChar(TWaitCharEvent handler) { onWaitChar_ = std::move(handler); }

    // ---- public, unpublished properties ----
    // The active dispatcher. When there is none, the component is not loading, the port
    // is not open and AutoOpen is set, the port is opened first (which may raise).
    TOrvBaseDispatcher* Dispatcher();
    uint16_t TriggerLength() const { return triggerLength_; }
    void SetTriggerLength(uint16_t value);
    // QueueBlock on the caller's thread while no output is pending (see
    // TOrvBaseDispatcher::SetWriteAtOnce); kept across a close and the next open. Off by
    // default.
    bool WriteAtOnce() const { return writeAtOnce_; }
    void SetWriteAtOnce(bool value);
    // The owning thread reads the device itself in WaitInput, and the dispatcher worker
    // leaves input alone (see TOrvBaseDispatcher::SetReadOnCaller); kept across a close and
    // the next open. Off by default. False, and off, where the platform cannot (Windows).
    bool ReadOnCaller() const { return readOnCaller_; }
    bool SetReadOnCaller(bool value);
    uint8_t ThreadBoost() const { return threadBoost_; }
    void SetThreadBoost(uint8_t value);
    // Received bytes waiting; 0 unless open (never opens the port). With ReadOnCaller, the
    // bytes waiting in the driver are read first (on the owning thread only).
    uint16_t InCount();
    // With ReadOnCaller: waits at most `timeoutMs` for bytes from the device and reads them;
    // then, or at once without it, InCount. A port that is not open waits `timeoutMs` and
    // gives 0 (never opens the port).
    uint16_t WaitInput(uint32_t timeoutMs);
    // The pending line error (1 overflow, 2 overrun, 3 parity, 4 framing, 9 break, 0
    // none), cleared by reading; 0 unless open.
    uint16_t LineError();
    // Whether a break arrived since the last read, cleared by reading; False unless open.
    bool LineBreak();

    // ---- operations ----
    // Each of the four does nothing (GetByte returns 0) while a close is in progress,
    // and needs the dispatcher (ECommNotOpen on a closed port without AutoOpen).
    uint8_t GetByte();
    // All `length` bytes or none (EOutputBufferTooSmall); length 0 sends nothing.
    void SendBlock(const void* data, uint16_t length);
    void FlushInput();
    void FlushOutput();

    void Assign(const TOrvBaseComponent& source) override;
    void Loaded() override;

    // ---- state, for the owner and for diagnostics ----
    TComPortState PortState() const { return portState_; }
    platform::WindowHandle EventWindow() const;

protected:
    // ---- overridable operations ----
    virtual std::unique_ptr<TOrvBaseDispatcher> CreateDispatcher();
    virtual void DeviceLayerChanged() {}
    virtual int32_t OpenDevice();
    virtual void SetupEventWindow(bool create);
    virtual void ValidateComNumber();
    virtual void DoTrigger(uint16_t Msg, uint16_t TriggerHandle, uint16_t Data);
    virtual void DoTriggerAvail(uint16_t Count);
    virtual void DoTriggerData(uint16_t TriggerHandle);
    virtual void DoTriggerStatus(uint16_t TriggerHandle);
    virtual void DoTriggerTimer(uint16_t TriggerHandle);
    virtual void UpdateHandlerFlags();
    virtual void DoTriggerLineError(uint16_t Error, bool LineBreak);
    virtual void DoTriggerModemStatus();
    virtual void DoTriggerOutbuffFree();
    virtual void DoTriggerOutbuffUsed();
    virtual void DoTriggerOutSent();
    virtual void DoWaitChar(char C);
    virtual void StopPort();
    virtual void GiveTimeSlice();
    virtual void NotifyPortOpen();
    virtual void NotifyPortClose();
    virtual void NotifyPortClosing();
    virtual void StartPort();

    // The dispatcher, or a reported ECommNotOpen (null only while loading).
    TOrvBaseDispatcher* RequireDispatcher();
    // ErrorCodeToException with this component's loading state.
    int32_t Report(int32_t code);

    std::vector<TPortUser>& PortUsers() { return portUsers_; }

private:
    // The event window's procedure: finds the component of the message's dispatcher
    // through the registry and delivers the event there.
    intptr_t DeliverPortEvent(uint32_t msg, uintptr_t wParam, intptr_t lParam);
    void HandlePortMessage(TOrvBaseDispatcher& dispatcher, uint32_t msg, uintptr_t wParam,
                           intptr_t lParam);
    void HandleStatusKind(uint16_t statusHandle);
    void CompleteDeferredClose(TOrvBaseDispatcher& dispatcher, intptr_t lParam);
    // True while a handler called through the event window or a synchronised dispatcher
    // handler runs on the calling thread.
    static bool InsideHandler();

    void OpenSequence();
    void ReapplySettings();
    // Puts onWorkerAvail_ on the current dispatcher in place of the one there before.
    void RegisterWorkerAvail();
    void RollBackOpen();
    void FinishClose();
    void ReapplyFlowControl();
    void ApplyRtsToggle();
    void ApplyTrace(TTraceLogState value);
    void ApplyLog(TTraceLogState value);
    void ApplyLineSettings();
    bool AnyTriggerEvent() const;
    void NotifyUsers(uint32_t msg, int32_t kind, bool extendedOnly);
    bool IsOpenState() const { return portState_ == cpsOpen && dispatcher_ != nullptr; }

    // ---- property fields ----
    TDeviceLayer deviceLayer_ = dlWin32;
    uint16_t comNumber_ = 0;
    int32_t baud_ = 19200;
    bool promptForPort_ = true;
    TParity parity_ = pNone;
    uint16_t dataBits_ = 8;
    uint16_t stopBits_ = 1;
    uint16_t inSize_ = 4096;
    uint16_t outSize_ = 4096;
    bool autoOpen_ = true;
    bool open_ = false;
    bool dtr_ = true;
    bool rts_ = true;
    THWFlowOptionSet hwFlowOptions_ = 0;
    TSWFlowOptions swFlowOptions_ = swfNone;
    uint8_t xonChar_ = 17;
    uint8_t xoffChar_ = 19;
    uint16_t bufferFull_ = 0;
    uint16_t bufferResume_ = 0;
    TTraceLogState tracing_ = tlOff;
    uint32_t traceSize_ = 10000;
    TPassString traceName_ = "ORVI.TRC";
    bool traceHex_ = true;
    bool traceAllHex_ = false;
    TTraceLogState logging_ = tlOff;
    uint32_t logSize_ = 10000;
    TPassString logName_ = "ORVI.LOG";
    bool logHex_ = true;
    bool logAllHex_ = false;
    bool useEventWord_ = true;
    uint16_t commNotificationLevel_ = 10;
    TTapiMode tapiMode_ = tmAuto;
    bool rs485Mode_ = false;
    uint16_t triggerLength_ = 1;
    uint8_t threadBoost_ = 0;
    bool writeAtOnce_ = false;
    bool readOnCaller_ = false;
    TWorkerAvailEvent onWorkerAvail_;
    int32_t workerAvailId_ = 0; // its event handler on the current dispatcher; 0: none

    TNotifyEvent onPortClose_, onPortOpen_;
    TTriggerEvent onTrigger_;
    TTriggerAvailEvent onTriggerAvail_;
    TTriggerDataEvent onTriggerData_;
    TTriggerStatusEvent onTriggerStatus_;
    TTriggerTimerEvent onTriggerTimer_;
    TTriggerLineErrorEvent onTriggerLineError_;
    TNotifyEvent onTriggerModemStatus_, onTriggerOutbuffFree_, onTriggerOutbuffUsed_,
        onTriggerOutSent_;
    TWaitCharEvent onWaitChar_;

    // ---- internal state ----
    TComPortState portState_ = cpsClosed;
    std::unique_ptr<TOrvBaseDispatcher> dispatcher_; // exists while open or closing
    std::unique_ptr<platform::MessageTarget> eventWindow_;
    const TDeviceLayers supportedDeviceLayers_ = 1u << dlWin32;
    uint16_t tapiDeviceHandle_ = 0; // handed over by a telephony component; none here
    bool forceApply_ = false;
    bool openPending_ = false;
    bool openAfterLoad_ = false;
    TTriggerSnapshot savedTriggers_;
    bool restoreTriggersOnOpen_ = false;
    std::vector<TPortUser> portUsers_;
};

// The component as owners create it; it adds nothing to TOrvCustomComPort.
class TOrvComPort : public TOrvCustomComPort {
public:
    using TOrvCustomComPort::TOrvCustomComPort;
};

} // namespace orvi
