#pragma once
// What an output that hangs off the run (a TRunListener, app/RunListener.h) tells the run's
// front end besides taking records: lines for the user, a failure that ends the run, and a
// few words for the status line. The front end asks on the run's thread, once a poll; an
// output answers from what it has at hand and never waits on its own work.
#include "acquire/Output.h"
#include "app/RunListener.h"

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

class TOutputReport {
public:
    virtual ~TOutputReport() = default;
    // Lines for the user since the last call.
    virtual std::vector<TNote> TakeNotes() = 0;
    // Set once the output cannot go on and the run is to end with this status.
    virtual std::optional<TOutputFailure> Failure() = 0;
    // A few words for the status line and the service manager ("broker connected,
    // backlog 0").
    virtual std::string StateText() = 0;
};

// An output of both kinds (the MQTT publisher).
class TReportingOutput : public app::TRunListener, public TOutputReport {};

} // namespace orvi::acquire
