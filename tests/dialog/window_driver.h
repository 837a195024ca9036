#pragma once
// The user's side of the real dialog, for test programs: what another thread of the process can
// do with the dialog window through window messages, as a second program would.

#include "dialog/form_layout.h"
#include "dialog/win32/form_window.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tavrin::dialog::driver {

using namespace std::chrono_literals;

template <typename Predicate>
bool WaitFor(Predicate done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

inline HWND Item(HWND dialog, int tabIndex) { return GetDlgItem(dialog, ControlId(tabIndex)); }

inline std::wstring Text(HWND window) {
    const auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const auto copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(copied));
    return text;
}
inline std::wstring Text(HWND dialog, int tabIndex) { return Text(Item(dialog, tabIndex)); }

inline void Type(HWND dialog, int tabIndex, const wchar_t* text) {
    SendMessageW(Item(dialog, tabIndex), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

inline std::vector<std::wstring> Items(HWND combo) {
    std::vector<std::wstring> items;
    const auto count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring item(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        const auto copied = SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
        item.resize(static_cast<std::size_t>(copied));
        items.push_back(item);
    }
    return items;
}
inline int Selection(HWND combo) { return static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0)); }

// Picks an item of a list as the user does: the selection, then the notice the dialog hears.
inline void Choose(HWND dialog, int tabIndex, int item) {
    HWND list = Item(dialog, tabIndex);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(item), 0);
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(ControlId(tabIndex), CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

// Posted, not sent: OK may open a message box, whose loop would hold a sent message.
inline void Click(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

inline std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

struct OwnedWindowSearch {
    HWND owner;
    const wchar_t* cls;
    HWND found;
};

inline BOOL CALLBACK FindOwnedWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnedWindowSearch*>(param);
    if (GetWindow(window, GW_OWNER) == search->owner && ClassOf(window) == search->cls && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// A visible window of the class `cls` that `owner` owns, or null.
inline HWND OwnedWindow(HWND owner, const wchar_t* cls) {
    OwnedWindowSearch search{owner, cls, nullptr};
    EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), &FindOwnedWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// A message box that the dialog (or the Bastion window) owns, or null.
inline HWND OwnedMessageBox(HWND dialog) { return OwnedWindow(dialog, L"#32770"); }

// The Bastion window over the dialog, or null.
inline HWND BastionWindow(HWND dialog) { return OwnedWindow(dialog, win32::kBastionWindowClass); }

// Clicks the dialog's "&Bastion..." button and waits for the Bastion window; null when it did
// not come.
inline HWND OpenBastion(HWND dialog) {
    Click(GetDlgItem(dialog, ControlId(tab::btBastion)));
    HWND bastion = nullptr;
    WaitFor([&] { return (bastion = BastionWindow(dialog)) != nullptr; });
    return bastion;
}

// The window that has the keyboard focus in the thread of `window`.
inline HWND FocusOf(HWND window) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &gui) ? gui.hwndFocus : nullptr;
}

inline std::wstring MessageBoxText(HWND box) {
    std::wstring all;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassOf(child).c_str(), L"Static") == 0) all += Text(child);
    }
    return all;
}

// Dismisses the message box that `owner` shows with `button`, and returns its text; empty when
// none came within the time.
inline std::wstring AnswerMessageBox(HWND owner, int button, std::chrono::milliseconds limit = 10s) {
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = OwnedMessageBox(owner)) != nullptr; }, limit)) return {};
    std::wstring text = MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
    WaitFor([&] { return OwnedMessageBox(owner) == nullptr; });
    return text;
}

// The window in the screen's pixels, as a 24-bit BMP file.
inline bool SaveScreenshot(HWND window, const std::string& path) {
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;  // rows from the bottom, as a BMP file keeps them
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const int stride = ((w * 3 + 3) / 4) * 4;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(stride * h));
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != h) return false;

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    const bool ok = std::fwrite(&file, sizeof file, 1, out) == 1 && std::fwrite(&info, sizeof info, 1, out) == 1 &&
                    std::fwrite(pixels.data(), pixels.size(), 1, out) == 1;
    return std::fclose(out) == 0 && ok;
}

inline HWND VisibleDialog() {
    HWND dialog = FindWindowW(win32::kFormWindowClass, nullptr);
    return dialog != nullptr && IsWindowVisible(dialog) ? dialog : nullptr;
}

// Runs `show` (which opens the dialog modally) on this thread while `user` acts from a second
// thread. Should the user leave the dialog open, it is closed (and the test fails) so that the
// loop ends.
inline void ShowWithUser(const std::function<void()>& show, const std::function<void(HWND)>& user) {
    std::atomic<bool> showingEnded{false};
    std::thread driver([&] {
        HWND dialog = nullptr;
        if (!WaitFor([&] { return (dialog = VisibleDialog()) != nullptr || showingEnded; })) {
            ADD_FAILURE() << "the dialog did not appear";
            return;
        }
        if (dialog == nullptr) return;
        user(dialog);
        if (!WaitFor([&] { return showingEnded.load(); }, 5s)) {
            ADD_FAILURE() << "the dialog was left open";
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        }
    });
    try {
        show();
    } catch (...) {
        showingEnded = true;
        driver.join();
        throw;
    }
    showingEnded = true;
    driver.join();
}

inline int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi;
}

}  // namespace tavrin::dialog::driver
