#include "dialog/win32/form_window.h"

#include "common/automation_error.h"
#include "dialog/frmmain.h"
#include "dialog/win32/form_icon.h"
#include "dialog/win32/handles.h"
#include "dialog/win32/topwindow.h"
#include "platform/secret.h"
#include "platform/win32_text.h"
#include "ssh/host_key_pins.h"

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

// The window's text into `into` (its earlier text wiped), leaving no other copy of it behind:
// a password box's text among them.
void ReadWindowText(HWND window, std::u16string& into) {
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(window, text.data(), length + 1);
    platform::SecureWipe(into);
    into.assign(text.begin(), text.begin() + (copied > 0 ? copied : 0));
    platform::SecureWipe(text);
}

std::u16string WindowText(HWND window) {
    std::u16string text;
    ReadWindowText(window, text);
    return text;
}

AutomationError WindowFailure(const char16_t* what) {
    return errors::ComponentFailure(std::u16string(u"The configuration dialog could not be shown: ") + what);
}

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK BastionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The window classes, registered while any showing of any thread is open and unregistered after
// the last one: a DLL's classes outlive its unloading, and a class left behind would point at
// a window procedure that is gone.
class ClassRegistration {
public:
    ClassRegistration() {
        const std::lock_guard lock(mutex_);
        if (users_ == 0) {
            Register(kFormWindowClass, &FormWindowProc);
            try {
                Register(kBastionWindowClass, &BastionWindowProc);
            } catch (...) {
                UnregisterClassW(kFormWindowClass, ThisModule());
                throw;
            }
        }
        ++users_;
    }
    ~ClassRegistration() {
        const std::lock_guard lock(mutex_);
        if (--users_ == 0) {
            UnregisterClassW(kBastionWindowClass, ThisModule());
            UnregisterClassW(kFormWindowClass, ThisModule());
        }
    }
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;

private:
    static void Register(const wchar_t* name, WNDPROC procedure) {
        WNDCLASSEXW cls{};
        cls.cbSize = sizeof cls;
        cls.lpfnWndProc = procedure;
        cls.hInstance = ThisModule();
        cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        cls.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
        cls.lpszClassName = name;
        if (RegisterClassExW(&cls) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            throw WindowFailure(u"the window class was refused");
        }
    }

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

// One control of a table (kFormLayout or kBastionLayout) as a child of `parent`, at the screen's
// dots per inch, with the model control's text and, for a list, its items and selection.
HWND CreateChild(HWND parent, const ControlLayout& layout, const Control& control, HFONT font, int dpi) {
    const auto pixels = [dpi](int twips) { return TwipsToPixels(twips, dpi); };
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    int height = pixels(layout.height);
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
        height += pixels(kDropDownListTwips);  // the edit field's height follows the font
        break;
    case ControlKind::DropDownList:
        cls = L"COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        height += pixels(kDropDownListTwips);
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
    const bool list = layout.kind == ControlKind::ComboBox || layout.kind == ControlKind::DropDownList;
    std::wstring text = Wide(list ? std::u16string() : control.Text());
    HWND child = CreateWindowExW(exStyle, cls, text.c_str(), style, pixels(layout.left), pixels(layout.top),
                                 pixels(layout.width), height, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(layout.tabIndex))),
                                 ThisModule(), nullptr);
    platform::SecureWipe(text);  // a password box's text
    if (child == nullptr) throw WindowFailure(u"a control was not created");
    if (font != nullptr) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (layout.kind == ControlKind::MaskedTextBox) SendMessageW(child, EM_SETPASSWORDCHAR, L'*', 0);
    // No field limits its length (an edit control stops at 32,767 typed characters unless
    // told otherwise; 0 lifts the limit to the most the control can hold).
    if (layout.kind == ControlKind::TextBox || layout.kind == ControlKind::MaskedTextBox ||
        layout.kind == ControlKind::ResultBox) {
        SendMessageW(child, EM_SETLIMITTEXT, 0, 0);
    }
    if (list) {
        if (layout.kind == ControlKind::ComboBox) SendMessageW(child, CB_LIMITTEXT, 0, 0);
        for (int i = 0; i < control.ListCount(); ++i) {
            const std::wstring item = Wide(control.List(i));
            SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        }
        if (control.ListIndex() >= 0) {
            SendMessageW(child, CB_SETCURSEL, static_cast<WPARAM>(control.ListIndex()), 0);
        } else if (layout.kind == ControlKind::ComboBox) {
            const std::wstring edit = Wide(control.Text());
            SetWindowTextW(child, edit.c_str());
        }
    }
    return child;
}

