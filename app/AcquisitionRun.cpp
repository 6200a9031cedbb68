#include "app/AcquisitionRun.h"

#include "serial/ComPort.h"

namespace orvi::app {

namespace {

// Runs `step`, keeping the first failure in `first`.
template <class Step> void Keep(std::exception_ptr& first, Step step) {
    try {
        step();
    } catch (...) {
        if (!first)
            first = std::current_exception();
    }
}

} // namespace

TAcquisitionRun::TAcquisitionRun(TOrvCustomComPort& port, TDeviceExchange& exchange,
                                 std::function<uint32_t()> tick)
    : port_(port), exchange_(exchange), tick_(std::move(tick)) {}

bool TAcquisitionRun::TryOpenPort(int portNumber) {
    if (portNumber <= 0 || portNumber > kHighestPort)
        return false;
    bool opened = false;
    try {
        port_.SetComNumber(uint16_t(portNumber));
        port_.SetOpen(true);
        opened = true;
    } catch (const std::exception&) {
        // The port cannot be opened: not the one searched for.
    }
    port_.SetOpen(false);
    return opened;
}

void TAcquisitionRun::OpenPort(int portNumber, int32_t baud) {
    port_.SetOpen(false);
    port_.SetBaud(baud);
    port_.SetComNumber(uint16_t(portNumber));
    port_.SetOpen(true);
    port_.FlushInput();
    port_.FlushOutput();
}

TPollResult TAcquisitionRun::Poll() {
    const TPollResult result = exchange_.PollDevice();
    // The replies are in: the time of the measurement, whenever its line is written.
    measured_ = std::chrono::system_clock::now();
    return result;
}

void TAcquisitionRun::StampTick() {
    exchange_.Record.Tick = int32_t(tick_());
}

void TAcquisitionRun::LogRecord() {
    if (Log)
        Log->Write(LogLine(exchange_.Record));
    ++logged_;
    const TLoggedRecord logged{Log ? Log->Lines() : logged_, &exchange_.Record, measured_,
                               Log ? &Log->FileName() : &noLogPath_};
    for (TRunListener* listener : Listeners)
        listener->OnRecord(logged);
}

TAcquisitionRun::TEnding TAcquisitionRun::End(bool closeLog) {
    TEnding ending;
    if (port_.Open()) {
        Keep(ending.Port, [this] {
            port_.FlushInput();
            port_.FlushOutput();
        });
    }
    Keep(ending.Port, [this] { port_.SetOpen(false); });
    if (closeLog && Log) {
        // Released even when the close fails: the next run or dump can take the name.
        const std::unique_ptr<TDataLog> log = std::move(Log);
        Keep(ending.Log, [&log] { log->Close(); });
    }
    return ending;
}

void TAcquisitionRun::EndListeners() {
    for (TRunListener* listener : Listeners)
        listener->OnEnd();
}

} // namespace orvi::app
