#pragma once
// The design of the form frmmain: its client size, its controls in tab order with their kinds,
// design-time texts and geometry (twips, from the client area's top left corner), the items of
// its four lists and its title. The Windows dialog is drawn from this table.
//
// The first 25 controls are the form as it has always been, unchanged; the band below them
// (host keys, kept login, the test and its result, the bastion's button, where OK keeps the
// password) came later and follows them in tab order. The Bastion window, which that button opens, has a table of its own.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace tavrin::dialog {

enum class ControlKind {
    TextBox,        // a single-line edit field
    MaskedTextBox,  // a single-line edit field that shows every character as "*"
    Label,          // a caption that never takes the focus
    ComboBox,       // a drop-down combo box: an edit field with a drop-down list
    CommandButton,  // a push button, neither default nor cancel
    ResultBox,      // a read-only multi-line edit field with a vertical scroll bar
    DropDownList,   // a drop-down list whose text is always one of its items (no edit field)
};

struct ControlLayout {
    int tabIndex;
    std::u16string_view name;
    ControlKind kind;
    std::u16string_view designText;
    int left;
    int top;
    int width;
    int height;
};

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kFormClientWidth = 7425;
inline constexpr int kFormClientHeight = 7335;
// Where the band of later controls begins: the form's height before it.
inline constexpr int kClassicFormClientHeight = 4320;
inline constexpr std::size_t kClassicControlCount = 25;
inline constexpr std::size_t kControlCount = 37;

// Tab indexes of the controls; the table below is indexed by them.
namespace tab {
inline constexpr int txtHostname = 0;
inline constexpr int Label1 = 1;
inline constexpr int cmbProtocol = 2;
inline constexpr int txtPort = 3;
inline constexpr int Label9 = 4;
inline constexpr int Label10 = 5;
inline constexpr int txtUsername = 6;
inline constexpr int txtPassword = 7;
inline constexpr int Label2 = 8;
inline constexpr int Label3 = 9;
inline constexpr int txtKeyfile = 10;
inline constexpr int cmbKeyType = 11;
inline constexpr int Label15 = 12;
inline constexpr int Label16 = 13;
inline constexpr int Label12 = 14;
inline constexpr int txtCommand = 15;
inline constexpr int cmbContains = 16;
inline constexpr int txtContains = 17;
inline constexpr int Label6 = 18;
inline constexpr int btOK = 19;
inline constexpr int txtTimeout = 20;
inline constexpr int Label4 = 21;
inline constexpr int Label5 = 22;
inline constexpr int Label7 = 23;
inline constexpr int cmbReturnResult = 24;
inline constexpr int Label17 = 25;
inline constexpr int txtHostKeys = 26;
inline constexpr int btFetchKey = 27;
inline constexpr int Label18 = 28;
inline constexpr int txtReuse = 29;
inline constexpr int Label19 = 30;
inline constexpr int btTest = 31;
inline constexpr int txtTestResult = 32;
inline constexpr int btBastion = 33;
inline constexpr int Label20 = 34;
inline constexpr int cmbPasswordStore = 35;
inline constexpr int txtCredential = 36;
}  // namespace tab

