#include "parameters/codec.h"
#include "platform/debug_output.h"
#include "plugin/portable_object.h"
#include "ssh/records.h"
#include "tests/plugin/fake_component.h"

#include <gtest/gtest.h>

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
    };
    for (const auto& c : cases) {
        FakeFactory factory;
        const auto r = RunCheck(factory, c.parameter, c.timeout);
        EXPECT_FALSE(r.up) << c.name;
        EXPECT_EQ(r.text, c.text) << c.name;
        EXPECT_EQ(factory.record.connects, 0) << c.name;
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

TEST(CheckRunTest, ConnectionFailureIsTheResultUnprefixed) {
    FakeFactory factory;
    factory.script.events = {{FakeEvent::kConnected, -1, u"Connection refused by 127.0.0.1:1"},
                             {FakeEvent::kDisconnected, 0, u""}};
    TraceCapture traces;
    const auto r = RunCheck(factory, Parameters(u"a", u"p", u"ls"));
    EXPECT_FALSE(r.up);
    EXPECT_EQ(r.text, u"Connection refused by 127.0.0.1:1");
    EXPECT_EQ(traces.lines, std::vector<std::u16string>{u"Disconnected from SSH server"});
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

}  // namespace
