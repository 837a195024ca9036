#include "tools/cli.h"

#include "common/numbers.h"
#include "common/text.h"
#include "parameters/fields.h"
#include "ssh/library.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>

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

TEST(CommandLineTest, ComposeTakesAPasswordStoreByName) {
    using Store = tavrin::tools::ComposeRequest::PasswordStore;
    const struct {
        std::u16string given;
        std::optional<Store> store;  // nullopt: a usage error
        std::u16string credential;
    } cases[] = {
        {u"string", Store::String, u""},
        {u"dpapi-machine", Store::DpapiMachine, u""},
        {u"dpapi-user", Store::DpapiAccount, u""},
        {u"credential:tavrin/web01", Store::Credential, u"tavrin/web01"},
        {u"credential:a:b", Store::Credential, u"a:b"},
        {u"credential:", std::nullopt, u""},
        {u"credential:  ", std::nullopt, u""},
        {u"credential", std::nullopt, u""},
        {u"DPAPI-machine", std::nullopt, u""},
        {u"dpapi", std::nullopt, u""},
        {u"", std::nullopt, u""},
    };
    for (const auto& c : cases) {
        for (const bool joined : {false, true}) {
            std::vector<std::u16string> args = {u"compose", u"--user", u"u", u"--command", u"c"};
            if (joined) {
                args.push_back(u"--password-store=" + c.given);
            } else {
                args.push_back(u"--password-store");
                args.push_back(c.given);
            }
            const auto parsed = ParseCommandLine(args);
            const std::string shown = tavrin::ToUtf8(c.given);
            ASSERT_EQ(parsed.compose.has_value(), c.store.has_value()) << shown;
            if (!c.store) {
                EXPECT_FALSE(parsed.error.empty()) << shown;
                continue;
            }
            EXPECT_EQ(parsed.compose->request.passwordStore, *c.store) << shown;
            EXPECT_EQ(parsed.compose->request.credential, c.credential) << shown;
        }
    }
    // Unless given, the password stays in the string.
    const auto plain = ParseCommandLine({u"compose", u"--user", u"u", u"--command", u"c"});
    ASSERT_TRUE(plain.compose.has_value());
    EXPECT_EQ(plain.compose->request.passwordStore, Store::String);
}

TEST(CommandLineTest, ParsesCredentialSetAndDelete) {
    using Action = tavrin::tools::CredentialCommand::Action;
    const auto set = ParseCommandLine({u"credential", u"set", u"tavrin/web01", u"--user", u"svc", u"--password-file", u"F"});
    ASSERT_TRUE(set.credential.has_value());
    EXPECT_EQ(set.credential->action, Action::Set);
    EXPECT_EQ(set.credential->target, u"tavrin/web01");
    EXPECT_EQ(set.credential->user, u"svc");
    EXPECT_EQ(set.credential->passwordFile, u"F");
    const auto noUser = ParseCommandLine({u"credential", u"set", u"t", u"--password-file=F"});
    ASSERT_TRUE(noUser.credential.has_value());
    EXPECT_EQ(noUser.credential->user, u"");
    const auto del = ParseCommandLine({u"credential", u"delete", u"t"});
    ASSERT_TRUE(del.credential.has_value());
    EXPECT_EQ(del.credential->action, Action::Delete);
    EXPECT_EQ(del.credential->target, u"t");

    const std::vector<std::vector<std::u16string>> bad = {
        {u"credential"},
        {u"credential", u"show", u"t"},
        {u"credential", u"set"},
        {u"credential", u"set", u"t"},                                     // no password file
        {u"credential", u"set", u"t", u"--password", u"p"},                // never on the command line
        {u"credential", u"set", u"--password-file", u"F"},                 // no target
        {u"credential", u"set", u" ", u"--password-file", u"F"},
        {u"credential", u"set", u"t", u"--password-file"},
        {u"credential", u"delete"},
        {u"credential", u"delete", u"t", u"--user", u"u"},
    };
    for (const auto& args : bad) {
        const auto parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.credential.has_value()) << tavrin::ToUtf8(args.back());
        EXPECT_FALSE(parsed.error.empty()) << tavrin::ToUtf8(args.back());
    }
    EXPECT_TRUE(ParseCommandLine({u"credential", u"set", u"--help"}).help);
    EXPECT_NE(std::strstr(tavrin::tools::kUsage, "credential set TARGET"), nullptr);
    EXPECT_NE(std::strstr(tavrin::tools::kUsage, "--password-store"), nullptr);
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

