#include "tools/cli.h"

#include "parameters/fields.h"
#include "ssh/library.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using tavrin::tools::ParameterSource;
using tavrin::tools::ParseCommandLine;
using Kind = ParameterSource::Kind;

TEST(CommandLineTest, ParsesACheck) {
    const auto parsed = ParseCommandLine({u"--host", u"srv", u"--timeout", u"5", u"--parameter", u"#USR=a#", u"-v"});
    ASSERT_TRUE(parsed.check.has_value());
    EXPECT_EQ(parsed.check->host, u"srv");
    EXPECT_EQ(parsed.check->timeout, std::optional<std::u16string>(u"5"));
    EXPECT_EQ(parsed.check->parameter, (ParameterSource{Kind::Text, u"#USR=a#"}));
    EXPECT_TRUE(parsed.check->verbose);

    const auto noTimeout = ParseCommandLine({u"--parameter", u"", u"--host", u"h"});
    ASSERT_TRUE(noTimeout.check.has_value());
    EXPECT_FALSE(noTimeout.check->timeout.has_value());
    EXPECT_EQ(noTimeout.check->parameter, (ParameterSource{Kind::Text, u""}));
}

TEST(CommandLineTest, TakesTheParameterFromTheLineAFileOrStandardInput) {
    const struct {
        std::vector<std::u16string> args;
        ParameterSource source;
    } cases[] = {
        {{u"--host", u"h", u"--parameter", u"-"}, {Kind::StandardInput, u""}},
        {{u"--host", u"h", u"--parameter-file", u"/p"}, {Kind::File, u"/p"}},
        {{u"--host", u"h", u"--parameter-file", u"-"}, {Kind::File, u"-"}},
        {{u"--host", u"h", u"--parameter", u"--"}, {Kind::Text, u"--"}},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCommandLine(c.args);
        ASSERT_TRUE(parsed.check.has_value());
        EXPECT_EQ(parsed.check->parameter, c.source);
        auto describeArgs = c.args;
        describeArgs.front() = u"describe";
        describeArgs.erase(describeArgs.begin() + 1);
        const auto described = ParseCommandLine(describeArgs);
        ASSERT_TRUE(described.describe.has_value());
        EXPECT_EQ(described.describe->parameter, c.source);
    }
}

