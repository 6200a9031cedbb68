#include "acquire/Acquisition.h"

#include "acquire/Terminal.h"
#include "app/PortDiscovery.h"
#include "platform/Clock.h"
#include "platform/MessageTarget.h"
#include "platform/SerialDeviceMap.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace orvi::acquire {

namespace {

constexpr auto kStep = std::chrono::milliseconds(10);
constexpr auto kAdapterCheck = std::chrono::milliseconds(50);
// How long a reply wait goes on once a stop was asked for: a device that answers completes
// the poll in progress, a silent one does not hold the stop for the rest of its 5 s.
constexpr auto kStopGrace = std::chrono::milliseconds(500);

} // namespace

TAcquisition::TAcquisition(TAcquireOptions options, TStopRequests& requests, TAcquireHooks hooks)
    : options_(std::move(options)), requests_(requests), hooks_(std::move(hooks)),
      status_(hooks_.Err, platform::IsTerminal(hooks_.Err) &&
                              !(options_.Json && platform::IsTerminal(hooks_.Out))),
      exchange_(port_, {[this] { ServeMessages(); },
                        [this] { return Abandoned(); },
                        hooks_.Sleep,
                        app::TStrayBytes::Discard,
                        [this](const std::string& warning) { status_.Say(warning); }}),
      run_(port_, exchange_, [this] { return hooks_.Tick(); }) {
    if (!hooks_.Tick)
        hooks_.Tick = &platform::TickCount;
    port_.SetAutoOpen(false);
    if (options_.Json) {
        json_ = std::make_unique<TJsonStream>(
            hooks_.Out, [this](const std::string& warning) { status_.Say(warning); });
        run_.Listeners.push_back(json_.get());
    }
    run_.Listeners.insert(run_.Listeners.end(), hooks_.Listeners.begin(), hooks_.Listeners.end());
}

TAcquisition::~TAcquisition() {
    try {
        port_.SetOpen(false);
    } catch (...) {
        // Nothing left to tell; the component releases what remains.
    }
}

int TAcquisition::Run() {
    int status = OpenPort();
    if (status == kEndedAsAsked)
        status = OpenLog();
    if (status == kEndedAsAsked)
        status = Loop();
    return Finish(status);
}

// As the console's "Старт": the first port of the serial device map that opens, then opened
// again at the chosen speed; or the port the command line names.
int TAcquisition::OpenPort() {
    port_.SetBaud(options_.Baud);
    int found = 0;
    try {
        if (options_.Port.empty()) {
            found = app::FindUsbSerialPort(&platform::ReadSerialDeviceMap,
                                           [this](int n) { return run_.TryOpenPort(n); });
            if (found == 0) {
                status_.Say("no USB-serial adapter found");
                return kNoPort;
            }
        } else {
            named_ = std::make_unique<TPortNumber>(options_.Port);
            found = named_->Number();
        }
    } catch (const std::exception& e) {
        status_.Say(std::string("no port: ") + e.what());
        return kNoPort;
    }
    try {
        OpenAt(found);
    } catch (const std::exception& e) {
        portNumber_ = found;
        const std::string hint = AccessHint(found);
        status_.Say("cannot open " + PortName() + ": " + (hint.empty() ? e.what() : hint));
        return kNoPort;
    }
    portNumber_ = found;
    identity_ = IdentityOf(PortDevice(found));
    return kEndedAsAsked;
}

void TAcquisition::OpenAt(int portNumber) {
    if (portNumber <= 0 || portNumber > app::TAcquisitionRun::kHighestPort)
        throw std::runtime_error("no such port number");
    run_.OpenPort(portNumber, options_.Baud);
}

int TAcquisition::OpenLog() {
    if (options_.LogFile.empty() && options_.LogDir.empty())
        return kEndedAsAsked;
    try {
        if (options_.LogFile.empty()) {
            run_.Log = CreateDatedLog(options_.LogDir, std::chrono::system_clock::now(), logPath_);
        } else {
            logPath_ = options_.LogFile;
            run_.Log = std::make_unique<app::TDataLog>(logPath_);
        }
    } catch (const std::exception& e) {
        status_.Say(e.what());
        return kRunFailed;
    }
    return kEndedAsAsked;
}

