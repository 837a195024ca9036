#include "common/numbers.h"
#include "plugin/verdict.h"

#include <gtest/gtest.h>

#include "common/text.h"

#include <cmath>
#include <limits>
#include <optional>
#include <variant>

namespace {

using tavrin::plugin::JudgeOutput;
using tavrin::plugin::Pattern;
using tavrin::NumberText;
using tavrin::ReadNumber;

struct VerdictCase {
    const char* name;
    std::u16string_view op, value, mode, output;
    bool up;
    std::u16string_view text;
};

class JudgeOutputTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(JudgeOutputTest, GivesTheVerdict) {
    const auto& c = GetParam();
    const auto v = JudgeOutput(c.output, c.op, c.value, c.mode);
    EXPECT_EQ(v.up, c.up);
    EXPECT_EQ(v.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, JudgeOutputTest,
    ::testing::Values(
        // The documented examples.
        VerdictCase{"contains", u"CON", u"sshd", u"NO", u"root 1 sshd\n", true, u"Output contains sshd"},
        VerdictCase{"contains_down_with_data", u"CON", u"crond", u"YED", u"root 1 sshd\n", false,
                    u"Output doesn't contain crond(root 1 sshd\n)"},
        VerdictCase{"not_contains_always_data", u"NCO", u"crond", u"YEA", u"ok", true, u"Output doesn't contain crond(ok)"},
        VerdictCase{"less", u"LT", u"10", u"NO", u"5\n", true, u"Output is less then 10 (5)"},
        VerdictCase{"not_greater_fraction", u"GT", u"1", u"YED", u"0.52\n", false,
                    u"Output is not greater then 1 (.52)(0.52\n)"},
        VerdictCase{"unknown_operator_always", u"XYZ", u"abc", u"YEA", u"hello", true, u"hello(hello)"},
        VerdictCase{"empty_operator", u"", u"abc", u"YEA", u"hello", true, u"hello"},
        VerdictCase{"empty_value", u"CON", u"", u"YEA", u"hello", true, u"hello"},
        // Further edges.
        VerdictCase{"empty_value_any_operator", u"LT", u"", u"YED", u"7", true, u"7"},
        VerdictCase{"empty_output_contains", u"CON", u"x", u"NO", u"", false, u"Output doesn't contain x"},
        VerdictCase{"empty_output_when_down", u"CON", u"x", u"YED", u"", false, u"Output doesn't contain x()"},
        VerdictCase{"case_sensitive", u"CON", u"sshd", u"NO", u"SSHD", false, u"Output doesn't contain sshd"},
        VerdictCase{"not_contains_found", u"NCO", u"ok", u"YED", u"all ok", false, u"Output contains ok(all ok)"},
        VerdictCase{"operator_lower_case_is_no_test", u"con", u"x", u"NO", u"abc", true, u"abc"},
        VerdictCase{"operator_with_blank_is_no_test", u"CON ", u"x", u"YEA", u"abc", true, u"abc(abc)"},
        VerdictCase{"mode_lower_case_adds_nothing", u"CON", u"a", u"yea", u"abc", true, u"Output contains a"},
        VerdictCase{"mode_when_down_and_up", u"CON", u"a", u"YED", u"abc", true, u"Output contains a"},
        VerdictCase{"no_number_in_output", u"LT", u"3", u"NO", u"none", true, u"Output is less then 3 (0)"},
        VerdictCase{"equal_less", u"LT", u"5", u"NO", u"5", false, u"Output is not less then 5 (5)"},
        VerdictCase{"equal_greater", u"GT", u"5", u"NO", u"5", false, u"Output is not greater then 5 (5)"},
        VerdictCase{"value_as_written", u"LT", u"010", u"NO", u"9.50", true, u"Output is less then 010 (9.5)"},
        VerdictCase{"lines_joined_by_line_feed", u"GT", u"1000", u"NO", u"12\n34\n", true,
                    u"Output is greater then 1000 (1234)"},
        VerdictCase{"carriage_return_ends_number", u"GT", u"1000", u"NO", u"12\r\n34\r\n", false,
                    u"Output is not greater then 1000 (12)"},
        VerdictCase{"negative_fraction", u"LT", u"0", u"NO", u"-0.5", true, u"Output is less then 0 (-.5)"},
        VerdictCase{"greater_always_data", u"GT", u"-1", u"YEA", u"0", true, u"Output is greater then -1 (0)(0)"}),
    [](const auto& info) { return std::string(info.param.name); });

// The rules beside the first four: the exit status and patterns (PCRE2, UTF mode).
struct LaterRuleCase {
    const char* name;
    std::u16string_view op, value, mode, output;
    std::optional<int> exitStatus;
    bool up;
    std::u16string_view text;
};

class LaterRuleTest : public ::testing::TestWithParam<LaterRuleCase> {};

TEST_P(LaterRuleTest, GivesTheVerdict) {
    const auto& c = GetParam();
    tavrin::plugin::RunEnd end;
    end.exitStatus = c.exitStatus;
    std::optional<Pattern> pattern;
    if (c.op == u"RC") {
        const std::optional<int> wanted = tavrin::plugin::WantedExitStatus(c.value);
        ASSERT_TRUE(wanted) << c.name;
        end.wantedStatus = *wanted;
    } else if (!c.value.empty()) {
        auto compiled = Pattern::Compile(c.value);
        ASSERT_TRUE(std::holds_alternative<Pattern>(compiled)) << c.name;
        pattern.emplace(std::get<Pattern>(std::move(compiled)));
        end.pattern = &*pattern;
    }
    const auto v = JudgeOutput(c.output, c.op, c.value, c.mode, end);
    EXPECT_EQ(v.up, c.up);
    EXPECT_EQ(v.text, c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, LaterRuleTest,
    ::testing::Values(
        LaterRuleCase{"status_zero_by_default", u"RC", u"", u"NO", u"x", 0, true, u"Exit status is 0"},
        LaterRuleCase{"status_wanted", u"RC", u" 3 ", u"NO", u"", 3, true, u"Exit status is 3"},
        LaterRuleCase{"status_other", u"RC", u"0", u"YED", u"oops\n", 1, false, u"Exit status is 1, not 0(oops\n)"},
        LaterRuleCase{"status_always_data", u"RC", u"0", u"YEA", u"ok", 0, true, u"Exit status is 0(ok)"},
        LaterRuleCase{"status_not_reported", u"RC", u"0", u"NO", u"ok", std::nullopt, false,
                      u"The command's exit status was not reported, not 0"},
        LaterRuleCase{"status_ignores_output_rule", u"RC", u"", u"NO", u"", 0, true, u"Exit status is 0"},
        LaterRuleCase{"matches", u"RE", u"load: [0-9]+", u"NO", u"load: 42\n", std::nullopt, true,
                      u"Output matches load: [0-9]+"},
        LaterRuleCase{"does_not_match", u"RE", u"^ok$", u"YED", u"ok \n", 0, false, u"Output doesn't match ^ok$(ok \n)"},
        LaterRuleCase{"not_matches_up", u"NRE", u"(?i)error", u"NO", u"all fine", 0, true,
                      u"Output doesn't match (?i)error"},
        LaterRuleCase{"not_matches_found", u"NRE", u"(?i)error", u"YEA", u"An ERROR", 0, false,
                      u"Output matches (?i)error(An ERROR)"},
        LaterRuleCase{"multiline_anchor", u"RE", u"(?m)^second$", u"NO", u"first\nsecond\n", 0, true,
                      u"Output matches (?m)^second$"},
        LaterRuleCase{"utf_mode", u"RE", u"^.{3}$", u"NO", u"\u00e4\u00f6\U0001F600", 0, true,
                      u"Output matches ^.{3}$"},
        LaterRuleCase{"lone_surrogate_in_output", u"RE", u"ok", u"NO", u"\xD800 ok", 0, true, u"Output matches ok"},
        LaterRuleCase{"empty_pattern_is_the_output", u"RE", u"", u"YEA", u"hello", 0, true, u"hello"},
        LaterRuleCase{"hash_written_as_escape", u"RE", u"\\x23 done", u"NO", u"# done", 0, true,
                      u"Output matches \\x23 done"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LaterRuleTest, RefusesWhatCannotBeCheckedBeforeConnecting) {
    for (const std::u16string_view bad : {u"x", u"1.5", u"3000000000", u"--1"}) {
        EXPECT_FALSE(tavrin::plugin::WantedExitStatus(bad)) << tavrin::ToUtf8(std::u16string(bad));
    }
    EXPECT_EQ(tavrin::plugin::WantedExitStatus(u"-1"), -1);
    const auto compiled = Pattern::Compile(u"a(b");
    ASSERT_TRUE(std::holds_alternative<std::u16string>(compiled));
    EXPECT_EQ(std::get<std::u16string>(compiled),
              u"The pattern \"a(b\" is not valid: missing closing parenthesis at offset 3");
}

// A pattern built to backtrack, against output built for it: the match stops at its limit,
// and the check is DOWN whichever rule asked.
TEST(LaterRuleTest, AMatchThatStopsAtItsLimitIsNeverUp) {
    const std::u16string output = std::u16string(64 * 1024, u'a') + u"!";
    for (const std::u16string_view op : {u"RE", u"NRE"}) {
        auto compiled = Pattern::Compile(u"^(a|aa)+$");
        ASSERT_TRUE(std::holds_alternative<Pattern>(compiled));
        const Pattern& pattern = std::get<Pattern>(compiled);
        EXPECT_EQ(pattern.Find(output), Pattern::Match::OverLimit);
        tavrin::plugin::RunEnd end;
        end.pattern = &pattern;
        const auto v = JudgeOutput(output, op, u"^(a|aa)+$", u"NO", end);
        EXPECT_FALSE(v.up);
        EXPECT_EQ(v.text, u"The pattern \"^(a|aa)+$\" could not be matched within its limits");
    }
}

struct NumberCase {
    std::u16string_view text;
    double value;
};

TEST(ReadNumberTest, ReadsTheLeadingNumber) {
    const NumberCase cases[] = {
        {u"", 0}, {u"abc", 0}, {u"12", 12}, {u"  12 34", 1234}, {u"12\n34\n", 1234}, {u"\t-7", -7},
        {u"12\r\n34", 12}, {u"+5", 5}, {u"- 5", -5}, {u"+-5", 0}, {u"3.25kB", 3.25}, {u"1.2.3", 1.2},
        {u".5", 0.5}, {u"-.5", -0.5}, {u"5.", 5}, {u".", 0}, {u"1,5", 1}, {u"1e3", 1000}, {u"1E+3x", 1000},
        {u"2.5e-1", 0.25}, {u"1e", 1}, {u"1e+", 1}, {u"1 e 2", 100}, {u"&H1F", 31}, {u"&hff", 255},
        {u"&HFFFF", -1}, {u"&H8000", -32768}, {u"&H10000", 65536}, {u"&HFFFFFFFF", -1},
        {u"&H7FFFFFFF", 2147483647}, {u"&H1FFFFFFFF", -1}, {u"&O17", 15}, {u"&o177777", -1}, {u"&O8", 0},
        {u"&H", 0}, {u"&", 0}, {u"&X1", 0}, {u"& H 1 0", 16}, {u"0x10", 0}, {u"00012", 12},
        {u"1e400", std::numeric_limits<double>::max()}, {u"-1e400", -std::numeric_limits<double>::max()},
        {u"1e-400", 0}, {u"123456789012345678901234567890", 1.2345678901234568e29},
        {u"\u0661", 0},  // digits of other scripts are not digits here
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadNumber(c.text), c.value) << std::string(c.text.begin(), c.text.end());
    }
}

TEST(NumberTextTest, WritesTheGeneralForm) {
    const std::pair<double, std::u16string_view> cases[] = {
        {0, u"0"}, {-0.0, u"0"}, {5, u"5"}, {-7, u"-7"}, {0.52, u".52"}, {-0.5, u"-.5"}, {12.5, u"12.5"},
        {1234, u"1234"}, {100, u"100"}, {0.1 + 0.2, u".3"}, {1.0 / 3, u".333333333333333"},
        {2.0 / 3, u".666666666666667"}, {123456789012345, u"123456789012345"}, {1e15, u"1E+15"},
        {1e16, u"1E+16"}, {-1.5e20, u"-1.5E+20"}, {1234567890123456789.0, u"1.23456789012346E+18"},
        {0.0001, u".0001"}, {0.00001, u"1E-05"}, {1.5e-7, u"1.5E-07"}, {1e-300, u"1E-300"},
        {std::numeric_limits<double>::max(), u"1.79769313486232E+308"}, {999999999999999.9, u"1E+15"},
        {65536, u"65536"}, {-32768, u"-32768"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(NumberText(value), text) << value;
}

TEST(NumberTextTest, ReadsBackWhatItWrites) {
    for (double v : {0.52, -0.5, 1e16, 1.5e-7, 123.456, -98765.4321, 1e-5}) {
        EXPECT_DOUBLE_EQ(ReadNumber(NumberText(v)), v);
    }
}

}  // namespace