namespace {

using tavrin::tools::CheckCommand;
using tavrin::tools::Range;
using tavrin::tools::Threshold;

TEST(CommandLineTest, HelpFitsInEightyColumns) {
    const std::string usage = tavrin::tools::kUsage;
    std::size_t start = 0, lines = 0;
    while (start < usage.size()) {
        const std::size_t end = std::min(usage.find('\n', start), usage.size());
        const std::string line = usage.substr(start, end - start);
        EXPECT_LE(line.size(), 80u) << line;
        for (const char c : line) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << line;  // one column a byte
        start = end + 1;
        ++lines;
    }
    EXPECT_GT(lines, 40u);
    for (const char* option : {"-H, --host ", "-p, --port ", "-l, --login ", "-t, --timeout ", "-w, --warning ",
                               "-c, --critical ", "--perfdata ", "-v, --verbose ", "-V, --version ", "-h, --help "}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

TEST(CommandLineTest, ShortAndLongOptionsOfAMonitoringPlugin) {
    const Range ten{0.0, 10.0, false}, inside{10.0, 20.0, true};
    const struct {
        std::vector<std::u16string> args;
        std::optional<int> port;
        std::optional<std::u16string> login;
        std::optional<Threshold> warning, critical;
        bool perfdata;
    } cases[] = {
        {{u"-H", u"srv", u"-t", u"5", u"-p", u"2222", u"-l", u"mon", u"-w", u"10", u"-c", u"@10:20", u"--perfdata",
          u"--parameter", u"#USR=a#"},
         2222, u"mon", Threshold{u"10", ten}, Threshold{u"@10:20", inside}, true},
        {{u"--host", u"srv", u"--timeout", u"5", u"--port", u" 2222 ", u"--login", u"mon", u"--warning", u"10",
          u"--critical", u"@10:20", u"--parameter", u"#USR=a#"},
         2222, u"mon", Threshold{u"10", ten}, Threshold{u"@10:20", inside}, false},
        {{u"--host=srv", u"--timeout=5", u"--port=2222", u"--login=mon", u"--warning=10", u"--critical=@10:20",
          u"--parameter=#USR=a#"},
         2222, u"mon", Threshold{u"10", ten}, Threshold{u"@10:20", inside}, false},
        // A range may begin with "-": it is the option's value, not an option.
        {{u"-H", u"srv", u"-w", u"-5:-1", u"--parameter", u"#USR=a#"},
         std::nullopt, std::nullopt, Threshold{u"-5:-1", Range{-5.0, -1.0, false}}, std::nullopt, false},
        {{u"-H", u"srv", u"--parameter", u"#USR=a#"}, std::nullopt, std::nullopt, std::nullopt, std::nullopt, false},
    };
    for (const auto& c : cases) {
        const auto parsed = ParseCommandLine(c.args);
        ASSERT_TRUE(parsed.check.has_value()) << std::string(parsed.error.begin(), parsed.error.end());
        EXPECT_EQ(parsed.check->host, u"srv");
        EXPECT_EQ(parsed.check->parameter, (ParameterSource{Kind::Text, u"#USR=a#"}));
        EXPECT_EQ(parsed.check->port, c.port);
        EXPECT_EQ(parsed.check->login, c.login);
        EXPECT_EQ(parsed.check->warning, c.warning);
        EXPECT_EQ(parsed.check->critical, c.critical);
        EXPECT_EQ(parsed.check->perfdata, c.perfdata);
        EXPECT_FALSE(parsed.check->verbose);
    }
    EXPECT_EQ(ParseCommandLine({u"-H", u"h", u"-t", u"7", u"--parameter", u"p"}).check->timeout,
              std::optional<std::u16string>(u"7"));
    EXPECT_TRUE(ParseCommandLine({u"-V"}).version);
    EXPECT_TRUE(ParseCommandLine({u"-h"}).help);
}

TEST(CommandLineTest, RefusesMalformedMonitoringOptionsNamingTheOption) {
    const struct {
        std::vector<std::u16string> args;
        std::u16string_view named;
    } cases[] = {
        {{u"-w", u"abc"}, u"-w/--warning"},     {{u"--warning", u""}, u"-w/--warning"},
        {{u"-w", u"20:10"}, u"-w/--warning"},   {{u"-c", u"1:2:3"}, u"-c/--critical"},
        {{u"--critical=@"}, u"-c/--critical"},  {{u"-c", u"~"}, u"-c/--critical"},
        {{u"-p", u"0"}, u"-p/--port"},          {{u"-p", u"32768"}, u"-p/--port"},
        {{u"--port", u"ssh"}, u"-p/--port"},    {{u"-p", u"22.5"}, u"-p/--port"},
        {{u"-l", u"a#b"}, u"-l/--login"},       {{u"--login", u" "}, u"-l/--login"},
        {{u"-w"}, u"-w needs a value"},         {{u"--bogus=1"}, u"--bogus"},
    };
    for (const auto& c : cases) {
        std::vector<std::u16string> args = {u"-H", u"h", u"--parameter", u"p"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto parsed = ParseCommandLine(args);
        EXPECT_FALSE(parsed.check.has_value()) << std::string(c.named.begin(), c.named.end());
        EXPECT_NE(parsed.error.find(c.named), std::u16string::npos)
            << std::string(parsed.error.begin(), parsed.error.end());
    }
    EXPECT_FALSE(ParseCommandLine({u"-V", u"-H", u"h"}).version && ParseCommandLine({u"-V", u"-H", u"h"}).error.empty());
    EXPECT_NE(ParseCommandLine({u"-p", u"22", u"--parameter", u"p"}).error.find(u"-H/--host"), std::u16string::npos);
}

TEST(RangeTest, ParsesTheThresholdSyntax) {
    using tavrin::tools::ParseRange;
    constexpr std::optional<double> open;
    const std::pair<std::u16string_view, std::optional<Range>> cases[] = {
        {u"10", Range{0.0, 10.0, false}},       {u"10:", Range{10.0, open, false}},
        {u"~:10", Range{open, 10.0, false}},    {u"10:20", Range{10.0, 20.0, false}},
        {u"@10:20", Range{10.0, 20.0, true}},   {u"@10", Range{0.0, 10.0, true}},
        {u":10", Range{0.0, 10.0, false}},      {u"~:", Range{open, open, false}},
        {u"-10:-5", Range{-10.0, -5.0, false}}, {u"1.5:2.25", Range{1.5, 2.25, false}},
        {u"5:5", Range{5.0, 5.0, false}},       {u"0", Range{0.0, 0.0, false}},
        {u"1e3", Range{0.0, 1000.0, false}},    {u"&H10", Range{0.0, 16.0, false}},
        {u"@~:0", Range{open, 0.0, true}},
        {u"", std::nullopt},      {u"@", std::nullopt},     {u"abc", std::nullopt},   {u"10:20:30", std::nullopt},
        {u"20:10", std::nullopt}, {u"-1", std::nullopt},    {u"~", std::nullopt},     {u"10:~", std::nullopt},
        {u"@@10", std::nullopt},  {u"10x", std::nullopt},   {u"1,5", std::nullopt},   {u"~10:20", std::nullopt},
        {u"10:2O", std::nullopt}, {u"1e", std::nullopt},
    };
    for (const auto& [text, want] : cases) {
        EXPECT_EQ(ParseRange(text), want) << std::string(text.begin(), text.end());
    }
}

TEST(RangeTest, AlertsOutsideOrInsideWithTheEndsIncluded) {
    using tavrin::tools::Alerts;
    using tavrin::tools::ParseRange;
    const struct {
        std::u16string_view range;
        std::vector<double> alert, quiet;
    } cases[] = {
        {u"10", {-1, -0.001, 10.001, 11}, {0, 5, 10}},
        {u"10:", {9.999, 0, -5}, {10, 11, 1e300}},
        {u"~:10", {10.5, 1e300}, {10, -1e300, 0}},
        {u"10:20", {9, 21, 0}, {10, 15, 20}},
        {u"@10:20", {10, 15, 20}, {9.999, 20.001, 0}},
        {u"@~:0", {0, -3}, {0.5}},
        {u"~:", {}, {-1e300, 0, 1e300}},
    };
    for (const auto& c : cases) {
        const auto range = ParseRange(c.range);
        ASSERT_TRUE(range.has_value());
        for (double v : c.alert) EXPECT_TRUE(Alerts(*range, v)) << std::string(c.range.begin(), c.range.end()) << " " << v;
        for (double v : c.quiet) EXPECT_FALSE(Alerts(*range, v)) << std::string(c.range.begin(), c.range.end()) << " " << v;
    }
}

TEST(RangeTest, OnlyOutputThatBeginsWithANumberHasOne) {
    using tavrin::tools::LeadingNumber;
    const std::pair<std::u16string_view, std::optional<double>> cases[] = {
        {u"42", 42.0},        {u"  42 kB\n", 42.0}, {u"\n\t-7", -7.0},  {u"0", 0.0},      {u"0 errors", 0.0},
        {u".5", 0.5},         {u"-.5x", -0.5},      {u"5.", 5.0},       {u"- 5", -5.0},    {u"12\n34\n", 1234.0},
        {u"1e-400", 0.0},     {u"&H1F", 31.0},      {u"& h 1 0", 16.0}, {u"&O17", 15.0},   {u"00", 0.0},
        {u"", std::nullopt},  {u"   ", std::nullopt}, {u"abc 42", std::nullopt}, {u".", std::nullopt},
        {u"+-5", std::nullopt}, {u"-", std::nullopt}, {u"&H", std::nullopt}, {u"&Hzz", std::nullopt},
        {u"&O8", std::nullopt}, {u"&X1", std::nullopt}, {u"&", std::nullopt}, {u"\r\n42", std::nullopt},
        {u"..5", std::nullopt}, {u"e5", std::nullopt}, {u"\u0661", std::nullopt},
    };
    for (const auto& [output, want] : cases) {
        EXPECT_EQ(LeadingNumber(output), want) << std::string(output.begin(), output.end());
        // Output without a number is the one case in which ReadNumber's 0 means nothing.
        EXPECT_EQ(tavrin::ReadNumber(output), want.value_or(0.0)) << std::string(output.begin(), output.end());
    }
}

TEST(RangeTest, PerfdataNumbersArePlainDecimals) {
    using tavrin::tools::PerfdataNumber;
    const std::pair<double, std::u16string_view> cases[] = {
        {42, u"42"}, {-7, u"-7"}, {0.5, u"0.5"}, {-0.0, u"0"}, {0, u"0"}, {1e16, u"10000000000000000"},
        {0.00001, u"0.00001"}, {1234.25, u"1234.25"}, {0.1 + 0.2, u"0.30000000000000004"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(PerfdataNumber(value), text) << value;
    const std::u16string largest = PerfdataNumber(std::numeric_limits<double>::max());
    EXPECT_EQ(largest.size(), 309u);
    EXPECT_EQ(largest.find_first_not_of(u"0123456789"), std::u16string::npos);
}

TEST(CheckOverridesTest, PortAndLoginReplaceTheStringsFieldsAndNothingElse) {
    using tavrin::parameters::Field;
    using tavrin::parameters::StoredValue;
    using tavrin::tools::WithOverrides;
    const struct {
        std::u16string_view parameter;
        std::optional<int> port;
        std::optional<std::u16string> login;
        std::u16string_view want;
    } cases[] = {
        {u"#USR=a#PWD=cA==#PORT=22#CMD=bHM=#", 2222, u"mon", u"#USR=mon#PWD=cA==#PORT=2222#CMD=bHM=#"},
        {u"#USR=a#PWD=cA==#PORT=22#", std::nullopt, std::nullopt, u"#USR=a#PWD=cA==#PORT=22#"},
        {u"#usr=a#port=#", 8022, std::nullopt, u"#usr=a#port=8022#"},           // keys as GetField finds them
        {u"#USR=a#PWD=cA==#", 2200, std::nullopt, u"#USR=a#PWD=cA==#PORT=2200#"},  // added when missing
        {u"#PWD=cA==#", std::nullopt, u"root", u"#PWD=cA==#USR=root#"},
        {u"", 23, u"u", u"#PORT=23#USR=u#"},
        // Only the field that the check reads changes; a later one of the same key stays hidden.
        {u"#USR=a#X=1#USR=b#", std::nullopt, u"c", u"#USR=c#X=1#USR=b#"},
    };
    for (const auto& c : cases) {
        CheckCommand command;
        command.port = c.port;
        command.login = c.login;
        const std::u16string out = WithOverrides(c.parameter, command);
        EXPECT_EQ(out, c.want) << std::string(c.parameter.begin(), c.parameter.end());
        if (c.port) {
            EXPECT_EQ(StoredValue(out, Field::Port), tavrin::NumberText(*c.port));
        }
        if (c.login) {
            EXPECT_EQ(StoredValue(out, Field::User), *c.login);
        }
    }
}

TEST(MonitoringResultTest, RangesDecideAnUpCheckAndPerfdataFollowsTheFirstLine) {
    using tavrin::tools::ForMonitoring;
    using tavrin::tools::ParseRange;
    const auto threshold = [](std::u16string_view text) {
        return std::optional<Threshold>(Threshold{std::u16string(text), *ParseRange(text)});
    };
    const struct {
        const char* name;
        std::optional<Threshold> warning, critical;
        bool perfdata;
        bool up;
        std::u16string_view result, output;
        int exit;
        std::u16string_view text;
    } cases[] = {
        {"no ranges: the string's rule", {}, {}, false, true, u"Output contains 42", u"42\n", 0, u"Output contains 42"},
        {"down stays down", {}, {}, false, false, u"Output doesn't contain x", u"42\n", 2, u"Output doesn't contain x"},
        {"could not run stays unknown", threshold(u"10"), {}, false, false, u"ERR: Overflow( 0)", u"", 3,
         u"ERR: Overflow( 0)"},
        {"down is not made better by ranges", threshold(u"100"), threshold(u"100"), false, false,
         u"Output is not less then 10 (42)", u"42", 2, u"Output is not less then 10 (42)"},
        {"inside both ranges: OK", threshold(u"50"), threshold(u"100"), false, true, u"42", u"42", 0, u"42"},
        {"warning", threshold(u"10"), threshold(u"100"), false, true, u"Output contains 4", u"42", 1,
         u"Output contains 4 (value 42 is outside the warning range 10)"},
        {"critical goes before warning", threshold(u"10"), threshold(u"20"), false, true, u"x", u"42", 2,
         u"x (value 42 is outside the critical range 20)"},
        {"critical alone", {}, threshold(u"@40:45"), false, true, u"x", u"42", 2,
         u"x (value 42 is inside the critical range @40:45)"},
        {"the ends are inside", threshold(u"42:42"), {}, false, true, u"x", u"42", 0, u"x"},
        {"no number: unknown", threshold(u"10"), {}, false, true, u"Output contains ok", u"ok 42", 3,
         u"Output contains ok (the output begins with no number to compare with the ranges)"},
        {"a leading zero is a number", threshold(u"1:"), {}, false, true, u"x", u"0 files", 1,
         u"x (value 0 is outside the warning range 1:)"},
        {"the reason ends the first line", threshold(u"10"), {}, false, true, u"Output contains 4(42\r\nmore\n)",
         u"42\r\nmore\n", 1, u"Output contains 4(42 (value 42 is outside the warning range 10)\r\nmore\n)"},
        {"perfdata with ranges", threshold(u"10"), threshold(u"@40:45"), true, true, u"x", u"42", 2,
         u"x (value 42 is inside the critical range @40:45) | time=1.234s;;;0 value=42;10;@40:45"},
        {"perfdata without ranges", {}, {}, true, true, u"Output contains a(-0.5\n)", u"-.5\n", 0,
         u"Output contains a(-0.5 | time=1.234s;;;0 value=-0.5;;\n)"},
        {"perfdata without a number", {}, {}, true, true, u"Output contains ok", u"ok", 0,
         u"Output contains ok | time=1.234s;;;0"},
        {"perfdata of a check that could not run", {}, {}, true, false, u"ERR: Overflow( 0)", u"", 3,
         u"ERR: Overflow( 0) | time=1.234s;;;0"},
    };
    for (const auto& c : cases) {
        CheckCommand command;
        command.warning = c.warning;
        command.critical = c.critical;
        command.perfdata = c.perfdata;
        const auto m = ForMonitoring(command, c.up, c.result, c.output, 1.2344);
        EXPECT_EQ(m.exitStatus, c.exit) << c.name;
        EXPECT_EQ(m.text, c.text) << c.name << ": " << tavrin::ToUtf8(m.text);
    }
    CheckCommand timed;
    timed.perfdata = true;
    EXPECT_EQ(ForMonitoring(timed, true, u"x", u"", 0.0005).text, u"x | time=0.001s;;;0");
    EXPECT_EQ(ForMonitoring(timed, true, u"x", u"", 61.25).text, u"x | time=61.250s;;;0");
}

}  // namespace
