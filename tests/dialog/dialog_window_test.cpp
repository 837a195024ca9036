// The real dialog under Wine: sa_showGUI runs its modal loop on the test's main thread while a
// second thread plays the user through window messages, as another program would.

#include "common/base64.h"
#include "common/text.h"
#include "dialog/form_layout.h"
#include "dialog/frmmain.h"
#include "parameters/fields.h"
#include "parameters/generic.h"
#include "platform/secret_store.h"
#include "plugin/portable_object.h"
#include "plugin/show_gui.h"
#include "dialog/win32/form_window.h"
#include "form_test_support.h"
#include "window_driver.h"
#include "platform/message_queue.h"
#include "ssh/libssh_component.h"
#include "tests/ssh/ssh_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tavrin::dialog {
namespace {

using plugin::sa_showGUI;

using namespace std::chrono_literals;
using namespace driver;
using win32::kFormWindowClass;

// A plug-in object whose form is shown by the platform's own presenter, the Win32 dialog.
// `component`: what its check run and the dialog's Test use (none by default).
class WindowObject final : public plugin::ObjectAccess {
public:
    explicit WindowObject(std::u16string parameter = u"", std::u16string hostname = u"", std::u16string timeout = u"",
                          ssh::ComponentFactory* component = nullptr)
        : parameter(std::move(parameter)), hostname(std::move(hostname)), timeout(std::move(timeout)),
          form_(component != nullptr ? *component : factory_) {}
    std::int16_t TimeoutAsInteger16() override { return 0; }
    std::u16string TimeoutAsText() override { return timeout; }
    std::u16string HostnameAsText() override { return hostname; }
    std::u16string ParameterAsText() override { return parameter; }
    void PutResult(const std::u16string&) override {}
    void PutParameter(const std::u16string& text) override {
        parameter = text;
        ++parameterPuts;
    }
    frmmain& Form() override { return form_; }

    std::u16string parameter, hostname, timeout;
    int parameterPuts = 0;

private:
    testing::NoSshFactory factory_;
    frmmain form_;
};

constexpr std::u16string_view kStored =
    u"#ENC=T#USR= admin #PWD=c2VjcmV0#PROTO=1#PORT=2222#KEYF=C:\\keys\\id_rsa#KEYT=DSA#CMD=ZGYgLWs=#CCO=LT#CON=90"
    u"#RRE=YED#";

TEST(DialogWindow, ShowsTheDesignFilledFromTheObjectAndACloseStoresNothing) {
    WindowObject object(std::u16string(kStored), u" server.example ", u"30");
    const int dpi = ScreenDpi();
    const auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        EXPECT_EQ(Text(dialog), testing::Wide(testing::ExpectedTitle()));
        EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr) << "no owner window";
        EXPECT_NE(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "held in the topmost band";
        EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0), 0);
        EXPECT_NE(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0), 0);
        RECT client;
        GetClientRect(dialog, &client);
        EXPECT_EQ(client.right, px(kFormClientWidth));
        EXPECT_EQ(client.bottom, px(kFormClientHeight));

        const auto style_of = [](HWND window) { return GetWindowLongPtrW(window, GWL_STYLE); };
        // The children, in creation (tab) order, each of its kind where the design puts it.
        std::size_t tabIndex = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT), ++tabIndex) {
            ASSERT_LT(tabIndex, kFormLayout.size());
            const ControlLayout& c = kFormLayout[tabIndex];
            const std::string name = ToUtf8(c.name);
            EXPECT_EQ(GetDlgCtrlID(child), ControlId(c.tabIndex)) << name;
            const bool list = c.kind == ControlKind::ComboBox || c.kind == ControlKind::DropDownList;
            const wchar_t* expectedClass = c.kind == ControlKind::Label           ? L"Static"
                                           : list                                 ? L"ComboBox"
                                           : c.kind == ControlKind::CommandButton ? L"Button"
                                                                                  : L"Edit";
            if (c.kind == ControlKind::ResultBox) {
                EXPECT_EQ(style_of(child) & (ES_MULTILINE | ES_READONLY | WS_VSCROLL),
                          ES_MULTILINE | ES_READONLY | WS_VSCROLL) << name;
                EXPECT_EQ(Text(child), L"") << "empty at load";
            }
            if (c.kind == ControlKind::CommandButton) {
                EXPECT_EQ(Text(child), std::wstring(c.designText.begin(), c.designText.end())) << name;
            }
            EXPECT_EQ(_wcsicmp(ClassOf(child).c_str(), expectedClass), 0) << name;
            const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
            EXPECT_EQ((style & WS_TABSTOP) != 0, c.kind != ControlKind::Label) << name;
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_EQ(r.left, px(c.left)) << name;
            EXPECT_EQ(r.top, px(c.top)) << name;
            EXPECT_EQ(r.right - r.left, px(c.width)) << name;
            if (list) {
                EXPECT_EQ(style & 3, c.kind == ControlKind::ComboBox ? CBS_DROPDOWN : CBS_DROPDOWNLIST) << name;
                EXPECT_NEAR(r.bottom - r.top, px(c.height), 4) << name;
            } else {
                EXPECT_EQ(r.bottom - r.top, px(c.height)) << name;
            }
            if (c.kind == ControlKind::Label) {
                EXPECT_EQ(Text(child), std::wstring(c.designText.begin(), c.designText.end())) << name;
            }
        }
        EXPECT_EQ(tabIndex, kFormLayout.size());

        HWND password = Item(dialog, tab::txtPassword);
        EXPECT_NE(GetWindowLongPtrW(password, GWL_STYLE) & ES_PASSWORD, 0);
        EXPECT_EQ(SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), L'*');
        HWND ok = Item(dialog, tab::btOK);
        EXPECT_EQ(Text(ok), L"&OK");
        EXPECT_EQ(GetWindowLongPtrW(ok, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON) << "not a default button";

        EXPECT_EQ(Text(dialog, tab::txtHostname), L"server.example");
        EXPECT_EQ(Text(dialog, tab::txtTimeout), L"30");
        EXPECT_EQ(Text(dialog, tab::txtUsername), L" admin ");
        EXPECT_EQ(Text(password), L"secret");
        EXPECT_EQ(Text(dialog, tab::txtPort), L"2222");
        EXPECT_EQ(Text(dialog, tab::txtKeyfile), L"C:\\keys\\id_rsa");
        EXPECT_EQ(Text(dialog, tab::txtCommand), L"df -k");
        EXPECT_EQ(Text(dialog, tab::txtContains), L"90");
        const struct {
            int tabIndex;
            std::vector<std::wstring> items;
            int selected;
        } lists[] = {
            {tab::cmbProtocol, {L"SSH1", L"SSH2", L"SSH Auto"}, 0},
            {tab::cmbKeyType, {L"RSA", L"DSA"}, 1},
            {tab::cmbContains,
             {L"should contain", L"shouldn't contain", L"should be less then", L"should be greater then",
              L"should end with the exit status", L"should match the pattern", L"should not match the pattern"},
             2},
            {tab::cmbReturnResult,
             {L"should not be within the returned data", L"should be within the returned data when DOWN",
              L"should always be within the returned data"},
             1},
            {tab::cmbPasswordStore,
             {L"in the check (Base64)", L"encrypted for this computer", L"in Windows Credential Manager as:"},
             0},
        };
        for (const auto& list : lists) {
            HWND combo = Item(dialog, list.tabIndex);
            EXPECT_EQ(Items(combo), list.items) << list.tabIndex;
            EXPECT_EQ(Selection(combo), list.selected) << list.tabIndex;
            EXPECT_EQ(Text(combo), list.items[static_cast<std::size_t>(list.selected)]) << list.tabIndex;
        }

        // The credential's name box takes input only while the list names the Credential Manager.
        HWND credential = Item(dialog, tab::txtCredential);
        for (const int store : {0, 2, 1, 2, 0}) {
            Choose(dialog, tab::cmbPasswordStore, store);
            EXPECT_EQ(IsWindowEnabled(credential) != FALSE, store == 2) << store;
        }

        Type(dialog, tab::txtUsername, L"typed, then closed");
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(object.parameter, kStored);
    EXPECT_EQ(object.parameterPuts, 0);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    for (const wchar_t* name : {kFormWindowClass, win32::kBastionWindowClass}) {
        EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), name, &cls))
            << "the window classes are unregistered after the showing";
    }
}

