#pragma once
// The code-to-message table of the serial side and its lookup.
//
// Thread safety: the table is constant and the functions keep no state; any thread
// may call them at any time.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvi {

constexpr std::size_t kMaxMessageLength = 255;

struct ErrorMessageEntry {
    int32_t Code;
    std::string_view Text;
};

// Every entry, sorted by ascending magnitude of the code; no two entries share a
// magnitude, and no text is longer than kMaxMessageLength.
std::span<const ErrorMessageEntry> ErrorMessageTable();

// The text of a result code or message number, looked up by magnitude, so -4001 and
// 4001 give the same text. A magnitude without an entry takes the operating system's
// text for that error number, cleaned by CleanSystemText. Empty when neither has one.
std::string ErrorMessageText(int32_t code);

// Turns every control character into a space, then collapses each run of spaces to a
// single space, and cuts the result to kMaxMessageLength characters. A system text
// that ends in a line break thus ends in one space.
std::string CleanSystemText(std::string_view text);

} // namespace orvi