// The first control of a window's table that takes the focus.
template <std::size_t N>
HWND FirstTabStop(HWND window, const std::array<ControlLayout, N>& table) {
    for (const ControlLayout& layout : table) {
        if (layout.kind != ControlKind::Label) return GetDlgItem(window, ControlId(layout.tabIndex));
    }
    return window;
}

// A message box owned by `owner`, then the field to put right focused with its text selected.
void RefuseAt(HWND owner, std::u16string_view title, const std::u16string& text, HWND field) {
    const std::wstring message = Wide(text);
    const std::wstring caption = Wide(title);
    MessageBoxW(owner, message.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
    SetFocus(field);
    SendMessageW(field, EM_SETSEL, 0, -1);
}

// Asks whether to pin a fetched key; the text says what was fetched. False when the fetch
// failed (the text is shown alone) or the answer is No.
bool AskToPin(HWND owner, std::u16string_view title, const ssh::HostKeyProbe& probe, const std::u16string& fetched,
              std::u16string_view pinsWhat) {
    const std::wstring caption = Wide(title);
    if (!probe.error.empty() || probe.fingerprint.empty()) {
        const std::wstring message = Wide(fetched);
        MessageBoxW(owner, message.c_str(), caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    const std::wstring question = Wide(fetched + u"\n\nPin this key? The check then accepts only " +
                                       std::u16string(pinsWhat) + u".");
    return MessageBoxW(owner, question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// One piece of work at a time on a thread of its own (a test or a key fetch), which posts
// kWorkEnded to its window when it has ended.
class Worker {
public:
    Worker() = default;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;
    ~Worker() { Stop(); }

    // False when no thread could be started.
    template <typename F>
    bool Start(HWND window, F job) {
        cancel_ = false;
        try {
            thread_ = std::thread([job = std::move(job), window]() mutable {
                try {
                    job();
                } catch (...) {
                    // The services never throw; whatever did, the window still hears of the end.
                }
                PostMessageW(window, kWorkEnded, 0, 0);
            });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    const std::atomic<bool>& CancelFlag() const { return cancel_; }
    void RequestCancel() { cancel_ = true; }
    // After kWorkEnded: the thread has done its work.
    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    // Cancels the work under way and waits for its thread: a cancelled check or fetch ends
    // within a tenth of a second and its connection is released with it.
    void Stop() noexcept {
        cancel_ = true;
        try {
            if (thread_.joinable()) thread_.join();
        } catch (const std::system_error&) {
            thread_.detach();  // joining itself failed; the thread ends on its own
        }
    }

private:
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

// How a modal message loop ended.
struct LoopEnd {
    bool quit = false;  // WM_QUIT came, with this code: whoever runs the loop posts it again
    WPARAM quitCode = 0;
    bool failed = false;  // GetMessage failed
};

// Runs the thread's messages, with the dialog keys of `dialog` (Tab, mnemonics, Enter and Esc),
// until `done` says so.
template <typename Done>
LoopEnd RunMessages(HWND dialog, Done done) {
    LoopEnd end;
    MSG msg;
    while (!done()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) {
            end.failed = true;
            break;
        }
        if (got == 0) {
            end.quit = true;
            end.quitCode = msg.wParam;
            break;
        }
        if (!IsDialogMessageW(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return end;
}

// The Bastion window: owned by the form's window, which it disables while it is open. It opens
// with the bastion's fields as the form holds them; its OK stores what was typed in the form
// (after the form's checks), its Cancel, Esc and close box store nothing. Its Fetch key fetches
// the bastion's host key on a worker thread and Yes pins it into its host key box.
class BastionWindow {
public:
    // `ownerDone`: raised when the form's showing ends meanwhile (the form is then unloaded and
    // this window only goes away).
    BastionWindow(frmmain& form, HWND owner, int dpi, HFONT font, const bool& ownerDone)
        : form_(form), owner_(owner), ownerDone_(ownerDone) {
        constexpr DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
        constexpr DWORD exStyle = WS_EX_CONTROLPARENT | WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;
        RECT frame{0, 0, TwipsToPixels(kBastionClientWidth, dpi), TwipsToPixels(kBastionClientHeight, dpi)};
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        RECT over{};
        GetWindowRect(owner, &over);  // centred over the form
        const int x = std::max(0, static_cast<int>(over.left + (over.right - over.left - width) / 2));
        const int y = std::max(0, static_cast<int>(over.top + (over.bottom - over.top - height) / 2));
        const std::wstring title = Wide(kBastionTitle);
        window_.reset(CreateWindowExW(exStyle, kBastionWindowClass, title.c_str(), style, x, y, width, height, owner,
                                      nullptr, ThisModule(), this));
        if (!window_) throw WindowFailure(u"the Bastion window was not created");
        try {
            for (const ControlLayout& layout : kBastionLayout) {
                CreateChild(window_.get(), layout, form_.BastionControlAt(layout.tabIndex), font, dpi);
            }
        } catch (...) {
            SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
            throw;
        }
    }
    BastionWindow(const BastionWindow&) = delete;
    BastionWindow& operator=(const BastionWindow&) = delete;
    ~BastionWindow() {
        worker_.Stop();
        if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
        EnableWindow(owner_, TRUE);
    }

    // Shows the window with the focus in the control `focusIndex` (kBastionLayout; -1: the
    // first field) and runs the thread's messages until it is done. True when OK stored.
    bool RunModal(int focusIndex) {
        EnableWindow(owner_, FALSE);
        ShowWindow(window_.get(), SW_SHOWNORMAL);
        SetForegroundWindow(window_.get());
        HWND field = focusIndex >= 0 ? Child(focusIndex) : FirstTabStop(window_.get(), kBastionLayout);
        SetFocus(field);
        SendMessageW(field, EM_SETSEL, 0, -1);
        const LoopEnd end = RunMessages(window_.get(), [this] { return done_ || ownerDone_; });
        worker_.Stop();
        work_ = false;
        // The owner first, so that it, not some other program's window, is activated.
        EnableWindow(owner_, TRUE);
        window_.reset();
        if (end.quit) PostQuitMessage(static_cast<int>(end.quitCode));
        if (end.failed && !error_) error_ = std::make_exception_ptr(WindowFailure(u"the message loop failed"));
        if (error_) std::rethrow_exception(error_);
        return stored_;
    }

    LRESULT OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const bool clicked = HIWORD(wParam) == BN_CLICKED;
            if (id == IDOK || (id == ControlId(bastion_tab::btJumpOK) && clicked)) {  // Enter as well
                Guarded([this] { OnOk(); });
                return 0;
            }
            if (id == IDCANCEL || (id == ControlId(bastion_tab::btJumpCancel) && clicked)) {  // Esc as well
                Guarded([this] { End(); });
                return 0;
            }
            if (id == ControlId(bastion_tab::btJumpFetchKey) && clicked) {
                Guarded([this] { OnFetchKey(); });
                return 0;
            }
            break;
        }
        case kWorkEnded:
            Guarded([this] { OnWorkEnded(); });
            return 0;
        case WM_CLOSE:
            Guarded([this] { End(); });
            return 0;
        default:
            break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

private:
    HWND Child(int index) const { return GetDlgItem(window_.get(), ControlId(index)); }

    void OnOk() {
        worker_.Stop();  // a fetch under way is cancelled
        work_ = false;
        DialogFields typed;  // wipes the pass phrase it holds
        ReadWindowText(Child(bastion_tab::txtJump), typed.jump);
        ReadWindowText(Child(bastion_tab::txtJumpPassword), typed.jumpPassword);
        ReadWindowText(Child(bastion_tab::txtJumpKeyfile), typed.jumpKeyFile);
        ReadWindowText(Child(bastion_tab::txtJumpHostKeys), typed.jumpHostKeys);
        if (const std::optional<FieldProblem> problem = form_.BastionOk(typed)) {
            EnableWindow(Child(bastion_tab::btJumpFetchKey), TRUE);
            RefuseAt(window_.get(), kBastionTitle, problem->message, Child(frmmain::BastionFocusFor(*problem)));
            return;
        }
        stored_ = true;
        End();
    }

    void OnFetchKey() {
        if (work_) return;
        CheckServices* services = form_.Services();
        if (services == nullptr) {
            ShowResultText(u"Fetching the key is not available here.");
            return;
        }
        std::variant<frmmain::FetchRequest, FieldProblem> prepared =
            form_.BastionFetchRequestNow(WindowText(Child(bastion_tab::txtJump)));
        if (const auto* problem = std::get_if<FieldProblem>(&prepared)) {
            RefuseAt(window_.get(), kBastionTitle, problem->message, Child(frmmain::BastionFocusFor(*problem)));
            return;
        }
        const frmmain::FetchRequest request = std::get<frmmain::FetchRequest>(prepared);
        ShowResultText(u"Fetching the host key of " + request.host + u"...");
        if (!worker_.Start(window_.get(), [this, services, request] {
                fetched_ = services->FetchKey(request.host, request.port, request.timeout, worker_.CancelFlag());
            })) {
            ShowResultText(u"The work could not be started (no thread).");
            return;
        }
        work_ = true;
        EnableWindow(Child(bastion_tab::btJumpFetchKey), FALSE);
    }

    void OnWorkEnded() {
        if (!work_) return;
        worker_.Join();
        work_ = false;
        EnableWindow(Child(bastion_tab::btJumpFetchKey), TRUE);
        const ssh::HostKeyProbe probe = std::exchange(fetched_, ssh::HostKeyProbe{});
        const std::u16string fetched = FetchedKeyText(probe);
        ShowResultText(fetched);
        if (!AskToPin(window_.get(), kBastionTitle, probe, fetched, u"the pinned keys of the bastion (JFP)")) return;
        HWND pins = Child(bastion_tab::txtJumpHostKeys);
        const std::wstring pinned = Wide(ssh::WithPinAdded(WindowText(pins), probe.fingerprint));
        SetWindowTextW(pins, pinned.c_str());
    }

    void ShowResultText(const std::u16string& text) {
        const std::wstring shown = WithWindowsLineEnds(text);
        SetWindowTextW(Child(bastion_tab::txtJumpResult), shown.c_str());
    }

    // Ends the loop; a fetch under way is cancelled and its thread joined.
    void End() {
        worker_.Stop();
        work_ = false;
        done_ = true;
        PostMessageW(window_.get(), WM_NULL, 0, 0);
    }

    template <typename F>
    void Guarded(F&& handler) {
        try {
            handler();
        } catch (...) {
            if (!error_) error_ = std::current_exception();
            done_ = true;
        }
    }

    frmmain& form_;
    HWND owner_;
    const bool& ownerDone_;
    UniqueWindow window_;
    bool done_ = false;
    bool stored_ = false;
    std::exception_ptr error_;
    bool work_ = false;
    ssh::HostKeyProbe fetched_;
    Worker worker_;  // last: its thread, which writes fetched_, is joined first
};

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
            for (const ControlLayout& layout : kFormLayout) {
                CreateChild(window_.get(), layout, form_.ControlAt(layout.tabIndex), font_.get(), dpi_);
            }
            FollowPasswordStore();
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
        SetFocus(FirstTabStop(window_.get(), kFormLayout));

        const LoopEnd end = RunMessages(window_.get(), [this] { return done_; });
        if (end.failed && !error_) error_ = std::make_exception_ptr(WindowFailure(u"the message loop failed"));
        // Nothing of a test or a fetch outlives the showing.
        StopWork();
        if (form_.IsLoaded()) form_.CloseBox();
        window_.reset();
        if (end.quit) PostQuitMessage(static_cast<int>(end.quitCode));
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
            if (LOWORD(wParam) == ControlId(tab::btBastion) && HIWORD(wParam) == BN_CLICKED) {
                Guarded([this] { OpenBastion(-1); });
                return 0;
            }
            if (LOWORD(wParam) == ControlId(tab::cmbPasswordStore) && HIWORD(wParam) == CBN_SELCHANGE) {
                FollowPasswordStore();
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

    HWND Child(int tabIndex) const { return GetDlgItem(window_.get(), ControlId(tabIndex)); }

    // The window's texts into the form: every text box, and each list's edit text, from which
    // the form takes the list's selection (the item with exactly that text, or none).
    void ReadControlsIntoForm() {
        for (const ControlLayout& layout : kFormLayout) {
            if (layout.kind == ControlKind::Label || layout.kind == ControlKind::CommandButton ||
                layout.kind == ControlKind::ResultBox) {
                continue;
            }
            if (layout.kind == ControlKind::DropDownList) {
                const auto selected = SendMessageW(Child(layout.tabIndex), CB_GETCURSEL, 0, 0);
                form_.ControlAt(layout.tabIndex).SetListIndex(selected == CB_ERR ? -1 : static_cast<int>(selected));
                continue;
            }
            form_.ControlAt(layout.tabIndex).SetText(WindowText(Child(layout.tabIndex)));
        }
    }

    // The credential's name box takes input only while the list names the Credential Manager.
    void FollowPasswordStore() {
        const auto selected = SendMessageW(Child(tab::cmbPasswordStore), CB_GETCURSEL, 0, 0);
        EnableWindow(Child(tab::txtCredential),
                     frmmain::NamesACredential(selected == CB_ERR ? -1 : static_cast<int>(selected)) ? TRUE : FALSE);
    }

    void OnOk() {
        ReadControlsIntoForm();
        frmmain::OkOutcome outcome = form_.btOK_Click();
        if (outcome == frmmain::OkOutcome::CredentialQuestion) {
            const std::wstring question = Wide(form_.OkMessage());
            const std::wstring caption = Wide(form_.Caption());
            // No: nothing is written and the dialog stays as it is.
            if (MessageBoxW(window_.get(), question.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION) != IDYES) {
                return;
            }
            outcome = form_.btOK_Click(true);
        }
        if (outcome == frmmain::OkOutcome::Stored) {
            Finish();
            return;
        }
        Refuse(form_.OkMessage(), frmmain::FocusFor(outcome));
        if (frmmain::FocusFor(outcome) == tab::btBastion) OpenBastion(frmmain::BastionFocusFor(outcome));
    }

    // A message for what cannot be done as typed, then the field to put right, selected.
    void Refuse(const std::u16string& text, int focusTabIndex) {
        RefuseAt(window_.get(), form_.Caption(), text, Child(focusTabIndex));
    }

    // The Bastion window, modal over this one, with the focus in its control `focusIndex`
    // (-1: its first field). After its OK the button's caption follows the bastion stored.
    void OpenBastion(int focusIndex) {
        if (work_ != Work::None) return;
        BastionWindow bastion(form_, window_.get(), dpi_, font_.get(), done_);
        const bool stored = bastion.RunModal(focusIndex);
        if (done_) return;  // the showing ended meanwhile: the form is unloaded
        SetFocus(Child(tab::btBastion));
        if (!stored) return;
        const std::wstring caption = Wide(form_.btBastion().Text());
        SetWindowTextW(Child(tab::btBastion), caption.c_str());
    }

    void ShowResultText(const std::u16string& text) {
        const std::wstring shown = WithWindowsLineEnds(text);
        SetWindowTextW(Child(tab::txtTestResult), shown.c_str());
    }

    // --- Test and Fetch key: one piece of work at a time, on a worker thread. -------------

    enum class Work { None, Test, Fetch };

    void OnTest() {
        if (work_ == Work::Test) {
            worker_.RequestCancel();  // the button reads "&Cancel" while the test runs
            return;
        }
        if (work_ != Work::None) return;
        CheckServices* services = form_.Services();
        if (services == nullptr) {
            ShowResultText(u"The test is not available here.");
            return;
        }
        ReadControlsIntoForm();
        std::variant<TestRequest, FieldProblem, frmmain::StoreProblem> prepared = form_.TestRequestNow();
        if (const auto* problem = std::get_if<FieldProblem>(&prepared)) {
            Refuse(problem->message, frmmain::FocusFor(*problem));
            if (frmmain::FocusFor(*problem) == tab::btBastion) OpenBastion(frmmain::BastionFocusFor(*problem));
            return;
        }
        if (const auto* refused = std::get_if<frmmain::StoreProblem>(&prepared)) {
            Refuse(refused->message, frmmain::FocusFor(refused->outcome));
            return;
        }
        auto request = std::make_shared<TestRequest>(std::get<TestRequest>(std::move(prepared)));
        ShowResultText(u"Testing...");
        StartWork(Work::Test,
                  [this, services, request] { testReport_ = services->RunTest(*request, worker_.CancelFlag()); });
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
            fetched_ = services->FetchKey(request.host, request.port, request.timeout, worker_.CancelFlag());
        });
    }

    template <typename F>
    void StartWork(Work work, F job) {
        if (!worker_.Start(window_.get(), std::move(job))) {
            ShowResultText(u"The work could not be started (no thread).");
            return;
        }
        work_ = work;
        if (work == Work::Test) SetWindowTextW(Child(tab::btTest), L"&Cancel");
        EnableWindow(Child(tab::btFetchKey), FALSE);
        EnableWindow(Child(tab::btBastion), FALSE);
        if (work == Work::Fetch) EnableWindow(Child(tab::btTest), FALSE);
    }

    void OnWorkEnded() {
        if (work_ == Work::None) return;
        worker_.Join();
        const Work ended = std::exchange(work_, Work::None);
        SetWindowTextW(Child(tab::btTest), L"&Test");
        EnableWindow(Child(tab::btTest), TRUE);
        EnableWindow(Child(tab::btFetchKey), TRUE);
        EnableWindow(Child(tab::btBastion), TRUE);
        if (ended == Work::Test) {
            form_.ShowTestReport(testReport_);
            ShowResultText(form_.txtTestResult().Text());
            testReport_ = TestReport{};
            return;
        }
        const ssh::HostKeyProbe probe = std::exchange(fetched_, ssh::HostKeyProbe{});
        form_.ShowFetchedKey(probe);
        ShowResultText(form_.txtTestResult().Text());
        if (!AskToPin(window_.get(), form_.Caption(), probe, form_.txtTestResult().Text(),
                      u"the pinned keys (HFP)")) {
            return;
        }
        form_.txtHostKeys().SetText(WindowText(Child(tab::txtHostKeys)));
        form_.PinHostKey(probe.fingerprint);
        const std::wstring pins = Wide(form_.txtHostKeys().Text());
        SetWindowTextW(Child(tab::txtHostKeys), pins.c_str());
    }

    void StopWork() noexcept {
        worker_.Stop();
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
    TestReport testReport_;
    ssh::HostKeyProbe fetched_;
    Worker worker_;
};

// The window procedure of a window whose object the creation passed: messages go to it from
// WM_NCCREATE on until WM_NCDESTROY.
template <class Window>
LRESULT WindowProcOf(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (self == nullptr || message == WM_NCCREATE || message == WM_NCDESTROY) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->OnMessage(window, message, wParam, lParam);
}

LRESULT CALLBACK FormWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProcOf<FormWindow>(window, message, wParam, lParam);
}

LRESULT CALLBACK BastionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return WindowProcOf<BastionWindow>(window, message, wParam, lParam);
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
