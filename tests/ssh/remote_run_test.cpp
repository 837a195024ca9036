// Get_mount_list and the handlers over a recording component: what is handed to the component,
// in which order, and what the handlers leave in the run outcome.

#include "ssh/remote_run.h"

#include "common/automation_error.h"
#include "platform/debug_output.h"
#include "ssh/records.h"

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

struct Log {
    std::vector<std::string> calls;  // "Name=value" in call order
    std::optional<std::u16string> connectFailure;
    std::optional<std::u16string> loadFailure;
    std::optional<std::optional<std::u16string>> passPhrase;
    std::u16string pending;  // what Read hands out
    bool readFails = false;  // Read fails for want of memory
    int sshCreated = 0, keysCreated = 0, sshAlive = 0;
};

std::string Text(const std::u16string& t) { return std::string(t.begin(), t.end()); }

class RecordingSsh final : public SshObject {
public:
    explicit RecordingSsh(Log& log) : log_(log) { ++log_.sshAlive; }
    ~RecordingSsh() override { --log_.sshAlive; }
    void SetEventSink(SshEvents*) override {}
    void SetHostName(const std::u16string& v) override { Add("Host", Text(v)); }
    void SetPort(std::int32_t v) override { Add("Port", std::to_string(v)); }
    void SetUserName(const std::u16string& v) override { Add("User", Text(v)); }
    void SetPassword(const std::u16string& v) override { Add("Password", Text(v)); }
    void SetAuthenticationMethod(std::int32_t v) override { Add("Auth", std::to_string(v)); }
    void SetKey(const std::u16string& v) override { Add("Key", Text(v)); }
    void SetCommand(const std::u16string& v) override { Add("Command", Text(v)); }
    void SetProtocol(std::int32_t v) override { Add("Protocol", std::to_string(v)); }
    void SetTimeout(std::int16_t v) override { Add("Timeout", std::to_string(v)); }
    void SetHostKeyPins(const std::u16string& v) override { Add("Pins", Text(v)); }
    void SetReuse(std::int32_t v) override { Add("Reuse", std::to_string(v)); }
    void Connect() override {
        Add("Connect", "");
        if (log_.connectFailure) throw errors::ComponentFailure(*log_.connectFailure);
    }
    std::u16string Read(std::int16_t count, std::int32_t kind) override {
        Add("Read", std::to_string(count) + "/" + std::to_string(kind));
        if (log_.readFails) throw std::bad_alloc();
        std::u16string piece = log_.pending.substr(0, static_cast<std::size_t>(count));
        log_.pending.erase(0, piece.size());
        return piece;
    }

private:
    void Add(const std::string& name, const std::string& value) { log_.calls.push_back(name + "=" + value); }
    Log& log_;
};

class RecordingKeys final : public KeyObject {
public:
    explicit RecordingKeys(Log& log) : log_(log) {}
    void LoadKeyFile(const std::u16string& path, const std::optional<std::u16string>& passPhrase) override {
        log_.calls.push_back("Load=" + Text(path));
        log_.passPhrase = passPhrase;
        if (log_.loadFailure) throw errors::ComponentFailure(*log_.loadFailure);
    }
    std::u16string KeyOfType(std::int32_t code) override {
        log_.calls.push_back("KeyOfType=" + std::to_string(code));
        return u"key-text-" + std::u16string(1, static_cast<char16_t>(u'0' + code));
    }

private:
    Log& log_;
};

class RecordingFactory final : public ComponentFactory {
public:
    Log log;
    std::unique_ptr<SshObject> CreateSsh() override {
        ++log.sshCreated;
        log.calls.push_back("CreateSsh=");
        return std::make_unique<RecordingSsh>(log);
    }
    std::unique_ptr<KeyObject> CreateKeys() override {
        ++log.keysCreated;
        log.calls.push_back("CreateKeys=");
        return std::make_unique<RecordingKeys>(log);
    }
};

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
    RecordingFactory factory;
};

