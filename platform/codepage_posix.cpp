// Windows-1252 as the stand-in for the ANSI code page where there is no Windows.
#include "platform/codepage.h"

#include <array>

namespace tavrin::platform {

namespace {
// 0x80..0x9F; the rest of 1252 is the same as ISO 8859-1. The five bytes without a character
// of their own map to the control character of the same number, as Windows' table has it.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

class Windows1252 final : public AnsiCodePage {
public:
    std::uint8_t EncodeChar(char16_t ch) const override {
        if (ch < 0x80 || (ch >= 0xA0 && ch <= 0xFF)) return static_cast<std::uint8_t>(ch);
        for (std::size_t i = 0; i < kHigh.size(); ++i) {
            if (kHigh[i] == ch) return static_cast<std::uint8_t>(0x80 + i);
        }
        return '?';
    }
    char16_t DecodeByte(std::uint8_t byte) const override {
        return (byte >= 0x80 && byte < 0xA0) ? kHigh[byte - 0x80u] : static_cast<char16_t>(byte);
    }
    std::uint32_t Number() const override { return 1252; }
};
}  // namespace

const AnsiCodePage& SystemAnsiCodePage() {
    static const Windows1252 codePage;
    return codePage;
}

std::unique_ptr<AnsiCodePage> MakeAnsiCodePage(std::uint32_t number) {
    if (number != 1252) return nullptr;
    return std::make_unique<Windows1252>();
}

}  // namespace tavrin::platform
