#include "viewer/LogParse.h"

#include <charconv>
#include <cmath>

namespace orvi::viewer {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// An optional sign: "+" is taken as the replay takes it, "+-1" is no number.
bool DropPlus(std::string_view& text) {
    if (!text.empty() && text[0] == '+') {
        text.remove_prefix(1);
        return text.empty() || text[0] != '-';
    }
    return true;
}

bool ParseInteger(std::string_view text, double& out) {
    if (!DropPlus(text))
        return false;
    if (!text.empty() && text.size() <= 10) { // up to 10 digits cannot overflow an int64
        const bool negative = text[0] == '-';
        int64_t value = 0;
        size_t at = negative ? 1 : 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
            value = value * 10 + (text[at] - '0');
        if (at == text.size() && at > (negative ? 1u : 0u)) {
            value = negative ? -value : value;
            if (value < INT32_MIN || value > INT32_MAX)
                return false;
            out = double(value);
            return true;
        }
    }
    int32_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size())
        return false;
    out = value;
    return true;
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common "-12.34" form with at most 15 digits: the digits as a whole number, exact in a
// double, divided by an exact power of ten gives the correctly rounded value, the same as
// from_chars, at a fraction of its cost. False sends every other form to from_chars.
bool ParseShortDecimal(std::string_view text, double& out) {
    const bool negative = !text.empty() && text[0] == '-';
    size_t at = negative ? 1 : 0;
    uint64_t digits = 0;
    int count = 0, fraction = -1;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c >= '0' && c <= '9') {
            digits = digits * 10 + uint64_t(c - '0');
            if (++count > 15)
                return false;
            if (fraction >= 0)
                ++fraction;
        } else if (c == '.' && fraction < 0) {
            fraction = 0;
        } else {
            return false;
        }
    }
    if (count == 0)
        return false;
    const double value = double(digits) / kPowersOfTen[fraction < 0 ? 0 : fraction];
    out = negative ? -value : value;
    return true;
}

bool ParseReal(std::string_view text, double& out) {
    if (!DropPlus(text))
        return false;
    if (ParseShortDecimal(text, out))
        return true;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return !text.empty() && ec == std::errc() && ptr == text.data() + text.size();
}

// One field of the form the console writes, "-12.34" with at most 15 digits, read in the
// same pass that finds its end; `at` moves past it. False for any other form (the general
// reader decides those).
bool ParseCommonField(const char*& at, const char* end, app::TFieldType type, double& out) {
    const bool negative = at < end && *at == '-';
    const char* p = at + (negative ? 1 : 0);
    uint64_t digits = 0;
    const auto readDigits = [&] {
        const char* start = p;
        for (; p < end && unsigned(*p - '0') < 10; ++p)
            digits = digits * 10 + unsigned(*p - '0');
        return int(p - start);
    };
    const int whole = readDigits();
    const bool point = p < end && *p == '.';
    p += point ? 1 : 0;
    const int fraction = point ? readDigits() : 0;
    if (whole + fraction == 0 || whole + fraction > 15)
        return false;
    if (type == app::TFieldType::Integer) {
        const int64_t value = negative ? -int64_t(digits) : int64_t(digits);
        if (point || value < INT32_MIN || value > INT32_MAX)
            return false;
        out = double(value);
    } else {
        const double value = double(digits) / kPowersOfTen[fraction];
        out = negative ? -value : value;
    }
    at = p;
    return true;
}

// The line as the console writes it: the fields in the common form, one space between
// them, nothing around them. Gives the same values as the general reader, in one pass.
bool ParseCommonLine(std::string_view line, TLogRecord& out) {
    const auto& table = app::RecordFields();
    const char* at = line.data();
    const char* const end = at + line.size();
    for (size_t i = 0; i < table.size(); ++i) {
        if (i > 0 && (at == end || *at++ != ' '))
            return false;
        double value = 0;
        if (!ParseCommonField(at, end, table[i].Type, value))
            return false;
        if (i == app::kTickField)
            out.Tick = int32_t(value);
        else
            out.Values[i - 1] = value;
    }
    return at == end;
}

} // namespace

bool SplitFields(std::string_view line, std::array<std::string_view, app::kRecordFieldCount>& out) {
    size_t count = 0, at = 0;
    while (true) {
        while (at < line.size() && IsBlank(line[at]))
            ++at;
        if (at == line.size())
            return count == out.size();
        if (count == out.size())
            return false;
        const size_t start = at;
        while (at < line.size() && !IsBlank(line[at]))
            ++at;
        out[count++] = line.substr(start, at - start);
    }
}

// Reads the field at `at` and moves `at` past it; false when the text up to the next blank
// is not the field's kind of number. The common forms are read in place; others go through
// the general readers.
bool ParseField(std::string_view line, size_t& at, app::TFieldType type, double& out) {
    const size_t start = at;
    while (at < line.size() && !IsBlank(line[at]))
        ++at;
    const std::string_view text = line.substr(start, at - start);
    return type == app::TFieldType::Integer ? ParseInteger(text, out) : ParseReal(text, out);
}

TLineKind ParseLogLine(std::string_view line, TLogRecord& out) {
    if (line.size() > kMaxLineBytes)
        return TLineKind::Malformed;
    if (ParseCommonLine(line, out))
        return TLineKind::Record;
    const auto& table = app::RecordFields();
    size_t at = 0;
    for (size_t i = 0; i < table.size(); ++i) {
        while (at < line.size() && IsBlank(line[at]))
            ++at;
        if (at == line.size())
            return i == 0 ? TLineKind::Blank : TLineKind::Malformed;
        double value = 0;
        if (!ParseField(line, at, table[i].Type, value))
            return TLineKind::Malformed;
        if (i == app::kTickField)
            out.Tick = int32_t(value);
        else
            out.Values[i - 1] = value;
    }
    while (at < line.size() && IsBlank(line[at]))
        ++at;
    return at == line.size() ? TLineKind::Record : TLineKind::Malformed;
}

} // namespace orvi::viewer
