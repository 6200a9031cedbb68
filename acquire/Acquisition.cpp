#include "acquire/Acquisition.h"

#include "app/PortDiscovery.h"
#include "platform/Clock.h"
#include "platform/MessageTarget.h"
#include "platform/SerialDeviceMap.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace orvi::acquire {

namespace {

constexpr int kHighestPort = 65535;
constexpr auto kStep = std::chrono::milliseconds(10);
constexpr auto kAdapterCheck = std::chrono::milliseconds(50);

std::string PortText(int portNumber) {
    return "COM" + std::to_string(portNumber) + " (" + PortDevice(portNumber) + ")";
}

} // namespace

TAcquisition::TAcquisition(TAcquireOptions options, TStopRequests& requests, TAcquireHooks hooks)
    : options_(std::move(options)), requests_(requests), hooks_(std::move(hooks)),
      status_(hooks_.Err), exchange_(port_, {[this] { ServeMessages(); }, {}, hooks_.Sleep}) {
    if (!hooks_.Tick)
        hooks_.Tick = &platform::TickCount;
    port_.SetAutoOpen(false);
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
    if (status == kEndedAsAsked && hooks_.Listener)
        hooks_.Listener->RunStarted(PortText(portNumber_));
    if (status == kEndedAsAsked)
        status = OpenLog();
    if (status == kEndedAsAsked) {
        service_.Ready();
        status = Loop();
    }
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
                                           [this](int n) { return TryOpen(n); });
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
        const std::string hint = AccessHint(found);
        status_.Say("cannot open " + PortText(found) + ": " + e.what() +
                    (hint.empty() ? "" : " " + hint));
        return kNoPort;
    }
    portNumber_ = found;
    usbSerial_ = UsbSerialNumber(found);
    return kEndedAsAsked;
}

bool TAcquisition::TryOpen(int portNumber) {
    if (portNumber <= 0 || portNumber > kHighestPort)
        return false;
    bool opened = false;
    try {
        port_.SetComNumber(uint16_t(portNumber));
        port_.SetOpen(true);
        opened = true;
    } catch (const std::exception&) {
        // Not the port searched for.
    }
    port_.SetOpen(false);
    return opened;
}

void TAcquisition::OpenAt(int portNumber) {
    if (portNumber <= 0 || portNumber > kHighestPort)
        throw std::runtime_error("no such port number");
    port_.SetOpen(false);
    port_.SetBaud(options_.Baud);
    port_.SetComNumber(uint16_t(portNumber));
    port_.SetOpen(true);
    port_.FlushInput();
    port_.FlushOutput();
}

int TAcquisition::OpenLog() {
    if (options_.LogFile.empty() && options_.LogDir.empty())
        return kEndedAsAsked;
    logPath_ = options_.LogFile.empty()
                   ? DatedLogPath(options_.LogDir, std::chrono::system_clock::now())
                   : options_.LogFile;
    try {
        log_ = std::make_unique<app::TDataLog>(logPath_);
    } catch (const std::exception& e) {
        status_.Say(e.what());
        return kRunFailed;
    }
    if (hooks_.Listener)
        hooks_.Listener->LogOpened(logPath_);
    return kEndedAsAsked;
}

// Closes the log and opens the same name again, after what a file still there holds: a
// rotation moved the old file away, anything else keeps its lines.
int TAcquisition::ReopenLog() {
    if (!log_)
        return kEndedAsAsked;
    try {
        log_->Close();
        log_ = std::make_unique<app::TDataLog>(logPath_, app::TDataLog::TOpen::Append);
    } catch (const std::exception& e) {
        log_.reset();
        status_.Say(e.what());
        return kRunFailed;
    }
    if (hooks_.Listener)
        hooks_.Listener->LogOpened(logPath_);
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
        result = exchange_.PollDevice();
    } catch (const std::exception& e) {
        return Lost(std::string("the port was lost: ") + e.what());
    }
    switch (result) {
    case app::TPollResult::NoAnswer:
        return Lost(SilenceReason());
    case app::TPollResult::DataEnded:
        status_.Say("the device reports the end of its data", TSeverity::Notice);
        return kEndedAsAsked;
    case app::TPollResult::Reading:
        break;
    }
    return Record();
}

