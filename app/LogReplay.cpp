#include "app/LogReplay.h"

#include "app/DataLogFile.h"
#include "app/RecordFields.h"
#include "serial/Exceptions.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

namespace orvi::app {

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kIntegerLimit = 32;
constexpr size_t kRealLimit = 64;
constexpr int kEndOfFileMark = 0x1A;
constexpr int32_t kInvalidNumericInput = 106;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits from `at`; returns how many.
size_t Digits(const std::string& s, size_t at) {
    size_t n = 0;
    while (at + n < s.size() && IsDigit(s[at + n]))
        ++n;
    return n;
}

size_t SignAt(const std::string& s, size_t at) {
    return at < s.size() && (s[at] == '+' || s[at] == '-') ? 1 : 0;
}

bool IsRealText(const std::string& s) {
    size_t at = SignAt(s, 0);
    const size_t whole = Digits(s, at);
    at += whole;
    size_t fraction = 0;
    if (at < s.size() && s[at] == '.') {
        fraction = Digits(s, at + 1);
        at += 1 + fraction;
    }
    if (whole + fraction == 0)
        return false;
    if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
        at += 1;
        at += SignAt(s, at);
        const size_t exponent = Digits(s, at);
        if (exponent == 0)
            return false;
        at += exponent;
    }
    return at == s.size();
}

} // namespace

std::optional<int32_t> ParseLogInteger(const std::string& text) {
    const size_t sign = SignAt(text, 0);
    const size_t digits = Digits(text, sign);
    if (digits == 0 || sign + digits != text.size())
        return std::nullopt;
    int64_t value = 0;
    for (size_t i = sign; i < text.size(); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return std::nullopt;
    }
    if (text[0] == '-')
        value = -value;
    if (value > INT32_MAX)
        return std::nullopt;
    return int32_t(value);
}

std::optional<double> ParseLogReal(const std::string& text) {
    if (!IsRealText(text))
        return std::nullopt;
    // from_chars ignores the locale (the toolkit sets the C library's from the environment);
    // it takes no "+".
    const char* first = text.data() + (text[0] == '+' ? 1 : 0);
    const char* last = text.data() + text.size();
    double value = 0;
    const auto [end, error] = std::from_chars(first, last, value, std::chars_format::general);
    if (error == std::errc::result_out_of_range) {
        // Too small to hold is 0; too large does not convert.
        const bool tiny =
            text.find("e-") != std::string::npos || text.find("E-") != std::string::npos;
        return tiny ? std::optional<double>(0.0) : std::nullopt;
    }
    if (error != std::errc() || end != last || !std::isfinite(value))
        return std::nullopt;
    return value;
}

TLogReader::TLogReader(const std::string& fileName) : buffer_(kBufferSize) {
    file_ = detail::OpenForReading(fileName);
    if (file_ == nullptr)
        throw EInOutError("Cannot open file \"" + fileName + "\". " + std::strerror(errno), errno);
}

TLogReader::~TLogReader() {
    std::fclose(file_);
}

int TLogReader::Peek() {
    if (ended_)
        return -1;
    if (at_ == filled_) {
        filled_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        at_ = 0;
        if (filled_ == 0) {
            ended_ = true;
            return -1;
        }
    }
    const int c = static_cast<unsigned char>(buffer_[at_]);
    if (c == kEndOfFileMark) {
        ended_ = true;
        return -1;
    }
    return c;
}

bool TLogReader::Eof() {
    return Peek() < 0;
}

std::string TLogReader::NextToken(size_t limit) {
    int c = Peek();
    while (c >= 0 && c <= ' ') {
        Skip();
        c = Peek();
    }
    std::string token;
    while (c > ' ' && token.size() < limit) {
        token += char(c);
        Skip();
        c = Peek();
    }
    return token;
}

int32_t TLogReader::ReadInteger(bool& failed) {
    const std::string token = NextToken(kIntegerLimit);
    if (token.empty())
        return 0;
    const std::optional<int32_t> value = ParseLogInteger(token);
    if (!value)
        failed = true;
    return value.value_or(0);
}

double TLogReader::ReadReal(bool& failed) {
    const std::string token = NextToken(kRealLimit);
    if (token.empty())
        return 0;
    const std::optional<double> value = ParseLogReal(token);
    if (!value)
        failed = true;
    return value.value_or(0);
}

void TLogReader::ReadLogRecord(TMeasurementRecord& record) {
    bool failed = false;
    for (const TRecordField& field : RecordFields()) {
        if (field.Type == TFieldType::Integer)
            field.Set(record, ReadInteger(failed));
        else
            field.Set(record, ReadReal(failed));
    }
    if (failed)
        throw EInOutError("Invalid numeric input", kInvalidNumericInput);
}

int32_t ReplayLag(int32_t recordTick, int32_t firstTick, uint32_t nowTick, uint32_t startTick) {
    const uint32_t recorded = uint32_t(recordTick) - uint32_t(firstTick);
    const uint32_t elapsed = nowTick - startTick;
    return int32_t(recorded - elapsed);
}

} // namespace orvi::app
