// sa_showGUI's whole cycle with a scripted user: fill, show, OK or close, store.

#include "common/automation_error.h"
#include "common/text.h"
#include "dialog/dialog_result.h"
#include "plugin/check_run.h"
#include "plugin/portable_object.h"
#include "plugin/show_gui.h"
#include "form_test_support.h"
#include "tests/plugin/fake_component.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tavrin::dialog {
namespace {

using plugin::sa_showGUI;

using testing::ScriptedPresenter;
using testing::ShownControl;
using testing::TextObject;
using Outcome = frmmain::OkOutcome;

constexpr std::u16string_view kDefaults = u"#ENC=T#USR=#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#";

const ShownControl& Shown(const TextObject& o, std::u16string_view name, std::size_t showing = 0) {
    return o.presenter.shown.at(showing).controls.at(std::u16string(name));
}

TEST(ShowGui, AnEmptyParameterShowsTheDefaultsAndOkStoresTheDefaultString) {
    TextObject o(u"", u"  server.example  ", u" 30 ");
    o.presenter.Script({o.presenter.PressOk()});
    sa_showGUI(o);
    ASSERT_EQ(o.presenter.showings, 1);
    EXPECT_EQ(Shown(o, u"txtHostname").text, u"server.example");
    EXPECT_EQ(Shown(o, u"txtTimeout").text, u"30");
    EXPECT_EQ(Shown(o, u"cmbProtocol").text, u"SSH Auto");
    EXPECT_EQ(Shown(o, u"txtPort").text, u"22");
    EXPECT_EQ(o.presenter.shown[0].caption, testing::ExpectedTitle());
    EXPECT_EQ(o.parameter, kDefaults);
    EXPECT_EQ(o.parameterPuts, 1);
    EXPECT_FALSE(o.Form().IsLoaded());
}

TEST(ShowGui, FillsEveryControlFromTheParameterString) {
    TextObject o(u"#ENC=T#USR= admin #PWD=c2VjcmV0#PROTO=1#PORT=2222#KEYF= /k #KEYT=DSA#CMD=ZGYgLWs=#CCO=NCO#CON=a b"
                 u"#RRE=YEA#");
    o.presenter.Script({ScriptedPresenter::Close()});
    sa_showGUI(o);
    EXPECT_EQ(Shown(o, u"txtUsername").text, u" admin ");
    EXPECT_EQ(Shown(o, u"txtPassword").text, u"secret");
    EXPECT_EQ(Shown(o, u"cmbProtocol"), (ShownControl{u"SSH1", 0, {u"SSH1", u"SSH2", u"SSH Auto"}}));
    EXPECT_EQ(Shown(o, u"txtPort").text, u"2222");
    EXPECT_EQ(Shown(o, u"txtKeyfile").text, u" /k ");
    EXPECT_EQ(Shown(o, u"cmbKeyType").listIndex, 1);
    EXPECT_EQ(Shown(o, u"txtCommand").text, u"df -k");
    EXPECT_EQ(Shown(o, u"cmbContains").text, u"shouldn't contain");
    EXPECT_EQ(Shown(o, u"txtContains").text, u"a b");
    EXPECT_EQ(Shown(o, u"cmbReturnResult").text, u"should always be within the returned data");
}

TEST(ShowGui, AStringWithoutPortShowsZeroAndOkWritesZero) {
    TextObject o(u"#USR=u#");
    o.presenter.Script({o.presenter.PressOk()});
    sa_showGUI(o);
    EXPECT_EQ(Shown(o, u"txtPort").text, u"0");
    EXPECT_EQ(o.parameter, u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=0#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#");
}

TEST(ShowGui, UnknownOrMiscasedCodesSelectEachListsDefault) {
    TextObject o(u"#PROTO=a#KEYT=ECDSA#CCO=nco#RRE=yes#");
    o.presenter.Script({o.presenter.PressOk()});
    sa_showGUI(o);
    EXPECT_EQ(Shown(o, u"cmbProtocol").text, u"SSH Auto");
    EXPECT_EQ(Shown(o, u"cmbKeyType").text, u"RSA");
    EXPECT_EQ(Shown(o, u"cmbContains").text, u"should contain");
    EXPECT_EQ(Shown(o, u"cmbReturnResult").text, u"should not be within the returned data");
    EXPECT_EQ(o.parameter, u"#ENC=T#USR=#PWD=#PROTO=A#PORT=0#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#");
}

TEST(ShowGui, FreeTextInAListWritesThatListsCodeForNoSelection) {
    const struct {
        int list;
        std::u16string_view written;
    } cases[] = {
        {tab::cmbProtocol, u"#PROTO=#"},
        {tab::cmbKeyType, u"#KEYT=#"},
        {tab::cmbContains, u"#CCO=CON#"},
        {tab::cmbReturnResult, u"#RRE=NO#"},
    };
    for (const auto& c : cases) {
        TextObject o(u"#PROTO=2#KEYT=DSA#CCO=GT#RRE=YED#PORT=22#");
        o.presenter.Script({ScriptedPresenter::Type(c.list, u"something else"), o.presenter.PressOk()});
        sa_showGUI(o);
        EXPECT_NE(o.parameter.find(c.written), std::u16string::npos) << c.list;
    }
}

TEST(ShowGui, TypingAnItemsExactTextSelectsThatItem) {
    TextObject o;
    o.presenter.Script({ScriptedPresenter::Type(tab::cmbProtocol, u"SSH2"),
                        ScriptedPresenter::Type(tab::cmbReturnResult, u"should be within the returned data when DOWN"),
                        o.presenter.PressOk()});
    sa_showGUI(o);
    EXPECT_EQ(o.parameter, u"#ENC=T#USR=#PWD=#PROTO=2#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=YED#");
}

TEST(ShowGui, OkKeepsBlanksOfUserAndComparisonValueAndTrimsKeyFileAndPort) {
    TextObject o;
    o.presenter.Script({ScriptedPresenter::Type(tab::txtUsername, u"  u  "),
                        ScriptedPresenter::Type(tab::txtContains, u" v "),
                        ScriptedPresenter::Type(tab::txtKeyfile, u"  /k  "),
                        ScriptedPresenter::Type(tab::txtPort, u" 022 "), o.presenter.PressOk()});
    sa_showGUI(o);
    EXPECT_EQ(o.parameter, u"#ENC=T#USR=  u  #PWD=#PROTO=A#PORT=22#KEYF=/k#KEYT=RSA#CMD=#CCO=CON#CON= v #RRE=NO#");
}

TEST(ShowGui, EditsOfHostnameAndTimeoutAreNotStored) {
    TextObject o(u"", u"h", u"10");
    o.presenter.Script({ScriptedPresenter::Type(tab::txtHostname, u"other"),
                        ScriptedPresenter::Type(tab::txtTimeout, u"99"), o.presenter.PressOk()});
    sa_showGUI(o);
    EXPECT_EQ(o.parameter, kDefaults);
    EXPECT_EQ(o.hostname, u"h");
    EXPECT_EQ(o.timeout, u"10");
}

TEST(ShowGui, AStringWrittenByOkSurvivesAnotherShowingUnchanged) {
    for (const std::u16string_view written : {
             u"#ENC=T#USR=U#PWD=#PROTO=1#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=V#RRE=NO#",
             u"#ENC=T#USR= root #PWD=c2VjcmV0#PROTO=2#PORT=-1#KEYF=C:\\k ey#KEYT=DSA#CMD=dXB0aW1l#CCO=GT#CON= 1.5 #RRE=YEA#",
             u"#ENC=T#USR=#PWD=#PROTO=A#PORT=32767#KEYF=#KEYT=RSA#CMD=#CCO=LT#CON=#RRE=YED#",
         }) {
        TextObject o{std::u16string(written)};
        o.presenter.Script({o.presenter.PressOk()});
        sa_showGUI(o);
        EXPECT_EQ(o.parameter, written);
    }
}

TEST(ShowGui, OkKeepsTheFieldsItDoesNotEditAfterItsOwn) {
    const struct {
        std::u16string_view opened, stored;
    } cases[] = {
        {u"#RRE=YEA#EXTRA=1#usr=x#", u"#ENC=T#USR=x#PWD=#PROTO=A#PORT=0#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=YEA#EXTRA=1#"},
        {u"#HFP=SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU#USR=u#PORT=22#hfp=other#Z=1#REUSE= 30 #",
         u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO"
         u"#HFP=SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU#REUSE=30#Z=1#"},
    };
    for (const auto& c : cases) {
        TextObject o{std::u16string(c.opened)};
        o.presenter.Script({o.presenter.PressOk()});
        sa_showGUI(o);
        EXPECT_EQ(o.parameter, c.stored);
    }
}

TEST(ShowGui, EachShowingLoadsAfreshFromTheDesignAndTheParameter) {
    TextObject o;
    o.presenter.Script({ScriptedPresenter::Type(tab::txtCommand, u"typed, then closed"), ScriptedPresenter::Close()});
    sa_showGUI(o);
    o.presenter.Script({ScriptedPresenter::Close()});
    sa_showGUI(o);
    ASSERT_EQ(o.presenter.shown.size(), 2u);
    EXPECT_EQ(o.presenter.shown[0], o.presenter.shown[1]);
    EXPECT_EQ(Shown(o, u"txtCommand", 1).text, u"");
    EXPECT_EQ(Shown(o, u"cmbProtocol", 1).items.size(), 3u);
}

TEST(ShowGui, CloseWithoutOkLeavesTheParameterAsItWasWhateverAnEarlierOkLeft) {
    TextObject earlier;
    earlier.presenter.Script({ScriptedPresenter::Type(tab::txtUsername, u"earlier"), earlier.presenter.PressOk()});
    sa_showGUI(earlier);
    ASSERT_FALSE(Generic::DialogResult().empty());

    for (const std::u16string_view before : {u"", u"#USR=mine#", u"not a parameter string"}) {
        TextObject o{std::u16string(before)};
        o.presenter.Script({ScriptedPresenter::Type(tab::txtUsername, u"typed"), ScriptedPresenter::Close()});
        sa_showGUI(o);
        EXPECT_EQ(o.parameter, before);
        EXPECT_EQ(o.parameterPuts, 0);
        EXPECT_FALSE(o.Form().IsLoaded());
    }
}

TEST(ShowGui, APortThatIsNotANumberKeepsTheDialogOpenUntilItIs) {
    for (const std::u16string_view bad : {u"", u"ssh", u"22.5", u"65536", u"-32769"}) {
        TextObject o(u"#USR=u#PORT=22#");
        o.presenter.Script({ScriptedPresenter::Type(tab::txtPassword, u"pw"),
                            ScriptedPresenter::Type(tab::txtPort, std::u16string(bad)), o.presenter.PressOk(),
                            [](frmmain& f) {
                                EXPECT_EQ(f.txtPassword().Text(), u"pw");
                                EXPECT_EQ(f.txtUsername().Text(), u"u");
                                f.txtPort().SetText(u"2222");
                            },
                            o.presenter.PressOk()});
        sa_showGUI(o);
        EXPECT_EQ(o.presenter.okOutcomes, (std::vector{Outcome::PortNotANumber, Outcome::Stored}));
        EXPECT_EQ(o.parameter, u"#ENC=T#USR=u#PWD=cHc=#PROTO=A#PORT=2222#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#");
    }
}

TEST(ShowGui, APortThatIsNotANumberThenACloseStoresNothing) {
    TextObject o(u"#PORT=22#");
    o.presenter.Script({ScriptedPresenter::Type(tab::txtPort, u"x"), o.presenter.PressOk(), ScriptedPresenter::Close()});
    sa_showGUI(o);
    EXPECT_EQ(o.parameter, u"#PORT=22#");
    EXPECT_EQ(o.parameterPuts, 0);
}

TEST(ShowGui, APasswordOrCommandThatDoesNotDecodeFailsBeforeShowing) {
    for (const std::u16string_view bad : {u"#USR=u#PWD==abc#", u"#USR=u#CMD=abcd=efg#"}) {
        TextObject o{std::u16string(bad)};
        try {
            sa_showGUI(o);
            ADD_FAILURE() << "no failure";
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.number(), errors::kInvalidProcedureCall);
        }
        EXPECT_EQ(o.presenter.showings, 0);
        EXPECT_EQ(o.parameter, bad);
        EXPECT_EQ(o.parameterPuts, 0);
    }
}

TEST(ShowGui, AFailingPropertyConversionEndsTheCall) {
    class NullHostname final : public plugin::ObjectAccess {
    public:
        std::int16_t TimeoutAsInteger16() override { return 0; }
        std::u16string TimeoutAsText() override { return u""; }
        std::u16string HostnameAsText() override { throw errors::InvalidUseOfNull(); }
        std::u16string ParameterAsText() override { return u""; }
        void PutResult(const std::u16string&) override {}
        void PutParameter(const std::u16string&) override { ADD_FAILURE() << "stored after a failure"; }
        frmmain& Form() override { return form_; }

        testing::NoSshFactory factory_;
        ScriptedPresenter presenter_;
        frmmain form_{factory_, &presenter_};
    } o;
    EXPECT_THROW(sa_showGUI(o), AutomationError);
    EXPECT_EQ(o.presenter_.showings, 0);
}

// --- The band below the form: host keys, kept login, Test and Fetch key --------------------

constexpr std::u16string_view kPin = u"SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
constexpr std::u16string_view kOtherPin = u"SHA256:LXEWQrcmsEQBYnyp+6wy9chTD7GQPMTbAiWHF5IaSIE";

TEST(ShowGui, LoadsHostKeysAndReuseAndOkRefusesWhatTheCheckWouldRefuse) {
    const std::u16string opened = u"#USR=u#PORT=22#HFP=" + std::u16string(kPin) + u"#REUSE=60#";
    const struct {
        const char* name;
        std::u16string hostKeys, reuse;
        Outcome first;
        const char* says;
        std::u16string stored;  // after the fields are put right
    } cases[] = {
        {"malformed pin", u"SHA256:cut", u"60", Outcome::HostKeysInvalid, "Host key (HFP)",
         u"#HFP=" + std::u16string(kOtherPin) + u"#REUSE=60#"},
        {"reuse not a number", std::u16string(kPin), u"a minute", Outcome::ReuseInvalid, "The REUSE value",
         u"#HFP=" + std::u16string(kOtherPin) + u"#REUSE=60#"},
        {"both emptied", u"", u"", Outcome::Stored, "", u"#"},
    };
    for (const auto& c : cases) {
        TextObject o(opened);
        o.presenter.Script({ScriptedPresenter::Type(tab::txtHostKeys, c.hostKeys),
                            ScriptedPresenter::Type(tab::txtReuse, c.reuse), o.presenter.PressOk(),
                            [&](frmmain& f) {
                                if (!f.IsLoaded()) return;
                                EXPECT_NE(ToUtf8(f.OkMessage()).find(c.says), std::string::npos) << c.name;
                                EXPECT_EQ(frmmain::FocusFor(c.first),
                                          c.first == Outcome::HostKeysInvalid ? tab::txtHostKeys : tab::txtReuse);
                                f.txtHostKeys().SetText(std::u16string(kOtherPin));
                                f.txtReuse().SetText(u"60");
                            },
                            o.presenter.PressOk()});
        sa_showGUI(o);
        EXPECT_EQ(Shown(o, u"txtHostKeys").text, kPin) << c.name;
        EXPECT_EQ(Shown(o, u"txtReuse").text, u"60") << c.name;
        ASSERT_FALSE(o.presenter.okOutcomes.empty());
        EXPECT_EQ(o.presenter.okOutcomes.front(), c.first) << c.name;
        EXPECT_EQ(o.parameter, u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO" + c.stored)
            << c.name;
    }
}

// The result the host's own check gives for the same object properties.
std::u16string HostsResult(tavrin::testing::FakeFactory& component, const std::u16string& host,
                           const std::u16string& timeout, const std::u16string& parameter, bool& up) {
    plugin::PortableObject host_object(component);
    host_object.sa_hostname = host;
    host_object.sa_timeout = timeout;
    host_object.sa_parameter = parameter;
    up = host_object.sa_docheck();
    return std::get<std::u16string>(host_object.sa_result);
}

TEST(ShowGui, TestRunsTheCheckAsTheHostWouldAndStoresNothing) {
    using tavrin::testing::FakeEvent;
    const struct {
        const char* name;
        std::u16string comparison;  // the rule typed
        int returnMode;             // cmbReturnResult
        bool up;
    } cases[] = {
        {"contains", u"ok", 0, true},
        {"does not contain", u"missing", 0, false},
        {"result holds the output", u"ok", 2, true},
    };
    for (const auto& c : cases) {
        tavrin::testing::FakeFactory component;
        component.script.events = {{FakeEvent::kHostKey, 0, std::u16string(kPin)},
                                   {FakeEvent::kConnected, 0, u""},
                                   {FakeEvent::kReceived, 0, u"all ok\nsecond line\n"},
                                   {FakeEvent::kDisconnected, 0, u""}};
        component.script.facts = {ssh::RunFacts::Trust::Recorded, u"/etc/ssh/ssh_known_hosts", 3, true, 0};
        TextObject o(u"#USR=u#PWD=cHc=#Z=kept#", u" server.example ", u"7", &component);
        o.presenter.Script({ScriptedPresenter::Type(tab::txtContains, c.comparison),
                            ScriptedPresenter::Pick(tab::cmbReturnResult, c.returnMode),
                            ScriptedPresenter::Type(tab::txtReuse, u"30"), o.presenter.PressTest(),
                            ScriptedPresenter::Close()});
        sa_showGUI(o);
        ASSERT_EQ(o.presenter.tests.size(), 1u) << c.name;
        const TestReport& report = o.presenter.tests[0];
        // What the test ran: the string OK would have written at that moment, with the kept field.
        EXPECT_EQ(component.record.texts["host"], u"server.example") << c.name;
        EXPECT_EQ(component.record.numbers["timeout"], 7) << c.name;
        EXPECT_EQ(component.record.numbers["reuse"], 30) << c.name;
        bool hostUp = false;
        const std::u16string hostResult =
            HostsResult(component, u"server.example", u"7",
                        u"#ENC=T#USR=u#PWD=cHc=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=" + c.comparison +
                            u"#RRE=" + (c.returnMode == 2 ? u"YEA" : u"NO") + u"#REUSE=30#Z=kept#",
                        hostUp);
        EXPECT_EQ(report.up, c.up) << c.name;
        EXPECT_EQ(report.up, hostUp) << c.name;
        EXPECT_EQ(report.result, hostResult) << c.name;
        // The box: the verdict and the result's first line, then the facts, then the output.
        const std::string text = ToUtf8(TestReportText(report));
        const std::u16string firstLine = hostResult.substr(0, hostResult.find(u'\n'));
        EXPECT_EQ(text.substr(0, text.find('\n')), ToUtf8((c.up ? u"UP: " : u"DOWN: ") + firstLine)) << c.name;
        for (const char* part : {"Host key: SHA256:47DEQ", "recorded in /etc/ssh/ssh_known_hosts line 3",
                                 "mlkem768x25519-sha256", "a kept login served the check", "all ok\nsecond line\n"}) {
            EXPECT_NE(text.find(part), std::string::npos) << c.name << ": " << part << " in\n" << text;
        }
        EXPECT_EQ(o.parameterPuts, 0) << c.name;
        EXPECT_EQ(o.resultPuts, 0) << c.name;
    }
}

TEST(ShowGui, ATestIsCancelledWithinASecond) {
    using tavrin::testing::FakeEvent;
    tavrin::testing::FakeFactory component;  // connects and never ends
    component.script.events = {{FakeEvent::kConnected, 0, u""}};
    plugin::TestingServices services(component);
    TestRequest request;
    request.hostName = u"server.example";
    request.timeout = u"60";
    request.parameter = u"#USR=u#PWD=cHc=#";
    std::atomic<bool> cancel{false};
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        cancel = true;
    });
    const TestReport report = services.RunTest(request, cancel);
    canceller.join();
    EXPECT_FALSE(report.up);
    EXPECT_EQ(report.result, u"The check was cancelled");
    EXPECT_LT(report.took, std::chrono::milliseconds(1000));
    EXPECT_EQ(component.record.sshAlive, 0) << "the test's connection is released";
}

