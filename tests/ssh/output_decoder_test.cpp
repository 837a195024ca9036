#include "ssh/output_decoder.h"

#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin::ssh {
namespace {

// 0xE9 and 0x80 as the system's ANSI code page reads them (1252 natively: é and €).
std::u16string Ansi(std::string_view bytes) { return platform::SystemAnsiCodePage().Decode(bytes); }

std::u16string DecodePieces(const std::vector<std::string>& pieces) {
    OutputDecoder decoder(platform::SystemAnsiCodePage());
    std::u16string out;
    for (const auto& piece : pieces) decoder.Feed(piece, out);
    decoder.Finish(out);
    return out;
}

struct DecodeCase {
    const char* name;
    std::vector<std::string> pieces;
    std::u16string expected;
};

class OutputDecoderTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(OutputDecoderTest, Decodes) { EXPECT_EQ(DecodePieces(GetParam().pieces), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputDecoderTest,
    ::testing::Values(
        DecodeCase{"Ascii", {"plain text\n"}, u"plain text\n"},
        DecodeCase{"TwoThreeAndFourByteUtf8", {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"}, u"\u00e9\u20ac\U0001F600"},
        DecodeCase{"SequenceSplitBetweenPieces", {"a\xE2", "\x82", "\xAC" "b"}, u"a\u20acb"},
        DecodeCase{"FourByteSequenceSplitEveryByte", {"\xF0", "\x9F", "\x98", "\x80"}, u"\U0001F600"},
        DecodeCase{"LoneLatin1ByteGoesThroughAnsi", {"caf\xE9!"}, u"caf" + Ansi("\xE9") + u"!"},
        DecodeCase{"LeadByteFollowedByAscii", {"\xE2" "x"}, Ansi("\xE2") + u"x"},
        DecodeCase{"ContinuationByteAlone", {"\x80"}, Ansi("\x80")},
        DecodeCase{"OverlongFormIsNotUtf8", {"\xC0\xAF"}, Ansi("\xC0") + Ansi("\xAF")},
        DecodeCase{"SurrogateFormIsNotUtf8", {"\xED\xA0\x80"}, Ansi("\xED") + Ansi("\xA0") + Ansi("\x80")},
        DecodeCase{"BeyondUnicodeIsNotUtf8", {"\xF4\x90\x80\x80"}, Ansi("\xF4\x90\x80\x80")},
        DecodeCase{"IncompleteAtTheEndGoesThroughAnsi", {"ok\xE2\x82"}, u"ok" + Ansi("\xE2\x82")},
        DecodeCase{"BrokenSequenceThenValidOne", {"\xE2\x82", "\xC3\xA9"}, Ansi("\xE2\x82") + u"\u00e9"},
        DecodeCase{"NulBytesAreKept", {std::string("a\0b", 3)}, std::u16string(u"a\0b", 3)},
        DecodeCase{"AsciiRunsAroundUtf8AndAnsi", {"ab\xC3\xA9" "cd\xE9" "\x7F\x01\n"},
                   u"ab\u00e9cd" + Ansi("\xE9") + u"\x7F\x01\n"},
        DecodeCase{"LongAsciiRunEndingInsideASequence", {std::string(70000, 'a') + "\xE2\x82", "\xAC" "z"},
                   std::u16string(70000, u'a') + u"\u20acz"},
        DecodeCase{"NothingAtAll", {}, u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OutputDecoder, KeepsNothingBackOnceFinished) {
    OutputDecoder decoder(platform::SystemAnsiCodePage());
    std::u16string out;
    decoder.Feed("\xE2\x82", out);
    EXPECT_EQ(out, u"");
    decoder.Finish(out);
    decoder.Feed("x", out);
    EXPECT_EQ(out, Ansi("\xE2\x82") + u"x");
}

}  // namespace
}  // namespace tavrin::ssh
