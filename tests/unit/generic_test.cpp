#include "parameters/generic.h"
#include "common/text.h"
#include "parameters/fields.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct FieldCase {
    const char* name;
    std::u16string_view parameters;
    std::u16string_view key;
    std::u16string_view expected;
};

class GetFieldTest : public ::testing::TestWithParam<FieldCase> {};

// The lookup as it is defined: the first "#KEY=" in the upper-case string. GetField compares in
// place instead (an upper-case copy would be one more copy of the password's Base64).
std::u16string LookupInUpperCaseCopy(std::u16string_view parameters, std::u16string_view key) {
    const std::u16string upper = Generic::UpperCase(parameters);
    const std::u16string needle = u"#" + Generic::UpperCase(tavrin::TrimBlanks(key)) + u"=";
    const std::size_t at = upper.find(needle);
    if (at == std::u16string::npos) return {};
    const std::size_t start = at + needle.size();
    const std::size_t end = std::min(upper.find(u'#', start), upper.size());
    return std::u16string(parameters.substr(start, end - start));
}

TEST_P(GetFieldTest, ReturnsTheValue) {
    const auto& c = GetParam();
    EXPECT_EQ(Generic::GetField(c.parameters, c.key), c.expected);
    EXPECT_EQ(Generic::GetField(c.parameters, c.key), LookupInUpperCaseCopy(c.parameters, c.key));
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
        FieldCase{"value_empty_at_end", u"#USR=", u"USR", u""},
        // Compared unit by unit: a unit whose upper case is an ASCII letter matches that letter.
        FieldCase{"long_s_is_s", u"#UſR=x#USR=y#", u"USR", u"x"},
        FieldCase{"dotless_i_is_i", u"#HFP=#pıng=x#", u"PING", u"x"},
        FieldCase{"key_at_the_very_end", u"#USR", u"USR", u""},
        FieldCase{"key_cut_short", u"#US", u"USR", u""},
        FieldCase{"hash_alone", u"#", u"USR", u""},
        FieldCase{"key_asked_with_a_hash", u"#A#B=1#", u"a#b", u"1"},
        FieldCase{"match_after_a_near_miss", u"#USX=1#US#USR=2#", u"USR", u"2"}),
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

