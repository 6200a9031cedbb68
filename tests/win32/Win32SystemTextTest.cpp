// Error texts on Windows: a code without an entry in the message table takes the
// system's own text (FormatMessage), with its control characters turned into spaces and
// no double spaces; entries of the table come before the system's wording.
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/MessageTable.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace orvi {
namespace {

std::string SystemText(DWORD code) {
    char buffer[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, sizeof buffer - 1, nullptr);
    return std::string(buffer, n);
}

// Error numbers outside the message table, as the serial stack meets them: a bad
// parameter, a request the driver does not support, an aborted operation, an unplugged
// device (22 and 31 from the communications calls of a pulled-out adapter, 1167).
class SystemTextTest : public ::testing::TestWithParam<DWORD> {};

TEST_P(SystemTextTest, TableFallsBackToTheSystemTextEndingInOneSpace) {
    const std::string raw = SystemText(GetParam());
    ASSERT_GE(raw.size(), 2u) << "the system has no text for " << GetParam();
    // The system's sentence ends in a line break, and has none inside.
    const size_t end = raw.find_last_not_of("\r\n");
    ASSERT_NE(end, std::string::npos);
    ASSERT_LT(end + 1, raw.size());
    const std::string sentence = raw.substr(0, end + 1);
    ASSERT_EQ(sentence.find_first_of("\r\n\t"), std::string::npos) << sentence;

    EXPECT_EQ(ErrorMessageText(-int32_t(GetParam())), sentence + " ");
    EXPECT_EQ(ErrorMessageText(int32_t(GetParam())), sentence + " ");
}

INSTANTIATE_TEST_SUITE_P(Win32, SystemTextTest, ::testing::Values(22, 31, 50, 87, 995, 1167));

TEST(SystemTextTest, TableEntriesComeBeforeTheSystemWording) {
    EXPECT_EQ(ErrorMessageText(-2), "File not found");
    EXPECT_EQ(ErrorMessageText(-5), "File access denied");
    EXPECT_EQ(ErrorMessageText(-162), "General failure");
}

TEST(SystemTextTest, FileErrorOutsideTheTableRaisesInOutErrorWithTheSystemText) {
    try {
        (void)ErrorCodeToException(false, -87);
        FAIL() << "no exception";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.ErrorCode(), 87);
        EXPECT_EQ(std::string(e.what()), ErrorMessageText(87));
        EXPECT_FALSE(std::string(e.what()).empty());
    }
}

} // namespace
} // namespace orvi
