#include "app/Conversions.h"

namespace orvi::app {

std::optional<int32_t> ParseInteger(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    if (at == text.size())
        return std::nullopt;
    int64_t value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > int64_t(INT32_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX)
        return std::nullopt;
    return int32_t(value);
}

int32_t IntFromText(const std::string& text) {
    const std::optional<int32_t> value = ParseInteger(text);
    if (!value)
        throw EConvertError("'" + text + "' is not a valid integer value");
    return *value;
}

} // namespace orvi::app
