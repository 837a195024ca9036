#include "common/base64.h"
#include "common/text.h"
#include "dialog/parameter_editing.h"
#include "parameters/fields.h"
#include "platform/secret_store.h"
#include "ssh/known_hosts.h"
#include "tools/operator_tools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

using tavrin::tools::Compose;
using tavrin::tools::ComposeRequest;
using tavrin::tools::Describe;

constexpr std::u16string_view kPinA = u"SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
constexpr std::u16string_view kPinB = u"SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s";

TEST(ComposeTest, WritesWhatTheDialogWrites) {
    ComposeRequest r;
    r.user = u"U";
    r.command = u"df -k";
    r.value = u"V";
    r.protocol = u"1";
    EXPECT_EQ(Compose(r).parameter,
              std::optional<std::u16string>(u"#ENC=T#USR=U#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#"));

    ComposeRequest full;
    full.user = u" admin ";
    full.password = u"secret";
    full.protocol = u"2";
    full.port = u" 022 ";
    full.keyFile = u"  /keys/id  ";
    full.keyType = u"DSA";
    full.command = u"uptime";
    full.comparison = u"greater";
    full.value = u" 5";
    full.returnData = u"always";
    EXPECT_EQ(Compose(full).parameter,
              std::optional<std::u16string>(
                  u"#ENC=T#USR= admin #PWD=c2VjcmV0#PROTO=2#PORT=22#KEYF=/keys/id#KEYT=DSA#CMD=dXB0aW1l#CCO=GT#CON= 5#RRE=YEA#"));
}

TEST(ComposeTest, ReadsBackAsTheSameSettings) {
    ComposeRequest r;
    r.user = u"ops";
    r.password = u"p=ss w#rd";  // stored as Base64, so a "#" is fine here
    r.command = u"ps -ef | grep '[s]shd'";
    r.comparison = u"not-contains";
    r.value = u"defunct";
    r.returnData = u"when-down";
    const auto composed = Compose(r);
    ASSERT_TRUE(composed.parameter) << std::string(composed.error.begin(), composed.error.end());
    const auto fields = tavrin::dialog::FieldsFromParameterString(*composed.parameter);
    EXPECT_EQ(fields.userName, r.user);
    EXPECT_EQ(fields.password, r.password);
    EXPECT_EQ(fields.command, r.command);
    EXPECT_EQ(fields.comparisonIndex, 1);
    EXPECT_EQ(fields.comparisonValue, r.value);
    EXPECT_EQ(fields.returnModeIndex, 1);
    EXPECT_EQ(fields.protocolIndex, 2);
    EXPECT_EQ(fields.port, u"22");
}

TEST(ComposeTest, WritesTheLaterRulesAndSaysHowAPatternHoldsAHash) {
    const struct {
        const char16_t* option;
        const char16_t* code;
    } rules[] = {{u"exit-status", u"RC"}, {u"matches", u"RE"}, {u"not-matches", u"NRE"}};
    for (const auto& rule : rules) {
        ComposeRequest r;
        r.user = u"u";
        r.comparison = rule.option;
        r.value = u"^ok\\x23$";
        const auto composed = Compose(r);
        ASSERT_TRUE(composed.parameter);
        EXPECT_NE(composed.parameter->find(u"#CCO=" + std::u16string(rule.code) + u"#CON=^ok\\x23$#"), std::u16string::npos);
        r.value = u"^ok#$";
        const std::u16string error = Compose(r).error;
        EXPECT_EQ(error.find(u"\\x23") != std::u16string::npos, std::u16string(rule.code) != u"RC")
            << std::string(error.begin(), error.end());
    }
}