// clang-format off
inline constexpr std::array<ControlLayout, kControlCount> kFormLayout{{
    {tab::txtHostname,     u"txtHostname",     ControlKind::TextBox,       u"",            1560,  120, 4455, 285},
    {tab::Label1,          u"Label1",          ControlKind::Label,         u"Hostname:",    120,  180, 1215, 255},
    {tab::cmbProtocol,     u"cmbProtocol",     ControlKind::ComboBox,      u"",            1560,  480, 2295, 315},
    {tab::txtPort,         u"txtPort",         ControlKind::TextBox,       u"",            4920,  480, 1095, 285},
    {tab::Label9,          u"Label9",          ControlKind::Label,         u"Protocol:",    120,  540, 1215, 255},
    {tab::Label10,         u"Label10",         ControlKind::Label,         u"Port:",       3960,  540,  855, 255},
    {tab::txtUsername,     u"txtUsername",     ControlKind::TextBox,       u"",            1560,  840, 2295, 285},
    {tab::txtPassword,     u"txtPassword",     ControlKind::MaskedTextBox, u"",            4920,  840, 2175, 285},
    {tab::Label2,          u"Label2",          ControlKind::Label,         u"User Name:",   120,  900, 1215, 255},
    {tab::Label3,          u"Label3",          ControlKind::Label,         u"Password:",   3960,  900,  855, 255},
    {tab::txtKeyfile,      u"txtKeyfile",      ControlKind::TextBox,       u"",            1560, 1200, 3255, 285},
    {tab::cmbKeyType,      u"cmbKeyType",      ControlKind::ComboBox,      u"",            6360, 1200,  735, 315},
    {tab::Label15,         u"Label15",         ControlKind::Label,         u"Key file:",    120, 1260, 1215, 255},
    {tab::Label16,         u"Label16",         ControlKind::Label,         u"Key type:",   5280, 1260,  975, 255},
    {tab::Label12,         u"Label12",         ControlKind::Label,         u"Command:",     120, 1740, 1215, 255},
    {tab::txtCommand,      u"txtCommand",      ControlKind::TextBox,       u"",            1560, 1680, 5655, 765},
    {tab::cmbContains,     u"cmbContains",     ControlKind::ComboBox,      u"",            1560, 2640, 2055, 315},
    {tab::txtContains,     u"txtContains",     ControlKind::TextBox,       u"",            3720, 2640, 3495, 285},
    {tab::Label6,          u"Label6",          ControlKind::Label,         u"The result",   240, 2700, 1215, 255},
    {tab::btOK,            u"btOK",            ControlKind::CommandButton, u"&OK",         6480, 3600,  735, 375},
    {tab::txtTimeout,      u"txtTimeout",      ControlKind::TextBox,       u"",            1560, 3720, 1095, 285},
    {tab::Label4,          u"Label4",          ControlKind::Label,         u"Timeout:",     120, 3780, 1215, 255},
    {tab::Label5,          u"Label5",          ControlKind::Label,         u"seconds",     2760, 3780, 1215, 255},
    {tab::Label7,          u"Label7",          ControlKind::Label,         u"The output ",  240, 3180, 1215, 255},
    {tab::cmbReturnResult, u"cmbReturnResult", ControlKind::ComboBox,      u"",            1560, 3120, 5655, 315},
    {tab::Label17,         u"Label17",         ControlKind::Label,         u"Host key:",    120, 4500, 1215, 255},
    {tab::txtHostKeys,     u"txtHostKeys",     ControlKind::TextBox,       u"",            1560, 4440, 4455, 285},
    {tab::btFetchKey,      u"btFetchKey",      ControlKind::CommandButton, u"&Fetch key",  6120, 4395, 1095, 375},
    {tab::Label18,         u"Label18",         ControlKind::Label,         u"Keep login:",  120, 4920, 1215, 255},
    {tab::txtReuse,        u"txtReuse",        ControlKind::TextBox,       u"",            1560, 4860, 1095, 285},
    {tab::Label19,         u"Label19",         ControlKind::Label,         u"seconds idle", 2760, 4920, 1215, 255},
    {tab::btTest,          u"btTest",          ControlKind::CommandButton, u"&Test",       6480, 4815,  735, 375},
    {tab::txtTestResult,   u"txtTestResult",   ControlKind::ResultBox,     u"",             120, 5340, 7095, 1455},
    {tab::btBastion,       u"btBastion",       ControlKind::CommandButton, u"&Bastion...", 4080, 4815, 2295, 375},
    {tab::Label20,         u"Label20",         ControlKind::Label,         u"Keep the password:", 120, 6960, 1680, 255},
    {tab::cmbPasswordStore, u"cmbPasswordStore", ControlKind::DropDownList, u"",           1860, 6900, 2895, 315},
    {tab::txtCredential,   u"txtCredential",   ControlKind::TextBox,       u"",            4860, 6900, 2355, 285},
}};
// clang-format on

// The Bastion window: a small modal window owned by the form, with the bastion's fields (JMP,
// JPW, JKF, JFP), a Fetch key of its own for the bastion's host key, and OK and Cancel. Same
// units and control kinds as the form; the ids are ControlId(index) in its own window.
inline constexpr int kBastionClientWidth = 7215;
inline constexpr int kBastionClientHeight = 3255;
inline constexpr std::size_t kBastionControlCount = 12;

namespace bastion_tab {
inline constexpr int lblJump = 0;
inline constexpr int txtJump = 1;
inline constexpr int lblJumpPassword = 2;
inline constexpr int txtJumpPassword = 3;
inline constexpr int lblJumpKeyfile = 4;
inline constexpr int txtJumpKeyfile = 5;
inline constexpr int lblJumpHostKeys = 6;
inline constexpr int txtJumpHostKeys = 7;
inline constexpr int btJumpFetchKey = 8;
inline constexpr int txtJumpResult = 9;
inline constexpr int btJumpOK = 10;
inline constexpr int btJumpCancel = 11;
}  // namespace bastion_tab

