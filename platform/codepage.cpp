#include "platform/codepage.h"

namespace tavrin::platform {

std::string AnsiCodePage::Encode(std::u16string_view text) const {
    std::string out;
    out.reserve(text.size());
    for (const char16_t ch : text) out.push_back(static_cast<char>(EncodeChar(ch)));
    return out;
}

std::u16string AnsiCodePage::Decode(std::string_view bytes) const {
    std::u16string out;
    out.reserve(bytes.size());
    for (const char b : bytes) out.push_back(DecodeByte(static_cast<std::uint8_t>(b)));
    return out;
}

}  // namespace tavrin::platform
