#pragma once
// An output that hangs off a run (the MQTT publisher): what the run tells it and asks of it.
// The run calls these on its own thread and none of them waits on the output's work (which
// runs on threads of the output's own), so an output never delays a poll or a log line;
// RunEnded alone waits, for at most the output's grace.
#include "acquire/Output.h"
#include "app/MeasurementRecord.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvi::acquire {

struct TNote {
    TSeverity Severity;
    std::string Text;
};

struct TOutputFailure {
    int ExitStatus;
    std::string Text;
};

class TRunListener {
public:
    virtual ~TRunListener() = default;
    // The port is open and the run begins (`port` as the status line names it).
    virtual void RunStarted(const std::string& port) = 0;
    // The data log was opened: made new, or opened again under the same name (SIGHUP).
    virtual void LogOpened(const std::string& path) = 0;
    // A record was logged: the `seq`th of the run, measured at `measured`.
    virtual void Recorded(uint64_t seq, const app::TMeasurementRecord& record,
                          std::chrono::system_clock::time_point measured) = 0;
    // Lines for the user since the last call.
    virtual std::vector<TNote> TakeNotes() = 0;
    // Set once the output cannot go on and the run is to end with this status.
    virtual std::optional<TOutputFailure> Failure() = 0;
    // A few words for the status line and the service manager ("broker connected,
    // backlog 0").
    virtual std::string StateText() = 0;
    // The run is over: the output gets its grace and ends. Notes from it follow.
    virtual void RunEnded() = 0;
};

} // namespace orvi::acquire
