// The real dialog under Wine: sa_showGUI runs its modal loop on the test's main thread while a
// second thread plays the user through window messages, as another program would.

#include "common/text.h"
#include "dialog/form_layout.h"
#include "dialog/frmmain.h"
#include "plugin/show_gui.h"
#include "dialog/win32/form_window.h"
#include "form_test_support.h"
#include "window_driver.h"
#include "platform/message_queue.h"

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
class WindowObject final : public plugin::ObjectAccess {
public:
    explicit WindowObject(std::u16string parameter = u"", std::u16string hostname = u"", std::u16string timeout = u"")
        : parameter(std::move(parameter)), hostname(std::move(hostname)), timeout(std::move(timeout)) {}
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
    frmmain form_{factory_};
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

        // The children, in creation (tab) order, each of its kind where the design puts it.
        std::size_t tabIndex = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT), ++tabIndex) {
            ASSERT_LT(tabIndex, kFormLayout.size());
            const ControlLayout& c = kFormLayout[tabIndex];
            const std::string name = ToUtf8(c.name);
            EXPECT_EQ(GetDlgCtrlID(child), ControlId(c.tabIndex)) << name;
            const wchar_t* expectedClass = c.kind == ControlKind::Label           ? L"Static"
                                           : c.kind == ControlKind::ComboBox      ? L"ComboBox"
                                           : c.kind == ControlKind::CommandButton ? L"Button"
                                                                                  : L"Edit";
            EXPECT_EQ(_wcsicmp(ClassOf(child).c_str(), expectedClass), 0) << name;
            const LONG_PTR style = GetWindowLongPtrW(child, GWL_STYLE);
            EXPECT_EQ((style & WS_TABSTOP) != 0, c.kind != ControlKind::Label) << name;
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
            EXPECT_EQ(r.left, px(c.left)) << name;
            EXPECT_EQ(r.top, px(c.top)) << name;
            EXPECT_EQ(r.right - r.left, px(c.width)) << name;
            if (c.kind == ControlKind::ComboBox) {
                EXPECT_EQ(style & 3, CBS_DROPDOWN) << name;
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
             {L"should contain", L"shouldn't contain", L"should be less then", L"should be greater then"},
             2},
            {tab::cmbReturnResult,
             {L"should not be within the returned data", L"should be within the returned data when DOWN",
              L"should always be within the returned data"},
             1},
        };
        for (const auto& list : lists) {
            HWND combo = Item(dialog, list.tabIndex);
            EXPECT_EQ(Items(combo), list.items) << list.tabIndex;
            EXPECT_EQ(Selection(combo), list.selected) << list.tabIndex;
            EXPECT_EQ(Text(combo), list.items[static_cast<std::size_t>(list.selected)]) << list.tabIndex;
        }

        if (const char* shot = std::getenv("TAVRIN_DIALOG_SCREENSHOT"); shot != nullptr && *shot != '\0') {
            RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            std::this_thread::sleep_for(700ms);
            EXPECT_TRUE(SaveScreenshot(dialog, shot)) << shot;
        }

        Type(dialog, tab::txtUsername, L"typed, then closed");
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(object.parameter, kStored);
    EXPECT_EQ(object.parameterPuts, 0);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), kFormWindowClass, &cls))
        << "the window class is unregistered after the showing";
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
        for (const ControlLayout& c : kFormLayout) {
            if (c.kind == ControlKind::Label || c.kind == ControlKind::CommandButton) continue;
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
        EXPECT_EQ(fields, 12);
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

}  // namespace
}  // namespace tavrin::dialog