inline constexpr std::array<ControlLayout, kBastionControlCount> kBastionLayout{{
    {bastion_tab::lblJump, u"lblJump", ControlKind::Label, u"Bastion (user@host[:port]):", 120, 180, 2415, 255},
    {bastion_tab::txtJump, u"txtJump", ControlKind::TextBox, u"", 2640, 120, 4455, 285},
    {bastion_tab::lblJumpPassword, u"lblJumpPassword", ControlKind::Label, u"Password or pass phrase:",
     120, 540, 2415, 255},
    {bastion_tab::txtJumpPassword, u"txtJumpPassword", ControlKind::MaskedTextBox, u"", 2640, 480, 2295, 285},
    {bastion_tab::lblJumpKeyfile, u"lblJumpKeyfile", ControlKind::Label, u"Key file:", 120, 900, 2415, 255},
    {bastion_tab::txtJumpKeyfile, u"txtJumpKeyfile", ControlKind::TextBox, u"", 2640, 840, 4455, 285},
    {bastion_tab::lblJumpHostKeys, u"lblJumpHostKeys", ControlKind::Label, u"Host key (SHA256):", 120, 1320, 2415, 255},
    {bastion_tab::txtJumpHostKeys, u"txtJumpHostKeys", ControlKind::TextBox, u"", 2640, 1260, 3255, 285},
    {bastion_tab::btJumpFetchKey, u"btJumpFetchKey", ControlKind::CommandButton, u"&Fetch key", 6000, 1215, 1095, 375},
    {bastion_tab::txtJumpResult, u"txtJumpResult", ControlKind::ResultBox, u"", 120, 1740, 6975, 855},
    {bastion_tab::btJumpOK, u"btJumpOK", ControlKind::CommandButton, u"&OK", 5520, 2760, 735, 375},
    {bastion_tab::btJumpCancel, u"btJumpCancel", ControlKind::CommandButton, u"&Cancel", 6360, 2760, 735, 375},
}};

// The Bastion window's title.
inline constexpr std::u16string_view kBastionTitle = u"Bastion";

// The window's control ids: a fixed base plus the tab index, clear of the ids 1 and 2 that
// Windows sends for Enter and Esc.
inline constexpr int kControlIdBase = 1000;
constexpr int ControlId(int tabIndex) { return kControlIdBase + tabIndex; }

// The layout entry of a control by name, or null.
const ControlLayout* FindControlLayout(std::u16string_view name);

// The items of the lists, in index order.
inline constexpr std::array<std::u16string_view, 3> kProtocolItems{u"SSH1", u"SSH2", u"SSH Auto"};
inline constexpr std::array<std::u16string_view, 2> kKeyTypeItems{u"RSA", u"DSA"};
// The first four are the list as it always was; the later rules follow them, so that every
// stored code keeps its index.
inline constexpr std::array<std::u16string_view, 7> kContainsItems{
    u"should contain",         u"shouldn't contain",           u"should be less then",
    u"should be greater then", u"should end with the exit status", u"should match the pattern",
    u"should not match the pattern"};
inline constexpr std::array<std::u16string_view, 3> kReturnResultItems{
    u"should not be within the returned data", u"should be within the returned data when DOWN",
    u"should always be within the returned data"};
// Where OK keeps the password, in the order of DialogFields::PasswordStore: the first, the
// default, is the string itself (PWD), the second DPAPI with this computer's key (PWDE), the
// third a generic credential named in txtCredential (CRED).
inline constexpr std::array<std::u16string_view, 3> kPasswordStoreItems{
    u"in the check (Base64)", u"encrypted for this computer", u"in Windows Credential Manager as:"};

// "Tavrin SSH Command checker version <major>.<minor> build  <revision>" (the revision keeps
// a leading blank, so two blanks follow "build").
std::u16string FormTitle(int major, int minor, int revision);
// The title from this component's own version record (common/version.h).
std::u16string FormTitle();

// Twips to pixels at the given dots per inch, rounded down as the window system does.
constexpr int TwipsToPixels(int twips, int dpi) { return twips * dpi / kTwipsPerInch; }

}  // namespace tavrin::dialog
