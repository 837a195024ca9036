#include "dialog/win32/form_window.h"

#include "common/automation_error.h"
#include "dialog/frmmain.h"
#include "dialog/win32/form_icon.h"
#include "dialog/win32/handles.h"
#include "dialog/win32/topwindow.h"
#include "platform/win32_text.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <variant>

namespace tavrin::dialog {

namespace win32 {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows texts are UTF-16");

using platform::win32::Utf16;
using platform::win32::Wide;

std::u16string WindowText(HWND window) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return Utf16(text);
}

AutomationError WindowFailure(const char16_t* what) {
    return errors::ComponentFailure(std::u16string(u"The configuration dialog could not be shown: ") + what);
}

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The window class, registered while any showing of any thread is open and unregistered after
// the last one: a DLL's classes outlive its unloading, and a class left behind would point at
// a window procedure that is gone.
class ClassRegistration {
public:
    ClassRegistration() {
        const std::lock_guard lock(mutex_);
        if (users_ == 0) {
            WNDCLASSEXW cls{};
            cls.cbSize = sizeof cls;
            cls.lpfnWndProc = &FormWindowProc;
            cls.hInstance = ThisModule();
            cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
            cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
            cls.lpszClassName = kFormWindowClass;
            if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
                throw WindowFailure(u"the window class was refused");
            }
        }
        ++users_;
    }
    ~ClassRegistration() {
        const std::lock_guard lock(mutex_);
        if (--users_ == 0) UnregisterClassW(kFormWindowClass, ThisModule());
    }
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;

private:
    static inline std::mutex mutex_;
    static inline int users_ = 0;
};

// Room below a combo box's edit field for its drop-down list, in twips.
constexpr int kDropDownListTwips = 1800;

// Posted by the worker of a test or a key fetch when it has ended.
constexpr UINT kWorkEnded = WM_APP + 1;

// A text for an edit field of several lines, which breaks lines only at CR LF.
std::wstring WithWindowsLineEnds(const std::u16string& text) {
    std::wstring out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r') {
            out += L"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        } else if (c == u'\n') {
            out += L"\r\n";
        } else if (c == u'\0') {
            out += L' ';  // an edit field would end the text there
        } else {
            out += static_cast<wchar_t>(c);
        }
    }
    return out;
}

class FormWindow {
public:
    explicit FormWindow(frmmain& form) : form_(form) {
        {
            const ScreenDC screen;
            dpi_ = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
        }
        if (dpi_ <= 0) dpi_ = 96;
        // 8 points in the dialog font of the system (MS Shell Dlg: Tahoma or MS Sans Serif).
        font_.reset(CreateFontW(-MulDiv(8, dpi_, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                L"MS Shell Dlg"));
        bigIcon_ = CreateFormIcon(32);
        smallIcon_ = CreateFormIcon(16);

        constexpr DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        constexpr DWORD exStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;
        RECT frame{0, 0, Pixels(kFormClientWidth), Pixels(kFormClientHeight)};
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        const int x = work.left + std::max(0L, (work.right - work.left - width) / 2);
        const int y = work.top + std::max(0L, (work.bottom - work.top - height) / 2);

        const std::wstring title = Wide(form_.Caption());
        window_.reset(CreateWindowExW(exStyle, kFormWindowClass, title.c_str(), style, x, y, width, height,
                                      nullptr, nullptr, ThisModule(), this));
        if (!window_) throw WindowFailure(u"the window was not created");
        if (bigIcon_) SendMessageW(window_.get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.get()));
        if (smallIcon_) {
            SendMessageW(window_.get(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.get()));
        }
        try {
            for (const ControlLayout& layout : kFormLayout) CreateControl(layout);
        } catch (...) {
            // The window goes with the members; its last messages must not reach this object.
            SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
            throw;
        }
    }

    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    HWND Handle() const { return window_.get(); }