TEST(DialogWindow, OkComposesFromWhatWasTypedAndPicked) {
    WindowObject object(u"", u"h", u"10");
    ShowWithUser([&] { sa_showGUI(object); }, [](HWND dialog) {
        EXPECT_EQ(Text(dialog, tab::txtPort), L"22");
        EXPECT_EQ(Selection(Item(dialog, tab::cmbProtocol)), 2);
        Type(dialog, tab::txtUsername, L"  root ");
        Type(dialog, tab::txtPassword, L"pw");
        SendMessageW(Item(dialog, tab::cmbProtocol), CB_SETCURSEL, 1, 0);
        Type(dialog, tab::txtPort, L" 022 ");
        Type(dialog, tab::txtKeyfile, L"  /home/u/.ssh/id  ");
        Type(dialog, tab::cmbKeyType, L"ECDSA");  // free text: no item
        Type(dialog, tab::txtCommand, L"df -k");
        SendMessageW(Item(dialog, tab::cmbContains), CB_SETCURSEL, 3, 0);
        Type(dialog, tab::txtContains, L" 80 ");
        Type(dialog, tab::cmbReturnResult, L"should always be within the returned data");  // an item's text
        Type(dialog, tab::txtHostname, L"ignored");
        Click(Item(dialog, tab::btOK));
    });
    EXPECT_EQ(object.parameter, u"#ENC=T#USR=  root #PWD=cHc=#PROTO=2#PORT=22#KEYF=/home/u/.ssh/id#KEYT=#CMD=ZGYgLWs="
                                u"#CCO=GT#CON= 80 #RRE=YEA#");
    EXPECT_EQ(object.parameterPuts, 1);
    EXPECT_EQ(object.hostname, u"h");
}

TEST(DialogWindow, APortThatIsNotANumberIsReportedAndTheDialogStaysOpen) {
    WindowObject object(u"#USR=u#PORT=22#");
    ShowWithUser([&] { sa_showGUI(object); }, [](HWND dialog) {
        Type(dialog, tab::txtPassword, L"secret");
        Type(dialog, tab::txtPort, L"twenty-two");
        Click(Item(dialog, tab::btOK));
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = OwnedMessageBox(dialog)) != nullptr; })) << "no message box";
        EXPECT_NE(MessageBoxText(box).find(L"-32768 to 32767"), std::wstring::npos) << "the box says the range";
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitFor([&] { return OwnedMessageBox(dialog) == nullptr; }));
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_EQ(Text(dialog, tab::txtPort), L"twenty-two");
        EXPECT_EQ(Text(dialog, tab::txtPassword), L"secret");
        EXPECT_EQ(Text(dialog, tab::txtUsername), L"u");
        Type(dialog, tab::txtPort, L"2222");
        Click(Item(dialog, tab::btOK));
    });
    EXPECT_EQ(object.parameter, u"#ENC=T#USR=u#PWD=c2VjcmV0#PROTO=A#PORT=2222#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#");
    EXPECT_EQ(object.parameterPuts, 1);
}

