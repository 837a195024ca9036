// The form frmmain as a model: design, loading, the lists' behaviour, the icon's pixels.

#include "common/automation_error.h"
#include "common/version.h"
#include "dialog/form_icon_image.h"
#include "dialog/form_layout.h"
#include "dialog/frmmain.h"
#include "dialog/presenter.h"
#include "form_test_support.h"

#include <gtest/gtest.h>

#include <set>

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
