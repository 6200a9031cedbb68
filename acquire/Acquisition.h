#pragma once
// One acquisition run without a window: the console's run (AcquisitionRun.h) driven from a
// loop, with what is the acquirer's own: the port found or named, the date-named log, the
// JSON stream, reconnecting, signals, and the exit status that says how the run ended
// (Options.h).
//
// Threads: a TAcquisition runs on the thread that creates it (the port component's owning
// thread, whose messages it serves while it waits). Only the stop requests are set from
// elsewhere (Signals.h).
#include "acquire/Adapter.h"
#include "acquire/JsonStream.h"
#include "acquire/Options.h"
#include "acquire/Output.h"
#include "acquire/Signals.h"
#include "app/AcquisitionRun.h"
#include "app/DataLog.h"
#include "app/DeviceExchange.h"
#include "app/RunListener.h"
#include "serial/ComPort.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orvi::acquire {

struct TAcquireHooks {
    app::TWaitSleep Sleep;          // the reply wait's step; empty: the platform's sleep
    std::function<uint32_t()> Tick; // the system tick counter; empty: the platform's
    std::FILE* Out = stdout;        // the JSON stream
    std::FILE* Err = stderr;        // the status line, warnings and errors
    // More outputs of each logged record (a publisher); they must outlive the run.
    std::vector<app::TRunListener*> Listeners;
};

class TAcquisition {
public:
    TAcquisition(TAcquireOptions options, TStopRequests& requests, TAcquireHooks hooks = {});
    ~TAcquisition();
    TAcquisition(const TAcquisition&) = delete;
    TAcquisition& operator=(const TAcquisition&) = delete;

    // The whole run; the exit status. The port is closed and the log closed whole on every
    // way out. A stop request ends it within one poll: a reply wait that it interrupts is
    // given up after half a second.
    int Run();

private:
    using TClock = std::chrono::steady_clock;

    int OpenPort();
    void OpenAt(int portNumber);
    int OpenLog();
    int ReopenLog();
    int Loop();
    std::optional<int> PollOnce();
    std::optional<int> Record();
    std::optional<int> Silent();
    std::optional<int> Lost(const std::string& why);
    // The port as the user named it, or the port found and its device.
    std::string PortName() const;
    bool Abandoned();
    // Ends without the adapter at a stop request, once the run's duration is over (both
    // kEndedAsAsked) or when the port cannot be told from another (kRunFailed).
    std::optional<int> WaitForAdapter();
    // The port number of the same port now, 0 while it is away; `refusal` set when more than
    // one port has its identity.
    int FindAgain(std::string& refusal);
    // Sleeps until `until` in steps of at most 10 ms, serving messages; false when a stop
    // was asked for meanwhile.
    bool WaitUntil(TClock::time_point until);
    void ServeMessages();
    bool LimitReached(TClock::time_point started) const;
    int Finish(int status);

    TAcquireOptions options_;
    TStopRequests& requests_;
    TAcquireHooks hooks_;
    TStatusLine status_;
    TOrvComPort port_;
    app::TDeviceExchange exchange_;
    app::TAcquisitionRun run_; // its Log is the data log; its Logged() the polls logged
    std::unique_ptr<TPortNumber> named_; // the --port name's number, and its link if any
    int portNumber_ = 0;
    TPortIdentity identity_; // the port's own; unknown: reconnect by port number
    std::string foundAgain_; // the device that has it after a replug
    std::string logPath_;
    std::unique_ptr<TJsonStream> json_; // with --json
    bool silent_ = false; // the device has not answered since it was told
    std::optional<TClock::time_point> stopSeen_; // when a reply wait first saw a stop request
    TClock::time_point started_{}; // the first poll's interval began here
};

} // namespace orvi::acquire
