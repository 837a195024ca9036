#include "parameters/generic.h"

#include <gtest/gtest.h>

namespace {

struct FieldCase {
    const char* name;
    std::u16string_view parameters;
    std::u16string_view key;
    std::u16string_view expected;
};

class GetFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(GetFieldTest, ReturnsTheValue) {
    const auto& c = GetParam();
    EXPECT_EQ(Generic::GetField(c.parameters, c.key), c.expected);
}

constexpr std::u16string_view kWritten =
    u"#ENC=T#USR=U#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#";

INSTANTIATE_TEST_SUITE_P(
    Lookup, GetFieldTest,
    ::testing::Values(
        FieldCase{"written_user", kWritten, u"USR", u"U"},
        FieldCase{"written_command_keeps_pad", kWritten, u"CMD", u"ZGYgLWs="},
        FieldCase{"written_operator", kWritten, u"CCO", u"CON"},
        FieldCase{"written_value", kWritten, u"CON", u"V"},
        FieldCase{"written_mode_last", kWritten, u"RRE", u"NO"},
        FieldCase{"empty_value", kWritten, u"KEYF", u""},
        FieldCase{"missing_field", kWritten, u"XYZ", u""},
        FieldCase{"empty_string", u"", u"USR", u""},
        FieldCase{"lower_case_key_in_string", u"#usr=Admin#", u"USR", u"Admin"},
        FieldCase{"lower_case_key_asked", u"#USR=Admin#", u"usr", u"Admin"},
        FieldCase{"port_never_finds_proto", u"#PROTO=2#", u"PORT", u""},
        FieldCase{"con_never_finds_cco", u"#CCO=CON#", u"CON", u""},
        FieldCase{"con_never_finds_value_of_cco", u"#CCO=XCON=1#", u"CON", u""},
        FieldCase{"value_with_equals", u"#CMD=a=b==#", u"CMD", u"a=b=="},
        FieldCase{"value_cut_at_hash", u"#CON=a#b#RRE=NO#", u"CON", u"a"},
        FieldCase{"first_occurrence_wins", u"#USR=x#PWD=inner#PWD=outer#", u"PWD", u"inner"},
        FieldCase{"later_key_inside_earlier_value", u"#USR=a#PWD=evil#PWD=good#", u"PWD", u"evil"},
        FieldCase{"first_of_two_empty", u"#USR=#USR=second#", u"USR", u""},
        FieldCase{"last_field_without_final_hash", u"#A=1#B=two", u"B", u"two"},
        FieldCase{"first_field_without_hash", u"USR=x#PWD=y#", u"USR", u""},
        FieldCase{"key_with_blanks", u"#USR=x#", u"  usr ", u"x"},
        FieldCase{"blanks_in_value_kept", u"#USR= a b #", u"USR", u" a b "},
        FieldCase{"value_keeps_case", u"#KEYF=C:\\Keys\\Id_Rsa#", u"keyf", u"C:\\Keys\\Id_Rsa"},
        FieldCase{"no_enc_marker", u"#PWD=c2VjcmV0#", u"PWD", u"c2VjcmV0"},
        // Characters whose full upper case is longer stay one unit, so positions stay right.
        FieldCase{"sharp_s_before_field", u"#USR=straße#PWD=pw#", u"PWD", u"pw"},
        FieldCase{"ligature_before_field", u"#USR=ﬁﬁﬁ#PWD=pw#", u"PWD", u"pw"},
        FieldCase{"sharp_s_key", u"#STRAßE=v#", u"straße", u"v"},
        FieldCase{"sharp_s_is_not_ss", u"#STRASSE=v#", u"straße", u""},
        FieldCase{"non_ascii_key_case", u"#ÉTÉ=chaud#", u"été", u"chaud"},
        FieldCase{"value_runs_to_end", u"#USR=abc", u"USR", u"abc"},
        FieldCase{"value_empty_at_end", u"#USR=", u"USR", u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpperCaseTest, KeepsTheLengthAndMapsOneToOne) {
    struct Case {
        char16_t in, out;
    };
    const Case cases[] = {
        {u'a', u'A'}, {u'z', u'Z'}, {u'A', u'A'}, {u'1', u'1'}, {u'#', u'#'},
        {u'é', u'É'}, {u'ÿ', u'\u0178'}, {u'ß', u'ß'}, {u'\uFB01', u'\uFB01'},
        {u'\u01C6', u'\u01C4'}, {u'\u1F80', u'\u1F88'}, {u'ж', u'Ж'}, {u'\u0149', u'\u0149'},
    };
    for (const auto& c : cases) EXPECT_EQ(Generic::UpperCaseUnit(c.in), c.out) << static_cast<int>(c.in);
    const std::u16string mixed = u"straße ﬁx \U0001F600 ǆ";
    EXPECT_EQ(Generic::UpperCase(mixed), u"STRAßE ﬁX \U0001F600 Ǆ");
}

}  // namespace