TEST(DialogWindow, EnterAndEscDoNothing) {
    WindowObject object(u"#USR=u#");
    ShowWithUser([&] { sa_showGUI(object); }, [](HWND dialog) {
        HWND user = Item(dialog, tab::txtUsername);
        for (const WPARAM key : {VK_RETURN, VK_ESCAPE}) {
            PostMessageW(user, WM_KEYDOWN, key, 1);
            PostMessageW(user, WM_KEYUP, key, 0xC0000001);
        }
        std::this_thread::sleep_for(500ms);
        EXPECT_TRUE(IsWindowVisible(dialog));
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(object.parameterPuts, 0);
    EXPECT_EQ(object.parameter, u"#USR=u#");
}

TEST(DialogWindow, AltOPressesOk) {
    WindowObject object;
    ShowWithUser([&] { sa_showGUI(object); }, [](HWND dialog) {
        PostMessageW(Item(dialog, tab::txtUsername), WM_SYSCHAR, L'o', 0x20000000);  // Alt held
    });
    EXPECT_EQ(object.parameter, u"#ENC=T#USR=#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#");
}

TEST(DialogWindow, TheThreadKeepsDispatchingWhileTheDialogIsOpen) {
    WindowObject object;
    const platform::QueueHandle queue = platform::CurrentThreadQueue();
    const DWORD mainThread = GetCurrentThreadId();
    std::atomic<DWORD> ranOn{0};
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        ASSERT_TRUE(queue.Post([&] { ranOn = GetCurrentThreadId(); }));
        EXPECT_TRUE(WaitFor([&] { return ranOn.load() != 0; }, 5s)) << "a posted task did not run";
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(ranOn.load(), mainThread);
}

// No field stops the user at the edit control's default of 32,767 typed characters: text
// boxes and the lists' edit fields alike take typing beyond it.
TEST(DialogWindow, EveryFieldTakesTypingBeyond32767Characters) {
    WindowObject object;
    const std::wstring full(32767, L'a');
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        int fields = 0;
        Choose(dialog, tab::cmbPasswordStore, 2);  // the credential's name box takes input
        for (const ControlLayout& c : kFormLayout) {
            if (c.kind == ControlKind::Label || c.kind == ControlKind::CommandButton ||
                c.kind == ControlKind::ResultBox || c.kind == ControlKind::DropDownList) {
                continue;
            }
            ++fields;
            HWND control = Item(dialog, c.tabIndex);
            HWND edit = c.kind == ControlKind::ComboBox ? FindWindowExW(control, nullptr, L"Edit", nullptr) : control;
            ASSERT_NE(edit, nullptr) << ToUtf8(c.name);
            SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(full.c_str()));
            SendMessageW(edit, EM_SETSEL, full.size(), full.size());
            for (const wchar_t typed : {L'x', L'y', L'z'}) SendMessageW(edit, WM_CHAR, typed, 1);
            const std::wstring typed = Text(edit);  // compared in parts: a failure stays readable
            EXPECT_EQ(typed.size(), full.size() + 3) << ToUtf8(c.name);
            EXPECT_EQ(typed.substr(typed.size() < 4 ? 0 : typed.size() - 4), L"axyz") << ToUtf8(c.name);
        }
        EXPECT_EQ(fields, 15);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
}

TEST(DialogWindow, TwoObjectsShowOneAfterTheOtherAndACloseKeepsTheEarlierResultOut) {
    WindowObject first, second(u"#USR=second#");
    ShowWithUser([&] { sa_showGUI(first); }, [](HWND dialog) {
        Type(dialog, tab::txtUsername, L"first");
        Click(Item(dialog, tab::btOK));
    });
    ASSERT_EQ(first.parameterPuts, 1);
    ShowWithUser([&] { sa_showGUI(second); }, [](HWND dialog) {
        EXPECT_EQ(Text(dialog, tab::txtUsername), L"second");
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(second.parameter, u"#USR=second#");
    EXPECT_EQ(second.parameterPuts, 0);
}

// --- The Bastion window ------------------------------------------------------------------------

constexpr std::wstring_view kPinW = L"SHA256:47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU";
// What OK writes for "#USR=u#PORT=22#", and a bastion after it ("pass phrase").
const std::u16string kUserLayout = u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#";
const std::u16string kStoredBastion = u"JMP=ops@jump.example:2222#JPW=cGFzcyBwaHJhc2U=#JKF=C:\\keys\\jump#JFP=" +
                                      testing::Utf16(std::wstring(kPinW)) + u"#";

// The Bastion window's shot next to the dialog's: "x.bmp" gives "x-bastion.bmp".
std::string BastionShotPath(const char* shot) {
    std::string path(shot);
    const std::size_t dot = path.rfind(".bmp");
    return (dot == std::string::npos ? path : path.substr(0, dot)) + "-bastion.bmp";
}

TEST(DialogWindow, TheBastionWindowShowsItsDesignInTabOrderAndItsOkStoresWhatWasTyped) {
    WindowObject object(u"#USR=u#PORT=22#");
    const int dpi = ScreenDpi();
    const auto px = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        // The form's tab order: the button follows the result box, the password's store follows
        // it (its name box only while it takes input), and Tab wraps from the last.
        EXPECT_EQ(GetNextDlgTabItem(dialog, Item(dialog, tab::txtTestResult), FALSE), Item(dialog, tab::btBastion));
        EXPECT_EQ(GetNextDlgTabItem(dialog, Item(dialog, tab::btBastion), FALSE), Item(dialog, tab::cmbPasswordStore));
        EXPECT_EQ(GetNextDlgTabItem(dialog, Item(dialog, tab::cmbPasswordStore), FALSE), Item(dialog, tab::txtHostname));
        Choose(dialog, tab::cmbPasswordStore, 2);
        EXPECT_EQ(GetNextDlgTabItem(dialog, Item(dialog, tab::cmbPasswordStore), FALSE), Item(dialog, tab::txtCredential));
        EXPECT_EQ(GetNextDlgTabItem(dialog, Item(dialog, tab::txtCredential), FALSE), Item(dialog, tab::txtHostname));
        Choose(dialog, tab::cmbPasswordStore, 0);
        EXPECT_EQ(Text(dialog, tab::btBastion), L"&Bastion...");

        HWND bastion = OpenBastion(dialog);
        ASSERT_NE(bastion, nullptr) << "no Bastion window";
        EXPECT_EQ(Text(bastion), L"Bastion");
        EXPECT_FALSE(IsWindowEnabled(dialog)) << "modal: the form waits";
        RECT client;
        GetClientRect(bastion, &client);
        EXPECT_EQ(client.right, px(kBastionClientWidth));
        EXPECT_EQ(client.bottom, px(kBastionClientHeight));
        std::size_t index = 0;
        for (HWND child = GetWindow(bastion, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT), ++index) {
            ASSERT_LT(index, kBastionLayout.size());
            const ControlLayout& c = kBastionLayout[index];
            const std::string name = ToUtf8(c.name);
            EXPECT_EQ(GetDlgCtrlID(child), ControlId(c.tabIndex)) << name;
            const wchar_t* expectedClass = c.kind == ControlKind::Label           ? L"Static"
                                           : c.kind == ControlKind::CommandButton ? L"Button"
                                                                                  : L"Edit";
            EXPECT_EQ(_wcsicmp(ClassOf(child).c_str(), expectedClass), 0) << name;
            EXPECT_EQ((GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) != 0, c.kind != ControlKind::Label) << name;
            if (c.kind == ControlKind::Label || c.kind == ControlKind::CommandButton) {
                EXPECT_EQ(Text(child), std::wstring(c.designText.begin(), c.designText.end())) << name;
            }
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, bastion, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_EQ(r.left, px(c.left)) << name;
            EXPECT_EQ(r.top, px(c.top)) << name;
            EXPECT_EQ(r.right - r.left, px(c.width)) << name;
            EXPECT_EQ(r.bottom - r.top, px(c.height)) << name;
        }
        EXPECT_EQ(index, kBastionLayout.size());
        HWND password = Item(bastion, bastion_tab::txtJumpPassword);
        EXPECT_NE(GetWindowLongPtrW(password, GWL_STYLE) & ES_PASSWORD, 0);
        EXPECT_EQ(SendMessageW(password, EM_GETPASSWORDCHAR, 0, 0), L'*');
        EXPECT_TRUE(WaitFor([&] { return FocusOf(bastion) == Item(bastion, bastion_tab::txtJump); }));
        // Tab walks the fields, Fetch key, the result box, OK and Cancel, and wraps.
        const int order[] = {bastion_tab::txtJump,        bastion_tab::txtJumpPassword, bastion_tab::txtJumpKeyfile,
                             bastion_tab::txtJumpHostKeys, bastion_tab::btJumpFetchKey, bastion_tab::txtJumpResult,
                             bastion_tab::btJumpOK,       bastion_tab::btJumpCancel,    bastion_tab::txtJump};
        for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
            EXPECT_EQ(GetNextDlgTabItem(bastion, Item(bastion, order[i]), FALSE), Item(bastion, order[i + 1])) << i;
        }

        Type(bastion, bastion_tab::txtJump, L" ops@jump.example:2222 ");
        Type(bastion, bastion_tab::txtJumpPassword, L"pass phrase");
        Type(bastion, bastion_tab::txtJumpKeyfile, L"C:\\keys\\jump");
        Type(bastion, bastion_tab::txtJumpHostKeys, kPinW.data());
        if (const char* shot = std::getenv("TAVRIN_DIALOG_SCREENSHOT"); shot != nullptr && *shot != '\0') {
            RedrawWindow(bastion, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            std::this_thread::sleep_for(500ms);
            EXPECT_TRUE(SaveScreenshot(bastion, BastionShotPath(shot)));
        }
        Click(Item(bastion, bastion_tab::btJumpOK));
        ASSERT_TRUE(WaitFor([&] { return BastionWindow(dialog) == nullptr; })) << "OK did not close it";
        EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(dialog) != FALSE; }));
        EXPECT_EQ(Text(dialog, tab::btBastion), L"&Bastion: jump.example");
        Click(Item(dialog, tab::btOK));
    });
    EXPECT_EQ(object.parameter, kUserLayout + kStoredBastion);
    EXPECT_EQ(object.parameterPuts, 1);
}

