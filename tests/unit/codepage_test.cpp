#include "platform/codepage.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using tavrin::platform::MakeAnsiCodePage;

TEST(CodePageTest, Windows1252RoundTripsAllBytes) {
    const auto page = MakeAnsiCodePage(1252);
    ASSERT_NE(page, nullptr);
    for (int b = 0; b < 256; ++b) {
        const char16_t ch = page->DecodeByte(static_cast<std::uint8_t>(b));
        EXPECT_EQ(page->EncodeChar(ch), b) << b;
    }
}

TEST(CodePageTest, Windows1252KnownCharacters) {
    const auto page = MakeAnsiCodePage(1252);
    ASSERT_NE(page, nullptr);
    const std::pair<std::uint8_t, char16_t> known[] = {
        {0x41, u'A'}, {0x80, u'\u20AC'}, {0x8A, u'\u0160'}, {0x9F, u'\u0178'}, {0xA0, u'\u00A0'},
        {0xE9, u'\u00E9'}, {0xFF, u'\u00FF'},
        // The five bytes without a character of their own.
        {0x81, u'\u0081'}, {0x8D, u'\u008D'}, {0x8F, u'\u008F'}, {0x90, u'\u0090'}, {0x9D, u'\u009D'},
    };
    for (const auto& [byte, ch] : known) {
        EXPECT_EQ(page->DecodeByte(byte), ch) << int{byte};
        EXPECT_EQ(page->EncodeChar(ch), byte) << int{byte};
    }
    // Characters that 1252 lacks become "?", without best-fit look-alikes.
    for (char16_t missing : {char16_t{0x0100}, char16_t{0x4E2D}, char16_t{0xD800}, char16_t{0x0080}, char16_t{0x2212}}) {
        EXPECT_EQ(page->EncodeChar(missing), '?') << int{missing};
    }
    EXPECT_EQ(page->Encode(u"a€b"), "a\x80" "b");
    EXPECT_EQ(page->Decode("a\x80" "b"), u"a€b");
}

TEST(CodePageTest, SystemCodePageIsSingleByteForAscii) {
    const auto& page = tavrin::platform::SystemAnsiCodePage();
    for (char16_t c = 0x20; c < 0x7F; ++c) EXPECT_EQ(page.DecodeByte(page.EncodeChar(c)), c);
}

#ifdef _WIN32
TEST(CodePageTest, DoubleByteCharactersBecomeTheSubstitute) {
    const auto page = MakeAnsiCodePage(932);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->EncodeChar(u'\u3042'), '?');            // a two-byte character
    EXPECT_EQ(page->EncodeChar(u'\uFF71'), 0xB1);           // half-width katakana is one byte
    EXPECT_EQ(page->DecodeByte(0xB1), u'\uFF71');
    EXPECT_EQ(page->EncodeChar(u'A'), 'A');
    CPINFOEXW info{};
    ASSERT_TRUE(GetCPInfoExW(932, 0, &info));
    EXPECT_EQ(page->DecodeByte(0x82), static_cast<char16_t>(info.UnicodeDefaultChar));  // a lone lead byte
}
#endif

}  // namespace
