#include "app/DataLog.h"

#include "app/DataLogFile.h"
#include "serial/Exceptions.h"

#include <charconv>
#include <cmath>

namespace orvi::app {

namespace {

// "1.5e-06" -> "1.5E-6", "1e+15" -> "1E15".
std::string TidyExponent(const std::string& text) {
    const size_t e = text.find('e');
    if (e == std::string::npos)
        return text;
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    std::string sign;
    if (!exponent.empty() && (exponent[0] == '+' || exponent[0] == '-')) {
        if (exponent[0] == '-')
            sign = "-";
        exponent.erase(0, 1);
    }
    const size_t digits = exponent.find_first_not_of('0');
    exponent = digits == std::string::npos ? "0" : exponent.substr(digits);
    return mantissa + "E" + sign + exponent;
}

} // namespace

std::string LogNumberText(double value) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (value == 0)
        return "0"; // also for -0, which is not negative
    char buffer[40];
    // to_chars ignores the locale: "." whatever the operator's settings.
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
    const std::string text(buffer, result.ptr);
    return TidyExponent(text);
}

std::string LogLine(const TMeasurementRecord& r) {
    std::string line = std::to_string(r.Tick);
    for (int channel = 0; channel < 4; ++channel) {
        line += ' ' + LogNumberText(r.Housing[size_t(channel)]);
        line += ' ' + LogNumberText(r.Sensor[size_t(channel)]);
    }
    line += ' ' + LogNumberText(r.Roll);
    line += ' ' + LogNumberText(r.Pitch);
    line += ' ' + std::to_string(r.ZeroCount);
    line += "\r\n";
    return line;
}

std::string DateFileName(int year, int month, int day, int hour, int minute) {
    return std::to_string(year) + '_' + std::to_string(month) + '_' + std::to_string(day) + '_' +
           std::to_string(hour) + '_' + std::to_string(minute) + ".txt";
}

TDataLog::TDataLog(const std::string& fileName) : fileName_(fileName) {
    std::string reason;
    intptr_t handle = kNoHandle;
    if (!detail::CreateExclusiveFile(fileName, handle, reason))
        throw EInOutError("Cannot create file \"" + fileName + "\". " + reason, 0);
    handle_ = handle;
}

TDataLog::~TDataLog() {
    if (IsOpen()) {
        std::string ignored;
        detail::CloseFileHandle(handle_, ignored);
    }
}

void TDataLog::Write(const std::string& bytes) {
    if (!IsOpen())
        throw EInOutError("File \"" + fileName_ + "\" is not open", 0);
    std::string reason;
    if (!detail::WriteWholeBlock(handle_, bytes.data(), bytes.size(), reason)) {
        // Part of the line may have reached the file before the disk filled up: a replay
        // would read that torn rest as a record with zeros. The file is cut back to the end
        // of the last whole line, so a line is there whole or not at all.
        std::string cutReason;
        if (!detail::CutFileTo(handle_, size_, cutReason))
            reason += ". The file may end in part of a line: " + cutReason;
        throw EInOutError("Cannot write to file \"" + fileName_ + "\". " + reason, 0);
    }
    size_ += bytes.size();
}

void TDataLog::Close() {
    if (!IsOpen())
        return;
    const intptr_t handle = handle_;
    handle_ = kNoHandle;
    std::string reason;
    if (!detail::CloseFileHandle(handle, reason))
        throw EInOutError("Cannot close file \"" + fileName_ + "\". " + reason, 0);
}

} // namespace orvi::app