TEST(DialogWindow, TheBastionWindowsCancelEscAndCloseBoxKeepTheValuesAsOpened) {
    enum class Leave { Cancel, Esc, CloseBox };
    for (const Leave leave : {Leave::Cancel, Leave::Esc, Leave::CloseBox}) {
        SCOPED_TRACE(static_cast<int>(leave));
        WindowObject object(kUserLayout + kStoredBastion);
        ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
            EXPECT_EQ(Text(dialog, tab::btBastion), L"&Bastion: jump.example");
            for (int round = 0; round < 2; ++round) {  // the second finds the values as opened
                HWND bastion = OpenBastion(dialog);
                ASSERT_NE(bastion, nullptr) << "no Bastion window";
                EXPECT_EQ(Text(bastion, bastion_tab::txtJump), L"ops@jump.example:2222");
                EXPECT_EQ(Text(bastion, bastion_tab::txtJumpPassword), L"pass phrase");
                EXPECT_EQ(Text(bastion, bastion_tab::txtJumpKeyfile), L"C:\\keys\\jump");
                EXPECT_EQ(Text(bastion, bastion_tab::txtJumpHostKeys), kPinW);
                Type(bastion, bastion_tab::txtJump, L"other@elsewhere");
                Type(bastion, bastion_tab::txtJumpPassword, L"other");
                switch (leave) {
                case Leave::Cancel: Click(Item(bastion, bastion_tab::btJumpCancel)); break;
                case Leave::Esc: {
                    HWND field = Item(bastion, bastion_tab::txtJumpKeyfile);
                    PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, 1);
                    PostMessageW(field, WM_KEYUP, VK_ESCAPE, 0xC0000001);
                    break;
                }
                case Leave::CloseBox: PostMessageW(bastion, WM_SYSCOMMAND, SC_CLOSE, 0); break;
                }
                ASSERT_TRUE(WaitFor([&] { return BastionWindow(dialog) == nullptr; })) << "still open";
                EXPECT_TRUE(IsWindowVisible(dialog));
                EXPECT_EQ(Text(dialog, tab::btBastion), L"&Bastion: jump.example");
            }
            Click(Item(dialog, tab::btOK));
        });
        EXPECT_EQ(object.parameter, kUserLayout + kStoredBastion);
    }
}

