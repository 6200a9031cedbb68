#pragma once
// One acquisition run without a window: the port found or named, the data log, the poll loop
// with the console's exchanges, and how the run ends. The exit status says how (Options.h).
//
// Threads: a TAcquisition runs on the thread that creates it (the port component's owning
// thread, whose messages it serves while it waits). Only the stop requests are set from
// elsewhere (Signals.h).
#include "acquire/Adapter.h"
#include "acquire/Options.h"
#include "acquire/Output.h"
#include "acquire/RunListener.h"
#include "acquire/ServiceNotify.h"
#include "acquire/Signals.h"
#include "app/DataLog.h"
#include "app/DeviceExchange.h"
#include "serial/ComPort.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace orvi::acquire {

struct TAcquireHooks {
    app::TWaitSleep Sleep;          // the reply wait's step; empty: the platform's sleep
    std::function<uint32_t()> Tick; // the system tick counter; empty: the platform's
    std::FILE* Out = stdout;        // the JSON stream
    std::FILE* Err = stderr;        // the status line, warnings and errors
    TRunListener* Listener = nullptr; // an output beside the log (MQTT); not owned
};

class TAcquisition {
public:
    TAcquisition(TAcquireOptions options, TStopRequests& requests, TAcquireHooks hooks = {});
    ~TAcquisition();
    TAcquisition(const TAcquisition&) = delete;
    TAcquisition& operator=(const TAcquisition&) = delete;

    // The whole run; the exit status. The port is closed and the log closed whole on every
    // way out.
    int Run();

private:
    using TClock = std::chrono::steady_clock;

    int OpenPort();
    bool TryOpen(int portNumber);
    void OpenAt(int portNumber);
    int OpenLog();
    int ReopenLog();
    int Loop();
    std::optional<int> PollOnce();
    std::string SilenceReason();
    std::optional<int> Record();
    std::optional<int> Lost(const std::string& why);
    bool WaitForAdapter();
    // Sleeps until `until` in steps of at most 10 ms, serving messages; false when a stop
    // was asked for meanwhile.
    bool WaitUntil(TClock::time_point until);
    void ServeMessages();
    bool LimitReached(TClock::time_point started) const;
    int Finish(int status);
    // The listener's notes said; its failure's exit status, if it has failed.
    std::optional<int> HearListener();

    TAcquireOptions options_;
    TStopRequests& requests_;
    TAcquireHooks hooks_;
    TStatusLine status_;
    TServiceNotify service_;
    TOrvComPort port_;
    app::TDeviceExchange exchange_;
    std::unique_ptr<TPortNumber> named_; // the --port name's number, and its link if any
    int portNumber_ = 0;
    std::string usbSerial_; // the adapter's USB serial number; empty: reconnect by port
    std::unique_ptr<app::TDataLog> log_;
    std::string logPath_;
    uint64_t polls_ = 0;
    TClock::time_point started_{}; // the first poll's interval began here
};

} // namespace orvi::acquire