TEST(ComposeTest, RefusesWhatWouldNotReadBack) {
    const auto refused = [](auto change) {
        ComposeRequest r;
        r.user = u"u";
        r.command = u"c";
        change(r);
        const auto result = Compose(r);
        EXPECT_FALSE(result.parameter.has_value());
        EXPECT_FALSE(result.error.empty());
    };
    refused([](ComposeRequest& r) { r.user = u"a#b"; });
    refused([](ComposeRequest& r) { r.keyFile = u"C:\\#keys"; });
    refused([](ComposeRequest& r) { r.value = u"#"; });
    refused([](ComposeRequest& r) { r.port = u"65536"; });
    refused([](ComposeRequest& r) { r.port = u""; });
    refused([](ComposeRequest& r) { r.port = u"22.5"; });
    refused([](ComposeRequest& r) { r.protocol = u"a"; });
    refused([](ComposeRequest& r) { r.keyType = u"ECDSA"; });
    refused([](ComposeRequest& r) { r.comparison = u"equals"; });
    refused([](ComposeRequest& r) { r.returnData = u"sometimes"; });
    refused([](ComposeRequest& r) { r.password = u"\u4E2D"; });
    refused([](ComposeRequest& r) { r.hostKeys = {u"MD5:16:27:ac"}; });
    refused([](ComposeRequest& r) { r.hostKeys = {std::u16string(kPinA), u""}; });
    refused([](ComposeRequest& r) { r.hostKeys = {std::u16string(kPinA.substr(0, 20))}; });
    refused([](ComposeRequest& r) { r.reuse = u"-1"; });
    refused([](ComposeRequest& r) { r.reuse = u"1.5"; });
    refused([](ComposeRequest& r) { r.reuse = u"86401"; });
    refused([](ComposeRequest& r) { r.jump = u"bastion.example"; });
    refused([](ComposeRequest& r) { r.jump = u"op@bastion:99999"; });
    refused([](ComposeRequest& r) { r.jump = u"op@b#x"; });
    refused([](ComposeRequest& r) { r.jumpHostKeys = {std::u16string(kPinA)}; });  // no --jump
    refused([](ComposeRequest& r) {
        r.jump = u"op@bastion";
        r.jumpHostKeys = {u"SHA256:short"};
    });
    refused([](ComposeRequest& r) { r.certificate = u"C:\\#id-cert.pub"; });
}

TEST(ComposeTest, TheBastionAndTheCertificateFollowTheFieldsOkWrites) {
    ComposeRequest r;
    r.user = u"U";
    r.command = u"df -k";
    r.value = u"V";
    const std::u16string layout = u"#ENC=T#USR=U#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#";
    r.jump = u" op@[2001:db8::1]:2222 ";
    r.jumpPassword = u"hop";
    r.jumpKeyFile = u"/keys/hop";
    r.jumpHostKeys = {std::u16string(kPinB)};
    r.certificate = u"/keys/id-cert.pub";
    r.reuse = u"60";
    EXPECT_EQ(Compose(r).parameter,
              std::optional<std::u16string>(layout + u"REUSE=60#JMP=op@[2001:db8::1]:2222#JPW=aG9w#JKF=/keys/hop#JFP=" +
                                            std::u16string(kPinB) + u"#CERT=/keys/id-cert.pub#"));
    const auto fields = tavrin::dialog::FieldsFromParameterString(*Compose(r).parameter);
    EXPECT_EQ(fields.jump, u"op@[2001:db8::1]:2222");
    EXPECT_EQ(fields.jumpPassword, u"hop");
    // What the check makes of it.
    const tavrin::parameters::JumpParse jump = tavrin::parameters::ParseJump(fields.jump);
    ASSERT_TRUE(jump.jump);
    EXPECT_EQ(*jump.jump, (tavrin::parameters::JumpHost{u"op", u"2001:db8::1", 2222}));
}

