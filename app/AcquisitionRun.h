#pragma once
// The acquisition run itself, without a window or a loop: the port opened as "Старт" opens
// it, the run's data log, one poll, its line in the log and in the outputs that hang off the
// run, and the ending with whole lines. The console's window drives it from Timer1 and
// orvi_acquire from its loop; each keeps only what is its own (a timer, controls and message
// boxes; a loop, signals, reconnecting and the stream).
//
// Threads: a run lives on the thread that owns its port component and is used there only,
// as its exchange is. Listeners are called on that thread (RunListener.h). No locks.
#include "app/DataLog.h"
#include "app/DeviceExchange.h"
#include "app/RunListener.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvi {
class TOrvCustomComPort;
}

namespace orvi::app {

class TAcquisitionRun {
public:
    // `tick`: the system tick counter that stamps each logged record.
    TAcquisitionRun(TOrvCustomComPort& port, TDeviceExchange& exchange,
                    std::function<uint32_t()> tick);

    // The highest number the port component holds.
    static constexpr int kHighestPort = 65535;

    // ---- opening the port ----
    // The probe of the port search: can port `n` be opened (it is closed again either way).
    // A number the port component cannot hold is not probed.
    bool TryOpenPort(int portNumber);
    // Opens port `n` at `baud` as "Открыть" does: closed, speed and number set, opened, both
    // buffers flushed. Throws when it cannot be opened (the port is then closed).
    void OpenPort(int portNumber, int32_t baud);

    // ---- the run ----
    // The data log of the run (or of a flash dump): none, or an open file.
    std::unique_ptr<TDataLog> Log;
    // Outputs of each logged record besides the log; they must outlive the run.
    std::vector<TRunListener*> Listeners;

    // One poll: both exchanges and the decoding into the exchange's record, the time of the
    // measurement noted. Port errors pass through.
    TPollResult Poll();
    // Stamps the record with the tick count.
    void StampTick();
    // The stamped record's line into the log, if there is one (its failure thrown with the
    // file's words, the file keeping whole lines), then to every listener with its line
    // number and the time of the measurement.
    void LogRecord();
    // Records logged since the run began (or since ResetCount).
    uint64_t Logged() const { return logged_; }
    void ResetCount() { logged_ = 0; }

    // The ending: both buffers flushed and the port closed; then, with `closeLog`, the log
    // closed. Every step is taken even when an earlier one fails; the first failure of the
    // port's steps and of the log's close are returned (empty when there was none).
    struct TEnding {
        std::exception_ptr Port;
        std::exception_ptr Log;
    };
    TEnding End(bool closeLog);
    // Tells every listener that the run has ended.
    void EndListeners();

private:
    TOrvCustomComPort& port_;
    TDeviceExchange& exchange_;
    std::function<uint32_t()> tick_;
    std::chrono::system_clock::time_point measured_{};
    uint64_t logged_ = 0;
    std::string noLogPath_; // the empty path listeners get without a log
};

} // namespace orvi::app