// A wait that ran out on a port that went away (the adapter pulled out) is told as that: a
// flush meets the gone device. Nothing waiting is of use once a poll has failed.
std::string TAcquisition::SilenceReason() {
    try {
        port_.FlushInput();
    } catch (const std::exception& e) {
        return std::string("the port was lost: ") + e.what();
    }
    return "the device did not answer within 5 s";
}

// The reading stamped with the tick, into the log and then the stream.
std::optional<int> TAcquisition::Record() {
    app::TMeasurementRecord& record = exchange_.Record;
    record.Tick = int32_t(hooks_.Tick());
    const auto now = std::chrono::system_clock::now();
    if (log_) {
        try {
            log_->Write(app::LogLine(record));
        } catch (const std::exception& e) {
            status_.Say(e.what());
            return kRunFailed;
        }
    }
    if (options_.Json) {
        const std::string line = JsonLine(polls_ + 1, record, now);
        if (std::fwrite(line.data(), 1, line.size(), hooks_.Out) != line.size() ||
            std::fflush(hooks_.Out) != 0) {
            status_.Say(std::string("cannot write the JSON stream: ") + std::strerror(errno));
            return kRunFailed;
        }
    }
    ++polls_;
    std::string more;
    if (hooks_.Listener) {
        hooks_.Listener->Recorded(polls_, record, now);
        if (const std::optional<int> end = HearListener())
            return end;
        more = hooks_.Listener->StateText();
    }
    status_.Update(polls_, record, log_ ? log_->Size() : 0, more);
    service_.Status("polls " + std::to_string(polls_) + (more.empty() ? "" : ", " + more));
    return std::nullopt;
}

std::optional<int> TAcquisition::HearListener() {
    for (const TNote& note : hooks_.Listener->TakeNotes())
        status_.Say(note.Text, note.Severity);
    if (const std::optional<TOutputFailure> failure = hooks_.Listener->Failure()) {
        status_.Say(failure->Text);
        return failure->ExitStatus;
    }
    return std::nullopt;
}

// Without --reconnect the run ends; with it the port is closed and the run goes on once the
// same adapter is back (or ends there at a stop request).
std::optional<int> TAcquisition::Lost(const std::string& why) {
    if (!options_.Reconnect) {
        status_.Say(why);
        return kRunFailed;
    }
    status_.Say(why + "; waiting for the adapter to come back", TSeverity::Warning);
    try {
        port_.SetOpen(false);
    } catch (const std::exception&) {
        // A port that is gone may fail to close cleanly; it is closed either way.
    }
    if (!WaitForAdapter())
        return kEndedAsAsked;
    status_.Say("polling again on " + PortText(portNumber_), TSeverity::Notice);
    return std::nullopt;
}

// Ends without the adapter at a stop request or once the run's duration is over.
bool TAcquisition::WaitForAdapter() {
    while (!requests_.Stop && !LimitReached(started_)) {
        const int found = usbSerial_.empty() ? portNumber_ : FindUsbSerialNumber(usbSerial_);
        if (found != 0) {
            try {
                OpenAt(found);
                portNumber_ = found;
                return true;
            } catch (const std::exception&) {
                // Not back yet.
            }
        }
        WaitUntil(TClock::now() + kAdapterCheck);
    }
    return false;
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
    service_.Alive();
    while (platform::ProcessOneMessage(0)) {
    }
}

bool TAcquisition::LimitReached(TClock::time_point started) const {
    if (options_.Polls && polls_ >= *options_.Polls)
        return true;
    return options_.DurationMs &&
           TClock::now() - started >= std::chrono::milliseconds(*options_.DurationMs);
}

// As the console's stop: buffers flushed, the port closed, the log closed; a failure to
// close the log is a failed write.
int TAcquisition::Finish(int status) {
    try {
        if (port_.Open()) {
            port_.FlushInput();
            port_.FlushOutput();
        }
        port_.SetOpen(false);
    } catch (const std::exception&) {
        // The port went away; nothing of the run depends on it any more.
    }
    if (log_) {
        try {
            log_->Close();
        } catch (const std::exception& e) {
            status_.Say(e.what());
            if (status == kEndedAsAsked)
                status = kRunFailed;
        }
        log_.reset();
    }
    service_.Stopping();
    if (hooks_.Listener) {
        hooks_.Listener->RunEnded();
        for (const TNote& note : hooks_.Listener->TakeNotes())
            status_.Say(note.Text, note.Severity);
    }
    status_.Finish();
    return status;
}

} // namespace orvi::acquire
