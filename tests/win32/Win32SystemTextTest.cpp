// Error texts on Windows: a code without an entry in the message table takes the
// system's own text (FormatMessage), with its control characters turned into spaces and
// no double spaces, in UTF-8 whatever the system's code page (the test also runs under a
// Russian locale); entries of the table come before the system's wording.
#include "serial/ErrorCodes.h"
#include "serial/Exceptions.h"
#include "serial/MessageTable.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace orvi {
namespace {

std::wstring WideSystemText(DWORD code) {
    wchar_t buffer[256] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buffer, 255, nullptr);
    return std::wstring(buffer, n);
}

std::string Utf8(const std::wstring& wide) {
    std::string text(wide.size() * 3, '\0');
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), text.data(),
                                      int(text.size()), nullptr, nullptr);
    text.resize(size_t(n));
    return text;
}

// The UTF-8 text read back; empty when it is not valid UTF-8.
std::wstring FromUtf8(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()),
                                      wide.data(), int(wide.size()));
    wide.resize(size_t(n > 0 ? n : 0));
    return wide;
}

std::string SystemText(DWORD code) {
    return Utf8(WideSystemText(code));
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

INSTANTIATE_TEST_SUITE_P(Win32, SystemTextTest, ::testing::Values(22, 31, 50, 87, 112, 995, 1167));

// Under a Russian locale (ORVI_EXPECT_CODE_PAGE=1251) the system words its texts in
// Cyrillic; they arrive in UTF-8, never in the code page's bytes.
TEST(SystemTextTest, TextsAreUtf8InTheSystemsLanguage) {
    const char* expected = std::getenv("ORVI_EXPECT_CODE_PAGE");
    if (expected != nullptr) {
        ASSERT_EQ(GetACP(), UINT(std::atoi(expected))) << "the locale did not reach the test";
    }
    for (DWORD code : {22u, 31u, 112u}) {
        SCOPED_TRACE(code);
        const std::string text = ErrorMessageText(-int32_t(code));
        const std::wstring wide = FromUtf8(text);
        ASSERT_FALSE(wide.empty()) << "not UTF-8: " << text;
        const bool cyrillic = wide.find_first_of(L"АЕИОУЫЭЮЯаеиоуыэюя") != std::wstring::npos;
        EXPECT_EQ(cyrillic, GetACP() == 1251) << text;
    }
}

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