TEST(CommandLineTest, RefusesIncompleteOrUnknownArguments) {
    const std::vector<std::vector<std::u16string>> bad = {
        {}, {u"--host", u"h"}, {u"--parameter", u"p"}, {u"--host"}, {u"--host", u"h", u"--parameter"},
        {u"--host", u"h", u"--parameter", u"p", u"--bogus"},
        {u"--host", u"h", u"--parameter", u"p", u"--parameter-file", u"f"},
        {u"--host", u"h", u"--parameter", u"-", u"--parameter", u"p"},
        {u"--version", u"--host", u"h"},
    };
    for (const auto& args : bad) {
        const auto parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.check.has_value());
        EXPECT_FALSE(parsed.help);
        EXPECT_FALSE(parsed.error.empty());
    }
    EXPECT_TRUE(ParseCommandLine({u"--host", u"h", u"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({u"--version"}).version);
}

}  // namespace

namespace {

TEST(CommandLineTest, ParsesDescribeAndCompose) {
    const auto d = ParseCommandLine({u"describe", u"--parameter", u"#USR=a#", u"--show-password"});
    ASSERT_TRUE(d.describe.has_value());
    EXPECT_EQ(d.describe->parameter, (ParameterSource{Kind::Text, u"#USR=a#"}));
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

    const auto pinned = ParseCommandLine({u"compose", u"--user", u"u", u"--command", u"c", u"--host-key", u"SHA256:a",
                                          u"--host-key", u"SHA256:b"});
    ASSERT_TRUE(pinned.compose.has_value());
    EXPECT_EQ(pinned.compose->request.hostKeys, (std::vector<std::u16string>{u"SHA256:a", u"SHA256:b"}));
}

TEST(CommandLineTest, EveryOptionOfTheFieldTableIsTakenAndDocumented) {
    for (const auto& spec : tavrin::parameters::Fields()) {
        if (spec.option.empty()) continue;
        const std::string option(spec.option.begin(), spec.option.end());
        EXPECT_NE(std::strstr(tavrin::tools::kUsage, (option + " ").c_str()), nullptr) << option;
        std::vector<std::u16string> args = {u"compose", u"--user", u"u", u"--command", u"c"};
        if (spec.option != u"--user" && spec.option != u"--command") {
            args.push_back(std::u16string(spec.option));
            args.push_back(spec.codes.empty() ? u"v" : std::u16string(spec.codes[0].option));
        }
        const auto parsed = ParseCommandLine(args);
        EXPECT_TRUE(parsed.compose.has_value()) << option;
    }
}

TEST(CommandLineTest, ParsesPin) {
    const auto p = ParseCommandLine({u"pin", u"--host", u"srv", u"--port", u"2222", u"--timeout", u"5", u"--parameter", u"-"});
    ASSERT_TRUE(p.pin.has_value());
    EXPECT_EQ(p.pin->host, u"srv");
    EXPECT_EQ(p.pin->port, std::optional<int>(2222));
    EXPECT_EQ(p.pin->timeoutSeconds, 5);
    EXPECT_EQ(p.pin->parameter, std::optional<ParameterSource>(ParameterSource{Kind::StandardInput, u""}));

    const auto bare = ParseCommandLine({u"pin", u"--host", u"srv"});
    ASSERT_TRUE(bare.pin.has_value());
    EXPECT_FALSE(bare.pin->port.has_value());
    EXPECT_EQ(bare.pin->timeoutSeconds, tavrin::tools::kPinDefaultTimeoutSeconds);
    EXPECT_FALSE(bare.pin->parameter.has_value());

    const std::vector<std::vector<std::u16string>> bad = {
        {u"pin"}, {u"pin", u"--host", u" "}, {u"pin", u"--host", u"h", u"--port", u"0"},
        {u"pin", u"--host", u"h", u"--port", u"65536"}, {u"pin", u"--host", u"h", u"--port", u"ssh"},
        {u"pin", u"--host", u"h", u"--timeout", u"0"}, {u"pin", u"--host", u"h", u"--timeout", u"1.5"},
        {u"pin", u"--host", u"h", u"--parameter", u"p", u"--parameter-file", u"f"},
        {u"pin", u"--host", u"h", u"--verbose"},
    };
    for (const auto& args : bad) {
        const auto parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.pin.has_value());
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(ExitStatusTest, UpDownAndCouldNotRun) {
    using tavrin::tools::ExitStatusForCheck;
    EXPECT_EQ(ExitStatusForCheck(true, u"Output contains x"), 0);
    EXPECT_EQ(ExitStatusForCheck(true, u"ERR: looks like an error but the check said UP"), 0);
    EXPECT_EQ(ExitStatusForCheck(false, u"Output doesn't contain x"), 2);
    EXPECT_EQ(ExitStatusForCheck(false, u"The connection to h port 22 was lost after 5 bytes of output"), 2);
    EXPECT_EQ(ExitStatusForCheck(false, u"ERR: can't connect to an SSH server without a USERNAME"), 3);
    EXPECT_EQ(ExitStatusForCheck(false, u"ERR: Type mismatch( 0)"), 3);
    EXPECT_EQ(ExitStatusForCheck(false, u"ERR:x"), 2);
    EXPECT_EQ(ExitStatusForCheck(false, u"Output: ERR: x"), 2);
}

TEST(ParameterFromBytesTest, TakesTheFirstLineWithoutLineEndOrByteOrderMark) {
    using tavrin::tools::ParameterFromBytes;
    EXPECT_EQ(ParameterFromBytes("#USR=a#"), u"#USR=a#");
    EXPECT_EQ(ParameterFromBytes("#USR=a#\n"), u"#USR=a#");
    EXPECT_EQ(ParameterFromBytes("#USR=a#\r\nsecond line\n"), u"#USR=a#");
    EXPECT_EQ(ParameterFromBytes("\xEF\xBB\xBF#USR=\xC3\xA9#\r\n"), u"#USR=\u00e9#");
    EXPECT_EQ(ParameterFromBytes(" #USR=a# \n"), u" #USR=a# ");
    EXPECT_EQ(ParameterFromBytes(""), u"");
    EXPECT_EQ(ParameterFromBytes("\n#USR=a#"), u"");
}

TEST(VersionTest, ReadsVersionNumbersAsNumbers) {
    using tavrin::tools::VersionNumbers;
    using V = std::optional<std::array<int, 3>>;
    EXPECT_EQ(VersionNumbers("0.12.2/openssl"), V({0, 12, 2}));
    EXPECT_EQ(VersionNumbers("0.10.6/openssl/zlib"), V({0, 10, 6}));
    EXPECT_EQ(VersionNumbers("0.12.10"), V({0, 12, 10}));
    EXPECT_EQ(VersionNumbers("1.0"), V({1, 0, 0}));
    EXPECT_EQ(VersionNumbers("0.11.0-rc1"), V({0, 11, 0}));
    for (const char* bad : {"", "libssh", "1", "1.", ".1", "1..2", "0.12.2.1", "v0.12.2", "1234567.0"}) {
        EXPECT_EQ(VersionNumbers(bad), std::nullopt) << bad;
    }
    // Compared as numbers, not as text: 0.12.10 is newer than 0.12.2, 0.9 older than 0.12.
    EXPECT_GT(*VersionNumbers("0.12.10"), tavrin::tools::kLibsshMinimum);
    EXPECT_LT(*VersionNumbers("0.9.8"), tavrin::tools::kLibsshMinimum);
    EXPECT_LT(*VersionNumbers("0.12.1"), tavrin::tools::kLibsshMinimum);
    EXPECT_GE(*VersionNumbers("0.12.2/gcrypt"), tavrin::tools::kLibsshMinimum);
}

TEST(VersionTest, TheLinkedLibsshIsRecentEnough) {
    const std::string linked = tavrin::ssh::LibraryVersion();
    const auto numbers = tavrin::tools::VersionNumbers(linked);
    ASSERT_TRUE(numbers.has_value()) << linked;
    EXPECT_GE(*numbers, tavrin::tools::kLibsshMinimum) << "linked libssh " << linked << " is older than 0.12.2";
}

}  // namespace