    void RunModal() {
        ShowWindow(window_.get(), SW_SHOWNORMAL);
        SetForegroundWindow(window_.get());
        SetFocus(FirstTabStop());

        bool quit = false;
        WPARAM quitCode = 0;
        MSG msg;
        while (!done_) {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got == -1) {
                error_ = std::make_exception_ptr(WindowFailure(u"the message loop failed"));
                break;
            }
            if (got == 0) {
                quit = true;
                quitCode = msg.wParam;
                break;
            }
            if (!IsDialogMessageW(window_.get(), &msg)) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
        }
        // Nothing of a test or a fetch outlives the showing.
        StopWork();
        if (form_.IsLoaded()) form_.CloseBox();
        window_.reset();
        if (quit) PostQuitMessage(static_cast<int>(quitCode));
        if (error_) std::rethrow_exception(error_);
    }

    ~FormWindow() {
        StopWork();
        window_.reset();
    }

    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_COMMAND:
            if (LOWORD(wParam) == ControlId(tab::btOK) && HIWORD(wParam) == BN_CLICKED) {
                Guarded([this] { OnOk(); });
                return 0;
            }
            if (LOWORD(wParam) == ControlId(tab::btTest) && HIWORD(wParam) == BN_CLICKED) {
                Guarded([this] { OnTest(); });
                return 0;
            }
            if (LOWORD(wParam) == ControlId(tab::btFetchKey) && HIWORD(wParam) == BN_CLICKED) {
                Guarded([this] { OnFetchKey(); });
                return 0;
            }
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) return 0;  // Enter and Esc
            break;
        case kWorkEnded:
            Guarded([this] { OnWorkEnded(); });
            return 0;
        case WM_CLOSE:
            Guarded([this] {
                StopWork();
                form_.CloseBox();
                Finish();
            });
            return 0;
        case WM_DESTROY:
            done_ = true;
            break;
        default:
            break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

