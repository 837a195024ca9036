#include "common/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, Utf8RoundTrip) {
    const std::u16string texts[] = {u"", u"abc", u"straße", u"€", u"\U0001F600 x", u"日本語"};
    for (const auto& t : texts) EXPECT_EQ(tavrin::FromUtf8(tavrin::ToUtf8(t)), t);
    EXPECT_EQ(tavrin::ToUtf8(u"é€\U0001F600"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
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