TEST(DialogWindow, TheBastionWindowRefusesAMalformedValueAndStaysOpenOnThatField) {
    WindowObject object(u"#USR=u#PORT=22#");
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        HWND bastion = OpenBastion(dialog);
        ASSERT_NE(bastion, nullptr) << "no Bastion window";
        const struct {
            const wchar_t* jump;
            const wchar_t* hostKeys;
            const wchar_t* says;
            int field;
        } refused[] = {
            {L"jump.example", L"", L"The bastion (JMP) \"jump.example\"", bastion_tab::txtJump},
            {L"ops@jump.example", L"SHA256:cut", L"Bastion host key (JFP): ", bastion_tab::txtJumpHostKeys},
        };
        for (const auto& r : refused) {
            Type(bastion, bastion_tab::txtJump, r.jump);
            Type(bastion, bastion_tab::txtJumpHostKeys, r.hostKeys);
            Click(Item(bastion, bastion_tab::btJumpOK));
            const std::wstring said = AnswerMessageBox(bastion, IDOK);
            EXPECT_NE(said.find(r.says), std::wstring::npos) << ToUtf8(testing::Utf16(said));
            EXPECT_TRUE(IsWindowVisible(bastion));
            EXPECT_TRUE(WaitFor([&] { return FocusOf(bastion) == Item(bastion, r.field); })) << "the field is focused";
        }
        EXPECT_EQ(Text(dialog, tab::btBastion), L"&Bastion...") << "nothing stored";
        Type(bastion, bastion_tab::txtJumpHostKeys, L"");
        Click(Item(bastion, bastion_tab::btJumpOK));
        ASSERT_TRUE(WaitFor([&] { return BastionWindow(dialog) == nullptr; }));
        Click(Item(dialog, tab::btOK));
    });
    EXPECT_EQ(object.parameter, kUserLayout + u"JMP=ops@jump.example#");
}

TEST(DialogWindow, OkOnAMalformedBastionOfTheOpenedStringOpensTheBastionWindowOnThatField) {
    const struct {
        std::u16string opened;
        const wchar_t* says;
        int field;
    } cases[] = {
        {u"#USR=u#PORT=22#JMP=jump.example#", L"The bastion (JMP)", bastion_tab::txtJump},
        {u"#USR=u#PORT=22#JMP=ops@jump.example#JFP=SHA256:cut#", L"Bastion host key (JFP): ",
         bastion_tab::txtJumpHostKeys},
    };
    for (const auto& c : cases) {
        WindowObject object(c.opened);
        ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
            Click(Item(dialog, tab::btOK));
            const std::wstring said = AnswerMessageBox(dialog, IDOK);
            EXPECT_NE(said.find(c.says), std::wstring::npos) << ToUtf8(testing::Utf16(said));
            HWND bastion = nullptr;
            ASSERT_TRUE(WaitFor([&] { return (bastion = BastionWindow(dialog)) != nullptr; })) << "no Bastion window";
            EXPECT_TRUE(WaitFor([&] { return FocusOf(bastion) == Item(bastion, c.field); })) << "the field is focused";
            Type(bastion, bastion_tab::txtJump, L"ops@jump.example");
            Type(bastion, bastion_tab::txtJumpHostKeys, L"");
            Click(Item(bastion, bastion_tab::btJumpOK));
            ASSERT_TRUE(WaitFor([&] { return BastionWindow(dialog) == nullptr; }));
            Click(Item(dialog, tab::btOK));
        });
        EXPECT_EQ(object.parameter, kUserLayout + u"JMP=ops@jump.example#");
        EXPECT_EQ(object.parameterPuts, 1);
    }
}

// --- Test and Fetch key against the test sshd ------------------------------------------------

using tavrin::testing::Fixture;
using tavrin::testing::FixtureU;

// A component that checks host keys against a file of the test's own, missing: every key is
// recorded nowhere.
std::unique_ptr<ssh::ComponentFactory> ComponentWithoutKnownHosts() {
    const std::string file = tavrin::testing::ScratchDir() + "/known_hosts";
    return ssh::MakeLibsshFactory({std::vector<std::u16string>{FromUtf8(file)}});
}

// A check of the fixture's main server as OK writes it.
std::u16string FixtureCheck(const std::u16string& command, const std::u16string& contains,
                            const std::u16string& more = u"") {
    using parameters::Field;
    using parameters::StoredForm;
    return u"#ENC=T#USR=" + FixtureU("SSHD_USER") + u"#PWD=" + StoredForm(Field::Password, FixtureU("SSHD_PASSWORD")) +
           u"#PROTO=A#PORT=" + FixtureU("SSHD_PORT") + u"#KEYF=#KEYT=RSA#CMD=" + StoredForm(Field::Command, command) +
           u"#CCO=CON#CON=" + contains + u"#RRE=NO#" + more;
}

std::wstring FirstLine(const std::wstring& text) { return text.substr(0, text.find_first_of(L"\r\n")); }

bool ShowsAVerdict(HWND dialog) {
    const std::wstring box = Text(dialog, tab::txtTestResult);
    return box.rfind(L"UP: ", 0) == 0 || box.rfind(L"DOWN: ", 0) == 0;
}

