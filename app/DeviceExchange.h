#pragma once
// The device exchanges over a port component: send a request frame, wait for the 20-byte
// reply, decode it with the protocol of SensorProtocol.h. One class for every program that
// talks to the device (the console's window, orvi_acquire), so that all of them wait, poll
// and read flash records alike.
//
// Threads: an exchange lives on the thread that owns its port component and runs there
// only. While it waits it hands that thread back to its owner (ServeMessages), so other
// handlers may run in the middle of an exchange; Abandoned tells it to give up. No locks.
#include "app/MeasurementRecord.h"
#include "app/SensorProtocol.h"

#include <cstdint>
#include <functional>
#include <string>

namespace orvi {
class TOrvCustomComPort;
}

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
    };

    TDeviceExchange(TOrvCustomComPort& port, THooks hooks);

    // Sleeps 10 ms at a time, serving messages in between, until 20 bytes are waiting or
    // 5000 ms of sleeps have passed; then takes the 20 bytes into `buffer`. Only the sleeps
    // count: the wait lasts at least 5 s. No flush before: bytes already waiting are the
    // start of this reply (the exchanges below first discard them under TStrayBytes::Discard).
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
    bool Exchange(const uint8_t* frame, uint16_t length, TReply& buffer);
    // Before a request: back in step after a no-answer or with bytes waiting (Discard only);
    // false when the line does not fall quiet.
    bool Resync();

    bool outOfStep_ = false; // a wait ran out: a late reply may still come

    TOrvCustomComPort& port_;
    THooks hooks_;
};

} // namespace orvi::app
