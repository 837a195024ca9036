// sa_showGUI's whole cycle with a scripted user: fill, show, OK or close, store.

#include "common/automation_error.h"
#include "dialog/dialog_result.h"
#include "plugin/show_gui.h"
#include "form_test_support.h"

#include <gtest/gtest.h>

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
        {u"#HFP=SHA256:k#USR=u#PORT=22#hfp=other#",
         u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#HFP=SHA256:k#"},
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

}  // namespace
}  // namespace tavrin::dialog
