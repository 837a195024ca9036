// Get_mount_list and the handlers over the scripted component (tests/plugin/fake_component.h): what is handed to the component,
// in which order, and what the handlers leave in the run outcome.

#include "ssh/remote_run.h"

#include "common/automation_error.h"
#include "platform/debug_output.h"
#include "ssh/records.h"
#include "tests/plugin/fake_component.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <optional>
#include <thread>
#include "platform/message_queue.h"
#include <string>
#include <vector>

namespace tavrin::ssh {
namespace {

using ::testing::ElementsAre;

using testing::FakeFactory;

modTavrin::ConnectionSettings Basic() {
    modTavrin::ConnectionSettings s;
    s.hostName = u"server";
    s.port = 0;
    s.protocol = u"A";
    s.userName = u"op";
    s.password = u"pw";
    s.command = u"df -h";
    s.timeout = 15;
    return s;
}

std::string Find(const std::vector<std::string>& calls, const std::string& name, int occurrence = 1) {
    for (const auto& c : calls) {
        if (c.rfind(name + "=", 0) == 0 && --occurrence == 0) return c.substr(name.size() + 1);
    }
    return "<none>";
}

class RemoteRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        modTavrin::Settings() = Basic();
        modTavrin::Outcome() = {};
    }
    FakeFactory factory;
};

TEST_F(RemoteRunTest, HandsTheSettingsOverInOrderAndConnects) {
    RemoteCommandRun run(factory);
    modTavrin::Outcome().completionFlag = -1;
    modTavrin::Outcome().errorText = u"old";
    run.Get_mount_list(u"");
    EXPECT_THAT(factory.record.calls,
                ElementsAre("CreateSsh=", "CreateKeys=", "Host=server", "Port=0", "User=op", "Password=pw",
                            "Command=df -h", "Protocol=4", "Port=22", "Timeout=15", "Connect="));
    EXPECT_EQ(modTavrin::Outcome().completionFlag, 0);
    EXPECT_EQ(modTavrin::Outcome().errorText, u"");
}

struct CodeCase {
    const char16_t* protocol;
    std::int16_t port;
    const char16_t* keyType;
    std::string protocolCode, finalPort, keyTypeCode;
};

class CodeTest : public RemoteRunTest, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(CodeTest, MapsTheCodes) {
    const CodeCase& c = GetParam();
    modTavrin::Settings().protocol = c.protocol;
    modTavrin::Settings().port = c.port;
    modTavrin::Settings().keyType = c.keyType;
    modTavrin::Settings().keyFile = u"/keys/id";
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    EXPECT_EQ(Find(factory.record.calls, "Protocol"), c.protocolCode);
    EXPECT_EQ(Find(factory.record.calls, "Port", 1), std::to_string(c.port));  // first: unchanged
    EXPECT_EQ(Find(factory.record.calls, "Port", 2), c.finalPort);
    EXPECT_EQ(Find(factory.record.calls, "KeyOfType"), c.keyTypeCode);
}

INSTANTIATE_TEST_SUITE_P(Table, CodeTest,
                         ::testing::Values(CodeCase{u"1", 0, u"RSA", "2", "22", "0"},
                                           CodeCase{u"2", 2222, u"DSA", "3", "2222", "1"},
                                           CodeCase{u"A", -5, u"dsa", "4", "-5", "0"},
                                           CodeCase{u"", 22, u"", "4", "22", "0"},
                                           CodeCase{u"a", 1, u"rsa", "4", "1", "0"},
                                           CodeCase{u" 2", 32767, u" DSA", "4", "32767", "0"}));

TEST_F(RemoteRunTest, KeyFileIsLoadedWithThePasswordAsPassPhraseAndHandedOver) {
    modTavrin::Settings().keyFile = u"/keys/id";
    modTavrin::Settings().keyType = u"DSA";
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    EXPECT_THAT(factory.record.calls,
                ElementsAre("CreateSsh=", "CreateKeys=", "Host=server", "Port=0", "User=op", "Password=pw",
                            "Load=/keys/id", "Auth=2", "KeyOfType=1", "Key=key-of-type-1", "Command=df -h",
                            "Protocol=4", "Port=22", "Timeout=15", "Certificate=/keys/id-cert.pub (beside the key)",
                            "Connect="));
    ASSERT_TRUE(factory.record.passPhrase.has_value());
    EXPECT_EQ(*factory.record.passPhrase, std::optional<std::u16string>(u"pw"));
}

