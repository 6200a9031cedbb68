#pragma once
// Reading a data log back: the reader that takes the file number by number, ignoring line
// structure, and the lag arithmetic of a replay. No Widgets; the replay's timer and display
// belong to the main window.
#include "app/MeasurementRecord.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvi::app {

// How a number of the file is written: a whole number (optional sign, decimal digits, signed
// 32-bit range) or a real one (optional sign, digits, optional "." with digits, optional
// exponent; "." whatever the operator's settings). Empty when the text does not convert.
std::optional<int32_t> ParseLogInteger(const std::string& text);
std::optional<double> ParseLogReal(const std::string& text);

// A data log open for reading. Characters 0..32 separate numbers; a character 0x1A counts as
// the end of the file and nothing after it is read. Reads through a fixed buffer, so memory
// does not grow with the file.
//
// One owner (the main window); GUI thread only.
class TLogReader {
public:
    // Opens the file; throws orvi::EInOutError with the reason when it cannot.
    explicit TLogReader(const std::string& fileName);
    ~TLogReader();
    TLogReader(const TLogReader&) = delete;
    TLogReader& operator=(const TLogReader&) = delete;

    // Reads twelve numbers into the record: Tick, Housing 1, Sensor 1, ... Housing 4,
    // Sensor 4, Roll, Pitch, ZeroCount (kept in 16 bits). A number met at the end of the file
    // is 0. A number whose text does not convert is 0 as well and reading goes on; after the
    // twelfth number orvi::EInOutError "Invalid numeric input" is raised.
    void ReadLogRecord(TMeasurementRecord& record);

    // True when no character is left to read (an unread line end still counts as one).
    bool Eof();

private:
    int Peek(); // the next character, or -1 at the end of the file (0x1A included)
    void Skip() { ++at_; }
    // The next number's text: blanks skipped, then up to `limit` characters. Empty at the end.
    std::string NextToken(size_t limit);
    int32_t ReadInteger(bool& failed);
    double ReadReal(bool& failed);

    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    size_t at_ = 0;
    size_t filled_ = 0;
    bool ended_ = false; // the file or a 0x1A was reached
};

// (record tick - first tick) - (now - start), in milliseconds, in 32-bit wrap-around
// arithmetic. Negative: the record is due.
int32_t ReplayLag(int32_t recordTick, int32_t firstTick, uint32_t nowTick, uint32_t startTick);

} // namespace orvi::app
