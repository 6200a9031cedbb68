#pragma once
// The JSON stream as a listener of the run: each logged record as one JSON line (Output.h's
// JsonLine) on its own writer thread (LineWriter.h). A reader that falls behind loses stream
// records, never log lines and never a poll: when the queue is full a record is dropped and
// counted. An episode of drops is told when it begins and, with its count, when the reader
// has caught up again or the run ends.
//
// Threads: OnRecord, OnEnd and Failure on the run's thread (TRunListener); the writing on the
// writer's own.
#include "acquire/LineWriter.h"
#include "app/RunListener.h"

#include <cstdio>
#include <functional>
#include <string>

namespace orvi::acquire {

class TJsonStream final : public app::TRunListener {
public:
    using TWarn = std::function<void(const std::string&)>;
    // Slack for a reader that is late now and then: 256 records (about 70 KB), seconds of a
    // fast run, besides what the pipe holds.
    static constexpr size_t kQueuedRecords = 256;

    TJsonStream(std::FILE* out, TWarn warn, size_t capacity = kQueuedRecords);

    void OnRecord(const app::TLoggedRecord& logged) override;
    // Writes out what is queued for at most a quarter of a second (records left then count
    // as dropped); tells drops not yet told.
    void OnEnd() override;
    // The system's words once the stream could not be written (the reader went away).
    std::string Failure() const { return writer_.Failure(); }

private:
    void EndEpisode();

    TLineWriter writer_;
    TWarn warn_;
    uint64_t dropped_ = 0; // in the episode going on
};

} // namespace orvi::acquire
