#include "app/DataLog.h"

#include "app/DataLogFile.h"
#include "app/RecordFields.h"
#include "serial/Exceptions.h"

#include <charconv>
#include <cstdio>
#include <cmath>

namespace orvi::app {

namespace {

constexpr int kDigits = 15; // significant digits of a number in the log
// Decimal exponents written without exponent form: 0.00001 up to below 1E15.
constexpr int kFixedFrom = -5;
constexpr int kFixedBelow = 15;

std::string ToChars(double value, std::chars_format format, int precision) {
    char buffer[48];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
    return std::string(buffer, result.ptr);
}

// The exponent of the value's first significant digit once rounded to kDigits digits.
int DecimalExponent(double value) {
    const std::string text = ToChars(value, std::chars_format::scientific, kDigits - 1);
    const size_t e = text.find('e');
    const size_t digits = e + (text[e + 1] == '+' ? 2 : 1);
    int exponent = 0;
    std::from_chars(text.data() + digits, text.data() + text.size(), exponent);
    return exponent;
}

// "0.000050000" -> "0.00005", "26.000" -> "26".
std::string WithoutTrailingZeros(std::string text) {
    if (text.find('.') == std::string::npos)
        return text;
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.')
        text.pop_back();
    return text;
}

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

// The line ends in a file kept by an append (only once, at a rotation: it is read whole).
uint64_t CountLines(const std::string& fileName) {
    std::FILE* in = detail::OpenForReading(fileName);
    if (in == nullptr)
        return 0;
    uint64_t lines = 0;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        for (size_t i = 0; i < n; ++i)
            lines += chunk[i] == '\n';
    }
    std::fclose(in);
    return lines;
}

} // namespace

std::string LogNumberText(double value) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value > 0 ? "INF" : "-INF";
    if (value == 0)
        return "0"; // also for -0, which is not negative
    // to_chars ignores the locale: "." whatever the operator's settings. The choice of form
    // is made on the value rounded to 15 digits, so 9.999999999999999E-6 reads "0.00001".
    const int exponent = DecimalExponent(value);
    if (exponent < kFixedFrom || exponent >= kFixedBelow)
        return TidyExponent(ToChars(value, std::chars_format::general, kDigits));
    return WithoutTrailingZeros(ToChars(value, std::chars_format::fixed, kDigits - 1 - exponent));
}

std::string LogLine(const TMeasurementRecord& record) {
    std::string line;
    for (const TRecordField& field : RecordFields()) {
        if (!line.empty())
            line += ' ';
        line += FieldText(field, record);
    }
    line += "\r\n";
    return line;
}

std::string DateFileName(int year, int month, int day, int hour, int minute) {
    return std::to_string(year) + '_' + std::to_string(month) + '_' + std::to_string(day) + '_' +
           std::to_string(hour) + '_' + std::to_string(minute) + ".txt";
}

TDataLog::TDataLog(const std::string& fileName, TOpen mode) : fileName_(fileName) {
    std::string reason;
    intptr_t handle = kNoHandle;
    bool opened = false, taken = false;
    switch (mode) {
    case TOpen::Create:
        opened = detail::CreateExclusiveFile(fileName, handle, reason);
        break;
    case TOpen::Append:
        opened = detail::OpenExclusiveForAppend(fileName, handle, size_, reason);
        break;
    case TOpen::CreateNew:
        opened = detail::CreateNewFile(fileName, handle, taken, reason);
        break;
    }
    if (!opened)
        throw EInOutError("Cannot create file \"" + fileName + "\". " + reason,
                          taken ? kNameTaken : 0);
    handle_ = handle;
    if (size_ > 0)
        lines_ = CountLines(fileName);
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
    if (torn_)
        throw EInOutError("Cannot write to file \"" + fileName_ +
                              "\". It ends in part of a line that could not be cut off",
                          0);
    std::string reason;
    size_t written = 0;
    if (!detail::WriteWholeBlock(handle_, bytes.data(), bytes.size(), written, reason)) {
        // Part of the line may have reached the file before the disk filled up: a replay
        // would read that torn rest as a record with zeros. That part is cut off again, so a
        // line is there whole or not at all.
        std::string cutReason;
        if (!detail::CutOffEnd(handle_, written, cutReason)) {
            torn_ = true;
            reason += ". The file may end in part of a line: " + cutReason;
        }
        throw EInOutError("Cannot write to file \"" + fileName_ + "\". " + reason, 0);
    }
    uint64_t end = 0;
    if (!detail::FileEnd(handle_, end))
        end = size_ + bytes.size();
    // A file that holds no more than this line was emptied by someone else meanwhile.
    lines_ = end <= bytes.size() ? 1 : lines_ + 1;
    size_ = end;
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