TEST(DialogWindow, TestRunsTheCheckAsTheHostWouldAndStoresNothing) {
    const auto component = ComponentWithoutKnownHosts();
    const struct {
        const char16_t* contains;
        bool up;
    } cases[] = {{u"tested", true}, {u"missing", false}};
    for (const auto& c : cases) {
        const std::u16string parameter = FixtureCheck(u"echo tested", c.contains);
        WindowObject object(parameter, FixtureU("SSHD_HOST"), u"10", component.get());
        std::wstring box;
        ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
            Click(Item(dialog, tab::btTest));
            EXPECT_TRUE(WaitFor([&] { return ShowsAVerdict(dialog); }, 20s)) << "no verdict";
            EXPECT_TRUE(WaitFor([&] { return Text(dialog, tab::btTest) == L"&Test"; }));
            box = Text(dialog, tab::txtTestResult);
            if (const char* shot = std::getenv("TAVRIN_DIALOG_SCREENSHOT"); c.up && shot != nullptr && *shot != '\0') {
                RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
                std::this_thread::sleep_for(700ms);
                EXPECT_TRUE(SaveScreenshot(dialog, shot)) << shot;
            }
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(object.parameter, parameter);
        EXPECT_EQ(object.parameterPuts, 0);

        plugin::PortableObject host(*component);
        host.sa_hostname = FixtureU("SSHD_HOST");
        host.sa_timeout = u"10";
        host.sa_parameter = parameter;
        const bool up = host.sa_docheck();
        const std::u16string result = std::get<std::u16string>(host.sa_result);
        EXPECT_EQ(up, c.up);
        EXPECT_EQ(FirstLine(box), (up ? L"UP: " : L"DOWN: ") + FirstLine(testing::Wide(result)));
        for (const std::wstring& part : {L"Host key: " + testing::Wide(FixtureU("HOSTKEY_ED25519_SHA256")),
                                        std::wstring(L"recorded nowhere: press Fetch key to pin it"),
                                        std::wstring(L"Login: a new login"), std::wstring(L"Output:\r\ntested\r\n")}) {
            EXPECT_NE(box.find(part), std::wstring::npos)
                << ToUtf8(testing::Utf16(part)) << " in " << ToUtf8(testing::Utf16(box));
        }
    }
}

// Each store outside the string: chosen, OK with the password typed anew, then the check runs
// UP from the store, and opening the written check again keeps the password where it is.
TEST(DialogWindow, ThePasswordGoesToTheStoreChosenAndTheCheckRunsUpFromIt) {
    using parameters::Field;
    const auto component = ComponentWithoutKnownHosts();
    const std::u16string name = u"tavrin-dialog-window-test";
    platform::DeleteGenericCredential(name);  // left by an earlier run, if any
    const std::u16string password = FixtureU("SSHD_PASSWORD");
    const std::wstring typed = testing::Wide(password);
    const std::wstring question =
        L"Store the password in the Windows Credential Manager of this account as " + testing::Wide(name) + L"?";
    const std::u16string opened = FixtureCheck(u"echo stored", u"stored");
    for (const int store : {1, 2}) {
        SCOPED_TRACE(store);
        WindowObject object(opened, FixtureU("SSHD_HOST"), u"10", component.get());
        ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
            EXPECT_EQ(Text(dialog, tab::txtPassword), typed) << "a Base64 password is shown as before";
            Choose(dialog, tab::cmbPasswordStore, store);
            if (store == 2) {
                Click(Item(dialog, tab::btOK));
                EXPECT_EQ(AnswerMessageBox(dialog, IDOK),
                          L"Type the name of the credential in the Windows Credential Manager.");
                EXPECT_TRUE(WaitFor([&] { return FocusOf(dialog) == Item(dialog, tab::txtCredential); }));
                Type(dialog, tab::txtCredential, testing::Wide(name).c_str());
                Click(Item(dialog, tab::btOK));
                EXPECT_EQ(AnswerMessageBox(dialog, IDNO), question);
                EXPECT_TRUE(IsWindowVisible(dialog)) << "No keeps the dialog open";
                EXPECT_EQ(platform::ReadGenericCredential(name).end, platform::CredentialRead::End::Missing)
                    << "No writes nothing";
            }
            Type(dialog, tab::txtPassword, typed.c_str());
            Click(Item(dialog, tab::btOK));
            if (store == 2) {
                EXPECT_EQ(AnswerMessageBox(dialog, IDYES), question);
            }
        });
        ASSERT_EQ(object.parameterPuts, 1);
        const std::u16string written = object.parameter;
        EXPECT_EQ(Generic::GetField(written, u"PWD"), u"") << ToUtf8(written);
        EXPECT_EQ(written.find(parameters::StoredForm(Field::Password, password)), std::u16string::npos);
        if (store == 1) {
            EXPECT_EQ(Generic::GetField(written, u"CRED"), u"");
            std::string blob;
            ASSERT_TRUE(DecodeBase64(ToUtf8(Generic::GetField(written, u"PWDE")), blob)) << ToUtf8(written);
            const platform::DpapiResult decrypted = platform::UnprotectPassword(blob);
            ASSERT_TRUE(decrypted.ok) << ToUtf8(decrypted.error);
            EXPECT_EQ(decrypted.password.get(), password);
        } else {
            EXPECT_EQ(Generic::GetField(written, u"CRED"), name);
            EXPECT_EQ(Generic::GetField(written, u"PWDE"), u"");
            const platform::CredentialRead read = platform::ReadGenericCredential(name);
            ASSERT_EQ(read.end, platform::CredentialRead::End::Read) << ToUtf8(read.error);
            EXPECT_EQ(read.password.get(), password);
            EXPECT_EQ(read.user, FixtureU("SSHD_USER"));
        }

        plugin::PortableObject host(*component);
        host.sa_hostname = FixtureU("SSHD_HOST");
        host.sa_timeout = u"10";
        host.sa_parameter = written;
        EXPECT_TRUE(host.sa_docheck()) << ToUtf8(std::get<std::u16string>(host.sa_result));

        // Opened again: the placeholder, never the password; Test and OK use the store as it is,
        // and "in the check" is refused while the box holds the placeholder.
        WindowObject again(written, FixtureU("SSHD_HOST"), u"10", component.get());
        ShowWithUser([&] { sa_showGUI(again); }, [&](HWND dialog) {
            EXPECT_EQ(Selection(Item(dialog, tab::cmbPasswordStore)), store);
            EXPECT_EQ(IsWindowEnabled(Item(dialog, tab::txtCredential)) != FALSE, store == 2);
            EXPECT_EQ(Text(dialog, tab::txtCredential), store == 2 ? testing::Wide(name) : L"");
            const std::wstring shown = Text(dialog, tab::txtPassword);
            EXPECT_EQ(shown, testing::Wide(std::u16string(frmmain::kPasswordPlaceholder)));
            EXPECT_EQ(shown.find(typed), std::wstring::npos);
            Click(Item(dialog, tab::btTest));
            EXPECT_TRUE(WaitFor([&] { return ShowsAVerdict(dialog); }, 20s)) << "no verdict";
            EXPECT_EQ(Text(dialog, tab::txtTestResult).rfind(L"UP: ", 0), 0u)
                << ToUtf8(testing::Utf16(Text(dialog, tab::txtTestResult)));
            EXPECT_TRUE(WaitFor([&] { return Text(dialog, tab::btTest) == L"&Test"; }));
            Choose(dialog, tab::cmbPasswordStore, 0);
            Click(Item(dialog, tab::btOK));
            EXPECT_EQ(AnswerMessageBox(dialog, IDOK),
                      L"The password is kept outside the check. Type it again to keep it in the check (Base64).");
            EXPECT_TRUE(WaitFor([&] { return FocusOf(dialog) == Item(dialog, tab::txtPassword); }));
            Choose(dialog, tab::cmbPasswordStore, store);
            Click(Item(dialog, tab::btOK));
        });
        EXPECT_EQ(again.parameter, written) << "the stored password is kept as it is";
        EXPECT_EQ(again.parameterPuts, 1);
    }
    EXPECT_EQ(platform::DeleteGenericCredential(name), u"");
}