// Closes the log and opens the same name again, after what a file still there holds: a
// rotation moved the old file away, anything else keeps its lines.
int TAcquisition::ReopenLog() {
    if (!run_.Log)
        return kEndedAsAsked;
    try {
        run_.Log->Close();
        run_.Log = std::make_unique<app::TDataLog>(logPath_, app::TDataLog::TOpen::Append);
    } catch (const std::exception& e) {
        run_.Log.reset();
        status_.Say(e.what());
        return kRunFailed;
    }
    return kEndedAsAsked;
}

int TAcquisition::Loop() {
    started_ = TClock::now();
    const TClock::time_point started = started_;
    const auto interval = std::chrono::milliseconds(options_.IntervalMs);
    TClock::time_point tick = started + interval;
    while (!requests_.Stop && !LimitReached(started)) {
        if (requests_.Reopen.exchange(false)) {
            if (const int status = ReopenLog(); status != kEndedAsAsked)
                return status;
        }
        TClock::time_point until = tick;
        if (options_.DurationMs)
            until = std::min(until, started + std::chrono::milliseconds(*options_.DurationMs));
        if (!WaitUntil(until) || LimitReached(started))
            break;
        if (const std::optional<int> end = PollOnce())
            return *end;
        // Ticks that fell into the poll are dropped, as the console's timer drops them.
        const auto behind = (TClock::now() - started) / interval;
        tick = started + (behind + 1) * interval;
    }
    return kEndedAsAsked;
}

std::optional<int> TAcquisition::PollOnce() {
    app::TPollResult result;
    try {
        result = run_.Poll();
    } catch (const std::exception& e) {
        return Lost("the port " + PortName() + " was lost: " + LossReason(portNumber_, e.what()));
    }
    switch (result) {
    case app::TPollResult::NoAnswer:
        if (requests_.Stop)
            return kEndedAsAsked; // the wait was given up for the stop
        return Silent();
    case app::TPollResult::DataEnded:
        status_.Say("the device reports the end of its data");
        return kEndedAsAsked;
    case app::TPollResult::Reading:
        break;
    }
    if (silent_) {
        silent_ = false;
        status_.Say("the device on " + PortName() + " answers again");
    }
    return Record();
}

// A wait that ran out on a port that went away (the adapter pulled out) is told as that: a
// flush meets the gone device. Otherwise the device is silent: without --reconnect the run
// ends; with it the port stays open and the next poll asks again (the exchange first drains
// a reply that comes late), and the silence is told once.
std::optional<int> TAcquisition::Silent() {
    try {
        port_.FlushInput();
    } catch (const std::exception& e) {
        return Lost("the port " + PortName() + " was lost: " + LossReason(portNumber_, e.what()));
    }
    const std::string why = "no answer from the device on " + PortName() + " within 5 s";
    if (!options_.Reconnect) {
        status_.Say(why);
        return kRunFailed;
    }
    if (!silent_)
        status_.Say(why + "; polling again until it answers");
    silent_ = true;
    return std::nullopt;
}

// The reading stamped with the tick, into the log and then to every listener.
std::optional<int> TAcquisition::Record() {
    run_.StampTick();
    try {
        run_.LogRecord();
    } catch (const std::exception& e) {
        status_.Say(e.what());
        return kRunFailed;
    }
    if (json_) {
        if (const std::string failure = json_->Failure(); !failure.empty()) {
            status_.Say("cannot write the JSON stream: " + failure);
            return kRunFailed;
        }
    }
    status_.Update(run_.Logged(), exchange_.Record,
                   run_.Log ? std::optional<uint64_t>(run_.Log->Size()) : std::nullopt);
    return std::nullopt;
}

std::string TAcquisition::PortName() const {
    if (!options_.Port.empty())
        return options_.Port;
    return "COM" + std::to_string(portNumber_) + " (" + PortDevice(portNumber_) + ")";
}

