#include "tools/cli.h"

#include <gtest/gtest.h>

namespace {

using tavrin::tools::ParseCommandLine;

TEST(CommandLineTest, ParsesACheck) {
    const auto parsed = ParseCommandLine({u"--host", u"srv", u"--timeout", u"5", u"--parameter", u"#USR=a#", u"-v"});
    ASSERT_TRUE(parsed.check.has_value());
    EXPECT_EQ(parsed.check->host, u"srv");
    EXPECT_EQ(parsed.check->timeout, std::optional<std::u16string>(u"5"));
    EXPECT_EQ(parsed.check->parameter, u"#USR=a#");
    EXPECT_TRUE(parsed.check->verbose);

    const auto noTimeout = ParseCommandLine({u"--parameter", u"", u"--host", u"h"});
    ASSERT_TRUE(noTimeout.check.has_value());
    EXPECT_FALSE(noTimeout.check->timeout.has_value());
    EXPECT_EQ(noTimeout.check->parameter, u"");
}

TEST(CommandLineTest, RefusesIncompleteOrUnknownArguments) {
    const std::vector<std::vector<std::u16string>> bad = {
        {}, {u"--host", u"h"}, {u"--parameter", u"p"}, {u"--host"}, {u"--host", u"h", u"--parameter"},
        {u"--host", u"h", u"--parameter", u"p", u"--bogus"},
    };
    for (const auto& args : bad) {
        const auto parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.check.has_value());
        EXPECT_FALSE(parsed.help);
        EXPECT_FALSE(parsed.error.empty());
    }
    EXPECT_TRUE(ParseCommandLine({u"--host", u"h", u"--help"}).help);
}

}  // namespace