private:
    int Pixels(int twips) const { return TwipsToPixels(twips, dpi_); }

    void CreateControl(const ControlLayout& layout) {
        const wchar_t* cls = L"STATIC";
        DWORD style = WS_CHILD | WS_VISIBLE;
        DWORD exStyle = 0;
        int height = Pixels(layout.height);
        switch (layout.kind) {
        case ControlKind::TextBox:
        case ControlKind::MaskedTextBox:
            cls = L"EDIT";
            style |= WS_TABSTOP | ES_AUTOHSCROLL | (layout.kind == ControlKind::MaskedTextBox ? ES_PASSWORD : 0);
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Label:
            style |= SS_LEFT;
            break;
        case ControlKind::ComboBox:
            cls = L"COMBOBOX";
            style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
            height += Pixels(kDropDownListTwips);  // the edit field's height follows the font
            break;
        case ControlKind::CommandButton:
            cls = L"BUTTON";
            style |= WS_TABSTOP | BS_PUSHBUTTON;
            break;
        case ControlKind::ResultBox:
            cls = L"EDIT";
            style |= WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        }
        const Control& control = form_.ControlAt(layout.tabIndex);
        const std::wstring text = Wide(layout.kind == ControlKind::ComboBox ? std::u16string() : control.Text());
        HWND child = CreateWindowExW(exStyle, cls, text.c_str(), style, Pixels(layout.left), Pixels(layout.top),
                                     Pixels(layout.width), height, window_.get(),
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(layout.tabIndex))),
                                     ThisModule(), nullptr);
        if (child == nullptr) throw WindowFailure(u"a control was not created");
        if (font_) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        if (layout.kind == ControlKind::MaskedTextBox) SendMessageW(child, EM_SETPASSWORDCHAR, L'*', 0);
        // No field limits its length (an edit control stops at 32,767 typed characters unless
        // told otherwise; 0 lifts the limit to the most the control can hold).
        if (layout.kind == ControlKind::TextBox || layout.kind == ControlKind::MaskedTextBox ||
            layout.kind == ControlKind::ResultBox) {
            SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
        }
        if (layout.kind == ControlKind::ComboBox) SendMessageW(child, CB_LIMITTEXT, 0, 0);
        if (layout.kind == ControlKind::ComboBox) {
            for (int i = 0; i < control.ListCount(); ++i) {
                const std::wstring item = Wide(control.List(i));
                SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
            }
            if (control.ListIndex() >= 0) {
                SendMessageW(child, CB_SETCURSEL, static_cast<WPARAM>(control.ListIndex()), 0);
            } else {
                const std::wstring edit = Wide(control.Text());
                SetWindowTextW(child, edit.c_str());
            }
        }
    }

    HWND Child(int tabIndex) const { return GetDlgItem(window_.get(), ControlId(tabIndex)); }

    HWND FirstTabStop() const {
        for (const ControlLayout& layout : kFormLayout) {
            if (layout.kind != ControlKind::Label) return Child(layout.tabIndex);
        }
        return window_.get();
    }

    // The window's texts into the form: every text box, and each list's edit text, from which
    // the form takes the list's selection (the item with exactly that text, or none).
    void ReadControlsIntoForm() {
        for (const ControlLayout& layout : kFormLayout) {
            if (layout.kind == ControlKind::Label || layout.kind == ControlKind::CommandButton ||
                layout.kind == ControlKind::ResultBox) {
                continue;
            }
            form_.ControlAt(layout.tabIndex).SetText(WindowText(Child(layout.tabIndex)));
        }
    }

    void OnOk() {
        ReadControlsIntoForm();
        const frmmain::OkOutcome outcome = form_.btOK_Click();
        if (outcome == frmmain::OkOutcome::Stored) {
            Finish();
            return;
        }
        Refuse(form_.OkMessage(), frmmain::FocusFor(outcome));
    }

    // A message for what cannot be done as typed, then the field to put right, selected.
    void Refuse(const std::u16string& text, int focusTabIndex) {
        const std::wstring message = Wide(text);
        const std::wstring title = Wide(form_.Caption());
        MessageBoxW(window_.get(), message.c_str(), title.c_str(), MB_OK | MB_ICONEXCLAMATION);
        HWND field = Child(focusTabIndex);
        SetFocus(field);
        SendMessageW(field, EM_SETSEL, 0, -1);
    }

    void ShowResultText(const std::u16string& text) {
        const std::wstring shown = WithWindowsLineEnds(text);
        SetWindowTextW(Child(tab::txtTestResult), shown.c_str());
    }

    // --- Test and Fetch key: one piece of work at a time, on a worker thread. -------------

    enum class Work { None, Test, Fetch };

    void OnTest() {
        if (work_ == Work::Test) {
            cancel_ = true;  // the button reads "&Cancel" while the test runs
            return;
        }
        if (work_ != Work::None) return;
        CheckServices* services = form_.Services();
        if (services == nullptr) {
            ShowResultText(u"The test is not available here.");
            return;
        }
        ReadControlsIntoForm();
        std::variant<TestRequest, FieldProblem> prepared = form_.TestRequestNow();
        if (const auto* problem = std::get_if<FieldProblem>(&prepared)) {
            Refuse(problem->message, frmmain::FocusFor(*problem));
            return;
        }
        auto request = std::make_shared<TestRequest>(std::get<TestRequest>(std::move(prepared)));
        ShowResultText(u"Testing...");
        StartWork(Work::Test, [this, services, request] { testReport_ = services->RunTest(*request, cancel_); });
    }

    void OnFetchKey() {
        if (work_ != Work::None) return;
        CheckServices* services = form_.Services();
        if (services == nullptr) {
            ShowResultText(u"Fetching the key is not available here.");
            return;
        }
        ReadControlsIntoForm();
        std::variant<frmmain::FetchRequest, FieldProblem> prepared = form_.FetchRequestNow();
        if (const auto* problem = std::get_if<FieldProblem>(&prepared)) {
            Refuse(problem->message, frmmain::FocusFor(*problem));
            return;
        }
        const frmmain::FetchRequest request = std::get<frmmain::FetchRequest>(prepared);
        ShowResultText(u"Fetching the host key of " + request.host + u"...");
        StartWork(Work::Fetch, [this, services, request] {
            fetched_ = services->FetchKey(request.host, request.port, request.timeout, cancel_);
        });
    }

    template <typename F>
    void StartWork(Work work, F job) {
        cancel_ = false;
        HWND window = window_.get();
        try {
            worker_ = std::thread([job = std::move(job), window]() mutable {
                try {
                    job();
                } catch (...) {
                    // The services never throw; whatever did, the window still hears of the end.
                }
                PostMessageW(window, kWorkEnded, 0, 0);
            });
        } catch (const std::system_error&) {
            ShowResultText(u"The work could not be started (no thread).");
            return;
        }
        work_ = work;
        if (work == Work::Test) SetWindowTextW(Child(tab::btTest), L"&Cancel");
        EnableWindow(Child(tab::btFetchKey), FALSE);
        if (work == Work::Fetch) EnableWindow(Child(tab::btTest), FALSE);
    }

    void OnWorkEnded() {
        if (work_ == Work::None) return;
        if (worker_.joinable()) worker_.join();
        const Work ended = std::exchange(work_, Work::None);
        SetWindowTextW(Child(tab::btTest), L"&Test");
        EnableWindow(Child(tab::btTest), TRUE);
        EnableWindow(Child(tab::btFetchKey), TRUE);
        if (ended == Work::Test) {
            form_.ShowTestReport(testReport_);
            ShowResultText(form_.txtTestResult().Text());
            testReport_ = TestReport{};
            return;
        }
        const ssh::HostKeyProbe probe = std::exchange(fetched_, ssh::HostKeyProbe{});
        form_.ShowFetchedKey(probe);
        ShowResultText(form_.txtTestResult().Text());
        const std::wstring title = Wide(form_.Caption());
        if (!probe.error.empty() || probe.fingerprint.empty()) {
            const std::wstring message = Wide(form_.txtTestResult().Text());
            MessageBoxW(window_.get(), message.c_str(), title.c_str(), MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        const std::wstring question = Wide(form_.txtTestResult().Text() +
                                           u"\n\nPin this key? The check then accepts only the pinned keys (HFP).");
        if (MessageBoxW(window_.get(), question.c_str(), title.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) return;
        form_.txtHostKeys().SetText(WindowText(Child(tab::txtHostKeys)));
        form_.PinHostKey(probe.fingerprint);
        const std::wstring pins = Wide(form_.txtHostKeys().Text());
        SetWindowTextW(Child(tab::txtHostKeys), pins.c_str());
    }

    // Cancels the work under way and waits for its thread: a cancelled check ends within a
    // tenth of a second and its connection is released with it.
    void StopWork() noexcept {
        cancel_ = true;
        try {
            if (worker_.joinable()) worker_.join();
        } catch (const std::system_error&) {
            worker_.detach();  // joining itself failed; the thread ends on its own
        }
        work_ = Work::None;
    }

    // Ends the loop; the message wakes it when the end came from a message sent by another
    // thread, which GetMessage handles without returning.
    void Finish() {
        done_ = true;
        ShowWindow(window_.get(), SW_HIDE);
        PostMessageW(window_.get(), WM_NULL, 0, 0);
    }

    template <typename F>
    void Guarded(F&& handler) {
        try {
            handler();
        } catch (...) {
            if (!error_) error_ = std::current_exception();
            Finish();
        }
    }

    frmmain& form_;
    int dpi_ = 96;
    UniqueFont font_;
    UniqueIcon bigIcon_;
    UniqueIcon smallIcon_;
    UniqueWindow window_;  // last, so that it goes before the font and icons it uses
    bool done_ = false;
    std::exception_ptr error_;
    // The work of Test or Fetch key: its thread writes the report, then posts kWorkEnded.
    Work work_ = Work::None;
    std::atomic<bool> cancel_{false};
    TestReport testReport_;
    ssh::HostKeyProbe fetched_;
    std::thread worker_;
};

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (self == nullptr || message == WM_NCCREATE || message == WM_NCDESTROY) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->OnMessage(window, message, wParam, lParam);
}

}  // namespace

void Win32Presenter::ShowModal(frmmain& form) {
    const ClassRegistration registration;
    FormWindow window(form);
    topwindow::SetTopWindow(window.Handle(), true);
    window.RunModal();
}

}  // namespace win32

FormPresenter& PlatformPresenter() {
    static win32::Win32Presenter presenter;
    return presenter;
}

}  // namespace tavrin::dialog