bool TAcquisition::Abandoned() {
    if (!requests_.Stop)
        return false;
    const auto now = TClock::now();
    if (!stopSeen_)
        stopSeen_ = now;
    return now - *stopSeen_ >= kStopGrace;
}

// Without --reconnect the run ends; with it the port is closed and the run goes on once the
// same adapter is back (or ends there at a stop request).
std::optional<int> TAcquisition::Lost(const std::string& why) {
    silent_ = false;
    if (!options_.Reconnect) {
        status_.Say(why);
        return kRunFailed;
    }
    status_.Say(why + "; waiting for the adapter to come back");
    try {
        port_.SetOpen(false);
    } catch (const std::exception&) {
        // A port that is gone may fail to close cleanly; it is closed either way.
    }
    if (const std::optional<int> end = WaitForAdapter())
        return end;
    status_.Say("polling again on " + PortName() +
                (foundAgain_.empty() || foundAgain_ == options_.Port ? "" : " (" + foundAgain_ + ")"));
    return std::nullopt;
}

std::optional<int> TAcquisition::WaitForAdapter() {
    while (!requests_.Stop && !LimitReached(started_)) {
        std::string refusal;
        const int found = FindAgain(refusal);
        if (!refusal.empty()) {
            status_.Say(refusal);
            return kRunFailed;
        }
        if (found != 0) {
            try {
                OpenAt(found);
                portNumber_ = found;
                return std::nullopt;
            } catch (const std::exception&) {
                // Not back yet.
            }
        }
        WaitUntil(TClock::now() + kAdapterCheck);
    }
    return kEndedAsAsked;
}

// A /dev/serial/by-id or by-path link names the port itself: udev makes it again for the
// same port. Otherwise the port's identity, exactly; a port that is no USB port is the same
// port number.
int TAcquisition::FindAgain(std::string& refusal) {
    foundAgain_.clear();
    if (options_.Port.find("/serial/by-") != std::string::npos)
        return PortNumberOf(options_.Port, named_.get());
    if (!identity_.Known())
        return portNumber_;
    const std::vector<std::string> ports = PortsWithIdentity(identity_);
    if (ports.size() > 1) {
        refusal = "cannot tell which port is " + PortName() + " now: ";
        for (const std::string& port : ports)
            refusal += port + (&port == &ports.back() ? "" : " and ");
        refusal += " have the same " + identity_.Words() +
                   "; name the port by its /dev/serial/by-path link";
        return 0;
    }
    if (ports.empty())
        return 0;
    foundAgain_ = ports.front();
    return PortNumberOf(ports.front(), named_.get());
}

bool TAcquisition::WaitUntil(TClock::time_point until) {
    for (;;) {
        ServeMessages();
        if (requests_.Stop)
            return false;
        const auto now = TClock::now();
        if (now >= until)
            return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - now);
        platform::SleepMs(uint32_t(std::min<std::chrono::milliseconds>(left, kStep).count()));
    }
}

void TAcquisition::ServeMessages() {
    while (platform::ProcessOneMessage(0)) {
    }
}

bool TAcquisition::LimitReached(TClock::time_point started) const {
    if (options_.Polls && run_.Logged() >= *options_.Polls)
        return true;
    return options_.DurationMs &&
           TClock::now() - started >= std::chrono::milliseconds(*options_.DurationMs);
}

// As the console's stop: buffers flushed, the port closed, the log closed; a port that went
// away is no failure of the run any more, a failure to close the log is a failed write.
int TAcquisition::Finish(int status) {
    const app::TAcquisitionRun::TEnding ending = run_.End(true);
    if (ending.Log) {
        try {
            std::rethrow_exception(ending.Log);
        } catch (const std::exception& e) {
            status_.Say(e.what());
        }
        if (status == kEndedAsAsked)
            status = kRunFailed;
    }
    run_.EndListeners();
    status_.Finish();
    return status;
}

} // namespace orvi::acquire
