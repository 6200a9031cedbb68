#include "app/DeviceExchange.h"

#include "platform/Clock.h"
#include "platform/MessageTarget.h"
#include "serial/ComPort.h"
#include "serial/dispatch/BaseDispatcher.h"

#include <algorithm>
#include <chrono>

namespace orvi::app {

namespace {
constexpr uint32_t kSleepMs = 10;
// TPace::Line: the longest a reply wait sleeps between looks at Abandoned and at the
// thread's messages. The reply itself wakes it at once, so the step costs only the
// reaction to a stop; a step shorter than a poll at a slow line would wake it for nothing.
constexpr uint32_t kLineStepMs = 50;
constexpr uint32_t kWaitLimitMs = 5000;
// How long the line must stay quiet before the next request: after a wait that ran out, long
// enough for a reply that came a little late to arrive and be discarded; otherwise long
// enough for the rest of a reply that is longer than 20 bytes.
constexpr uint32_t kLateQuietMs = 1000;
constexpr uint32_t kStrayQuietMs = 50;
constexpr uint32_t kDrainLimitMs = 5000;
} // namespace

TDeviceExchange::TDeviceExchange(TOrvCustomComPort& port, THooks hooks)
    : port_(port), hooks_(std::move(hooks)) {
    if (!hooks_.Sleep)
        hooks_.Sleep = &platform::SleepMs;
    if (hooks_.Pace != TPace::Line)
        return;
    if (!hooks_.WaitClock)
        hooks_.WaitClock = &platform::TickCount;
    mailbox_ = std::make_shared<TReplyMailbox>();
    // The component keeps these across a close and the next open (a reconnect). The request
    // goes to the driver from this thread, without a hand-over to the output worker.
    port_.SetTriggerLength(kReplyLength);
    port_.SetWriteAtOnce(true);
    // Where this thread reads the device itself, the worker no longer reads input and the
    // handler below takes only what it had read before.
    if (!hooks_.TakeOnWorker)
        port_.SetReadOnCaller(true);
    port_.SetOnWorkerAvail([box = mailbox_](TOrvBaseDispatcher& dispatcher, uint16_t count) {
        TakeOnWorker(*box, dispatcher, count);
    });
}

TDeviceExchange::~TDeviceExchange() {
    if (hooks_.Pace != TPace::Line)
        return;
    port_.SetOnWorkerAvail({});
    port_.SetWriteAtOnce(false);
    port_.SetReadOnCaller(false);
}

bool TDeviceExchange::WaitReply(TReply& buffer) {
    return hooks_.Pace == TPace::Line ? WaitAtLinePace(buffer) : WaitBySleeps(buffer);
}

bool TDeviceExchange::WaitBySleeps(TReply& buffer) {
    uint32_t counter = 0;
    while (port_.InCount() < kReplyLength && counter < kWaitLimitMs) {
        if (hooks_.Abandoned && hooks_.Abandoned()) {
            outOfStep_ = true; // the reply may still come
            return false;
        }
        hooks_.Sleep(kSleepMs);
        if (hooks_.ServeMessages)
            hooks_.ServeMessages();
        counter += kSleepMs;
    }
    if (counter >= kWaitLimitMs) {
        outOfStep_ = true;
        return false;
    }
    for (uint8_t& byte : buffer)
        byte = port_.GetByte();
    return true;
}

// This thread reads the reply (ReadOnCaller), or the worker takes it once the dispatcher has
// the 20 bytes; the port is looked at too, for bytes that no event handed over (the event
// comes only when bytes arrive). The wait goes in steps of kLineStepMs, between which
// Abandoned is asked and the thread's messages are served.
bool TDeviceExchange::WaitAtLinePace(TReply& buffer) {
    TReplyMailbox& box = *mailbox_;
    const uint32_t started = hooks_.WaitClock();
    {
        std::lock_guard lock(box.Lock);
        box.Awaiting = true;
    }
    for (;;) {
        if (ReplyTaken(buffer))
            return true;
        const uint32_t waited = hooks_.WaitClock() - started;
        if (waited >= kWaitLimitMs || (hooks_.Abandoned && hooks_.Abandoned())) {
            std::lock_guard lock(box.Lock);
            if (box.Arrived)
                continue; // taken just now: the reply is there after all
            box.Awaiting = false;
            outOfStep_ = true; // the reply may still come
            return false;
        }
        const auto step = std::chrono::milliseconds(std::min(kLineStepMs, kWaitLimitMs - waited));
        if (!WaitStep(step))
            platform::ProcessOneMessage(0);
    }
}

bool TDeviceExchange::WaitStep(std::chrono::milliseconds step) {
    // Asked at every step: a reopen under a dispatcher that cannot read on the caller
    // leaves the worker to take the reply.
    if (port_.ReadOnCaller()) {
        readOnCallerCount_ = port_.WaitInput(uint32_t(step.count()));
        return readOnCallerCount_ >= kReplyLength;
    }
    TReplyMailbox& box = *mailbox_;
    std::unique_lock lock(box.Lock);
    return box.Taken.wait_for(lock, step, [&] { return box.Arrived; });
}

bool TDeviceExchange::ReplyTaken(TReply& buffer) {
    TReplyMailbox& box = *mailbox_;
    std::lock_guard lock(box.Lock);
    if (!box.Arrived) {
        // At ReadOnCaller the wait's last step has read what the driver held, and told how
        // many bytes the ring has: no second look at the driver. Taken whole or not at all:
        // a dispatch that starts meanwhile keeps its bytes.
        const uint16_t waiting = port_.ReadOnCaller() ? readOnCallerCount_ : port_.InCount();
        TOrvBaseDispatcher* dispatcher = waiting >= kReplyLength ? port_.Dispatcher() : nullptr;
        if (dispatcher == nullptr || dispatcher->TakeBlock(buffer.data(), kReplyLength) != 0)
            return false;
        box.Awaiting = false;
        return true;
    }
    buffer = box.Reply;
    beyondReply_ = box.Beyond;
    box.Awaiting = false;
    box.Arrived = false;
    return true;
}

void TDeviceExchange::TakeOnWorker(TReplyMailbox& box, TOrvBaseDispatcher& dispatcher,
                                   uint16_t count) {
    {
        std::lock_guard lock(box.Lock);
        if (!box.Awaiting || box.Arrived || count < kReplyLength ||
            dispatcher.TakeBlock(box.Reply.data(), kReplyLength) != 0)
            return;
        box.Arrived = true;
        // Bytes beyond the reply: until the event has ended they are its handler's and the
        // count shows none, so the next request would go out before they were discarded.
        box.Beyond = count > kReplyLength;
    }
    box.Taken.notify_one();
}

size_t TDeviceExchange::Drain(uint32_t quietMs) {
    size_t discarded = 0;
    uint32_t quiet = 0;
    for (uint32_t waited = 0; quiet < quietMs && waited < kDrainLimitMs; waited += kSleepMs) {
        if (hooks_.Abandoned && hooks_.Abandoned())
            break;
        if (const uint16_t waiting = port_.InCount(); waiting > 0) {
            for (uint16_t i = 0; i < waiting; ++i)
                port_.GetByte();
            discarded += waiting;
            quiet = 0;
        }
        hooks_.Sleep(kSleepMs);
        if (hooks_.ServeMessages)
            hooks_.ServeMessages();
        quiet += kSleepMs;
    }
    return discarded;
}

// Bytes that no request of ours is waiting for are another request's reply, or part of one:
// taken as the start of the next reply, they would shift every later record.
bool TDeviceExchange::Resync() {
    if (hooks_.Stray != TStrayBytes::Discard ||
        (!outOfStep_ && !beyondReply_ && port_.InCount() == 0))
        return true;
    const bool late = outOfStep_;
    const size_t discarded = Drain(late ? kLateQuietMs : kStrayQuietMs);
    const bool quiet = port_.InCount() == 0;
    outOfStep_ = !quiet;
    beyondReply_ = false;
    if (discarded > 0 && hooks_.Warn) {
        hooks_.Warn(std::to_string(discarded) +
                    (late ? " bytes that came after the reply wait had ended (a late reply) were "
                            "discarded, to keep requests and replies in step"
                          : " bytes beyond a 20-byte reply were discarded, to keep requests and "
                            "replies in step"));
    }
    return quiet;
}

bool TDeviceExchange::Exchange(const uint8_t* frame, uint16_t length, TReply& buffer) {
    // A line that does not fall quiet gets no request: its next 20 bytes would be no reply.
    if (!Resync())
        return false;
    if (mailbox_) {
        // Armed before the request goes: the reply may be taken before SendBlock returns.
        std::lock_guard lock(mailbox_->Lock);
        mailbox_->Awaiting = true;
        mailbox_->Arrived = false;
    }
    // Resync left the line quiet: the first look is the wait's first step (bytes kept as the
    // start of this reply, TStrayBytes::StartOfNextReply, are counted by that step too).
    readOnCallerCount_ = 0;
    port_.SendBlock(frame, length);
    TReply reply{};
    if (!WaitReply(reply))
        return false;
    buffer = reply;
    return true;
}

TPollResult TDeviceExchange::PollDevice() {
    if (!Exchange(HousingRequest.data(), HousingRequest.size(), HousingReply))
        return TPollResult::NoAnswer;
    if (!Exchange(SensorRequest.data(), SensorRequest.size(), SensorReply))
        return TPollResult::NoAnswer;
    DecodePoll(HousingReply, SensorReply, Record);
    return DataEnded(SensorReply) ? TPollResult::DataEnded : TPollResult::Reading;
}

TFlashResult TDeviceExchange::ReadFlashRecord() {
    if (!Exchange(FlashRequest.data(), FlashRequest.size(), FlashReply))
        return TFlashResult::Failure;
    return DecodeFlashRecord(FlashReply, Record);
}

} // namespace orvi::app
