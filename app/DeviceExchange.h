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

namespace orvi {
class TOrvCustomComPort;
}

namespace orvi::app {

// The wait's time source: one step of the reply wait. Tests of a silent device put one here
// that returns at once, so a 5 s wait costs no real time.
using TWaitSleep = std::function<void(uint32_t ms)>;

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
        // True when the wait is to end at once, as no answer (the window is closing).
        std::function<bool()> Abandoned;
        TWaitSleep Sleep; // empty: the platform's sleep
    };

    TDeviceExchange(TOrvCustomComPort& port, THooks hooks);

    // Sleeps 10 ms at a time, serving messages in between, until 20 bytes are waiting or
    // 5000 ms of sleeps have passed; then takes the 20 bytes into `buffer`. Only the sleeps
    // count: the wait lasts at least 5 s. No flush before: bytes left from an earlier, late
    // or longer reply are the start of this one.
    bool WaitReply(TReply& buffer);
    // Housing exchange, sensor exchange, decoding into Record. The sensor request is sent
    // only after a housing reply. Port errors pass through unchanged.
    TPollResult PollDevice();
    // One flash-record exchange and its decoding by kind.
    TFlashResult ReadFlashRecord();

    TOrvCustomComPort& Port() const { return port_; }

    // The one measurement record, and the last reply of each request (overwritten only by
    // a successful exchange of its own request).
    TMeasurementRecord Record;
    TReply HousingReply{}, SensorReply{}, FlashReply{};

private:
    bool Exchange(const uint8_t* frame, uint16_t length, TReply& buffer);

    TOrvCustomComPort& port_;
    THooks hooks_;
};

} // namespace orvi::app