TEST(ComposeTest, HostKeysFollowTheDialogsFieldsAsHfp) {
    ComposeRequest r;
    r.user = u"U";
    r.command = u"df -k";
    r.value = u"V";
    const std::u16string layout = u"#ENC=T#USR=U#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#";
    EXPECT_EQ(Compose(r).parameter, std::optional<std::u16string>(layout));
    r.hostKeys = {std::u16string(kPinA)};
    EXPECT_EQ(Compose(r).parameter, std::optional<std::u16string>(layout + u"HFP=" + std::u16string(kPinA) + u"#"));
    // Repeated, or several in one, with blanks and the padding some tools print.
    r.hostKeys = {std::u16string(kPinA) + u"=", u" " + std::u16string(kPinB) + u" ," + std::u16string(kPinA)};
    const auto several = Compose(r);
    ASSERT_TRUE(several.parameter);
    EXPECT_EQ(tavrin::parameters::StoredValue(*several.parameter, tavrin::parameters::Field::HostKeys),
              std::u16string(kPinA) + u"," + std::u16string(kPinB) + u"," + std::u16string(kPinA));
    // The kept-connection time after them.
    r.hostKeys = {std::u16string(kPinA)};
    r.reuse = u" 300 ";
    EXPECT_EQ(Compose(r).parameter,
              std::optional<std::u16string>(layout + u"HFP=" + std::u16string(kPinA) + u"#REUSE=300#"));
}

bool HasLine(const std::vector<std::u16string>& lines, std::u16string_view part) {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(part) != std::u16string::npos; });
}

TEST(DescribeTest, ShowsFieldsDecodedAndNothingOfThePassword) {
    const std::u16string p = u"#ENC=T#USR=admin#PWD=c2VjcmV0#PROTO=A#PORT=2222#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=/#RRE=NO#";
    const auto hidden = Describe(p, false);
    EXPECT_FALSE(HasLine(hidden, u"secret"));
    EXPECT_FALSE(HasLine(hidden, u"c2VjcmV0"));
    EXPECT_FALSE(HasLine(hidden, u"******"));  // nor its length
    // Nor its length: the PWD line of a longer password is the same.
    const auto longer = Describe(u"#ENC=T#USR=admin#PWD=" + tavrin::parameters::StoredForm(tavrin::parameters::Field::Password,
                                                                                           u"a much longer secret") +
                                     u"#PROTO=A#PORT=2222#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=/#RRE=NO#",
                                 false);
    EXPECT_EQ(longer, hidden);
    EXPECT_TRUE(HasLine(hidden, u"--show-password"));
    EXPECT_TRUE(HasLine(hidden, u"df -k"));
    EXPECT_TRUE(HasLine(hidden, u"TCP port 2222"));
    EXPECT_TRUE(HasLine(hidden, u"none pinned"));
    EXPECT_FALSE(HasLine(hidden, u"warning:"));
    const auto shown = Describe(p, true);
    EXPECT_TRUE(HasLine(shown, u"secret"));
    EXPECT_TRUE(HasLine(shown, u"c2VjcmV0"));

    // A password that does not decode, in any letter case of its key, and one that a later
    // field of the same key repeats: still nothing of it.
    for (const std::u16string_view q : {u"#USR=u#PWD==c2VjcmV0#", u"#USR=u#pwd=c2VjcmV0#PWD=c2VjcmV0#"}) {
        const auto lines = Describe(q, false);
        EXPECT_FALSE(HasLine(lines, u"c2VjcmV0")) << std::string(q.begin(), q.end());
        EXPECT_FALSE(HasLine(lines, u"secret"));
    }
}

TEST(DescribeTest, ShowsAndChecksPinnedHostKeys) {
    const std::u16string base = u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=x#RRE=NO#";
    const auto two = Describe(base + u"HFP=" + std::u16string(kPinA) + u"," + std::u16string(kPinB) + u"#", false);
    EXPECT_TRUE(HasLine(two, u"(2 keys)"));
    EXPECT_TRUE(HasLine(two, kPinB));
    EXPECT_FALSE(HasLine(two, u"warning:"));
    EXPECT_FALSE(HasLine(two, u"unknown field"));
    const auto bad = Describe(base + u"hfp=MD5:aa:bb#", false);
    EXPECT_TRUE(HasLine(bad, u"warning: HFP: "));
    EXPECT_TRUE(HasLine(bad, u"MD5"));
}