// The bastion logs in with its own password or key file when the string gives one, else with
// the check's; a certificate is the one named, else the key file's "-cert.pub".
struct BastionCase {
    const char* name;
    const char16_t* keyFile;
    const char16_t* jumpPassword;
    const char16_t* jumpKeyFile;
    const char16_t* certificate;
    std::string bastion;      // what SetBastion was given
    std::string lastLoad;     // the last key file loaded ("<none>": none)
    std::string certificateCall;
};

class BastionSettingsTest : public RemoteRunTest, public ::testing::WithParamInterface<BastionCase> {};

TEST_P(BastionSettingsTest, GivesTheBastionItsCredentials) {
    const BastionCase& c = GetParam();
    auto& settings = modTavrin::Settings();
    settings.keyFile = c.keyFile;
    settings.jumpHost = u"jump";
    settings.jumpPort = 2200;
    settings.jumpUser = u"hop";
    settings.jumpPassword = c.jumpPassword;
    settings.jumpKeyFile = c.jumpKeyFile;
    settings.jumpHostKeyPins = u"SHA256:pin";
    settings.certificate = c.certificate;
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    EXPECT_EQ(Find(factory.record.calls, "Bastion"), c.bastion);
    EXPECT_EQ(Find(factory.record.calls, "Load", 2) != "<none>" ? Find(factory.record.calls, "Load", 2)
                                                                 : Find(factory.record.calls, "Load"),
              c.lastLoad);
    EXPECT_EQ(Find(factory.record.calls, "Certificate"), c.certificateCall);
    // The bastion's own key file opens with the bastion's pass phrase, not the check's.
    if (*c.jumpKeyFile != u'\0') {
        ASSERT_TRUE(factory.record.passPhrase.has_value());
        EXPECT_EQ(*factory.record.passPhrase, std::optional<std::u16string>(c.jumpPassword));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BastionSettingsTest,
    ::testing::Values(
        BastionCase{"CheckPassword", u"", u"", u"", u"", "hop@jump:2200 password=pw key= pins=SHA256:pin", "<none>",
                    "<none>"},
        BastionCase{"CheckKey", u"/keys/id", u"", u"", u"", "hop@jump:2200 password= key=key-of-type-0 pins=SHA256:pin",
                    "/keys/id", "/keys/id-cert.pub (beside the key)"},
        BastionCase{"OwnPassword", u"/keys/id", u"jpw", u"", u"/c/op-cert.pub",
                    "hop@jump:2200 password=jpw key= pins=SHA256:pin", "/keys/id", "/c/op-cert.pub (named)"},
        BastionCase{"OwnKeyFile", u"", u"phrase", u"/keys/jump", u"",
                    "hop@jump:2200 password= key=key-of-type-0 pins=SHA256:pin", "/keys/jump", "<none>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemoteRunTest, KeyFileWithoutPasswordIsLoadedWithoutPassPhrase) {
    modTavrin::Settings().keyFile = u"/keys/id";
    modTavrin::Settings().password = u"";
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    ASSERT_TRUE(factory.record.passPhrase.has_value());
    EXPECT_FALSE(factory.record.passPhrase->has_value());
    EXPECT_EQ(Find(factory.record.calls, "Password"), "");
}

TEST_F(RemoteRunTest, NoKeyFileMeansNoAuthenticationMethodAndNoKey) {
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    EXPECT_EQ(factory.record.keysCreated, 1);
    EXPECT_EQ(Find(factory.record.calls, "Auth"), "<none>");
    EXPECT_EQ(Find(factory.record.calls, "Key"), "<none>");
}

TEST_F(RemoteRunTest, KeyLoadFailureLeavesTheRunAndTouchesNeitherFlagNorErrorText) {
    modTavrin::Settings().keyFile = u"/keys/id";
    factory.script.keyLoadFailure = u"bad key";
    modTavrin::Outcome().completionFlag = -1;
    modTavrin::Outcome().errorText = u"before";
    RemoteCommandRun run(factory);
    try {
        run.Get_mount_list();
        ADD_FAILURE() << "no failure";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.description(), u"bad key");
    }
    EXPECT_EQ(Find(factory.record.calls, "Connect"), "<none>");
    EXPECT_EQ(modTavrin::Outcome().completionFlag, -1);
    EXPECT_EQ(modTavrin::Outcome().errorText, u"before");
}

TEST_F(RemoteRunTest, ConnectFailureBecomesTheErrorTextAndRaisesTheFlag) {
    factory.script.connectFailure = u"no route";
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    EXPECT_EQ(modTavrin::Outcome().completionFlag, -1);
    EXPECT_EQ(modTavrin::Outcome().errorText, u"no route");
}

TEST_F(RemoteRunTest, EveryRunReplacesBothObjects) {
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    run.Get_mount_list();
    EXPECT_EQ(factory.record.sshCreated, 2);
    EXPECT_EQ(factory.record.keysCreated, 2);
    EXPECT_EQ(factory.record.sshAlive, 1);
    run.ReleaseConnection();
    EXPECT_EQ(factory.record.sshAlive, 0);
    run.Received(3);  // an event that was already on its way reads nothing
    EXPECT_EQ(Find(factory.record.calls, "Read"), "<none>");
}

// A piece that cannot be held gives back what was collected and marks the outcome; later
// pieces are not read into a text with a hole.
TEST_F(RemoteRunTest, OutputThatCannotBeHeldIsGivenBackAndMarked) {
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    factory.script.readable = std::u16string(1000, u'x') + u"tail";
    run.Received(1000);
    factory.script.readFails = true;
    run.Received(2);
    EXPECT_TRUE(modTavrin::Outcome().outputLost);
    EXPECT_EQ(modTavrin::Outcome().collectedOutput.capacity(), std::u16string().capacity());
    factory.script.readFails = false;
    run.Received(4);
    EXPECT_EQ(modTavrin::Outcome().collectedOutput, u"");
    EXPECT_EQ(Find(factory.record.calls, "Read", 3), "<none>");
}

TEST_F(RemoteRunTest, HandlersFillTheOutcome) {
    std::vector<std::u16string> traces;
    auto previous = platform::SetDebugSink([&](std::u16string_view t) { traces.emplace_back(t); });
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    factory.script.readable = u"abcdef";
    run.Received(3);
    run.Received(3);
    EXPECT_EQ(modTavrin::Outcome().collectedOutput, u"abcdef");
    EXPECT_EQ(Find(factory.record.calls, "Read"), "3/8");

    run.Connected(0, u"ignored");
    EXPECT_EQ(modTavrin::Outcome().errorText, u"");
    run.Connected(-3, u"first");
    run.Connected(5, u"second");
    EXPECT_EQ(modTavrin::Outcome().errorText, u"second");
    EXPECT_EQ(modTavrin::Outcome().completionFlag, 0);  // Connected never ends the run

    bool accept = true;
    run.HostFingerprint(u"SHA256:x", accept);
    EXPECT_TRUE(accept);
    accept = false;
    run.CryptoInformation(u"p", u"r", u"s", u"c", u"k", accept);
    EXPECT_FALSE(accept);

    run.Disconnected();
    run.Disconnected();
    EXPECT_EQ(modTavrin::Outcome().completionFlag, -1);
    EXPECT_EQ(traces, (std::vector<std::u16string>{u"Disconnected from SSH server", u"Disconnected from SSH server"}));
    platform::SetDebugSink(std::move(previous));
}

}  // namespace
}  // namespace tavrin::ssh

namespace tavrin::ssh {
namespace {

// Each thread has its own records; threads that used them (and their message queue) end
// without harm to the ones that come after.
TEST(RunRecords, ArePerThreadAndOutliveNoThread) {
    modTavrin::Settings().hostName = u"main";
    for (int i = 0; i < 5; ++i) {
        std::u16string seen;
        std::thread worker([&] {
            seen = modTavrin::Settings().hostName;
            modTavrin::Settings().hostName = u"worker host name long enough to live on the heap";
            modTavrin::Outcome().collectedOutput.assign(1000, u'x');
            platform::CurrentThreadQueue();
        });
        worker.join();
        EXPECT_EQ(seen, u"");
    }
    EXPECT_EQ(modTavrin::Settings().hostName, u"main");
}

}  // namespace
}  // namespace tavrin::ssh
