#pragma once
// The device exchanges over a port component: send a request frame, wait for the 20-byte
// reply, decode it with the protocol of SensorProtocol.h. One class for every program that
// talks to the device (the console's window, orvi_acquire), so that all of them wait, poll
// and read flash records alike.
//
// Threads: an exchange lives on the thread that owns its port component and runs there
// only. While it waits it hands that thread back to its owner (ServeMessages), so other
// handlers may run in the middle of an exchange; Abandoned tells it to give up. At
// TPace::Line the exchange's thread reads the reply from the device itself where the platform
// lets it (the component's ReadOnCaller); elsewhere the dispatcher worker takes the reply into
// a mailbox (TReplyMailbox) under the mailbox's lock, the exchange's only lock.
#include "app/MeasurementRecord.h"
#include "app/SensorProtocol.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace orvi {
class TOrvBaseDispatcher;
class TOrvCustomComPort;
} // namespace orvi

namespace orvi::app {

// The wait's time source: one step of the reply wait. Tests of a silent device put one here
// that returns at once, so a 5 s wait costs no real time.
using TWaitSleep = std::function<void(uint32_t ms)>;

// What becomes of bytes that are waiting when no reply is expected: bytes beyond a 20-byte
// reply, a reply that came after its wait had ended, noise.
enum class TStrayBytes {
    // Taken as the start of the next reply, as the console's window has always done; a run
    // there ends at the first no-answer, so it never goes on out of step.
    StartOfNextReply,
    // Drained until the line is quiet and discarded, with a warning, before the next request
    // goes out: no record is ever decoded from another request's reply. For every program
    // that goes on after a no-answer.
    Discard,
};

// How a reply wait learns that the reply is there.
enum class TPace {
    // Sleeps 10 ms at a time and then looks at the count waiting, serving messages in
    // between: the console's way, which keeps a window's thread free for its clicks and
    // paints, and at most one exchange per sleep.
    Console,
    // The waiting thread waits on the device and reads the reply itself (the component's
    // ReadOnCaller) where the platform lets it (POSIX); elsewhere the reply is taken on the
    // dispatcher worker as soon as the 20 bytes are there (the component's data-available
    // threshold, TriggerLength 20, and OnWorkerAvail) and the waiting thread is woken at
    // once. The request goes to the driver from the calling thread (WriteAtOnce): as fast as
    // the line and the device allow. The owning thread's messages are served between steps
    // of the wait and are then the component's alone (platform::ProcessOneMessage); a window
    // toolkit's own events are not served.
    Line,
};

// What one poll gave.
enum class TPollResult {
    Reading,   // both sets received and decoded into the record
    NoAnswer,  // a reply did not come within the wait; the record is unchanged
    DataEnded, // a reading whose sensor set is the device's end-of-data mark
};

class TDeviceExchange {
public:
    struct THooks {
        // Serves what is pending for the owning thread (window messages, port events);
        // called after every sleep of the wait.
        std::function<void()> ServeMessages;
        // True when the wait is to end at once, as no answer (the window is closing, a stop
        // signal); a reply that still comes is then a late one.
        std::function<bool()> Abandoned;
        TWaitSleep Sleep; // empty: the platform's sleep
        TStrayBytes Stray = TStrayBytes::Discard;
        // Told, in words, about bytes discarded to get back in step (TStrayBytes::Discard).
        std::function<void(const std::string&)> Warn;
        TPace Pace = TPace::Console;
        // TPace::Line: the clock of the 5 s no-answer rule, in milliseconds; empty: the
        // platform's tick counter. (At TPace::Console only the sleeps count.)
        std::function<uint32_t()> WaitClock = {};
        // TPace::Line: the reply is taken on the dispatcher worker even where this thread
        // could read the device itself, as it is where it cannot (for tests of that way).
        bool TakeOnWorker = false;
    };

    // At TPace::Line the exchange owns the port's TriggerLength, WriteAtOnce, ReadOnCaller
    // and OnWorkerAvail, and gives the last three back when it goes.
    TDeviceExchange(TOrvCustomComPort& port, THooks hooks);
    ~TDeviceExchange();
    TDeviceExchange(const TDeviceExchange&) = delete;
    TDeviceExchange& operator=(const TDeviceExchange&) = delete;

    // Waits until 20 bytes are waiting, then takes them into `buffer`; false when they did
    // not come within 5 s (no answer). At TPace::Console it sleeps 10 ms at a time, serving
    // messages in between, and only the sleeps count: the wait lasts at least 5 s. At
    // TPace::Line it waits until the reply was read and counts WaitClock. No flush
    // before: bytes already waiting are the start of this reply (the exchanges below first
    // discard them under TStrayBytes::Discard).
    bool WaitReply(TReply& buffer);
    // Housing exchange, sensor exchange, decoding into Record. The sensor request is sent
    // only after a housing reply. Port errors pass through unchanged.
    TPollResult PollDevice();
    // One flash-record exchange and its decoding by kind.
    TFlashResult ReadFlashRecord();

    // With TStrayBytes::Discard: takes what arrives until nothing has come for `quietMs`
    // (counted in the wait's sleeps), for at most 5 s; the bytes discarded. Called by the
    // exchanges themselves before a request when bytes are waiting or a wait has run out.
    size_t Drain(uint32_t quietMs);

    TOrvCustomComPort& Port() const { return port_; }

    // The one measurement record, and the last reply of each request (overwritten only by
    // a successful exchange of its own request).
    TMeasurementRecord Record;
    TReply HousingReply{}, SensorReply{}, FlashReply{};

private:
    // TPace::Line: where the dispatcher worker leaves the awaited reply. Shared with the
    // worker's handler, which may still run once after the exchange is gone.
    struct TReplyMailbox {
        std::mutex Lock;
        std::condition_variable Taken; // notified when Arrived becomes true
        // Under Lock:
        bool Awaiting = false; // a request went out and its wait has not ended
        bool Arrived = false;  // the worker took the awaited reply into Reply
        bool Beyond = false;   // more than the reply was waiting when it took it
        TReply Reply{};
    };
    // OnWorkerAvail at TPace::Line, on the dispatcher worker: takes the awaited reply (the
    // bytes of the event are its handler's until it ends).
    static void TakeOnWorker(TReplyMailbox& box, TOrvBaseDispatcher& dispatcher, uint16_t count);

    bool WaitBySleeps(TReply& buffer);
    bool WaitAtLinePace(TReply& buffer);
    // TPace::Line: one step of the wait, at most `step`; true when the reply may be there.
    bool WaitStep(std::chrono::milliseconds step);
    // TPace::Line: the reply, once the worker or a look at the port has it.
    bool ReplyTaken(TReply& buffer);
    bool Exchange(const uint8_t* frame, uint16_t length, TReply& buffer);
    // Before a request: back in step after a no-answer or with bytes waiting (Discard only);
    // false when the line does not fall quiet.
    bool Resync();

    bool outOfStep_ = false;    // a wait ran out: a late reply may still come
    bool beyondReply_ = false; // TPace::Line: the worker saw more than the reply
    uint16_t readOnCallerCount_ = 0; // ReadOnCaller: the ring's bytes after the last wait step
    std::shared_ptr<TReplyMailbox> mailbox_; // TPace::Line only

    TOrvCustomComPort& port_;
    THooks hooks_;
};

} // namespace orvi::app
