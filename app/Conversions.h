#pragma once
// Text-to-number conversions of the window's edit boxes and of the serial device map, and
// the error they raise. Pure functions.
#include "serial/Exceptions.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvi::app {

// A text that does not hold the number asked for.
class EConvertError : public orvi::Exception {
public:
    using orvi::Exception::Exception;
};

// A whole number: optional leading blanks, an optional sign and decimal digits, within the
// signed 32-bit range. Empty when the text is anything else.
std::optional<int32_t> ParseInteger(const std::string& text);

// ParseInteger or EConvertError "'<text>' is not a valid integer value".
int32_t IntFromText(const std::string& text);

} // namespace orvi::app