TEST(ShowGui, FetchKeyShowsTheKeyAndPinsItOnceAndOkWritesIt) {
    tavrin::testing::FakeFactory component;
    component.script.probe = {u"ssh-ed25519", std::u16string(kPin), u"recorded nowhere", false, u""};
    TextObject o(u"#USR=u#PORT=2222#", u"server.example", u"", &component);
    std::u16string box;
    o.presenter.Script({o.presenter.PressFetchKey(true), o.presenter.PressFetchKey(true),
                        [&](frmmain& f) { box = f.txtTestResult().Text(); },
                        ScriptedPresenter::Type(tab::txtTimeout, u"30"), o.presenter.PressFetchKey(false),
                        ScriptedPresenter::Type(tab::txtHostname, u" "), o.presenter.PressFetchKey(true),
                        ScriptedPresenter::Type(tab::txtHostname, u"h"), ScriptedPresenter::Type(tab::txtPort, u"0"),
                        o.presenter.PressFetchKey(true), ScriptedPresenter::Type(tab::txtPort, u"2222"),
                        o.presenter.PressOk()});
    sa_showGUI(o);
    EXPECT_EQ(o.presenter.fetches.size(), 3u);
    // Within the dialog's time-out, or 10 seconds without one.
    const std::vector<std::string> probes(component.record.calls.begin(), component.record.calls.end());
    EXPECT_NE(std::find(probes.begin(), probes.end(), "Probe=server.example:2222/10"), probes.end());
    EXPECT_NE(std::find(probes.begin(), probes.end(), "Probe=server.example:2222/30"), probes.end());
    EXPECT_NE(ToUtf8(box).find("ssh-ed25519 " + ToUtf8(std::u16string(kPin))), std::string::npos) << ToUtf8(box);
    EXPECT_NE(ToUtf8(box).find("recorded nowhere"), std::string::npos);
    ASSERT_EQ(o.presenter.problems.size(), 2u);
    EXPECT_EQ(o.presenter.problems[0].where, FieldProblem::Where::Hostname);
    EXPECT_EQ(o.presenter.problems[1].where, FieldProblem::Where::Port);
    EXPECT_EQ(o.parameter,
              u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=2222#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#HFP=" + std::u16string(kPin) +
                  u"#");
}

TEST(ShowGui, AFetchThatFailsSaysWhyAndChangesNothing) {
    tavrin::testing::FakeFactory component;
    component.script.probe.error = u"Could not connect to h port 22";
    TextObject o(u"#USR=u#PORT=22#HFP=" + std::u16string(kPin) + u"#", u"h", u"", &component);
    o.presenter.Script({o.presenter.PressFetchKey(false), [](frmmain& f) {
                            EXPECT_EQ(f.txtTestResult().Text(), u"The host key was not fetched: Could not connect to h port 22");
                            EXPECT_EQ(f.txtHostKeys().Text(), kPin);
                        },
                        ScriptedPresenter::Close()});
    sa_showGUI(o);
    EXPECT_EQ(o.parameterPuts, 0);
}

}  // namespace
}  // namespace tavrin::dialog
