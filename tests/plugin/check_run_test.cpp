#include "parameters/codec.h"
#include "common/base64.h"
#include "platform/debug_output.h"
#include "platform/message_queue.h"
#include "platform/secret_store.h"
#include "ssh/component.h"
#include "plugin/portable_object.h"
#include "ssh/records.h"
#include "tests/plugin/fake_component.h"

#include <gtest/gtest.h>

#include <random>

#include <algorithm>
#include <optional>
#include <chrono>
#include <ctime>
#include <thread>

namespace {

using tavrin::plugin::HostValue;
using tavrin::plugin::PortableObject;
using tavrin::testing::FakeEvent;
using tavrin::testing::FakeFactory;

// Captures the debug traces of the calling test.
class TraceCapture {
public:
    TraceCapture() {
        previous_ = tavrin::platform::SetDebugSink([this](std::u16string_view t) { lines.emplace_back(t); });
    }
    ~TraceCapture() { tavrin::platform::SetDebugSink(previous_); }
    std::vector<std::u16string> lines;

private:
    tavrin::platform::DebugSink previous_;
};

std::u16string Parameters(std::u16string_view user, std::u16string_view password, std::u16string_view command,
                          std::u16string_view rest = u"") {
    return u"#ENC=T#USR=" + std::u16string(user) + u"#PWD=" + modTavrin::EncodeText(password) +
           u"#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=" + modTavrin::EncodeText(command) + u"#" + std::u16string(rest);
}

std::vector<FakeEvent> Output(std::initializer_list<std::u16string> pieces) {
    std::vector<FakeEvent> events{{FakeEvent::kConnected, 0, u""}};
    for (const auto& p : pieces) events.push_back({FakeEvent::kReceived, 0, p});
    events.push_back({FakeEvent::kDisconnected, 0, u""});
    return events;
}

struct Result {
    bool up;
    std::u16string text;
};

Result RunCheck(FakeFactory& factory, HostValue parameter, HostValue timeout = std::int16_t{10},
           HostValue host = std::u16string(u"server")) {
    PortableObject object(factory);
    object.sa_hostname = std::move(host);
    object.sa_timeout = std::move(timeout);
    object.sa_parameter = std::move(parameter);
    const bool up = object.sa_docheck();
    return {up, std::get<std::u16string>(object.sa_result)};
}

TEST(CheckRunTest, ValidationRefusesBeforeConnecting) {
    struct Case {
        std::u16string parameter;
        std::u16string_view text;
    };
    const Case cases[] = {
        {u"", u"ERR: can't connect to an SSH server without a USERNAME"},
        {u"#PWD=c2VjcmV0#CMD=bHM=#", u"ERR: can't connect to an SSH server without a USERNAME"},
        {u"#USR=admin#CMD=bHM=#", u"ERR: can't connect to an SSH server without a PASSWORD"},
        {u"#USR=admin#PWD=#KEYF=#", u"ERR: can't connect to an SSH server without a PASSWORD"},
        {u"#USR=admin#PWD=YQ==#CMD=bHM=#JMP=bastion:22#",
         u"ERR: The bastion (JMP) \"bastion:22\" is not user@host or user@host:port: no user name before an "
         u"\"@\"( 0)"},
        {u"#USR=admin#PWD=YQ==#CMD=bHM=#JMP=op@bastion:0#",
         u"ERR: The bastion (JMP) \"op@bastion:0\" is not user@host or user@host:port: the port is not a number "
         u"from 1 to 65535( 0)"},
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        TraceCapture traces;
        const auto r = RunCheck(factory, c.parameter);
        EXPECT_FALSE(r.up);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(factory.record.sshCreated, 0);
        EXPECT_TRUE(traces.lines.empty());
    }
}

// The password kept outside the string: read from the store, in the order CRED, PWDE, PWD; a
// store that cannot be read ends the check before anything connects. Where the system has no
// such stores (not Windows), both fields are refused by name.
TEST(CheckRunTest, StoredPasswordsTakeThePlaceOfPwdOrEndTheCheck) {
    const bool windows = tavrin::platform::HasWindowsSecretStores();
    const std::u16string target = u"tavrin-check-run-test-" + tavrin::FromUtf8(std::to_string(std::random_device{}()));
    const std::u16string noUser = target + u"-no-user";
    // Elsewhere any value stands for a blob: it is refused before it is read.
    std::u16string machineBlob = u"AAAA", accountBlob = u"AAAA";
    if (windows) {
        ASSERT_EQ(tavrin::platform::WriteGenericCredential(target, u"stored-user", u"stored \u00e9 password"), u"");
        ASSERT_EQ(tavrin::platform::WriteGenericCredential(noUser, u"", u"no user's"), u"");
        for (auto [scope, slot] : {std::pair{tavrin::platform::DpapiScope::Machine, &machineBlob},
                                   std::pair{tavrin::platform::DpapiScope::Account, &accountBlob}}) {
            const auto made = tavrin::platform::ProtectPassword(scope == tavrin::platform::DpapiScope::Machine
                                                                     ? u"machine's"
                                                                     : u"account's",
                                                                 scope);
            ASSERT_TRUE(made.ok) << tavrin::ToUtf8(made.error);
            *slot = tavrin::FromUtf8(tavrin::EncodeBase64(made.blob));
        }
    }
    struct Case {
        const char* name;
        std::u16string rest;
        std::u16string user, password;     // what the component was given (Windows)
        std::u16string_view failure;       // part of the ERR text (Windows); empty: none
        std::u16string_view elsewhere;     // part of the ERR text elsewhere
    };
    const Case cases[] = {
        {"Credential", u"CRED=" + target + u"#", u"stored-user", u"stored \u00e9 password", u"", u"is a Windows store"},
        {"CredentialWithoutUser", u"CRED= " + noUser + u" #", u"a", u"no user's", u"", u"is a Windows store"},
        {"CredentialBeforeProtected", u"CRED=" + target + u"#PWDE=" + machineBlob + u"#", u"stored-user",
         u"stored \u00e9 password", u"", u"is a Windows store"},
        {"MissingCredential", u"CRED=" + target + u"-gone#", u"", u"", u"is not in the Windows Credential Manager",
         u"is a Windows store"},
        {"MachineKey", u"PWDE=" + machineBlob + u"#", u"a", u"machine's", u"", u"which is a Windows store"},
        {"AccountKey", u"PWDE=" + accountBlob + u"#", u"a", u"account's", u"", u"which is a Windows store"},
        {"NotABlob", u"PWDE=" + tavrin::FromUtf8(tavrin::EncodeBase64("not a DPAPI blob")) + u"#", u"", u"",
         u"(PWDE) cannot be decrypted here", u"which is a Windows store"},
        {"NotBase64", u"PWDE=*#", u"", u"", u"(PWDE) is not valid Base64", u"which is a Windows store"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeFactory factory;
        factory.script.events = Output({u"ok"});
        const auto r = RunCheck(factory, Parameters(u"a", u"string's", u"ls", c.rest));
        const std::u16string_view failure = windows ? c.failure : c.elsewhere;
        if (failure.empty()) {
            EXPECT_EQ(r.text, u"ok");
            EXPECT_EQ(factory.record.texts["user"], c.user);
            EXPECT_EQ(factory.record.texts["password"], c.password);
        } else {
            EXPECT_FALSE(r.up);
            EXPECT_EQ(r.text.rfind(u"ERR: ", 0), 0u) << tavrin::ToUtf8(r.text);
            EXPECT_NE(r.text.find(failure), std::u16string::npos) << tavrin::ToUtf8(r.text);
            EXPECT_EQ(factory.record.sshCreated, 0);  // nothing connected, nothing else taken
        }
    }
    if (windows) {
        EXPECT_EQ(tavrin::platform::DeleteGenericCredential(target), u"");
        EXPECT_EQ(tavrin::platform::DeleteGenericCredential(noUser), u"");
        // Deleted: the next check says so instead of taking PWD.
        FakeFactory factory;
        const auto r = RunCheck(factory, Parameters(u"a", u"string's", u"ls", u"CRED=" + target + u"#"));
        EXPECT_NE(r.text.find(u"is not in the Windows Credential Manager"), std::u16string::npos);
        EXPECT_EQ(factory.record.sshCreated, 0);
    }
}

TEST(CheckRunTest, FailuresOfTheRunItselfTakeTheErrorPath) {
    struct Case {
        const char* name;
        HostValue parameter;
        HostValue timeout;
        std::u16string_view text;
    };
    const Case cases[] = {
        {"port_too_large", u"#USR=a#PWD=cA==#PORT=40000#", std::int16_t{5}, u"ERR: Overflow( 0)"},
        {"port_too_small", u"#USR=a#PWD=cA==#PORT=-32769#", std::int16_t{5}, u"ERR: Overflow( 0)"},
        {"timeout_not_a_number", u"#USR=a#PWD=cA==#", std::u16string(u"soon"), u"ERR: Type mismatch( 0)"},
        {"timeout_too_large", u"#USR=a#PWD=cA==#", 70000.0, u"ERR: Overflow( 0)"},
        {"timeout_null", u"#USR=a#PWD=cA==#", tavrin::plugin::NullValue{}, u"ERR: Invalid use of Null( 0)"},
        {"parameter_null", tavrin::plugin::NullValue{}, std::int16_t{5}, u"ERR: Invalid use of Null( 0)"},
        {"command_not_base64", u"#USR=a#PWD=cA==#CMD=bHM=====#", std::int16_t{5},
         u"ERR: Invalid procedure call or argument( 0)"},
        {"password_not_base64", u"#USR=a#PWD==cA#", std::int16_t{5}, u"ERR: Invalid procedure call or argument( 0)"},
        {"reuse_not_seconds", u"#USR=a#PWD=cA==#REUSE=5m#", std::int16_t{5},
         u"ERR: The REUSE value \"5m\" is not a whole number of seconds from 0 to 86400( 0)"},
        {"exit_status_not_a_number", u"#USR=a#PWD=cA==#CCO=RC#CON=zero#", std::int16_t{5},
         u"ERR: The exit status \"zero\" is not a whole number( 0)"},
        {"pattern_not_valid", u"#USR=a#PWD=cA==#CCO=RE#CON=[a-#", std::int16_t{5},
         u"ERR: The pattern \"[a-\" is not valid: missing terminating ] for character class at offset 3( 0)"},
        {"negated_pattern_not_valid", u"#USR=a#PWD=cA==#CCO=NRE#CON=(?<n#", std::int16_t{5},
         u"ERR: The pattern \"(?<n\" is not valid: syntax error in subpattern name (missing terminator?) at offset "
         u"4( 0)"},
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        const auto r = RunCheck(factory, c.parameter, c.timeout);
        EXPECT_FALSE(r.up) << c.name;
        EXPECT_EQ(r.text, c.text) << c.name;
        EXPECT_EQ(factory.record.connects, 0) << c.name;
    }
}

// The exit status that the run reports decides the RC rule; patterns are matched against the
// whole output.
TEST(CheckRunTest, TheLaterRulesJudgeTheExitStatusAndPatterns) {
    const struct {
        const char* name;
        std::u16string_view rule;  // "#CCO=..#CON=..#RRE=..#"
        std::optional<int> exitStatus;
        bool up;
        std::u16string_view text;
    } cases[] = {
        {"status_zero", u"CCO=RC#CON=#RRE=NO#", 0, true, u"Exit status is 0"},
        {"status_other", u"CCO=RC#CON=0#RRE=YED#", 2, false, u"Exit status is 2, not 0(disk 91%\nfull\n)"},
        {"status_missing", u"CCO=RC#CON=0#RRE=NO#", std::nullopt, false,
         u"The command's exit status was not reported, not 0"},
        {"pattern_spans_pieces", u"CCO=RE#CON=91%\\nfull#RRE=NO#", 0, true, u"Output matches 91%\\nfull"},
        {"negated_pattern", u"CCO=NRE#CON=^disk#RRE=NO#", 0, false, u"Output matches ^disk"},
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        factory.script.events = Output({u"disk 9", u"1%\n", u"full\n"});
        factory.script.facts.exitStatus = c.exitStatus;
        const auto r = RunCheck(factory, Parameters(u"u", u"p", u"df", c.rule));
        EXPECT_EQ(r.up, c.up) << c.name;
        EXPECT_EQ(r.text, c.text) << c.name;
    }
}

TEST(CheckRunTest, ConfiguringFailureOfTheComponentIsAnErrorResult) {
    FakeFactory factory;
    factory.script.keyLoadFailure = u"the key file C:\\k does not exist";
    const auto r = RunCheck(factory, u"#USR=a#KEYF=C:\\k#CMD=bHM=#");
    EXPECT_FALSE(r.up);
    EXPECT_EQ(r.text, u"ERR: the key file C:\\k does not exist( 0)");
    EXPECT_EQ(factory.record.connects, 0);
}

TEST(CheckRunTest, PinnedKeysAndKeptConnectionsReachTheComponentOnlyWhenAskedFor) {
    struct Case {
        std::u16string_view rest;
        std::u16string pins;  // empty: not set
        int reuse;            // 0: not set
    };
    const Case cases[] = {
        {u"", u"", 0},
        {u"HFP=SHA256:x#reuse= 300 #", u"SHA256:x", 300},
        {u"REUSE=0#", u"", 0},
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        factory.script.events = Output({u"ok"});
        const auto r = RunCheck(factory, Parameters(u"a", u"p", u"ls", c.rest));
        EXPECT_EQ(r.text, u"ok");
        EXPECT_EQ(factory.record.texts.count("pins") ? factory.record.texts["pins"] : u"", c.pins);
        EXPECT_EQ(factory.record.numbers.count("reuse") ? factory.record.numbers["reuse"] : 0, c.reuse);
    }
}

TEST(CheckRunTest, ConnectionFailureIsTheResultUnprefixed) {
    // A key file that the run could not open is the check's own failure, however late it came;
    // any other failure of the connection is its text as it stands.
    struct Case {
        std::int16_t code;
        const char16_t* expected;
    };
    for (const Case c : {Case{-1, u"Connection refused by 127.0.0.1:1"}, Case{tavrin::ssh::kErrorConnectionLost,
                                                                              u"Connection refused by 127.0.0.1:1"},
                         Case{tavrin::ssh::kErrorKeyFile, u"ERR: Connection refused by 127.0.0.1:1( 0)"}}) {
        SCOPED_TRACE(c.code);
        FakeFactory factory;
        factory.script.events = {{FakeEvent::kConnected, c.code, u"Connection refused by 127.0.0.1:1"},
                                 {FakeEvent::kDisconnected, 0, u""}};
        TraceCapture traces;
        const auto r = RunCheck(factory, Parameters(u"a", u"p", u"ls"));
        EXPECT_FALSE(r.up);
        EXPECT_EQ(r.text, c.expected);
        EXPECT_EQ(traces.lines, std::vector<std::u16string>{u"Disconnected from SSH server"});
    }
}

TEST(CheckRunTest, ConnectThatFailsAtOnceEndsTheWait) {
    FakeFactory factory;
    factory.script.connectFailure = u"no route";
    const auto r = RunCheck(factory, Parameters(u"a", u"p", u"ls"));
    EXPECT_FALSE(r.up);
    EXPECT_EQ(r.text, u"no route");
}

TEST(CheckRunTest, JudgesTheCollectedOutputAndTracesIt) {
    FakeFactory factory;
    factory.script.events = Output({u"1", u"2\n3", u"4\n"});
    TraceCapture traces;
    const auto r = RunCheck(factory, Parameters(u"a", u"p", u"df -k", u"CCO=GT#CON=1000#RRE=YEA#"));
    EXPECT_TRUE(r.up);
    EXPECT_EQ(r.text, u"Output is greater then 1000 (1234)(12\n34\n)");
    const std::vector<std::u16string> expected = {u"Disconnected from SSH server", u"Received: 12\n34\n"};
    EXPECT_EQ(traces.lines, expected);
    EXPECT_EQ(factory.record.texts["command"], u"df -k");
    EXPECT_EQ(factory.record.texts["host"], u"server");
    EXPECT_EQ(factory.record.numbers["timeout"], 10);
}

TEST(CheckRunTest, NoOutputAndNoRuleIsUpWithEmptyText) {
    FakeFactory factory;
    factory.script.events = Output({});
    const auto r = RunCheck(factory, Parameters(u"a", u"p", u"true"));
    EXPECT_TRUE(r.up);
    EXPECT_EQ(r.text, u"");
}

TEST(CheckRunTest, EachCheckStartsWithEmptyOutput) {
    FakeFactory factory;
    factory.script.events = Output({u"first"});
    EXPECT_EQ(RunCheck(factory, Parameters(u"a", u"p", u"x")).text, u"first");
    factory.script.events = Output({u"second"});
    EXPECT_EQ(RunCheck(factory, Parameters(u"a", u"p", u"x")).text, u"second");
}

TEST(CheckRunTest, SecondCheckOnTheSameThreadWhileOneWaitsIsRefused) {
    FakeFactory inner;
    inner.script.events = Output({u"inner"});
    Result nested{true, u""};
    FakeFactory outer;
    outer.script.events = {{FakeEvent::kConnected, 0, u""},
                           {FakeEvent::kReceived, 0, u"out"},
                           {FakeEvent::kCall, 0, u"", [&] { nested = RunCheck(inner, Parameters(u"b", u"q", u"y")); }},
                           {FakeEvent::kReceived, 0, u"er"},
                           {FakeEvent::kDisconnected, 0, u""}};
    const auto r = RunCheck(outer, Parameters(u"a", u"p", u"x", u"CCO=CON#CON=outer#"));
    EXPECT_FALSE(nested.up);
    EXPECT_EQ(nested.text, u"ERR: a check is already running on this thread( 0)");
    EXPECT_EQ(inner.record.sshCreated, 0);
    EXPECT_TRUE(r.up);
    EXPECT_EQ(r.text, u"Output contains outer");
    // The thread is free again afterwards.
    EXPECT_EQ(RunCheck(inner, Parameters(u"b", u"q", u"y")).text, u"inner");
}

TEST(CheckRunTest, ChecksOnDifferentThreadsKeepTheirOwnRecords) {
    constexpr int kThreads = 4;
    std::vector<std::u16string> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &results] {
            const std::u16string marker = u"marker-" + std::u16string(1, static_cast<char16_t>(u'0' + t));
            for (int i = 0; i < 20; ++i) {
                FakeFactory factory;
                factory.script.events = Output({marker.substr(0, 3), marker.substr(3)});
                const auto r = RunCheck(factory, Parameters(u"u", u"p", marker));
                if (r.text != marker) {
                    results[t] = r.text;
                    return;
                }
            }
            results[t] = marker;
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(results[t], u"marker-" + std::u16string(1, static_cast<char16_t>(u'0' + t)));
    }
}


// Whatever ends a check, no SSH object outlives it, and the thread's records keep neither the
// password (its memory overwritten, not merely cleared) nor the output's memory.
void ExpectNothingLeft(const FakeFactory& factory, const char* name) {
    EXPECT_EQ(factory.record.sshAlive, 0) << name;
    const std::u16string& password = modTavrin::Settings().password;
    EXPECT_TRUE(std::all_of(password.data(), password.data() + password.capacity(), [](char16_t c) { return c == 0; }))
        << name;
    EXPECT_LT(modTavrin::Outcome().collectedOutput.capacity(), 16u) << name;
}

// std::clock is the process's processor time, except in the Windows C runtime, where it runs
// with the wall clock: there the test of the processor time is left to the Windows host tests.
bool ClockCountsProcessorTime() {
    static const bool counts = [] {
        const std::clock_t before = std::clock();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return static_cast<double>(std::clock() - before) / CLOCKS_PER_SEC < 0.05;
    }();
    return counts;
}

// A wait that the run's events do not end: each way out is DOWN with its own text, promptly,
// and without spinning a core.
TEST(CheckRunTest, AWaitThatTheRunDoesNotEndIsAbandoned) {
    const auto flood = [] {
        const auto queue = tavrin::platform::CurrentThreadQueue();
        for (std::size_t i = 0; i <= tavrin::platform::kMaxPendingTasks && queue.Post([] {}); ++i) {
        }
    };
    struct Case {
        const char* name;
        std::vector<FakeEvent> events;
        std::int16_t timeout;
        std::u16string_view text;
        // Seconds. The prompt cases' bound is far below their 20-second time-out, which is what
        // a wait that missed its way out would take, and far above a loaded machine's noise
        // (filling the queue alone takes most of a second under 32-bit Wine).
        double atLeast, below;
        std::optional<int> quit = {};
    };
    const Case cases[] = {
        {"no_event_ever_comes", {}, 1, u"The check did not end within 6 seconds; it was abandoned", 5.9, 8.0},
        {"host_quits",
         {{FakeEvent::kConnected, 0, u""}, {FakeEvent::kCall, 0, u"", [] { tavrin::platform::PostQuit(7); }}},
         20, u"The check was abandoned: the host asked this thread to quit", 0.0, 5.0, 7},
        {"an_event_cannot_be_delivered",
         {{FakeEvent::kConnected, 0, u""}, {FakeEvent::kCall, 0, u"", flood}, {FakeEvent::kDisconnected, 0, u""}},
         20, u"An event of the SSH connection could not be delivered to this thread; the check was abandoned", 0.0,
         5.0},
        {"output_cannot_be_held",
         {{FakeEvent::kConnected, 0, u""},
          {FakeEvent::kReceived, 0, u"first"},
          {FakeEvent::kUnreadable, 0, u""},
          {FakeEvent::kReceived, 0, u"after the hole"},
          {FakeEvent::kDisconnected, 0, u""}},
         20, u"The output could not be held in memory; the check was abandoned", 0.0, 5.0},
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        factory.script.events = c.events;
        TraceCapture traces;
        const auto started = std::chrono::steady_clock::now();
        const std::clock_t cpuStarted = std::clock();
        const auto r = RunCheck(factory, Parameters(u"a", u"secret", u"ls"), c.timeout);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double cpu = static_cast<double>(std::clock() - cpuStarted) / CLOCKS_PER_SEC;
        EXPECT_FALSE(r.up) << c.name;
        EXPECT_EQ(r.text, c.text) << c.name;
        EXPECT_GE(took, c.atLeast) << c.name;
        EXPECT_LT(took, c.below) << c.name;
        if (ClockCountsProcessorTime()) {
            EXPECT_LT(cpu, 0.5) << c.name << ": the wait spun";
        }
        EXPECT_TRUE(std::none_of(traces.lines.begin(), traces.lines.end(),
                                 [](const std::u16string& l) { return l.rfind(u"Received:", 0) == 0; }))
            << c.name;
        ExpectNothingLeft(factory, c.name);
        // The quit request is the host's again; nothing else is.
        const auto pumped = tavrin::platform::PumpPending();
        EXPECT_EQ(pumped.quit, c.quit.has_value()) << c.name;
        if (c.quit) {
            EXPECT_EQ(pumped.quitCode, *c.quit) << c.name;
        }
    }
    // The thread checks normally afterwards.
    FakeFactory factory;
    factory.script.events = Output({u"fine"});
    EXPECT_EQ(RunCheck(factory, Parameters(u"a", u"p", u"x")).text, u"fine");
}

// The trace carries the first 32,768 UTF-16 units (64 KiB) of the output and says how much it
// left out; the verdict still sees all of it.
TEST(CheckRunTest, TheTraceOfLongOutputIsCut) {
    const std::u16string high(1, static_cast<char16_t>(0xD83D)), low(1, static_cast<char16_t>(0xDE00));
    struct Case {
        const char* name;
        std::u16string output;
        std::size_t traced;
        std::u16string_view note;
    };
    const Case cases[] = {
        {"exactly_the_limit", std::u16string(32768, u'a'), 32768, u""},
        {"one_more", std::u16string(32768, u'a') + u"b", 32768,
         u"\n[the trace stops here: 1 more characters of output were not traced]"},
        {"pair_across_the_cut", std::u16string(32767, u'a') + high + low + u"c", 32767,
         u"\n[the trace stops here: 3 more characters of output were not traced]"},
        {"far_beyond", std::u16string(32000, u'a') + std::u16string(32000, u'b') + std::u16string(32000, u'c'), 32768,
         u"\n[the trace stops here: 63232 more characters of output were not traced]"},
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        std::vector<FakeEvent> events{{FakeEvent::kConnected, 0, u""}};
        for (std::size_t at = 0; at < c.output.size(); at += 32000) {
            events.push_back({FakeEvent::kReceived, 0, c.output.substr(at, 32000)});
        }
        events.push_back({FakeEvent::kDisconnected, 0, u""});
        factory.script.events = events;
        TraceCapture traces;
        const auto r = RunCheck(factory, Parameters(u"a", u"p", u"x", u"CCO=CON#CON=c#RRE=YEA#"));
        ASSERT_EQ(traces.lines.size(), 2u) << c.name;
        EXPECT_EQ(traces.lines[1], u"Received: " + c.output.substr(0, c.traced) + std::u16string(c.note)) << c.name;
        EXPECT_EQ(r.up, c.output.find(u'c') != std::u16string::npos) << c.name;
        EXPECT_NE(r.text.find(c.output), std::u16string::npos) << c.name << ": the verdict holds the whole output";
        ExpectNothingLeft(factory, c.name);
    }
}

TEST(CheckRunTest, ThePasswordIsOverwrittenAfterEveryCheck) {
    struct Case {
        const char* name;
        std::u16string parameter;
    };
    const Case cases[] = {
        {"checked", Parameters(u"a", u"a password long enough for the heap", u"x")},
        {"refused_without_user", u"#PWD=" + modTavrin::EncodeText(u"a password long enough for the heap") + u"#"},
        {"failed_later", u"#USR=a#PWD=" + modTavrin::EncodeText(u"a password long enough for the heap") +
                             u"#PORT=99999#"},
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        factory.script.events = Output({u"ok"});
        RunCheck(factory, c.parameter);
        ExpectNothingLeft(factory, c.name);
    }
}

}  // namespace
