// The form frmmain as a model: design, loading, the lists' behaviour, the bastion's fields,
// the icon's pixels.

#include "common/automation_error.h"
#include "common/text.h"
#include "common/version.h"
#include "dialog/form_icon_image.h"
#include "dialog/form_layout.h"
#include "dialog/frmmain.h"
#include "dialog/presenter.h"
#include "form_test_support.h"
#include "common/base64.h"
#include "parameters/generic.h"
#include "platform/secret_store.h"
#include "plugin/show_gui.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <variant>

namespace tavrin::dialog {
namespace {

using testing::NoSshFactory;
using testing::ShownControl;
using testing::Snapshot;

TEST(Title, JoinsVersionMinorAndARevisionWithItsLeadingBlank) {
    EXPECT_EQ(FormTitle(1, 0, 10), u"Tavrin SSH Command checker version 1.0 build  10");
    EXPECT_EQ(FormTitle(2, 13, 0), u"Tavrin SSH Command checker version 2.13 build  0");
}

TEST(Title, ComesFromTheComponentsVersionRecord) {
    NoSshFactory factory;
    frmmain form(factory);
    EXPECT_EQ(form.Caption(), FormTitle(TAVRIN_VERSION_MAJOR, TAVRIN_VERSION_MINOR, TAVRIN_VERSION_REVISION));
}

TEST(Layout, ControlsHaveUniqueNamesAndIdsAndLieInsideTheClientArea) {
    std::set<std::u16string_view> names;
    std::set<int> ids;
    for (const ControlLayout& c : kFormLayout) {
        EXPECT_TRUE(names.insert(c.name).second);
        EXPECT_TRUE(ids.insert(ControlId(c.tabIndex)).second);
        EXPECT_GT(ControlId(c.tabIndex), 2) << "ids 1 and 2 are what Enter and Esc send";
        EXPECT_EQ(FindControlLayout(c.name), &c);
        EXPECT_GT(c.width, 0);
        EXPECT_GT(c.height, 0);
        EXPECT_LE(c.left + c.width, kFormClientWidth) << std::string(c.name.begin(), c.name.end());
        EXPECT_LE(c.top + c.height, kFormClientHeight) << std::string(c.name.begin(), c.name.end());
    }
    EXPECT_EQ(FindControlLayout(u"txtResource"), nullptr);
    // The Bastion window's controls: names of their own (not the form's), ids clear of Enter's
    // and Esc's, inside its client area.
    std::set<int> bastionIds;
    for (const ControlLayout& c : kBastionLayout) {
        EXPECT_TRUE(names.insert(c.name).second) << std::string(c.name.begin(), c.name.end());
        EXPECT_TRUE(bastionIds.insert(ControlId(c.tabIndex)).second);
        EXPECT_GT(ControlId(c.tabIndex), 2);
        EXPECT_EQ(FindControlLayout(c.name), nullptr);
        EXPECT_LE(c.left + c.width, kBastionClientWidth) << std::string(c.name.begin(), c.name.end());
        EXPECT_LE(c.top + c.height, kBastionClientHeight) << std::string(c.name.begin(), c.name.end());
    }
}

// The first 25 controls are the form as it always was; what came later lies below them and
// follows them in tab order.
TEST(Layout, TheFormAsItWasStaysAndTheLaterBandLiesBelowIt) {
    const char* kinds[] = {"TextBox", "MaskedTextBox", "Label", "ComboBox", "CommandButton", "ResultBox"};
    std::string classic;
    for (const ControlLayout& c : kFormLayout) {
        const std::string name(c.name.begin(), c.name.end());
        if (static_cast<std::size_t>(c.tabIndex) >= kClassicControlCount) {
            EXPECT_GE(c.top, kClassicFormClientHeight) << name;
            continue;
        }
        const std::string text(c.designText.begin(), c.designText.end());
        classic += name + " " + kinds[static_cast<int>(c.kind)] + " \"" + text + "\" " + std::to_string(c.left) + " " +
                   std::to_string(c.top) + " " + std::to_string(c.width) + " " + std::to_string(c.height) + "\n";
    }
    EXPECT_EQ(classic, std::string(
        "txtHostname TextBox \"\" 1560 120 4455 285\n"
        "Label1 Label \"Hostname:\" 120 180 1215 255\n"
        "cmbProtocol ComboBox \"\" 1560 480 2295 315\n"
        "txtPort TextBox \"\" 4920 480 1095 285\n"
        "Label9 Label \"Protocol:\" 120 540 1215 255\n"
        "Label10 Label \"Port:\" 3960 540 855 255\n"
        "txtUsername TextBox \"\" 1560 840 2295 285\n"
        "txtPassword MaskedTextBox \"\" 4920 840 2175 285\n"
        "Label2 Label \"User Name:\" 120 900 1215 255\n"
        "Label3 Label \"Password:\" 3960 900 855 255\n"
        "txtKeyfile TextBox \"\" 1560 1200 3255 285\n"
        "cmbKeyType ComboBox \"\" 6360 1200 735 315\n"
        "Label15 Label \"Key file:\" 120 1260 1215 255\n"
        "Label16 Label \"Key type:\" 5280 1260 975 255\n"
        "Label12 Label \"Command:\" 120 1740 1215 255\n"
        "txtCommand TextBox \"\" 1560 1680 5655 765\n"
        "cmbContains ComboBox \"\" 1560 2640 2055 315\n"
        "txtContains TextBox \"\" 3720 2640 3495 285\n"
        "Label6 Label \"The result\" 240 2700 1215 255\n"
        "btOK CommandButton \"&OK\" 6480 3600 735 375\n"
        "txtTimeout TextBox \"\" 1560 3720 1095 285\n"
        "Label4 Label \"Timeout:\" 120 3780 1215 255\n"
        "Label5 Label \"seconds\" 2760 3780 1215 255\n"
        "Label7 Label \"The output \" 240 3180 1215 255\n"
        "cmbReturnResult ComboBox \"\" 1560 3120 5655 315\n"));
    EXPECT_EQ(kClassicFormClientHeight, 4320);
}

TEST(Layout, ConvertsTwipsAtTheWindowsDpi) {
    EXPECT_EQ(TwipsToPixels(1560, 96), 104);
    EXPECT_EQ(TwipsToPixels(7425, 96), 495);
    EXPECT_EQ(TwipsToPixels(7425, 144), 742);
    EXPECT_EQ(TwipsToPixels(285, 120), 23);
}

TEST(Load, SetsTheListsAndDefaultsAndLeavesOtherTextsAsDesigned) {
    NoSshFactory factory;
    frmmain form(factory);
    EXPECT_FALSE(form.IsLoaded());
    const testing::ShownForm shown = Snapshot(form);
    EXPECT_TRUE(form.IsLoaded());

    const auto list = [&](std::u16string_view name) { return shown.controls.at(std::u16string(name)); };
    EXPECT_EQ(list(u"cmbProtocol"), (ShownControl{u"SSH Auto", 2, {u"SSH1", u"SSH2", u"SSH Auto"}}));
    EXPECT_EQ(list(u"cmbKeyType"), (ShownControl{u"RSA", 0, {u"RSA", u"DSA"}}));
    EXPECT_EQ(list(u"cmbContains"),
              (ShownControl{u"should contain", 0,
                            {u"should contain", u"shouldn't contain", u"should be less then", u"should be greater then",
                             u"should end with the exit status", u"should match the pattern",
                             u"should not match the pattern"}}));
    EXPECT_EQ(list(u"cmbReturnResult"),
              (ShownControl{u"should not be within the returned data", 0,
                            {u"should not be within the returned data", u"should be within the returned data when DOWN",
                             u"should always be within the returned data"}}));
    EXPECT_EQ(list(u"txtPort").text, u"22");
    for (const char16_t* empty : {u"txtHostname", u"txtUsername", u"txtPassword", u"txtKeyfile", u"txtCommand",
                                  u"txtContains", u"txtTimeout"}) {
        EXPECT_EQ(list(empty).text, u"");
    }
    EXPECT_EQ(list(u"Label7").text, u"The output ");
    EXPECT_EQ(list(u"btOK").text, u"&OK");
}

TEST(Load, ASecondLoadAfterAnUnloadIsIdenticalToTheFirst) {
    NoSshFactory factory;
    frmmain form(factory);
    const testing::ShownForm first = Snapshot(form);
    form.txtUsername().SetText(u"someone");
    form.cmbProtocol().SetText(u"typed");
    form.cmbKeyType().AddItem(u"ECDSA");
    form.txtPort().SetText(u"");
    form.Unload();
    EXPECT_FALSE(form.IsLoaded());
    EXPECT_EQ(Snapshot(form), first);
}

TEST(Load, UsingAControlLoadsTheFormOnceAndKeepsItLoaded) {
    NoSshFactory factory;
    frmmain form(factory);
    form.txtUsername().SetText(u"u");
    form.Load();
    EXPECT_EQ(form.txtUsername().Text(), u"u");
    EXPECT_EQ(form.cmbProtocol().ListCount(), 3);
    EXPECT_EQ(&form.Controls(u"txtUsername"), &form.txtUsername());
}

TEST(Controls, AnUnknownNameIsAnUnsupportedMember) {
    NoSshFactory factory;
    frmmain form(factory);
    try {
        form.Controls(u"txtResource");
        ADD_FAILURE() << "no failure";
    } catch (const AutomationError& e) {
        EXPECT_EQ(e.number(), errors::kObjectDoesntSupport);
    }
}

TEST(ComboBox, PickingSetsTheTextAndTypingSelectsOnlyAnExactItem) {
    NoSshFactory factory;
    frmmain form(factory);
    Control& protocol = form.cmbProtocol();
    protocol.SetListIndex(1);
    EXPECT_EQ(protocol.Text(), u"SSH2");
    protocol.SetText(u"SSH3");
    EXPECT_EQ(protocol.ListIndex(), -1);
    protocol.SetText(u"ssh1");
    EXPECT_EQ(protocol.ListIndex(), -1);
    protocol.SetText(u"SSH1");
    EXPECT_EQ(protocol.ListIndex(), 0);
    protocol.SetListIndex(-1);
    EXPECT_EQ(protocol.Text(), u"");
    EXPECT_EQ(protocol.ListIndex(), -1);
}

TEST(ComboBox, RefusesAnIndexOutsideTheList) {
    NoSshFactory factory;
    frmmain form(factory);
    for (const int bad : {3, -2}) {
        try {
            form.cmbProtocol().SetListIndex(bad);
            ADD_FAILURE() << "no failure for " << bad;
        } catch (const AutomationError& e) {
            EXPECT_EQ(e.number(), 380);
        }
    }
    EXPECT_EQ(form.cmbProtocol().ListIndex(), 2);
}

TEST(ComboBox, ListMembersAreNotOnTextBoxes) {
    NoSshFactory factory;
    frmmain form(factory);
    EXPECT_THROW(form.txtPort().ListIndex(), AutomationError);
    EXPECT_THROW(form.txtPort().AddItem(u"x"), AutomationError);
}

class CountingPresenter final : public FormPresenter {
public:
    void ShowModal(frmmain& form) override {
        ++showings;
        if (nested) {
            EXPECT_THROW(form.ShowModal(), AutomationError);
        }
        form.CloseBox();
    }
    int showings = 0;
    bool nested = false;
};

TEST(ShowModal, ACloseReturnsFalseAndAShownFormCannotBeShownAgain) {
    NoSshFactory factory;
    CountingPresenter presenter;
    presenter.nested = true;
    frmmain form(factory, &presenter);
    EXPECT_FALSE(form.ShowModal());
    EXPECT_EQ(presenter.showings, 1);
    EXPECT_FALSE(form.IsShown());
    EXPECT_FALSE(form.IsLoaded());
}

TEST(BtOk, APortThatIsNotANumberKeepsTheFormLoadedWithItsTexts) {
    NoSshFactory factory;
    frmmain form(factory);
    form.txtUsername().SetText(u"u");
    form.txtPort().SetText(u"twenty-two");
    EXPECT_EQ(form.btOK_Click(), frmmain::OkOutcome::PortNotANumber);
    EXPECT_TRUE(form.IsLoaded());
    EXPECT_EQ(form.txtUsername().Text(), u"u");
    EXPECT_EQ(form.txtPort().Text(), u"twenty-two");
    form.txtPort().SetText(u"22");
    EXPECT_EQ(form.btOK_Click(), frmmain::OkOutcome::Stored);
    EXPECT_FALSE(form.IsLoaded());
}

#ifndef _WIN32
TEST(PlatformPresenter, FailsWithoutAWindowSystem) {
    NoSshFactory factory;
    frmmain form(factory);
    EXPECT_THROW(form.ShowModal(), AutomationError);
}
#endif

// --- The bastion's fields: the Bastion window's values in the model ---------------------------

using testing::ScriptedPresenter;
using testing::TextObject;
using Step = ScriptedPresenter::Step;

constexpr std::u16string_view kPin = u"SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
constexpr std::u16string_view kOtherPin = u"SHA256:uNiVztksCsDhcc0u9e8BujQXVUpKZIDTMczCvj3tD2s";
// The fixed layout OK writes for "#USR=u#PORT=22#"-like strings, then a bastion ("pass phrase").
const std::u16string kLayout = u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#";
const std::u16string kBastion =
    u"JMP=ops@jump.example:2222#JPW=cGFzcyBwaHJhc2U=#JKF=C:\\keys\\jump#JFP=" + std::u16string(kPin) + u"#";

bool Contains(std::u16string_view text, std::u16string_view part) { return text.find(part) != std::u16string::npos; }

TEST(Bastion, OpeningLoadsTheValuesAndOkWritesThemAsTheBastionWindowLeftThem) {
    const struct {
        const char* name;
        std::u16string opened;
        std::function<std::vector<Step>(ScriptedPresenter&)> steps;  // before the form's OK
        std::u16string caption;                                       // of btBastion before OK
        std::u16string stored;
        std::vector<FieldProblem::Where> refused;
    } cases[] = {
        {"untouched: kept as opened", kLayout + kBastion, [](ScriptedPresenter&) { return std::vector<Step>{}; },
         u"&Bastion: jump.example", kLayout + kBastion, {}},
        {"replaced, JMP and JFP trimmed",
         kLayout + kBastion,
         [](ScriptedPresenter& p) {
             return std::vector<Step>{p.PressBastionOk(u" admin@[::1]:22 ", u"new secret", u"/k",
                                                       u" " + std::u16string(kOtherPin) + u"," + std::u16string(kPin))};
         },
         u"&Bastion: ::1",
         kLayout + u"JMP=admin@[::1]:22#JPW=bmV3IHNlY3JldA==#JKF=/k#JFP=" + std::u16string(kOtherPin) + u"," +
             std::u16string(kPin) + u"#",
         {}},
        {"cleared: none written", kLayout + kBastion,
         [](ScriptedPresenter& p) { return std::vector<Step>{p.PressBastionOk(u"", u"", u"", u"")}; },
         u"&Bastion...", kLayout, {}},
        {"added to a check without one", kLayout,
         [](ScriptedPresenter& p) {
             return std::vector<Step>{p.PressBastionOk(u"ops@a&b.example", u"pass phrase", u"", u"")};
         },
         u"&Bastion: a&&b.example", kLayout + u"JMP=ops@a&b.example#JPW=cGFzcyBwaHJhc2U=#", {}},
        {"a malformed JMP, then a malformed JFP: refused, the old values stay", kLayout + kBastion,
         [](ScriptedPresenter& p) {
             return std::vector<Step>{p.PressBastionOk(u"jump.example", u"new secret", u"", u""),
                                      p.PressBastionOk(u"ops@jump.example", u"new secret", u"", u"SHA256:cut")};
         },
         u"&Bastion: jump.example", kLayout + kBastion,
         {FieldProblem::Where::Jump, FieldProblem::Where::JumpHostKeys}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TextObject o(c.opened);
        std::u16string caption;
        std::u16string tested;
        std::vector<Step> steps = c.steps(o.presenter);
        steps.push_back([&](frmmain& f) {
            caption = f.btBastion().Text();
            auto request = f.TestRequestNow();
            ASSERT_TRUE(std::holds_alternative<TestRequest>(request));
            tested = std::get<TestRequest>(request).parameter;
        });
        steps.push_back(o.presenter.PressOk());
        o.presenter.Script(std::move(steps));
        plugin::sa_showGUI(o);
        ASSERT_EQ(o.presenter.showings, 1);
        EXPECT_EQ(o.presenter.shown[0].controls.at(u"btBastion").text,
                  Contains(c.opened, u"JMP=") ? u"&Bastion: jump.example" : u"&Bastion...");
        EXPECT_EQ(caption, c.caption);
        EXPECT_EQ(o.parameter, c.stored);
        EXPECT_EQ(tested, c.stored) << "Test runs what OK stores";
        EXPECT_EQ(o.presenter.okOutcomes, std::vector<frmmain::OkOutcome>{frmmain::OkOutcome::Stored});
        std::vector<FieldProblem::Where> refused;
        for (const FieldProblem& problem : o.presenter.problems) {
            refused.push_back(problem.where);
            EXPECT_EQ(frmmain::FocusFor(problem), tab::btBastion);
            EXPECT_EQ(frmmain::BastionFocusFor(problem), problem.where == FieldProblem::Where::Jump
                                                             ? bastion_tab::txtJump
                                                             : bastion_tab::txtJumpHostKeys);
        }
        EXPECT_EQ(refused, c.refused);
        for (const char16_t* clear : {u"pass phrase", u"new secret"}) {
            EXPECT_FALSE(Contains(o.parameter, clear)) << "the bastion's password only in Base64";
            EXPECT_FALSE(Contains(tested, clear));
        }
        EXPECT_FALSE(o.Form().IsLoaded());
    }
}

TEST(Bastion, OkRefusesAMalformedBastionOfTheOpenedStringUntilTheBastionWindowPutsItRight) {
    const struct {
        std::u16string opened;
        frmmain::OkOutcome outcome;
        FieldProblem::Where where;
        int bastionFocus;
        std::u16string_view message;
    } cases[] = {
        {u"#USR=u#PORT=22#JMP=jump.example#", frmmain::OkOutcome::JumpInvalid, FieldProblem::Where::Jump,
         bastion_tab::txtJump, u"The bastion (JMP) \"jump.example\""},
        {u"#USR=u#PORT=22#JMP=ops@jump.example#JFP=SHA256:cut#", frmmain::OkOutcome::JumpHostKeysInvalid,
         FieldProblem::Where::JumpHostKeys, bastion_tab::txtJumpHostKeys, u"Bastion host key (JFP): "},
    };
    for (const auto& c : cases) {
        TextObject o(c.opened);
        std::u16string message;
        o.presenter.Script({o.presenter.PressTest(), o.presenter.PressOk(),
                            [&](frmmain& f) { message = f.OkMessage(); },
                            o.presenter.PressBastionOk(u"ops@jump.example", u"", u"", u""), o.presenter.PressOk()});
        plugin::sa_showGUI(o);
        EXPECT_EQ(o.presenter.okOutcomes, (std::vector<frmmain::OkOutcome>{c.outcome, frmmain::OkOutcome::Stored}));
        EXPECT_EQ(frmmain::FocusFor(c.outcome), tab::btBastion);
        EXPECT_EQ(frmmain::BastionFocusFor(c.outcome), c.bastionFocus);
        EXPECT_EQ(message.rfind(c.message, 0), 0u) << ToUtf8(message);
        ASSERT_EQ(o.presenter.problems.size(), 1u) << "Test refuses it too";
        EXPECT_EQ(o.presenter.problems[0].where, c.where);
        EXPECT_EQ(o.presenter.problems[0].message, message);
        EXPECT_EQ(o.parameter, kLayout + u"JMP=ops@jump.example#");
        EXPECT_EQ(o.parameterPuts, 1);
    }
}

TEST(Bastion, OpeningFillsTheValuesAndTheyGoWithAnUnload) {
    TextObject o(kLayout + kBastion);
    o.presenter.Script({[](frmmain& f) {
                            EXPECT_EQ(f.txtJump().Text(), u"ops@jump.example:2222");
                            EXPECT_EQ(f.txtJumpPassword().Text(), u"pass phrase");
                            EXPECT_EQ(f.txtJumpKeyfile().Text(), u"C:\\keys\\jump");
                            EXPECT_EQ(f.txtJumpHostKeys().Text(), kPin);
                            EXPECT_EQ(f.btBastion().Text(), u"&Bastion: jump.example");
                        },
                        ScriptedPresenter::Close()});
    plugin::sa_showGUI(o);
    frmmain& form = o.Form();
    EXPECT_FALSE(form.IsLoaded());
    form.SetOpenedParameter(kLayout + kBastion);  // keeps the string only
    EXPECT_FALSE(form.IsLoaded());
    for (const int index : {bastion_tab::txtJump, bastion_tab::txtJumpPassword, bastion_tab::txtJumpKeyfile,
                            bastion_tab::txtJumpHostKeys}) {
        EXPECT_EQ(form.BastionControlAt(index).Text(), u"") << index;
    }
    EXPECT_EQ(form.btBastion().Text(), u"&Bastion...");
    EXPECT_EQ(form.BastionControlAt(bastion_tab::lblJump).Text(), u"Bastion (user@host[:port]):");
    EXPECT_THROW(form.BastionControlAt(static_cast<int>(kBastionControlCount)), AutomationError);
    EXPECT_THROW(form.BastionControlAt(-1), AutomationError);
}

TEST(Bastion, CaptionShowsTheBastionsHost) {
    const struct {
        std::u16string_view jump;
        std::u16string_view caption;
    } cases[] = {
        {u"", u"&Bastion..."},
        {u"   ", u"&Bastion..."},
        {u" ops@jump.example:2222 ", u"&Bastion: jump.example"},
        {u"a@b@[fe80::1]:22", u"&Bastion: fe80::1"},
        {u"jump.example", u"&Bastion: jump.example"},  // malformed: the value itself
        {u"x&y", u"&Bastion: x&&y"},
    };
    for (const auto& c : cases) EXPECT_EQ(frmmain::BastionCaption(c.jump), c.caption) << ToUtf8(c.jump);
}

TEST(Bastion, FetchKeyTakesHostAndPortFromTheTypedJmpAndTheFormsTimeout) {
    const struct {
        std::u16string_view jump;
        std::u16string_view timeout;
        std::u16string host;  // empty: refused
        int port;
        int seconds;
    } cases[] = {
        {u"ops@jump.example", u"", u"jump.example", 22, 10},
        {u" ops@jump.example:2200 ", u"7", u"jump.example", 2200, 7},
        {u"ops@[::1]:2201", u"0", u"::1", 2201, 10},
        {u"", u"7", u"", 0, 0},
        {u"jump.example", u"7", u"", 0, 0},
        {u"ops@jump.example:0", u"7", u"", 0, 0},
    };
    for (const auto& c : cases) {
        NoSshFactory factory;
        frmmain form(factory);
        form.txtTimeout().SetText(std::u16string(c.timeout));
        form.txtHostname().SetText(u"server.example");
        const auto prepared = form.BastionFetchRequestNow(c.jump);
        if (c.host.empty()) {
            ASSERT_TRUE(std::holds_alternative<FieldProblem>(prepared)) << ToUtf8(c.jump);
            EXPECT_EQ(std::get<FieldProblem>(prepared).where, FieldProblem::Where::Jump);
            EXPECT_FALSE(std::get<FieldProblem>(prepared).message.empty());
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<frmmain::FetchRequest>(prepared)) << ToUtf8(c.jump);
        const auto& request = std::get<frmmain::FetchRequest>(prepared);
        EXPECT_EQ(request.host, c.host);
        EXPECT_EQ(request.port, c.port);
        EXPECT_EQ(request.timeout, std::chrono::seconds(c.seconds));
    }
}

// --- Where OK keeps the password -----------------------------------------------------------

constexpr std::u16string_view kHeld = frmmain::kPasswordPlaceholder;
const std::u16string kWithSecret = u"#ENC=T#USR=u#PWD=c2VjcmV0#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#";
const std::u16string kWithPwde = kLayout + u"PWDE=AQID#";
const std::u16string kCredentialName = u"tavrin-dialog-model-test";
const std::u16string kWithCred = kLayout + u"CRED=" + kCredentialName + u"#";

TEST(PasswordStore, OpeningShowsTheStoreAndNeverThePasswordOfAStoreOutsideTheString) {
    const struct {
        std::u16string opened;
        int store;
        std::u16string_view password;  // in the box
        std::u16string_view credential;
    } cases[] = {
        {u"", 0, u"", u""},
        {kWithSecret, 0, u"secret", u""},
        {kWithPwde, 1, kHeld, u""},
        {kWithCred, 2, kHeld, kCredentialName},
        {kWithSecret + u"CRED=" + kCredentialName + u"#PWDE=AQID#", 2, kHeld, kCredentialName},  // CRED first
        {kWithSecret + u"CRED= #", 0, u"secret", u" "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.opened));
        TextObject o(c.opened);
        o.presenter.Script({ScriptedPresenter::Close()});
        plugin::sa_showGUI(o);
        ASSERT_EQ(o.presenter.shown.size(), 1u);
        const auto& shown = o.presenter.shown[0].controls;
        EXPECT_EQ(shown.at(u"cmbPasswordStore"),
                  (ShownControl{std::u16string(kPasswordStoreItems[static_cast<std::size_t>(c.store)]), c.store,
                                {kPasswordStoreItems.begin(), kPasswordStoreItems.end()}}));
        EXPECT_EQ(shown.at(u"txtPassword").text, c.password);
        EXPECT_EQ(shown.at(u"txtCredential").text, c.credential);
        EXPECT_EQ(shown.at(u"Label20").text, u"Keep the password:");
        EXPECT_EQ(frmmain::NamesACredential(c.store), c.store == 2);
    }
    EXPECT_EQ(kHeld.size(), 8u);
    EXPECT_FALSE(frmmain::NamesACredential(-1));
}

// OK for each store. Natively there is no store: OK reports that it is a Windows store. Under
// Windows the password goes where it was asked to, and is read back.
TEST(PasswordStore, OkKeepsTheStoredPasswordUnlessOneIsTypedAnewAndRefusesWhatWouldLoseIt) {
    using Outcome = frmmain::OkOutcome;
    const bool stores = platform::HasWindowsSecretStores();
    const std::u16string question =
        u"Store the password in the Windows Credential Manager of this account as " + kCredentialName + u"?";
    enum class Made { None, Pwde, Credential };  // a password that only a store can show
    const struct {
        const char* name;
        std::u16string opened;
        std::vector<Step> steps;  // then OK, answering Yes, unless a step left the form
        std::vector<Outcome> outcomes;
        std::u16string stored;  // empty: nothing stored
        std::vector<std::u16string> questions;
        Made made;
    } cases[] = {
        {"Base64 untouched", kWithSecret, {}, {Outcome::Stored}, kWithSecret, {}, Made::None},
        {"PWDE untouched: the opened value", kWithPwde, {}, {Outcome::Stored}, kWithPwde, {}, Made::None},
        {"CRED untouched: no question, nothing written", kWithCred, {}, {Outcome::Stored}, kWithCred, {}, Made::None},
        {"CRED renamed, placeholder kept", kWithCred, {ScriptedPresenter::Type(tab::txtCredential, u" other ")},
         {Outcome::Stored}, kLayout + u"CRED=other#", {}, Made::None},
        {"PWDE to Base64 with the placeholder: refused, then typed", kWithPwde,
         {ScriptedPresenter::Pick(tab::cmbPasswordStore, 0), ScriptedPresenter::Type(tab::txtUsername, u"u")},
         {Outcome::PasswordKeptOutside, Outcome::Stored}, kWithSecret, {}, Made::None},
        {"CRED to PWDE with the placeholder and no PWDE opened: refused", kWithCred,
         {ScriptedPresenter::Pick(tab::cmbPasswordStore, 1)}, {Outcome::PasswordNeeded}, u"", {}, Made::None},
        {"PWDE with an emptied box: refused", kWithPwde, {ScriptedPresenter::Type(tab::txtPassword, u"")},
         {Outcome::PasswordNeeded}, u"", {}, Made::None},
        {"CRED with no name: refused", kWithSecret,
         {ScriptedPresenter::Pick(tab::cmbPasswordStore, 2), ScriptedPresenter::Type(tab::txtCredential, u"  ")},
         {Outcome::CredentialNameMissing}, u"", {}, Made::None},
        {"CRED typed anew, No: nothing written", kWithCred, {ScriptedPresenter::Type(tab::txtPassword, u"typed")},
         {Outcome::CredentialQuestion}, u"", {question}, Made::None},
        {"Base64 to PWDE: encrypted with this computer's key", kWithSecret,
         {ScriptedPresenter::Pick(tab::cmbPasswordStore, 1)},
         {stores ? Outcome::Stored : Outcome::PasswordStoreFailed}, u"", {}, Made::Pwde},
        {"PWDE typed anew: a new value", kWithPwde, {ScriptedPresenter::Type(tab::txtPassword, u"secret")},
         {stores ? Outcome::Stored : Outcome::PasswordStoreFailed}, u"", {}, Made::Pwde},
        {"Base64 to CRED, Yes: written", kWithSecret,
         {ScriptedPresenter::Pick(tab::cmbPasswordStore, 2), ScriptedPresenter::Type(tab::txtCredential, kCredentialName)},
         {Outcome::CredentialQuestion, stores ? Outcome::Stored : Outcome::PasswordStoreFailed}, u"", {question},
         Made::Credential},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TextObject o(c.opened);
        std::vector<Step> steps = c.steps;
        std::vector<std::u16string> messages;
        std::u16string passwordBefore, passwordLeft;  // in the box before OK, and at the end
        const auto ok = o.presenter.PressOkAnswering(c.questions.empty() || c.made == Made::Credential);
        const auto note = [&](frmmain& f) { messages.push_back(f.OkMessage()); };
        steps.push_back([&](frmmain& f) { passwordBefore = f.txtPassword().Text(); });
        steps.push_back(ok);
        steps.push_back(note);
        if (c.outcomes.size() == 2 && c.outcomes[0] == Outcome::PasswordKeptOutside) {
            steps.push_back(ScriptedPresenter::Type(tab::txtPassword, u"secret"));
            steps.push_back(ok);
        }
        steps.push_back([&](frmmain& f) { passwordLeft = f.txtPassword().Text(); });
        steps.push_back(ScriptedPresenter::Close());
        o.presenter.Script(std::move(steps));
        plugin::sa_showGUI(o);
        EXPECT_EQ(o.presenter.okOutcomes, c.outcomes);
        EXPECT_EQ(o.presenter.questions, c.questions);
        if (c.outcomes.back() != Outcome::Stored) {
            EXPECT_EQ(passwordLeft, passwordBefore) << "a refusal leaves the box as it was";
            EXPECT_EQ(o.parameterPuts, 0);
            EXPECT_EQ(o.parameter, c.opened);
            ASSERT_FALSE(messages.empty());
            const std::u16string& said = messages.back();
            switch (c.outcomes.back()) {
                case Outcome::PasswordNeeded:
                    EXPECT_EQ(said, u"Type the password to be encrypted for this computer.");
                    EXPECT_EQ(frmmain::FocusFor(c.outcomes.back()), tab::txtPassword);
                    break;
                case Outcome::CredentialNameMissing:
                    EXPECT_EQ(said, u"Type the name of the credential in the Windows Credential Manager.");
                    EXPECT_EQ(frmmain::FocusFor(c.outcomes.back()), tab::txtCredential);
                    break;
                case Outcome::CredentialQuestion: EXPECT_EQ(said, question); break;
                case Outcome::PasswordStoreFailed:
                    EXPECT_TRUE(Contains(said, u"is a Windows store")) << ToUtf8(said);
                    EXPECT_EQ(frmmain::FocusFor(c.outcomes.back()), tab::cmbPasswordStore);
                    break;
                default: ADD_FAILURE() << "unexpected outcome";
            }
            continue;
        }
        EXPECT_EQ(o.parameterPuts, 1);
        if (c.outcomes.front() == Outcome::PasswordKeptOutside) {
            EXPECT_EQ(messages.front(),
                      u"The password is kept outside the check. Type it again to keep it in the check (Base64).");
            EXPECT_EQ(frmmain::FocusFor(Outcome::PasswordKeptOutside), tab::txtPassword);
        }
        EXPECT_FALSE(Contains(o.parameter, u"\uE000")) << "the placeholder is never written";
        switch (c.made) {
            case Made::None: EXPECT_EQ(o.parameter, c.stored); break;
            case Made::Pwde: {
                const std::u16string value = Generic::GetField(o.parameter, u"PWDE");
                EXPECT_EQ(o.parameter, kLayout + u"PWDE=" + value + u"#");
                EXPECT_NE(value, u"AQID");
                std::string blob;
                ASSERT_TRUE(DecodeBase64(ToUtf8(value), blob));
                const platform::DpapiResult opened = platform::UnprotectPassword(blob);
                ASSERT_TRUE(opened.ok) << ToUtf8(opened.error);
                EXPECT_EQ(opened.password.get(), u"secret");
                break;
            }
            case Made::Credential: {
                EXPECT_EQ(o.parameter, kLayout + u"CRED=" + kCredentialName + u"#");
                const platform::CredentialRead read = platform::ReadGenericCredential(kCredentialName);
                ASSERT_EQ(read.end, platform::CredentialRead::End::Read) << ToUtf8(read.error);
                EXPECT_EQ(read.user, u"u");
                EXPECT_EQ(read.password.get(), u"secret");
                EXPECT_EQ(platform::DeleteGenericCredential(kCredentialName), u"");
                break;
            }
        }
    }
}

TEST(PasswordStore, TestRunsWhatOkWouldWriteAndNeverWritesTheCredentialManager) {
    const struct {
        const char* name;
        std::u16string opened;
        std::vector<Step> steps;
        std::u16string tested;  // empty: refused
        frmmain::OkOutcome refusal;
    } cases[] = {
        {"PWDE kept", kWithPwde, {}, kWithPwde, {}},
        {"CRED kept", kWithCred, {}, kWithCred, {}},
        {"CRED typed anew: tested with the password in the string", kWithCred,
         {ScriptedPresenter::Type(tab::txtPassword, u"secret")}, kWithSecret, {}},
        {"Base64 with the placeholder", kWithCred, {ScriptedPresenter::Pick(tab::cmbPasswordStore, 0)}, u"",
         frmmain::OkOutcome::PasswordKeptOutside},
        {"CRED with no name", kWithSecret, {ScriptedPresenter::Pick(tab::cmbPasswordStore, 2)}, u"",
         frmmain::OkOutcome::CredentialNameMissing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TextObject o(c.opened);
        std::vector<Step> steps = c.steps;
        std::variant<TestRequest, FieldProblem, frmmain::StoreProblem> prepared;
        steps.push_back([&](frmmain& f) { prepared = f.TestRequestNow(); });
        steps.push_back(ScriptedPresenter::Close());
        o.presenter.Script(std::move(steps));
        plugin::sa_showGUI(o);
        if (c.tested.empty()) {
            ASSERT_TRUE(std::holds_alternative<frmmain::StoreProblem>(prepared));
            EXPECT_EQ(std::get<frmmain::StoreProblem>(prepared).outcome, c.refusal);
        } else {
            ASSERT_TRUE(std::holds_alternative<TestRequest>(prepared));
            EXPECT_EQ(std::get<TestRequest>(prepared).parameter, c.tested);
        }
        EXPECT_EQ(platform::ReadGenericCredential(kCredentialName).end == platform::CredentialRead::End::Read, false)
            << "a test writes no credential";
        EXPECT_EQ(o.parameterPuts, 0);
    }
}

TEST(Icon, IsALightScreenAboveAGreyBaseInSixteenColours) {
    const struct {
        int size;
        int screenX, screenY;  // inside the screen, clear of the prompt
        int baseX, baseY;      // inside the base
    } probes[] = {{32, 6, 17, 12, 28}, {16, 4, 8, 8, 14}};
    for (const auto& p : probes) {
        const IconImage icon = DrawFormIcon(p.size);
        ASSERT_EQ(icon.size, p.size);
        ASSERT_EQ(icon.colour.size(), static_cast<std::size_t>(p.size * p.size));
        for (std::size_t i = 0; i < icon.colour.size(); ++i) {
            EXPECT_LT(icon.colour[i], 16);
            if (icon.transparent[i]) {
                EXPECT_EQ(icon.colour[i], 0) << "a transparent pixel must be black";
            }
        }
        EXPECT_TRUE(icon.IsTransparent(0, 0));
        EXPECT_TRUE(icon.IsTransparent(p.size - 1, 0));
        EXPECT_TRUE(icon.IsTransparent(0, p.size - 1));
        EXPECT_EQ(kIconPalette[icon.At(p.screenX, p.screenY)], 0xFFFFFFu) << p.size;
        EXPECT_EQ(kIconPalette[icon.At(p.baseX, p.baseY)], 0x808080u) << p.size;
        EXPECT_FALSE(icon.IsTransparent(p.baseX, p.baseY));
    }
    EXPECT_EQ(DrawFormIcon(24).size, 0);
}

}  // namespace
}  // namespace tavrin::dialog
