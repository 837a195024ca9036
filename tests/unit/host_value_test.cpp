#include "common/automation_error.h"
#include "common/numbers.h"
#include "plugin/host_value.h"
#include "plugin/portable_object.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace tavrin::plugin;
using tavrin::ParseWholeNumber;
using tavrin::RoundToInteger16;

int ErrorNumberOf(const HostValue& v) {
    try {
        ToInteger16(v);
    } catch (const tavrin::AutomationError& e) {
        return e.number();
    }
    return 0;
}

TEST(HostValueTest, ToInteger16) {
    const std::pair<HostValue, std::int16_t> ok[] = {
        {EmptyValue{}, 0}, {true, -1}, {false, 0}, {std::int16_t{-3}, -3}, {std::int32_t{32767}, 32767},
        {2.5, 2}, {3.5, 4}, {-2.5, -2}, {2.4999, 2}, {-32768.4, -32768}, {std::u16string(u"10"), 10},
        {std::u16string(u" 20 "), 20}, {std::u16string(u"2.5"), 2}, {std::u16string(u"&H10"), 16},
        {std::u16string(u"1e2"), 100},
    };
    for (const auto& [value, expected] : ok) EXPECT_EQ(ToInteger16(value), expected);

    const std::pair<HostValue, int> failing[] = {
        {NullValue{}, 94}, {32767.5, 6}, {-32768.6, 6}, {std::int32_t{40000}, 6}, {std::u16string(u"40000"), 6},
        {std::u16string(u"abc"), 13}, {std::u16string(u""), 13}, {std::u16string(u"12abc"), 13},
        {std::u16string(u"1,5"), 13},
    };
    for (const auto& [value, number] : failing) EXPECT_EQ(ErrorNumberOf(value), number);
}

TEST(HostValueTest, ParseWholeNumber) {
    EXPECT_EQ(ParseWholeNumber(u" 22 "), 22.0);
    EXPECT_EQ(ParseWholeNumber(u"022"), 22.0);
    EXPECT_EQ(ParseWholeNumber(u"-1.5e1"), -15.0);
    EXPECT_EQ(ParseWholeNumber(u"&HFF"), 255.0);
    for (std::u16string_view bad : {u"", u"  ", u"22x", u"x22", u"2 2", u"&H", u"&HG", u"1e", u".", u"+", u"&O9"}) {
        EXPECT_FALSE(ParseWholeNumber(bad).has_value()) << std::string(bad.begin(), bad.end());
    }
}

TEST(HostValueTest, ToText) {
    EXPECT_EQ(ToText(EmptyValue{}), u"");
    EXPECT_EQ(ToText(true), u"True");
    EXPECT_EQ(ToText(std::int16_t{-5}), u"-5");
    EXPECT_EQ(ToText(0.52), u"0.52");
    EXPECT_EQ(ToText(-0.5), u"-0.5");
    EXPECT_EQ(ToText(std::u16string(u"host")), u"host");
    EXPECT_THROW(ToText(NullValue{}), tavrin::AutomationError);
}

// The portable object's parameter string holds the password's Base64: a text stored there is
// taken without leaving a copy in what it came from, and reads back as it was stored.
TEST(HostValueTest, TheParameterValueLeavesNoCopyBehind) {
    const auto wiped = [](const HostValue& value) {
        const auto& text = std::get<std::u16string>(value);
        return std::all_of(text.data(), text.data() + text.capacity(), [](char16_t c) { return c == u'\0'; });
    };
    for (const std::u16string text : {u"#PWD=cA==#", u"#ENC=T#USR=monitor#PWD=c2VjcmV0#PROTO=A#PORT=22#"}) {
        WipedHostValue value;
        HostValue moved = text;
        value = std::move(moved);
        EXPECT_EQ(ToText(value.get()), text);
        EXPECT_TRUE(wiped(moved)) << "moved in: " << std::string(text.begin(), text.end());

        const HostValue copied = std::u16string(u"#USR=other#");
        value = copied;
        EXPECT_EQ(ToText(value.get()), u"#USR=other#");
        EXPECT_EQ(ToText(copied), u"#USR=other#") << "a copy leaves its source alone";

        value = HostValue(NullValue{});
        EXPECT_THROW(ToText(value.get()), tavrin::AutomationError);
    }
}

}  // namespace
