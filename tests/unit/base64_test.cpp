#include "common/automation_error.h"
#include "parameters/base64.h"
#include "parameters/codec.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace {

const tavrin::platform::AnsiCodePage& Cp1252() {
    static const auto page = tavrin::platform::MakeAnsiCodePage(1252);
    return *page;
}

struct CodecCase {
    std::u16string_view plain;
    std::u16string_view encoded;
};

TEST(Base64Test, EncodesAndDecodesKnownTexts) {
    const CodecCase cases[] = {
        {u"", u""},
        {u"abc", u"YWJj"},
        {u"df -k", u"ZGYgLWs="},
        {u"a", u"YQ=="},
        {u"ab", u"YWI="},
        {u"secret", u"c2VjcmV0"},
        {u"€ü", u"gPw="},  // bytes 0x80 0xFC of the code page
        {std::u16string_view(u"\0\0\0", 3), u"AAAA"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64::Base64Encode(c.plain, Cp1252()), c.encoded);
        EXPECT_EQ(base64::Base64Decode(c.encoded, Cp1252()), c.plain);
    }
}

TEST(Base64Test, EncodingHasFourSymbolsPerGroupAndNoLineBreaks) {
    for (std::size_t n : {1u, 2u, 3u, 4u, 57u, 58u, 76u, 1000u}) {
        const std::u16string text(n, u'x');
        const std::u16string encoded = base64::Base64Encode(text, Cp1252());
        EXPECT_EQ(encoded.size(), 4 * ((n + 2) / 3)) << n;
        EXPECT_EQ(encoded.find_first_of(u"\r\n"), std::u16string::npos) << n;
        EXPECT_EQ(base64::Base64Decode(encoded, Cp1252()), text) << n;
    }
}

TEST(Base64Test, DecoderIsLenient) {
    const CodecCase cases[] = {
        {u"ab", u"YWI"},      // last group of three without its pad
        {u"a", u"YQ"},        // last group of two without its pads
        {u"abc", u"YWJjY"},   // a last group of one yields nothing
        {u"a", u"YW=j"},      // a pad inside a group ends its output, whatever follows
        {u"a", u"YW=="},
        {u"A", u"QQ=="},
        {u"A", u"QR=="},      // leftover bits are ignored
        // Groups after a padded one still count: "garb" and "age" (missing pad).
        {u"ab\u0081\u00AA\u00DBj\u0007", u"YWI=garbage"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(base64::Base64Decode(c.encoded, Cp1252()), c.plain) << std::string(c.encoded.begin(), c.encoded.end());
    }
}

TEST(Base64Test, ForeignCharactersCountAsZeroAndTakeTheirPlace) {
    // A blank, a line break or any other foreign character is the value 0, the same as "A".
    for (std::u16string_view foreign : {u" ", u"\n", u"!", u"\u00E9", u"#"}) {
        std::u16string withForeign = u"YW";
        withForeign += foreign;
        withForeign += u"jZGYg";
        EXPECT_EQ(base64::Base64Decode(withForeign, Cp1252()), base64::Base64Decode(u"YWAjZGYg", Cp1252()));
    }
    // Letters are case-sensitive symbols.
    EXPECT_NE(base64::Base64Decode(u"ywjj", Cp1252()), u"abc");
}

TEST(Base64Test, GroupThatBeginsWithPadIsAnInvalidArgument) {
    for (std::u16string_view bad : {u"=", u"====", u"YWJj=", u"YWJj====", u"YWJjZGYg=AAA"}) {
        try {
            base64::Base64Decode(bad, Cp1252());
            ADD_FAILURE() << "no failure for " << std::string(bad.begin(), bad.end());
        } catch (const tavrin::AutomationError& e) {
            EXPECT_EQ(e.number(), 5);
            EXPECT_EQ(e.description(), u"Invalid procedure call or argument");
        }
    }
    EXPECT_EQ(base64::Base64Decode(u"YWJj", Cp1252()), u"abc");
    EXPECT_THROW(modTavrin::DecodeText(u"YWJj="), tavrin::AutomationError);
}

TEST(Base64Test, SymbolConvertsBothWays) {
    EXPECT_EQ(base64::Base64Symbol(-1), u"=");
    EXPECT_EQ(base64::Base64Symbol(0), u"A");
    EXPECT_EQ(base64::Base64Symbol(26), u"a");
    EXPECT_EQ(base64::Base64Symbol(63), u"/");
    const std::pair<std::u16string_view, int> values[] = {
        {u"A", 0}, {u"a", 26}, {u"0", 52}, {u"+", 62}, {u"/", 63}, {u"=", 0}, {u"", 0}, {u"!", 0}, {u"Ab", 0}, {u"bA", 27},
    };
    for (const auto& [symbol, value] : values) EXPECT_EQ(base64::Base64Symbol(symbol), value);
    for (int v = 0; v < 64; ++v) EXPECT_EQ(base64::Base64Symbol(base64::Base64Symbol(v)), v);
}

TEST(Base64Test, RoundTripsEveryCharacterOfTheCodePage) {
    std::u16string all;
    for (int b = 0; b < 256; ++b) all += Cp1252().DecodeByte(static_cast<std::uint8_t>(b));
    EXPECT_EQ(base64::Base64Decode(base64::Base64Encode(all, Cp1252()), Cp1252()), all);
    // A character the code page lacks comes back as its substitute.
    EXPECT_EQ(base64::Base64Decode(base64::Base64Encode(u"a\u0100\u4E2Db", Cp1252()), Cp1252()), u"a??b");
}

TEST(Base64Test, EntryPointsForwardToTheCodec) {
    EXPECT_EQ(modTavrin::EncodeText(u"df -k"), u"ZGYgLWs=");
    EXPECT_EQ(modTavrin::DecodeText(u"ZGYgLWs="), u"df -k");
    EXPECT_EQ(modTavrin::DecodeText(u""), u"");
}

}  // namespace