TEST(DialogWindow, TestCancelsWithinASecondAndClosingDuringATestReturnsAtOnce) {
    const auto component = ComponentWithoutKnownHosts();
    const std::u16string parameter = FixtureCheck(u"sleep 30; echo late", u"late");
    for (const bool close : {false, true}) {
        WindowObject object(parameter, FixtureU("SSHD_HOST"), u"60", component.get());
        std::chrono::steady_clock::time_point asked;
        std::wstring box;
        ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
            Click(Item(dialog, tab::btTest));
            ASSERT_TRUE(WaitFor([&] { return Text(dialog, tab::btTest) == L"&Cancel"; })) << "the button reads &Cancel";
            // The command has started: the server's work, which only a cancel ends.
            std::this_thread::sleep_for(1500ms);
            EXPECT_TRUE(IsWindowVisible(dialog));
            EXPECT_FALSE(ShowsAVerdict(dialog));
            asked = std::chrono::steady_clock::now();
            if (close) {
                PostMessageW(dialog, WM_CLOSE, 0, 0);
                return;
            }
            Click(Item(dialog, tab::btTest));
            EXPECT_TRUE(WaitFor([&] { return ShowsAVerdict(dialog); }, 5s));
            const auto took = std::chrono::steady_clock::now() - asked;
            EXPECT_LT(took, 1500ms) << "the cancel took " << std::chrono::duration<double>(took).count() << " s";
            box = Text(dialog, tab::txtTestResult);
            EXPECT_EQ(Text(dialog, tab::btTest), L"&Test");
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        });
        const auto took = std::chrono::steady_clock::now() - asked;
        if (close) {
            EXPECT_LT(took, 1500ms) << "the dialog returned after " << std::chrono::duration<double>(took).count() << " s";
        } else {
            EXPECT_EQ(FirstLine(box), L"DOWN: The check was cancelled");
        }
        EXPECT_EQ(object.parameterPuts, 0);
    }
}

TEST(DialogWindow, FetchKeyThenYesPinsTheKeyAndOkWritesItWithReuse) {
    const auto component = ComponentWithoutKnownHosts();
    WindowObject object(u"#USR=u#PORT=" + FixtureU("SSHD_PORT") + u"#", FixtureU("SSHD_HOST"), u"", component.get());
    const std::wstring fingerprint = testing::Wide(FixtureU("HOSTKEY_ED25519_SHA256"));
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        Type(dialog, tab::txtReuse, L"120");
        for (int round = 0; round < 2; ++round) {  // the second Yes adds nothing
            Click(Item(dialog, tab::btFetchKey));
            HWND box = nullptr;
            ASSERT_TRUE(WaitFor([&] { return (box = OwnedMessageBox(dialog)) != nullptr; }, 15s)) << "no question";
            const std::wstring question = MessageBoxText(box);
            EXPECT_NE(question.find(L"ssh-ed25519 " + fingerprint), std::wstring::npos);
            EXPECT_NE(question.find(L"recorded nowhere"), std::wstring::npos);
            PostMessageW(box, WM_COMMAND, IDYES, 0);
            ASSERT_TRUE(WaitFor([&] { return OwnedMessageBox(dialog) == nullptr; }));
            EXPECT_EQ(Text(dialog, tab::txtHostKeys), fingerprint);
        }
        EXPECT_NE(Text(dialog, tab::txtTestResult).find(fingerprint), std::wstring::npos);
        Click(Item(dialog, tab::btOK));
    });
    EXPECT_EQ(object.parameter, u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=" + FixtureU("SSHD_PORT") +
                                    u"#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#HFP=" + testing::Utf16(fingerprint) +
                                    u"#REUSE=120#");
}