namespace {

using tavrin::parameters::StoredField;

std::u16string Keys(const std::vector<StoredField>& fields) {
    std::u16string out;
    for (const auto& f : fields) out += f.key + u"=" + f.value + u";";
    return out;
}

struct EnumerationCase {
    const char* name;
    std::u16string_view parameters;
    std::u16string_view fields;  // KEY=value; ... as StoredFields gives them
};

class StoredFieldsTest : public ::testing::TestWithParam<EnumerationCase> {};

TEST_P(StoredFieldsTest, FindsWhatGetFieldFinds) {
    const auto& c = GetParam();
    const auto fields = tavrin::parameters::StoredFields(c.parameters);
    EXPECT_EQ(Keys(fields), c.fields);
    for (const auto& f : fields) {
        EXPECT_EQ(Generic::GetField(c.parameters, f.key), f.value);
        EXPECT_EQ(c.parameters.substr(f.position, f.key.size() + 2), u"#" + f.key + u"=");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Enumeration, StoredFieldsTest,
    ::testing::Values(
        EnumerationCase{"written", kWritten,
                        u"ENC=T;USR=U;PWD=;PROTO=1;PORT=22;KEYF=;KEYT=RSA;CMD=ZGYgLWs=;CCO=CON;CON=V;RRE=NO;"},
        EnumerationCase{"empty", u"", u""},
        EnumerationCase{"only_hashes", u"###", u""},
        EnumerationCase{"key_kept_as_written", u"#hfp=SHA256:x#Zz=1#", u"hfp=SHA256:x;Zz=1;"},
        EnumerationCase{"first_occurrence_wins_any_case", u"#HFP=a#hfp=b#HFP=c#", u"HFP=a;"},
        EnumerationCase{"key_inside_a_value_is_a_field", u"#USR=a#PWD=evil#PWD=good#", u"USR=a;PWD=evil;"},
        EnumerationCase{"piece_without_equals_is_none", u"#CON=a#b#RRE=NO#", u"CON=a;RRE=NO;"},
        EnumerationCase{"key_with_blanks_at_its_ends_is_none", u"# X=1#Y =2#A B=3#", u"A B=3;"},
        EnumerationCase{"empty_key_is_none", u"#=1#A==2#", u"A==2;"},
        EnumerationCase{"text_before_first_hash_is_none", u"USR=x#PWD=y#", u"PWD=y;"},
        EnumerationCase{"last_field_without_final_hash", u"#A=1#B=two", u"A=1;B=two;"},
        EnumerationCase{"upper_case_beyond_ascii", u"#été=1#ÉTÉ=2#straße=3#", u"été=1;straße=3;"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PiecesTest, TellFieldsHiddenFieldsAndTextThatIsNoField) {
    using Kind = tavrin::parameters::Piece::Kind;
    const auto pieces = tavrin::parameters::Pieces(u"#USR=a#b#usr=c##X=1#");
    ASSERT_EQ(pieces.size(), 5u);
    EXPECT_EQ(pieces[0].kind, Kind::Field);
    EXPECT_EQ(pieces[1].kind, Kind::NoField);
    EXPECT_EQ(pieces[1].text, u"b");
    EXPECT_EQ(pieces[2].kind, Kind::Hidden);
    EXPECT_EQ(pieces[2].key, u"usr");
    EXPECT_EQ(pieces[3].kind, Kind::NoField);  // "##": an empty piece inside the string
    EXPECT_EQ(pieces[3].text, u"");
    EXPECT_EQ(pieces[4].kind, Kind::Field);
}

TEST(WithFieldTest, SetsTheFieldGetFieldReadsOrAddsIt) {
    const struct {
        std::u16string_view before, key, value, after;
    } cases[] = {
        {u"#USR=u#HFP=old#RRE=NO#", u"HFP", u"new", u"#USR=u#HFP=new#RRE=NO#"},
        {u"#USR=u#hfp=old#HFP=second#", u"HFP", u"new", u"#USR=u#hfp=new#HFP=second#"},
        {u"#USR=u#HFP=old", u"HFP", u"new", u"#USR=u#HFP=new"},
        {u"#USR=u#HFP=#", u"HFP", u"new", u"#USR=u#HFP=new#"},
        {u"#USR=u#", u"HFP", u"new", u"#USR=u#HFP=new#"},
        {u"#USR=u", u"HFP", u"new", u"#USR=u#HFP=new#"},
        {u"", u"HFP", u"new", u"#HFP=new#"},
        {u"#USR=a#HFP=x#", u"USR", u"b", u"#USR=b#HFP=x#"},
    };
    for (const auto& c : cases) {
        const std::u16string after = tavrin::parameters::WithField(c.before, c.key, c.value);
        EXPECT_EQ(after, c.after) << std::string(c.before.begin(), c.before.end());
        EXPECT_EQ(Generic::GetField(after, c.key), c.value);
    }
}

TEST(FieldTableTest, KeysAreUniqueAndCodesMapBothWays) {
    using namespace tavrin::parameters;
    std::vector<std::u16string_view> keys, options;
    for (const FieldSpec& spec : Fields()) {
        EXPECT_EQ(FindField(spec.key), &spec);
        EXPECT_EQ(&Spec(spec.field), &spec);
        keys.push_back(spec.key);
        if (!spec.option.empty()) options.push_back(spec.option);
        for (std::size_t i = 0; i < spec.codes.size(); ++i) {
            EXPECT_EQ(IndexForCode(spec.field, spec.codes[i].code), static_cast<int>(i));
            EXPECT_EQ(CodeForIndex(spec.field, static_cast<int>(i)), spec.codes[i].code);
            EXPECT_EQ(CodeForOption(spec.field, spec.codes[i].option), std::u16string(spec.codes[i].code));
        }
    }
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());
    std::sort(options.begin(), options.end());
    EXPECT_EQ(std::adjacent_find(options.begin(), options.end()), options.end());
    EXPECT_EQ(FindField(u" hfp "), &Spec(Field::HostKeys));
    EXPECT_EQ(FindField(u"XYZ"), nullptr);
    EXPECT_EQ(OptionNames(Field::ReturnMode), u"never, when-down or always");
    EXPECT_EQ(Value(u"#pwd=c2VjcmV0#", Field::Password), u"secret");
    EXPECT_EQ(StoredValue(u"#pwd=c2VjcmV0#", Field::Password), u"c2VjcmV0");
    EXPECT_EQ(StoredForm(Field::Command, u"df -k"), u"ZGYgLWs=");
    EXPECT_EQ(StoredForm(Field::HostKeys, u"SHA256:x"), u"SHA256:x");
}

}  // namespace
