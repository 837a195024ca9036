#include "common/automation_error.h"
#include "common/numbers.h"
#include "plugin/host_value.h"

#include <gtest/gtest.h>

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

}  // namespace