TEST_F(RemoteRunTest, HandsTheSettingsOverInOrderAndConnects) {
    RemoteCommandRun run(factory);
    modTavrin::Outcome().completionFlag = -1;
    modTavrin::Outcome().errorText = u"old";
    run.Get_mount_list(u"");
    EXPECT_THAT(factory.log.calls,
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
    EXPECT_EQ(Find(factory.log.calls, "Protocol"), c.protocolCode);
    EXPECT_EQ(Find(factory.log.calls, "Port", 1), std::to_string(c.port));  // first: unchanged
    EXPECT_EQ(Find(factory.log.calls, "Port", 2), c.finalPort);
    EXPECT_EQ(Find(factory.log.calls, "KeyOfType"), c.keyTypeCode);
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
    EXPECT_THAT(factory.log.calls,
                ElementsAre("CreateSsh=", "CreateKeys=", "Host=server", "Port=0", "User=op", "Password=pw",
                            "Load=/keys/id", "Auth=2", "KeyOfType=1", "Key=key-text-1", "Command=df -h",
                            "Protocol=4", "Port=22", "Timeout=15", "Connect="));
    ASSERT_TRUE(factory.log.passPhrase.has_value());
    EXPECT_EQ(*factory.log.passPhrase, std::optional<std::u16string>(u"pw"));
}

TEST_F(RemoteRunTest, KeyFileWithoutPasswordIsLoadedWithoutPassPhrase) {
    modTavrin::Settings().keyFile = u"/keys/id";
    modTavrin::Settings().password = u"";
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    ASSERT_TRUE(factory.log.passPhrase.has_value());
    EXPECT_FALSE(factory.log.passPhrase->has_value());
    EXPECT_EQ(Find(factory.log.calls, "Password"), "");
}

TEST_F(RemoteRunTest, NoKeyFileMeansNoAuthenticationMethodAndNoKey) {
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    EXPECT_EQ(factory.log.keysCreated, 1);
    EXPECT_EQ(Find(factory.log.calls, "Auth"), "<none>");
    EXPECT_EQ(Find(factory.log.calls, "Key"), "<none>");
}

TEST_F(RemoteRunTest, KeyLoadFailureLeavesTheRunAndTouchesNeitherFlagNorErrorText) {
    modTavrin::Settings().keyFile = u"/keys/id";
    factory.log.loadFailure = u"bad key";
    modTavrin::Outcome().completionFlag = -1;
    modTavrin::Outcome().errorText = u"before";
    RemoteCommandRun run(factory);
    try {
        run.Get_mount_list();
        ADD_FAILURE() << "no failure";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.description(), u"bad key");
    }
    EXPECT_EQ(Find(factory.log.calls, "Connect"), "<none>");
    EXPECT_EQ(modTavrin::Outcome().completionFlag, -1);
    EXPECT_EQ(modTavrin::Outcome().errorText, u"before");
}

TEST_F(RemoteRunTest, ConnectFailureBecomesTheErrorTextAndRaisesTheFlag) {
    factory.log.connectFailure = u"no route";
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    EXPECT_EQ(modTavrin::Outcome().completionFlag, -1);
    EXPECT_EQ(modTavrin::Outcome().errorText, u"no route");
}

TEST_F(RemoteRunTest, EveryRunReplacesBothObjects) {
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    run.Get_mount_list();
    EXPECT_EQ(factory.log.sshCreated, 2);
    EXPECT_EQ(factory.log.keysCreated, 2);
    EXPECT_EQ(factory.log.sshAlive, 1);
    run.ReleaseConnection();
    EXPECT_EQ(factory.log.sshAlive, 0);
    run.Received(3);  // an event that was already on its way reads nothing
    EXPECT_EQ(Find(factory.log.calls, "Read"), "<none>");
}

// A piece that cannot be held gives back what was collected and marks the outcome; later
// pieces are not read into a text with a hole.
TEST_F(RemoteRunTest, OutputThatCannotBeHeldIsGivenBackAndMarked) {
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    factory.log.pending = std::u16string(1000, u'x') + u"tail";
    run.Received(1000);
    factory.log.readFails = true;
    run.Received(2);
    EXPECT_TRUE(modTavrin::Outcome().outputLost);
    EXPECT_EQ(modTavrin::Outcome().collectedOutput.capacity(), std::u16string().capacity());
    factory.log.readFails = false;
    run.Received(4);
    EXPECT_EQ(modTavrin::Outcome().collectedOutput, u"");
    EXPECT_EQ(Find(factory.log.calls, "Read", 3), "<none>");
}

TEST_F(RemoteRunTest, HandlersFillTheOutcome) {
    std::vector<std::u16string> traces;
    auto previous = platform::SetDebugSink([&](std::u16string_view t) { traces.emplace_back(t); });
    RemoteCommandRun run(factory);
    run.Get_mount_list();
    factory.log.pending = u"abcdef";
    run.Received(3);
    run.Received(3);
    EXPECT_EQ(modTavrin::Outcome().collectedOutput, u"abcdef");
    EXPECT_EQ(Find(factory.log.calls, "Read"), "3/8");

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
    std::string grown(100000, 'y');  // the heap still serves
    EXPECT_EQ(grown.size(), 100000u);
}

}  // namespace
}  // namespace tavrin::ssh
