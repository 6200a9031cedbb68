#pragma once
// Store and forward to an MQTT broker: every record that the data log holds reaches the
// broker, in log order, as the JSON object of --json (QoS 1), however long the broker is
// away and across restarts of the program. The data log is the queue: a thread of the
// publisher's own reads the records back from the log files and publishes them, and the
// position up to which the broker has acknowledged a log is kept beside it (LogQueue.h), so
// that a crash repeats at most the records in flight, never skips one. With a log folder,
// its earlier logs that were not acknowledged to their end go first, oldest first. Without a
// log the records wait in a bounded queue in memory; what falls off is counted and told.
//
// Each message carries the log's file name as the MQTT 5 user property "log", and the time
// of its first record (UTC ms, from its clock file) as "log-start", so that a consumer
// (orvi_collect) starts a new file where the stand's log did, also where a log begins again
// under the same name. A retained
// <topic>/status tells "online" (port, log, version), "offline" (the Last Will) or "stopped".
//
// Each log's clock file is written at its first record: that record's tick and time.
//
// Threads: the TRunListener and TOutputReport calls come from the run's thread and only take
// `lock_` briefly.
// The forward thread reads logs, publishes and writes positions; the client's network thread
// delivers connections and acknowledgements (TClientEvents). Fields are guarded as marked.
#include "acquire/LogQueue.h"
#include "acquire/OutputReport.h"
#include "mqtt/Client.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace orvi::acquire {

struct TMqttSettings {
    mqtt::TClientSettings Client; // the Last Will and the client id are set here if empty
    bool Logged = false;          // records come back from data logs (else the memory queue)
    std::string LogDir;           // earlier logs of this folder go first
    size_t QueueLimit = 20000;    // records kept in memory without a log
    std::chrono::milliseconds Drain{2000}; // the grace at the end of the run
    std::string Port; // as the status names it
    std::string Version;
};

class TMqttPublisher : public TReportingOutput, private mqtt::TClientEvents {
public:
    // Throws std::runtime_error in words when the client cannot be set up.
    explicit TMqttPublisher(TMqttSettings settings);
    ~TMqttPublisher() override;

    // app::TRunListener: the first record starts the client and the forward thread; in a log
    // that begins there, it writes the log's clock file.
    void OnRecord(const app::TLoggedRecord& logged) override;
    // The grace: what is pending goes for at most the drain time; then "stopped".
    void OnEnd() override;
    std::vector<TNote> TakeNotes() override;
    std::optional<TOutputFailure> Failure() override;
    std::string StateText() override;

private:
    struct TSource; // a log being forwarded
    struct TInFlight {
        int Mid;
        bool Acked;
        std::shared_ptr<TSource> Source; // null for the memory queue and the status
        TLogPosition After;
        bool Counted; // a record (not the status message)
    };

    // TClientEvents, on the network thread.
    void Connected() override;
    void Disconnected(const std::string& why) override;
    void Refused(const std::string& why) override;
    void Acknowledged(int mid) override;
    void Rejected(int mid, const std::string& why) override;

    void Forward();
    bool HasRoom();
    bool PublishNext();
    std::optional<std::pair<std::string, std::shared_ptr<TSource>>> NextFromLogs(TLogPosition&);
    void TakeNewLog();
    void OpenSource(const std::string& path, bool runLog);
    bool Send(const std::string& topic, const std::string& payload, bool retain,
              const std::shared_ptr<TSource>& source, const TLogPosition& after, bool counted);
    void PublishStatus(const std::string& state);
    void SavePositions(bool all);
    void Note(TSeverity severity, const std::string& text);
    void EndForwarding();
    void Start();
    void LogBegins(const app::TLoggedRecord& logged);

    TMqttSettings settings_;
    std::string statusTopic_;
    std::unique_ptr<mqtt::TClient> client_;

    std::mutex publishLock_; // held across a publish and its registration in inflight_

    mutable std::mutex lock_;
    std::condition_variable wake_;
    bool started_ = false; // the run thread's own
    // Guarded by lock_:
    bool connected_ = false;
    bool everConnected_ = false;
    bool outageTold_ = false;
    bool rejectionTold_ = false;
    bool ending_ = false;
    std::chrono::steady_clock::time_point endBy_{};
    std::optional<TOutputFailure> failure_;
    std::vector<TNote> notes_;
    std::string currentLog_;   // the run's data log, as last opened
    uint64_t lastSeq_ = 0;     // the run's (the run thread's own)
    uint64_t logOpenings_ = 0; // counts the logs begun
    std::vector<std::string> earlier_; // earlier logs of the folder, not yet taken
    std::deque<std::string> queue_; // the memory queue (without a log)
    uint64_t dropped_ = 0;
    std::deque<TInFlight> inflight_;
    std::unordered_set<int> earlyAcks_;
    uint64_t known_ = 0; // records known to the publisher (logged, or left in earlier logs)
    uint64_t acked_ = 0; // of them acknowledged

    // The forward thread's own:
    std::deque<std::shared_ptr<TSource>> sources_; // oldest first; the run's log last
    uint64_t takenOpenings_ = 0;
    std::string reading_; // the log that the current source reads
    std::chrono::steady_clock::time_point savedAt_{};
    uint64_t ackedAtSave_ = 0; // acked_ when the positions were last written
    bool saveFailureTold_ = false;

    std::thread forward_;
};

} // namespace orvi::acquire
