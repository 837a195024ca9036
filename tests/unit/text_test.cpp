#include "common/text.h"
#include "platform/secret.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using tavrin::platform::SecretBytes;

TEST(TextTest, Utf8RoundTrip) {
    const std::u16string texts[] = {u"", u"abc", u"straße", u"€", u"\U0001F600 x", u"日本語"};
    for (const auto& t : texts) EXPECT_EQ(tavrin::FromUtf8(tavrin::ToUtf8(t)), t);
    EXPECT_EQ(tavrin::ToUtf8(u"é€\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

// The length is computed first and the bytes written into a buffer of exactly that size: a
// length one short would write past it, one too long would leave a byte unwritten.
TEST(TextTest, Utf8IsWrittenIntoABufferOfItsLength) {
    const struct {
        const char* name;
        std::u16string_view text;
        std::string_view utf8;
    } cases[] = {
        {"empty", u"", ""},
        {"ascii", u"Tavrin-Test-2024!", "Tavrin-Test-2024!"},
        {"two_bytes", u"é", "\xC3\xA9"},
        {"three_bytes", u"€", "\xE2\x82\xAC"},
        {"surrogate_pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
        {"mixed", u"aé€\U0001F600z", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"},
        {"lone_high_surrogate", u"\xD800", "\xED\xA0\x80"},
        {"lone_low_surrogate", u"\xDC00x", "\xED\xB0\x80x"},
        {"high_surrogate_before_a_letter", u"\xD83Dx", "\xED\xA0\xBDx"},
        {"high_surrogate_at_the_end", u"a\xD83D", "a\xED\xA0\xBD"},
        {"two_high_surrogates_then_a_low", u"\xD83D\xD83D\xDE00", "\xED\xA0\xBD\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tavrin::ToUtf8(c.text), c.utf8) << c.name;
        ASSERT_EQ(tavrin::Utf8Length(c.text), c.utf8.size()) << c.name;
        std::string written(c.utf8.size() + 1, '#');
        EXPECT_EQ(tavrin::WriteUtf8(c.text, written.data()), written.data() + c.utf8.size()) << c.name;
        EXPECT_EQ(written, std::string(c.utf8) + "#") << c.name;  // nothing written beyond it
        EXPECT_EQ(tavrin::platform::SecretUtf8(c.text).get(), c.utf8) << c.name;
    }
}

// A string moved into a secret, or out of one, keeps no copy of the text: a short text lives in
// the string's own buffer, and a move copies it from there and leaves it behind.
TEST(TextTest, SecretsLeaveNothingInWhatTheyWereMovedFrom) {
    const auto wiped = [](const std::string& source) {
        return std::all_of(source.data(), source.data() + source.capacity(), [](char c) { return c == '\0'; });
    };
    const auto wipedSecret = [&](const SecretBytes& secret) { return wiped(secret.get()); };
    for (const std::string text : {"pw", "a password that needs a buffer of its own"}) {
        {
            std::string source = text;
            const SecretBytes secret(std::move(source));
            EXPECT_EQ(secret.get(), text);
            EXPECT_TRUE(wiped(source)) << "string moved into a secret: " << text;
        }
        {
            const std::string kept = text;
            const SecretBytes secret(kept);
            EXPECT_EQ(secret.get(), text);
            EXPECT_EQ(kept, text) << "a copy leaves its source alone";
        }
        {
            SecretBytes first{std::string(text)};
            const SecretBytes second(std::move(first));
            EXPECT_EQ(second.get(), text);
            EXPECT_TRUE(wipedSecret(first)) << "secret moved into a secret: " << text;
        }
        {
            SecretBytes first{std::string(text)};
            SecretBytes second{std::string("an earlier secret, longer than the first")};
            second = std::move(first);
            EXPECT_EQ(second.get(), text);
            EXPECT_TRUE(wipedSecret(first)) << "secret move-assigned: " << text;
        }
    }
}

TEST(TextTest, IllFormedUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(tavrin::FromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(tavrin::FromUtf8("\xC3"), u"\uFFFD");               // cut short
    EXPECT_EQ(tavrin::FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");     // overlong
    EXPECT_EQ(tavrin::FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate
}

TEST(TextTest, TrimRemovesBlanksOnly) {
    EXPECT_EQ(tavrin::TrimBlanks(u"  a b  "), u"a b");
    EXPECT_EQ(tavrin::TrimBlanks(u"\ta\t"), u"\ta\t");
    EXPECT_EQ(tavrin::TrimBlanks(u"   "), u"");
}

}  // namespace