TEST(DialogWindow, AMalformedHostKeyIsRefusedAndTheDialogStaysOpenOnThatField) {
    WindowObject object(u"#USR=u#");
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        Type(dialog, tab::txtHostKeys, L"SHA256:cut");
        Click(Item(dialog, tab::btOK));
        HWND box = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (box = OwnedMessageBox(dialog)) != nullptr; })) << "no message box";
        EXPECT_NE(MessageBoxText(box).find(L"Host key (HFP)"), std::wstring::npos);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitFor([&] { return OwnedMessageBox(dialog) == nullptr; }));
        EXPECT_TRUE(IsWindowVisible(dialog));
        GUITHREADINFO gui{};
        gui.cbSize = sizeof gui;
        EXPECT_TRUE(WaitFor([&] {
            return GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui) &&
                   gui.hwndFocus == Item(dialog, tab::txtHostKeys);
        })) << "the field is focused";
        Type(dialog, tab::txtHostKeys, L"");
        Click(Item(dialog, tab::btOK));
    });
    EXPECT_EQ(object.parameter, u"#ENC=T#USR=u#PWD=#PROTO=A#PORT=0#KEYF=#KEYT=RSA#CMD=#CCO=CON#CON=#RRE=NO#");
}

TEST(DialogWindow, TheBastionsFetchKeyThenYesPinsTheKeyInTheBastionWindow) {
    const auto component = ComponentWithoutKnownHosts();
    WindowObject object(u"#USR=u#PORT=22#", u"server.example", u"", component.get());
    const std::wstring fingerprint = testing::Wide(FixtureU("HOSTKEY_ED25519_SHA256"));
    const std::wstring jump =
        L"u@" + testing::Wide(FixtureU("SSHD_HOST")) + L":" + testing::Wide(FixtureU("SSHD_PORT"));
    ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
        HWND bastion = OpenBastion(dialog);
        ASSERT_NE(bastion, nullptr) << "no Bastion window";
        Type(bastion, bastion_tab::txtJump, jump.c_str());
        for (int round = 0; round < 2; ++round) {  // the second Yes adds nothing
            Click(Item(bastion, bastion_tab::btJumpFetchKey));
            const std::wstring question = AnswerMessageBox(bastion, IDYES, 15s);
            EXPECT_NE(question.find(L"ssh-ed25519 " + fingerprint), std::wstring::npos)
                << ToUtf8(testing::Utf16(question));
            EXPECT_NE(question.find(L"(JFP)"), std::wstring::npos);
            EXPECT_TRUE(WaitFor([&] { return Text(bastion, bastion_tab::txtJumpHostKeys) == fingerprint; }));
        }
        EXPECT_NE(Text(bastion, bastion_tab::txtJumpResult).find(fingerprint), std::wstring::npos);
        EXPECT_EQ(Text(dialog, tab::txtHostKeys), L"") << "the form's own pins are not touched";
        Click(Item(bastion, bastion_tab::btJumpOK));
        ASSERT_TRUE(WaitFor([&] { return BastionWindow(dialog) == nullptr; }));
        Click(Item(dialog, tab::btOK));
    });
    EXPECT_EQ(object.parameter, kUserLayout + u"JMP=" + testing::Utf16(jump) + u"#JFP=" + testing::Utf16(fingerprint) +
                                    u"#");
}

// A bastion that takes the connection and never says a word: the fetch waits for its time-out
// (60 s) unless cancelled.
TEST(DialogWindow, TheBastionsFetchKeyEndsAtOnceWithCancelOrWhenTheDialogCloses) {
    using tavrin::testing::FaultServer;
    const auto component = ComponentWithoutKnownHosts();
    for (const bool closeDialog : {false, true}) {
        SCOPED_TRACE(closeDialog);
        FaultServer silent(FaultServer::Mode::kSilent);
        WindowObject object(kUserLayout + kStoredBastion, u"server.example", u"60", component.get());
        std::chrono::steady_clock::time_point asked;
        std::chrono::steady_clock::duration took{};
        ShowWithUser([&] { sa_showGUI(object); }, [&](HWND dialog) {
            HWND bastion = OpenBastion(dialog);
            ASSERT_NE(bastion, nullptr) << "no Bastion window";
            Type(bastion, bastion_tab::txtJump, (L"u@127.0.0.1:" + std::to_wstring(silent.Port())).c_str());
            Click(Item(bastion, bastion_tab::btJumpFetchKey));
            ASSERT_TRUE(WaitFor([&] { return silent.Accepted() > 0; })) << "no connection";
            std::this_thread::sleep_for(1s);
            EXPECT_FALSE(IsWindowEnabled(Item(bastion, bastion_tab::btJumpFetchKey))) << "one fetch at a time";
            EXPECT_EQ(OwnedMessageBox(bastion), nullptr);
            asked = std::chrono::steady_clock::now();
            if (closeDialog) {
                PostMessageW(dialog, WM_CLOSE, 0, 0);
                return;
            }
            Click(Item(bastion, bastion_tab::btJumpCancel));
            EXPECT_TRUE(WaitFor([&] { return BastionWindow(dialog) == nullptr; }, 5s));
            took = std::chrono::steady_clock::now() - asked;
            EXPECT_TRUE(IsWindowEnabled(dialog));
            Click(Item(dialog, tab::btOK));
        });
        if (closeDialog) took = std::chrono::steady_clock::now() - asked;
        EXPECT_LT(took, 1500ms) << std::chrono::duration<double>(took).count() << " s";
        EXPECT_EQ(object.parameter, kUserLayout + kStoredBastion) << "what was typed is dropped";
        EXPECT_EQ(object.parameterPuts, closeDialog ? 0 : 1);
    }
}

}  // namespace
}  // namespace tavrin::dialog
