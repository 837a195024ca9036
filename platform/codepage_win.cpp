// The ANSI code page through the Windows conversion functions.
#include "platform/codepage.h"

#include <windows.h>

#include <array>
#include <vector>

namespace tavrin::platform {

namespace {
class WindowsCodePage final : public AnsiCodePage {
public:
    // Builds both tables at once, so conversions afterwards are plain look-ups.
    static std::unique_ptr<WindowsCodePage> Make(UINT number) {
        CPINFOEXW info{};
        if (!GetCPInfoExW(number, 0, &info)) return nullptr;
        auto page = std::unique_ptr<WindowsCodePage>(new WindowsCodePage(info.CodePage));
        const auto substitute = static_cast<std::uint8_t>(info.DefaultChar[0]);
        page->encode_.assign(0x10000, substitute);
        for (std::uint32_t u = 0; u < 0x10000; ++u) {
            const wchar_t ch = static_cast<wchar_t>(u);
            char bytes[4] = {};
            BOOL usedDefault = FALSE;
            // UTF-7 and UTF-8 take neither flags nor the default-character report.
            const bool utf = info.CodePage == CP_UTF7 || info.CodePage == CP_UTF8;
            const int n = WideCharToMultiByte(info.CodePage, utf ? 0 : WC_NO_BEST_FIT_CHARS, &ch, 1, bytes,
                                              sizeof bytes, nullptr, utf ? nullptr : &usedDefault);
            // A character without a single-byte form (none at all, or two bytes in a double-byte
            // code page) becomes the code page's substitute.
            if (n == 1 && !usedDefault) page->encode_[u] = static_cast<std::uint8_t>(bytes[0]);
        }
        for (std::uint32_t b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            wchar_t ch = 0;
            const int n = MultiByteToWideChar(info.CodePage, 0, &byte, 1, &ch, 1);
            page->decode_[b] = n == 1 ? static_cast<char16_t>(ch) : static_cast<char16_t>(info.UnicodeDefaultChar);
        }
        return page;
    }

    std::uint8_t EncodeChar(char16_t ch) const override { return encode_[ch]; }
    char16_t DecodeByte(std::uint8_t byte) const override { return decode_[byte]; }
    std::uint32_t Number() const override { return number_; }

private:
    explicit WindowsCodePage(UINT number) : number_(number) {}
    UINT number_;
    std::vector<std::uint8_t> encode_;
    std::array<char16_t, 256> decode_{};
};
}  // namespace

const AnsiCodePage& SystemAnsiCodePage() {
    static const std::unique_ptr<WindowsCodePage> codePage = [] {
        auto page = WindowsCodePage::Make(GetACP());
        return page ? std::move(page) : WindowsCodePage::Make(1252);
    }();
    return *codePage;
}

std::unique_ptr<AnsiCodePage> MakeAnsiCodePage(std::uint32_t number) {
    return WindowsCodePage::Make(number);
}

}  // namespace tavrin::platform