// Without pinned keys, the known_hosts files the check reads, in its order, each as it is here.
TEST(DescribeTest, NamesTheKnownHostsFilesUnlessKeysArePinned) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("tavrin-describe-" + std::to_string(std::random_device()()));
    fs::create_directories(folder / "ssh_known_hosts");  // a folder where a file should be: unreadable
    std::ofstream(folder / "known_hosts", std::ios::binary) << "server.example ssh-ed25519 AAAA\n";
    const std::vector<std::u16string> files = {(folder / "known_hosts").u16string(),
                                               (folder / "known_hosts2").u16string(),
                                               (folder / "ssh_known_hosts").u16string()};
    const std::u16string_view states[] = {u": exists", u": does not exist", u": exists but cannot be read ("};

    const struct {
        std::u16string_view hostKeys;  // the HFP part of the string
        bool listed;
    } cases[] = {
        {u"", true},
        {u"HFP=#", true},
        {u"HFP=  #", true},
        {u"HFP=SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU#", false},
        // Malformed: the check fails before connecting.
        {u"HFP=MD5:aa:bb#", false},
        {u"HFP= , #", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(tavrin::ToUtf8(c.hostKeys));
        const auto lines = Describe(u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=x#" + std::u16string(c.hostKeys), false, files);
        const auto hfp = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.starts_with(u"HFP "); });
        ASSERT_NE(hfp, lines.end());
        EXPECT_EQ(HasLine(lines, u"known_hosts on this machine"), c.listed);
        EXPECT_EQ(HasLine(lines, u"warning: the known_hosts file " + files[2] + u" cannot be read"), c.listed);
        if (!c.listed) continue;
        // Right after the HFP line, in the check's order.
        ASSERT_GE(lines.end() - hfp, 4);
        for (std::size_t i = 0; i < files.size(); ++i) {
            const std::u16string& l = hfp[static_cast<std::ptrdiff_t>(i) + 1];
            EXPECT_NE(l.find(files[i] + std::u16string(states[i])), std::u16string::npos) << tavrin::ToUtf8(l);
        }
    }

    // By default, the files the check itself reads.
    const auto defaults = Describe(u"#USR=u#PWD=cA==#", false);
    for (const std::u16string& file : tavrin::ssh::DefaultKnownHostsFiles()) {
        EXPECT_TRUE(HasLine(defaults, u"known_hosts on this machine: " + file + u": ")) << tavrin::ToUtf8(file);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

TEST(DescribeTest, WarnsOfWhatTheCheckWillRefuse) {
    struct Case {
        std::u16string_view parameter;
        std::u16string_view warning;
    };
    const Case cases[] = {
        {u"#USR=#PWD=cA==#CMD=eA==#CCO=CON#CON=x#", u"without a USERNAME"},
        {u"#USR=u#PWD=#KEYF=#CMD=eA==#CCO=CON#CON=x#", u"without a PASSWORD"},
        {u"#USR=u#PWD=cA==#PORT=40000#CMD=eA==#CCO=CON#CON=x#", u"ERR: Overflow( 0)"},
        {u"#USR=u#PWD=cA==#PORT=-5#CMD=eA==#CCO=CON#CON=x#", u"is not a TCP port"},
        {u"#USR=u#PWD==cA=#CMD=eA==#CCO=CON#CON=x#", u"PWD is not valid Base64"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=a#b#RRE=NO#", u"\"b\" after the value of CON"},
        {u"#USR=u#PWD=cA==#PROTO=1#CMD=eA==#CCO=CON#CON=x#", u"SSH protocol 1"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=GT#CON=ten#", u"is not a number"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=#", u"every check is UP"},
        {u"#USR=u#PWD=cA==#CMD=eA==#CCO=CON#CON=x#USR=v#", u"USR appears again"},
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(HasLine(Describe(c.parameter, false), c.warning)) << std::string(c.warning.begin(), c.warning.end());
    }
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#ZZZ=1#", false), u"unknown field"));
    EXPECT_TRUE(HasLine(Describe(u"USR=u#PWD=cA==#", false), u"does not begin with"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==##", false), u"\"\" after the value of PWD"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#KEYT=ECDSA#", false), u"unknown code, read as RSA"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==#REUSE=5m#", false), u"REUSE \"5m\" is not a whole number"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==#REUSE=300#", false), u"(300 s)"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==#REUSE=0#", false), u"a fresh login per check"));
    // A key file is looked at where describe runs.
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#KEYF=/nonexistent/tavrin/key#", false), u"on this machine: "));
}

TEST(DescribeTest, ShowsTheBastionAndNothingOfItsPassword) {
    const std::u16string bastion = u"#USR=u#PWD=cA==#CMD=bHM=#JMP=hop@bastion.example#JPW=c2VjcmV0#JFP=" +
                                   std::u16string(kPinA) + u"#";
    const auto lines = Describe(bastion, false, {});
    EXPECT_TRUE(HasLine(lines, u"user hop, host bastion.example, port 22"));
    EXPECT_TRUE(HasLine(lines, u"JPW   = (hidden)"));
    EXPECT_FALSE(HasLine(lines, u"c2VjcmV0"));
    EXPECT_FALSE(HasLine(lines, u"secret"));
    EXPECT_TRUE(HasLine(lines, u"pinned host keys of the bastion"));
    EXPECT_TRUE(HasLine(Describe(bastion, true, {}), u"secret"));
    // Malformed ones are warned of; bastion fields without a bastion are unused.
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==#JMP=nobody#", false, {}), u"warning: The bastion (JMP)"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==#JMP=a@b#JFP=SHA256:x#", false, {}), u"warning: JFP:"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==#JPW=c2VjcmV0#", false, {}), u"unused: no bastion (JMP)"));
    EXPECT_TRUE(HasLine(Describe(u"#USR=u#PWD=cA==#JMP=a@b#", false, {}), u"uses the check's own password or key"));
}

TEST(PinTest, PortAndPinnedString) {
    using tavrin::tools::PinPort;
    using tavrin::tools::WithHostKeyPin;
    EXPECT_EQ(PinPort(2022, u"#PORT=2222#"), 2022);
    EXPECT_EQ(PinPort(std::nullopt, u"#PORT=2222#"), 2222);
    EXPECT_EQ(PinPort(std::nullopt, std::nullopt), 22);
    for (const std::u16string_view none : {u"#USR=u#", u"#PORT=0#", u"#PORT=-5#", u"#PORT=70000#"}) {
        EXPECT_EQ(PinPort(std::nullopt, none), 22) << std::string(none.begin(), none.end());
    }

    const std::u16string pin(kPinB);
    EXPECT_EQ(WithHostKeyPin(u"#USR=u#HFP=" + std::u16string(kPinA) + u"#X=1#", pin), u"#USR=u#HFP=" + pin + u"#X=1#");
    EXPECT_EQ(WithHostKeyPin(u"#USR=u#X=1#", pin), u"#USR=u#X=1#HFP=" + pin + u"#");
    EXPECT_EQ(tavrin::tools::WithBastionHostKeyPin(u"#USR=u#HFP=" + pin + u"#JFP=x#", std::u16string(kPinA)),
              u"#USR=u#HFP=" + pin + u"#JFP=" + std::u16string(kPinA) + u"#");
}

}  // namespace

namespace {

using Store = ComposeRequest::PasswordStore;

ComposeRequest StoreRequest(Store store, std::u16string password, std::u16string credential = {}) {
    ComposeRequest r;
    r.user = u"u";
    r.command = u"c";
    r.value = u"v";
    r.password = std::move(password);
    r.passwordStore = store;
    r.credential = std::move(credential);
    return r;
}

bool HasWarning(const std::vector<std::u16string>& lines, std::u16string_view text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::u16string& l) {
        return l.starts_with(u"warning: ") && l.find(text) != std::u16string::npos;
    });
}

TEST(ComposeTest, PasswordStoresWriteWhatTheDialogWritesOrAreRefusedByName) {
    const bool windows = tavrin::platform::HasWindowsSecretStores();
    // The string: as before.
    EXPECT_NE(Compose(StoreRequest(Store::String, u"secret")).parameter->find(u"#PWD=c2VjcmV0#"), std::u16string::npos);

    const auto credential = Compose(StoreRequest(Store::Credential, u"", u" tavrin/web01 "));
    const auto machine = Compose(StoreRequest(Store::DpapiMachine, u"s\u4E2Dcret"));  // UTF-16: no code page limit
    const auto account = Compose(StoreRequest(Store::DpapiAccount, u"secret"));
    if (!windows) {
        for (const auto* refused : {&credential, &machine, &account}) {
            EXPECT_FALSE(refused->parameter.has_value());
            EXPECT_NE(refused->error.find(u"is a Windows store"), std::u16string::npos) << tavrin::ToUtf8(refused->error);
        }
        EXPECT_NE(credential.error.find(u"credential:"), std::u16string::npos);
        EXPECT_NE(machine.error.find(u"dpapi-machine"), std::u16string::npos);
        EXPECT_NE(account.error.find(u"dpapi-user"), std::u16string::npos);
        return;
    }
    ASSERT_TRUE(credential.parameter.has_value()) << tavrin::ToUtf8(credential.error);
    tavrin::dialog::DialogFields fields = tavrin::dialog::FieldsFromParameterString(*credential.parameter);
    EXPECT_EQ(fields.passwordStore, tavrin::dialog::DialogFields::PasswordStore::CredentialManager);
    EXPECT_EQ(fields.credential, u"tavrin/web01");
    EXPECT_NE(credential.parameter->find(u"#PWD=#"), std::u16string::npos);
    for (const auto* sealed : {&machine, &account}) {
        ASSERT_TRUE(sealed->parameter.has_value()) << tavrin::ToUtf8(sealed->error);
        EXPECT_NE(sealed->parameter->find(u"#PWD=#"), std::u16string::npos);
        const std::u16string blob = tavrin::parameters::StoredValue(*sealed->parameter, tavrin::parameters::Field::ProtectedPassword);
        std::string bytes;
        ASSERT_TRUE(tavrin::DecodeBase64(tavrin::ToUtf8(blob), bytes));
        const auto opened = tavrin::platform::UnprotectPassword(bytes);
        ASSERT_TRUE(opened.ok);
        EXPECT_EQ(opened.password.get(), sealed == &machine ? u"s\u4E2Dcret" : u"secret");
        // What the dialog's OK writes for the same blob.
        tavrin::dialog::DialogFields dialog = tavrin::dialog::FieldsFromParameterString(*sealed->parameter);
        EXPECT_EQ(dialog.passwordStore, tavrin::dialog::DialogFields::PasswordStore::ThisComputer);
        EXPECT_EQ(tavrin::dialog::ComposeParameterString(dialog), sealed->parameter);
    }
    // Refused: nothing to encrypt, a password that the credential store would silently drop, a
    // credential name that the string would cut.
    for (const ComposeRequest& r : {StoreRequest(Store::DpapiMachine, u""), StoreRequest(Store::DpapiAccount, u""),
                                    StoreRequest(Store::Credential, u"secret", u"t"),
                                    StoreRequest(Store::Credential, u"", u"a#b")}) {
        const auto result = Compose(r);
        EXPECT_FALSE(result.parameter.has_value());
        EXPECT_NE(result.error.find(u"--password-store"), std::u16string::npos) << tavrin::ToUtf8(result.error);
    }
}

TEST(DescribeTest, SaysWhereAStoredPasswordComesFromAndNothingOfIt) {
    const bool windows = tavrin::platform::HasWindowsSecretStores();
    const std::u16string base = u"#ENC=T#USR=admin#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=/#RRE=NO#";
    const auto with = [&](std::u16string_view fields) { return base.substr(0, base.size() - 1) + std::u16string(fields); };
    constexpr std::u16string_view kTarget = u"tavrin-test/describe";
    tavrin::platform::DeleteGenericCredential(kTarget);

    // A credential that is not there (or no Credential Manager at all), and a blob that does
    // not decrypt: each a warning, no "no password" warning.
    const auto missing = Describe(with(u"#CRED=" + std::u16string(kTarget) + u"#"), false);
    EXPECT_TRUE(HasLine(missing, u"CRED  = tavrin-test/describe"));
    EXPECT_TRUE(HasWarning(missing, windows ? u"is not in this account's Windows Credential Manager" : u"a Windows store"));
    EXPECT_FALSE(HasWarning(missing, u"without a PASSWORD"));
    const auto damaged = Describe(with(u"#PWDE=AQAAANCMnd8BFdERjHoAwE/Cl+s=#"), false);
    EXPECT_TRUE(HasWarning(damaged, windows ? u"PWDE does not decrypt here" : u"a Windows store"));
    EXPECT_FALSE(HasLine(damaged, u"AQAAANCM"));  // the blob is as long as the password
    EXPECT_TRUE(HasWarning(Describe(with(u"#PWDE=%%%#"), false), windows ? u"not valid Base64" : u"a Windows store"));

    // PWD beside a store, and two stores.
    const auto both = Describe(u"#USR=u#PWD=c2VjcmV0#CRED=" + std::u16string(kTarget) + u"#PWDE=AQAA#", false);
    EXPECT_TRUE(HasWarning(both, u"PWD is set as well: the check ignores it and takes the password from CRED"));
    EXPECT_TRUE(HasWarning(both, u"several password stores are given"));
    EXPECT_TRUE(HasLine(both, u"unused: CRED comes first"));
    EXPECT_FALSE(HasLine(both, u"secret"));
    EXPECT_FALSE(HasWarning(Describe(base, false), u"password stores"));
    if (!windows) return;

    // Stores that this account can read: where the password comes from, its user name, and
    // nothing of the password unless asked.
    const std::u16string password = u"stored p\u00E4ss";
    ASSERT_EQ(tavrin::platform::WriteGenericCredential(kTarget, u"svc-monitor", password), u"");
    const auto read = Describe(with(u"#CRED=" + std::u16string(kTarget) + u"#"), false);
    EXPECT_TRUE(HasLine(read, u"the credential exists for this account, user name \"svc-monitor\" (replaces USR)"));
    EXPECT_FALSE(HasLine(read, password));
    EXPECT_FALSE(HasLine(read, u"warning:"));
    EXPECT_TRUE(HasLine(Describe(with(u"#CRED=" + std::u16string(kTarget) + u"#"), true), password));
    ASSERT_EQ(tavrin::platform::WriteGenericCredential(kTarget, u"", password), u"");
    EXPECT_TRUE(HasLine(Describe(with(u"#CRED=" + std::u16string(kTarget) + u"#"), false), u"no user name (USR is used)"));
    EXPECT_EQ(tavrin::platform::DeleteGenericCredential(kTarget), u"");

    for (const Store store : {Store::DpapiMachine, Store::DpapiAccount}) {
        const auto short_ = Compose(StoreRequest(store, u"pw"));
        const auto long_ = Compose(StoreRequest(store, u"a much, much longer password than the other one"));
        ASSERT_TRUE(short_.parameter && long_.parameter);
        const auto hidden = Describe(*short_.parameter, false);
        EXPECT_TRUE(HasLine(hidden, u"it decrypts for this account"));
        EXPECT_FALSE(HasLine(hidden, u"warning:"));
        // Nothing of the password, not even its length: the lines of a longer one are the same.
        EXPECT_EQ(Describe(*long_.parameter, false), hidden);
        EXPECT_TRUE(HasLine(Describe(*short_.parameter, true), u"password \"pw\""));
    }
}

}  // namespace
