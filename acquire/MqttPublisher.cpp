#include "acquire/MqttPublisher.h"

#include "acquire/Options.h"
#include "acquire/Output.h"

#include <filesystem>
#include <utility>

namespace orvi::acquire {

namespace {

constexpr size_t kWindow = 512; // records handed to the client and not yet acknowledged
constexpr auto kWakeEvery = std::chrono::milliseconds(250); // new lines and acks also wake it
// Positions are written once a second, or ten times a second while a backlog drains (when at
// least kSaveBatch records were acknowledged since the last write): a crash repeats at most
// the records in flight and those acknowledged since, and the disk sees one fsync a second
// while the stand merely keeps up.
constexpr auto kSaveEvery = std::chrono::seconds(1);
constexpr auto kSaveDraining = std::chrono::milliseconds(100);
constexpr uint64_t kSaveBatch = 200;
constexpr auto kStatusWait = std::chrono::milliseconds(500);
constexpr auto kClientStop = std::chrono::seconds(1);

std::string JsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

} // namespace

struct TMqttPublisher::TSource {
    std::string Path;
    mqtt::TLogTags Tags; // its name and, with a clock file, its start
    bool RunLog = false; // the run's log (more lines may come) until superseded
    // The forward thread's own:
    std::unique_ptr<TLogTail> Tail;
    bool Finished = false; // read to its end, and no more lines will come
    // Guarded by the publisher's lock_:
    TLogPosition Acked;
    bool Dirty = false;   // Acked not yet written
    uint64_t Unacked = 0; // records published and not yet acknowledged
};

TMqttPublisher::TMqttPublisher(TMqttSettings settings) : settings_(std::move(settings)) {
    mqtt::TClientSettings& client = settings_.Client;
    statusTopic_ = client.Url.Topic + "/status";
    client.Background = true;
    if (client.WillTopic.empty()) {
        client.WillTopic = statusTopic_;
        client.WillPayload = "{\"state\":\"offline\"}";
    }
    client_ = std::make_unique<mqtt::TClient>(client, static_cast<mqtt::TClientEvents&>(*this));
}

TMqttPublisher::~TMqttPublisher() {
    if (forward_.joinable()) {
        {
            std::lock_guard lock(lock_);
            ending_ = true;
            endBy_ = std::chrono::steady_clock::now();
        }
        wake_.notify_all();
        forward_.join();
    }
    client_->Stop(std::chrono::milliseconds(0));
}

void TMqttPublisher::Start() {
    {
        std::lock_guard lock(lock_);
        started_ = true;
        // The earlier logs of the folder: listed before the run's log has its clock file, so
        // it is not one of them.
        if (!settings_.LogDir.empty())
            earlier_ = LogsToForward(settings_.LogDir, currentLog_);
    }
    client_->Start();
    forward_ = std::thread([this] { Forward(); });
}

// A log begins where the run's log path changes or its line numbers start again (a new file,
// one emptied under the writer). Its clock file is the record's tick and time, unless the
// file had lines already and a clock file of its own.
void TMqttPublisher::LogBegins(const app::TLoggedRecord& logged) {
    const std::string& path = *logged.LogPath;
    if (logged.Seq == 1 || !ReadClock(path)) {
        const auto utc = std::chrono::duration_cast<std::chrono::milliseconds>(
            logged.Measured.time_since_epoch());
        std::string reason;
        if (!WriteClock(path, TLogClock{uint32_t(logged.Record->Tick), int64_t(utc.count())},
                        reason))
            Note(TSeverity::Warning,
                 "cannot write \"" + ClockPath(path) + "\" (" + reason +
                     "): the records of this log go to the broker with this run only");
    }
    std::lock_guard lock(lock_);
    currentLog_ = path;
    ++logOpenings_;
}

void TMqttPublisher::OnRecord(const app::TLoggedRecord& logged) {
    const bool begins = settings_.Logged && logged.LogPath &&
                        (*logged.LogPath != currentLog_ || logged.Seq <= lastSeq_);
    if (settings_.Logged && !started_ && logged.LogPath) {
        std::lock_guard lock(lock_);
        currentLog_ = *logged.LogPath; // excluded from the earlier logs
    }
    if (!started_)
        Start();
    if (begins)
        LogBegins(logged);
    lastSeq_ = logged.Seq;
    std::string line;
    if (!settings_.Logged)
        line = JsonLine(logged.Seq, *logged.Record, logged.Measured);
    std::lock_guard lock(lock_);
    ++known_;
    if (!settings_.Logged) {
        line.pop_back(); // a message needs no line end
        queue_.push_back(std::move(line));
        if (queue_.size() > settings_.QueueLimit) {
            queue_.pop_front();
            ++acked_; // gone from the backlog, counted as dropped
            if (dropped_++ == 0)
                notes_.push_back({TSeverity::Warning,
                                  "the memory queue is full (" +
                                      std::to_string(settings_.QueueLimit) +
                                      " records): the oldest records are dropped"});
        }
    }
    wake_.notify_all();
}

std::vector<TNote> TMqttPublisher::TakeNotes() {
    std::lock_guard lock(lock_);
    return std::exchange(notes_, {});
}

std::optional<TOutputFailure> TMqttPublisher::Failure() {
    std::lock_guard lock(lock_);
    return failure_;
}

std::string TMqttPublisher::StateText() {
    std::lock_guard lock(lock_);
    const char* state = connected_ ? "connected" : everConnected_ ? "away" : "connecting";
    return std::string("broker ") + state + ", backlog " + std::to_string(known_ - acked_);
}

void TMqttPublisher::OnEnd() {
    if (!forward_.joinable())
        return;
    {
        std::lock_guard lock(lock_);
        ending_ = true;
        endBy_ = std::chrono::steady_clock::now() + settings_.Drain;
    }
    wake_.notify_all();
    forward_.join();
    std::lock_guard lock(lock_);
    const uint64_t left = known_ - acked_;
    if (dropped_ > 0)
        notes_.push_back({TSeverity::Warning, std::to_string(dropped_) +
                                                  " records fell off the memory queue while "
                                                  "the broker was away"});
    if (left > 0)
        notes_.push_back(
            {TSeverity::Warning,
             std::to_string(left) + " records not acknowledged by the broker at the end" +
                 (settings_.Logged ? ": they go at the next start on the same log folder"
                                   : ": they are lost (no data log holds them)")});
}

void TMqttPublisher::Note(TSeverity severity, const std::string& text) {
    std::lock_guard lock(lock_);
    notes_.push_back({severity, text});
}

void TMqttPublisher::Connected() {
    {
        std::lock_guard lock(lock_);
        const std::string where = settings_.Client.Url.Host + ":" +
                                  std::to_string(settings_.Client.Url.Port);
        if (outageTold_ || !everConnected_)
            notes_.push_back({TSeverity::Notice, "connected to the broker " + where +
                                                     ", backlog " +
                                                     std::to_string(known_ - acked_)});
        connected_ = everConnected_ = true;
        outageTold_ = false;
    }
    PublishStatus("online");
    wake_.notify_all();
}

void TMqttPublisher::Disconnected(const std::string& why) {
    std::lock_guard lock(lock_);
    connected_ = false;
    if (!outageTold_)
        notes_.push_back({TSeverity::Warning,
                          "the broker is out of reach (" + why + "); the records wait in " +
                              (settings_.Logged ? "the data log" : "memory")});
    outageTold_ = true;
}

void TMqttPublisher::Refused(const std::string& why) {
    std::lock_guard lock(lock_);
    connected_ = false;
    failure_ = TOutputFailure{kNoPort, why};
    wake_.notify_all();
}

void TMqttPublisher::Acknowledged(int mid) {
    std::lock_guard publishing(publishLock_); // the publish of `mid` is registered by now
    std::lock_guard lock(lock_);
    const bool full = inflight_.size() >= kWindow;
    for (TInFlight& entry : inflight_) {
        if (entry.Mid == mid && !entry.Acked) {
            entry.Acked = true;
            break;
        }
    }
    while (!inflight_.empty() && inflight_.front().Acked) {
        TInFlight& done = inflight_.front();
        if (done.Counted)
            ++acked_;
        if (done.Source) {
            done.Source->Acked = done.After;
            done.Source->Dirty = true;
            --done.Source->Unacked;
        }
        inflight_.pop_front();
    }
    // The forward thread waits for this only with a full window or at the end.
    if (full || ending_)
        wake_.notify_all();
}

// The record stays unacknowledged: it is in the log, and goes again at the next start, once
// the broker takes it. Until then the backlog grows, and the window fills and stops.
void TMqttPublisher::Rejected(int, const std::string& why) {
    std::lock_guard lock(lock_);
    if (!rejectionTold_)
        notes_.push_back({TSeverity::Error,
                          "the broker refuses the records (" + why + "): they stay in " +
                              (settings_.Logged ? "the data log and go at the next start"
                                                : "memory until the end")});
    rejectionTold_ = true;
}

bool TMqttPublisher::Send(const std::string& topic, const std::string& payload, bool retain,
                          const std::shared_ptr<TSource>& source, const TLogPosition& after,
                          bool counted) {
    std::lock_guard publishing(publishLock_);
    int mid = 0;
    std::string why;
    if (!client_->Publish(topic, payload, retain, source ? source->Tags : mqtt::TLogTags{}, mid,
                          why))
        return false;
    std::lock_guard lock(lock_);
    inflight_.push_back({mid, false, source, after, counted});
    if (source)
        ++source->Unacked;
    return true;
}

void TMqttPublisher::PublishStatus(const std::string& state) {
    const std::string& port = settings_.Port;
    std::string log;
    {
        std::lock_guard lock(lock_);
        log = FileName(currentLog_);
    }
    const std::string payload = "{\"state\":" + JsonText(state) + ",\"port\":" +
                                JsonText(port) + ",\"log\":" + JsonText(log) +
                                ",\"version\":" + JsonText(settings_.Version) + "}";
    Send(statusTopic_, payload, true, nullptr, {}, false);
}

bool TMqttPublisher::HasRoom() {
    std::lock_guard lock(lock_);
    return connected_ && inflight_.size() < kWindow;
}

// The run's newest log becomes the last source; the one it replaces is read to its end.
// Earlier logs of the folder go before it, their records counted into the backlog at once.
void TMqttPublisher::TakeNewLog() {
    std::string path;
    std::vector<std::string> earlier;
    {
        std::lock_guard lock(lock_);
        if (takenOpenings_ == logOpenings_)
            return;
        takenOpenings_ = logOpenings_;
        path = currentLog_;
        earlier = std::exchange(earlier_, {});
    }
    for (const std::string& log : earlier)
        OpenSource(log, false);
    const TLogClock clock = ReadClock(path).value_or(TLogClock{});
    for (const std::shared_ptr<TSource>& source : sources_) {
        if (!source->RunLog)
            continue;
        std::lock_guard lock(lock_);
        if (source->Path == path && source->Acked.LogStartMs == clock.UtcMs)
            return; // the same log opened again
        source->RunLog = false;
    }
    OpenSource(path, true);
}

void TMqttPublisher::OpenSource(const std::string& path, bool runLog) {
    auto source = std::make_shared<TSource>();
    source->Path = path;
    source->RunLog = runLog;
    const std::optional<TLogClock> read = ReadClock(path);
    const TLogClock clock = read.value_or(TLogClock{});
    source->Tags = {FileName(path), read ? std::to_string(read->UtcMs) : ""};
    const TLogPosition from = ReadPosition(path, clock);
    source->Tail = std::make_unique<TLogTail>(path, clock, from);
    const uint64_t lines = runLog ? 0 : source->Tail->LinesLeft();
    std::lock_guard lock(lock_);
    source->Acked = from;
    known_ += lines;
    sources_.push_back(std::move(source));
}

std::optional<std::pair<std::string, std::shared_ptr<TMqttPublisher::TSource>>>
TMqttPublisher::NextFromLogs(TLogPosition& after) {
    for (const std::shared_ptr<TSource>& source : sources_) {
        if (source->Finished)
            continue;
        if (std::optional<TReadRecord> record = source->Tail->Next()) {
            after = record->After;
            record->Json.pop_back(); // a message needs no line end
            return std::make_pair(std::move(record->Json), source);
        }
        if (source->RunLog)
            return std::nullopt; // more lines come as the run logs them
        source->Finished = true;
    }
    return std::nullopt;
}

void TMqttPublisher::Forward() {
    mqtt::YieldToOtherThreads();
    std::optional<std::pair<std::string, std::shared_ptr<TSource>>> pending;
    TLogPosition pendingAfter;
    for (;;) {
        {
            std::unique_lock lock(lock_);
            wake_.wait_for(lock, kWakeEvery);
            // At the end: once all is acknowledged, the grace is over, or no broker is there
            // to wait for.
            if (failure_ || (ending_ && (known_ == acked_ || !connected_ ||
                                         std::chrono::steady_clock::now() >= endBy_)))
                break;
        }
        TakeNewLog();
        while (HasRoom()) {
            if (!pending) {
                if (settings_.Logged) {
                    pending = NextFromLogs(pendingAfter);
                } else {
                    std::lock_guard lock(lock_);
                    if (!queue_.empty()) {
                        pending.emplace(std::move(queue_.front()), nullptr);
                        queue_.pop_front();
                    }
                }
            }
            if (!pending || !Send(settings_.Client.Url.Topic, pending->first, false,
                                  pending->second, pendingAfter, true))
                break;
            pending.reset();
        }
        SavePositions(false);
    }
    EndForwarding();
}

// Every position acknowledged since the last write; logs read to their end and wholly
// acknowledged are let go of.
void TMqttPublisher::SavePositions(bool all) {
    const auto now = std::chrono::steady_clock::now();
    uint64_t acked = 0;
    {
        std::lock_guard lock(lock_);
        acked = acked_;
    }
    const bool draining = acked - ackedAtSave_ >= kSaveBatch && now - savedAt_ >= kSaveDraining;
    if (!all && !draining && now - savedAt_ < kSaveEvery)
        return;
    savedAt_ = now;
    ackedAtSave_ = acked;
    for (const std::shared_ptr<TSource>& source : sources_) {
        TLogPosition position;
        {
            std::lock_guard lock(lock_);
            if (!source->Dirty)
                continue;
            source->Dirty = false;
            position = source->Acked;
        }
        std::string reason;
        if (!WritePosition(source->Path, position, reason) && !saveFailureTold_) {
            saveFailureTold_ = true;
            Note(TSeverity::Warning, "cannot write \"" + PositionPath(source->Path) + "\" (" +
                                         reason + "): a restart repeats what the broker has");
        }
    }
    std::lock_guard lock(lock_);
    while (!sources_.empty() && sources_.front()->Finished && sources_.front()->Unacked == 0 &&
           !sources_.front()->Dirty)
        sources_.pop_front();
}

// "stopped" for whoever watches the stands, the positions written, the connection closed.
void TMqttPublisher::EndForwarding() {
    bool connected = false;
    {
        std::lock_guard lock(lock_);
        connected = connected_ && !failure_;
    }
    if (connected) {
        PublishStatus("stopped");
        const auto until = std::chrono::steady_clock::now() + kStatusWait;
        std::unique_lock lock(lock_);
        wake_.wait_until(lock, until, [this] { return inflight_.empty(); });
    }
    SavePositions(true);
    client_->Stop(kClientStop);
    std::lock_guard lock(lock_);
    connected_ = false;
}

} // namespace orvi::acquire
