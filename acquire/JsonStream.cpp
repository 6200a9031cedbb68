#include "acquire/JsonStream.h"

#include "acquire/Output.h"

namespace orvi::acquire {

TJsonStream::TJsonStream(std::FILE* out, TWarn warn, size_t capacity)
    : writer_(out, capacity), warn_(std::move(warn)) {}

void TJsonStream::OnRecord(const app::TLoggedRecord& logged) {
    if (writer_.Put(JsonLine(logged.Seq, *logged.Record, logged.Measured))) {
        if (dropped_ > 0)
            EndEpisode();
        return;
    }
    if (!writer_.Failure().empty())
        return; // the run learns of it through Failure
    if (dropped_++ == 0)
        warn_("the JSON stream's reader falls behind: stream records are dropped until it "
              "catches up (the data log keeps every record)");
}

void TJsonStream::OnEnd() {
    dropped_ += writer_.Close(std::chrono::milliseconds(250));
    if (dropped_ > 0)
        EndEpisode();
}

void TJsonStream::EndEpisode() {
    warn_(std::to_string(dropped_) + " JSON stream record" + (dropped_ == 1 ? " was" : "s were") +
          " dropped while its reader fell behind (their seq numbers are missing from the stream)");
    dropped_ = 0;
}

} // namespace orvi::acquire
