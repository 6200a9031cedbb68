// The com port component's event delivery: the hidden event window that the
// dispatcher's workers send trigger messages to, the events it fires on the owning
// thread, the completion of a deferred close and the open/close notifications. The runner
// of synchronised dispatcher handlers is in OwningThreadRunner.cpp.
#include "serial/ApplicationException.h"
#include "serial/ComPort.h"
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/OwningThreadRunner.h"
#include "serial/dispatch/DispatcherRegistry.h"

#include <mutex>

namespace orvi {

namespace {

uint16_t LoWord(uintptr_t value) {
    return uint16_t(value & 0xFFFF);
}

uint16_t HiWord(intptr_t value) {
    return uint16_t((uintptr_t(value) >> 16) & 0xFFFF);
}

bool IsPortEventMessage(uint32_t msg) {
    return msg == MsgTriggerAvail || msg == MsgTriggerData || msg == MsgTriggerTimer ||
           msg == MsgTriggerStatus || msg == MsgPortClosing;
}

// Runs one step of an event's handling; what it raises goes to the application's
// exception display on the main thread and is dropped elsewhere, never further.
template <class F> void Guarded(F step) {
    try {
        step();
    } catch (...) {
        if (IsMainThread())
            ShowApplicationException(std::current_exception());
    }
}

} // namespace

// ---- the event window ----

platform::WindowHandle TOrvCustomComPort::EventWindow() const {
    return eventWindow_ ? eventWindow_->Handle() : 0;
}

void TOrvCustomComPort::SetupEventWindow(bool create) {
    if (!create) {
        if (!eventWindow_)
            return;
        if (dispatcher_)
            dispatcher_->Triggers().RemoveNotifyWindow(eventWindow_->Handle());
        eventWindow_.reset();
        return;
    }
    if (eventWindow_ || !dispatcher_)
        return;
    InstallOwningThreadRunner();
    auto window = std::make_unique<platform::MessageTarget>(
        [this](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
            return DeliverPortEvent(msg, wParam, lParam);
        });
    if (!window->Valid())
        throw EInternal(ecInternal);
    eventWindow_ = std::move(window);
    dispatcher_->Triggers().AddNotifyWindow(eventWindow_->Handle());
}

intptr_t TOrvCustomComPort::DeliverPortEvent(uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    if (!IsPortEventMessage(msg))
        return 0;
    std::lock_guard lock(DispatcherRegistry::RegistryLock());
    const int32_t index = HiWord(lParam);
    if (index >= DispatcherRegistry::SlotCount())
        return 0;
    TOrvBaseDispatcher* dispatcher = DispatcherRegistry::Find(index);
    auto* port = dispatcher ? dynamic_cast<TOrvCustomComPort*>(dispatcher->Owner()) : nullptr;
    if (port != nullptr)
        port->HandlePortMessage(*dispatcher, msg, wParam, lParam);
    return 0;
}

bool TOrvCustomComPort::InsideHandler() {
    return HandlerCall::Running();
}

void TOrvCustomComPort::HandlePortMessage(TOrvBaseDispatcher& dispatcher, uint32_t msg,
                                          uintptr_t wParam, intptr_t lParam) {
    const HandlerCall running;
    const uint16_t trigger = LoWord(wParam);
    const uint16_t data = msg == MsgTriggerAvail ? trigger : LoWord(uintptr_t(lParam));
    if (msg == MsgPortClosing) {
        // Separate steps: a raising OnTrigger must not keep the close from completing.
        Guarded([&] { DoTrigger(uint16_t(msg), trigger, data); });
        Guarded([&] { CompleteDeferredClose(dispatcher, lParam); });
        return;
    }
    Guarded([&] {
        DoTrigger(uint16_t(msg), trigger, data);
        switch (msg) {
        case MsgTriggerAvail:
            DoTriggerAvail(trigger);
            break;
        case MsgTriggerData:
            DoTriggerData(trigger);
            break;
        case MsgTriggerTimer:
            DoTriggerTimer(trigger);
            break;
        case MsgTriggerStatus:
            DoTriggerStatus(trigger);
            HandleStatusKind(trigger);
            break;
        default:
            break;
        }
    });
}

void TOrvCustomComPort::HandleStatusKind(uint16_t statusHandle) {
    switch (statusHandle & 7) {
    case stModem:
        DoTriggerModemStatus();
        break;
    case stLine: {
        // Both are read-and-clear; the break is read first.
        const bool lineBreak = LineBreak();
        const uint16_t error = LineError();
        DoTriggerLineError(error, lineBreak);
        break;
    }
    case stOutBuffFree:
        DoTriggerOutbuffFree();
        break;
    case stOutBuffUsed:
        DoTriggerOutbuffUsed();
        break;
    case stOutSent:
        DoTriggerOutSent();
        break;
    default:
        break;
    }
}

// The deferred close: the message comes back until the dispatcher's workers have
// ended; then the window and the dispatcher go, and a pending open runs.
void TOrvCustomComPort::CompleteDeferredClose(TOrvBaseDispatcher& dispatcher, intptr_t lParam) {
    if (portState_ != cpsShuttingDown || dispatcher_.get() != &dispatcher)
        return;
    // Workers that the close let go of are not waited for: Dispose keeps the dispatcher
    // until they end.
    if (dispatcher.WorkersActive() && !dispatcher.WorkersLetGo()) {
        platform::PostMessageTo(EventWindow(), MsgPortClosing, 0, lParam);
        return;
    }
    FinishClose();
    if (openPending_) {
        openPending_ = false;
        StartPort();
    }
}

// ---- handler flags and trigger events ----

bool TOrvCustomComPort::AnyTriggerEvent() const {
    return onTrigger_ || onTriggerAvail_ || onTriggerData_ || onTriggerStatus_ || onTriggerTimer_ ||
           onTriggerLineError_ || onTriggerModemStatus_ || onTriggerOutbuffFree_ ||
           onTriggerOutbuffUsed_ || onTriggerOutSent_;
}

void TOrvCustomComPort::UpdateHandlerFlags() {
    if (IsOpenState())
        dispatcher_->SetHandlerFlags(AnyTriggerEvent() ? hmPortHandlerOn : hmPortHandlerOff);
}

void TOrvCustomComPort::SetOnTrigger(TTriggerEvent handler) {
    onTrigger_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerAvail(TTriggerAvailEvent handler) {
    onTriggerAvail_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerData(TTriggerDataEvent handler) {
    onTriggerData_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerStatus(TTriggerStatusEvent handler) {
    onTriggerStatus_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerTimer(TTriggerTimerEvent handler) {
    onTriggerTimer_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerLineError(TTriggerLineErrorEvent handler) {
    onTriggerLineError_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerModemStatus(TNotifyEvent handler) {
    onTriggerModemStatus_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerOutbuffFree(TNotifyEvent handler) {
    onTriggerOutbuffFree_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerOutbuffUsed(TNotifyEvent handler) {
    onTriggerOutbuffUsed_ = std::move(handler);
    UpdateHandlerFlags();
}

void TOrvCustomComPort::SetOnTriggerOutSent(TNotifyEvent handler) {
    onTriggerOutSent_ = std::move(handler);
    UpdateHandlerFlags();
}

// Each Do... calls a copy of its handler, so that a handler may replace or clear its
// own event while it runs.
void TOrvCustomComPort::DoTrigger(uint16_t Msg, uint16_t TriggerHandle, uint16_t Data) {
    if (const TTriggerEvent handler = onTrigger_)
        handler(*this, Msg, TriggerHandle, Data);
}

void TOrvCustomComPort::DoTriggerAvail(uint16_t Count) {
    if (const TTriggerAvailEvent handler = onTriggerAvail_)
        handler(*this, Count);
}

void TOrvCustomComPort::DoTriggerData(uint16_t TriggerHandle) {
    if (const TTriggerDataEvent handler = onTriggerData_)
        handler(*this, TriggerHandle);
}

void TOrvCustomComPort::DoTriggerStatus(uint16_t TriggerHandle) {
    if (const TTriggerStatusEvent handler = onTriggerStatus_)
        handler(*this, TriggerHandle);
}

void TOrvCustomComPort::DoTriggerTimer(uint16_t TriggerHandle) {
    if (const TTriggerTimerEvent handler = onTriggerTimer_)
        handler(*this, TriggerHandle);
}

void TOrvCustomComPort::DoTriggerLineError(uint16_t Error, bool LineBreak) {
    if (const TTriggerLineErrorEvent handler = onTriggerLineError_)
        handler(*this, Error, LineBreak);
}

void TOrvCustomComPort::DoTriggerModemStatus() {
    if (const TNotifyEvent handler = onTriggerModemStatus_)
        handler(*this);
}

void TOrvCustomComPort::DoTriggerOutbuffFree() {
    if (const TNotifyEvent handler = onTriggerOutbuffFree_)
        handler(*this);
}

void TOrvCustomComPort::DoTriggerOutbuffUsed() {
    if (const TNotifyEvent handler = onTriggerOutbuffUsed_)
        handler(*this);
}

void TOrvCustomComPort::DoTriggerOutSent() {
    if (const TNotifyEvent handler = onTriggerOutSent_)
        handler(*this);
}

void TOrvCustomComPort::DoWaitChar(char C) {
    if (const TWaitCharEvent handler = onWaitChar_)
        handler(*this, C);
}

// ---- open and close notifications ----

// Users are told from the last registered to the first. A window is sent the message
// and the call waits for it; otherwise the callback that the entry selects is called.
void TOrvCustomComPort::NotifyUsers(uint32_t msg, int32_t kind, bool extendedOnly) {
    const std::vector<TPortUser> users = portUsers_;
    for (auto it = users.rbegin(); it != users.rend(); ++it) {
        if (extendedOnly && !it->Extended)
            continue;
        if (it->Window != 0)
            platform::SendMessageWithTimeout(it->Window, msg, 0, 0, platform::kInfinite, nullptr);
        else if (it->Extended && it->ExtendedCallback)
            it->ExtendedCallback(*this, kind);
        else if (!it->Extended && it->Callback)
            it->Callback(*this, kind == 0);
    }
}

void TOrvCustomComPort::NotifyPortOpen() {
    NotifyUsers(MsgPortOpened, 0, false);
    if (const TNotifyEvent handler = onPortOpen_)
        handler(*this);
}

void TOrvCustomComPort::NotifyPortClose() {
    NotifyUsers(MsgPortClosed, 2, false);
    if (const TNotifyEvent handler = onPortClose_)
        handler(*this);
}

void TOrvCustomComPort::NotifyPortClosing() {
    NotifyUsers(MsgPortClosing, 1, true);
}

} // namespace orvi
