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

namespace {

TEST(CommandLineTest, ParsesDescribeAndCompose) {
    const auto d = ParseCommandLine({u"describe", u"--parameter", u"#USR=a#", u"--show-password"});
    ASSERT_TRUE(d.describe.has_value());
    EXPECT_EQ(d.describe->parameter, u"#USR=a#");
    EXPECT_TRUE(d.describe->showPassword);
    EXPECT_FALSE(ParseCommandLine({u"describe"}).describe.has_value());

    const auto c = ParseCommandLine({u"compose", u"--user", u"u", u"--password-file", u"/p", u"--command", u"ls",
                                     u"--operator", u"less", u"--value", u"3", u"--return-data", u"always"});
    ASSERT_TRUE(c.compose.has_value());
    EXPECT_EQ(c.compose->request.user, u"u");
    EXPECT_EQ(c.compose->passwordFile, std::optional<std::u16string>(u"/p"));
    EXPECT_EQ(c.compose->request.comparison, u"less");
    EXPECT_EQ(c.compose->request.returnData, u"always");
    EXPECT_FALSE(ParseCommandLine({u"compose", u"--user", u"u"}).compose.has_value());
    EXPECT_FALSE(
        ParseCommandLine({u"compose", u"--user", u"u", u"--command", u"c", u"--password", u"p", u"--password-file", u"f"})
            .compose.has_value());
}

}  // namespace
