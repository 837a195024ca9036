#include "platform/win32_text.h"

#include "common/text.h"

namespace tavrin::platform::win32 {

std::u16string SystemErrorText(DWORD error, std::u16string_view whenNone) {
    wchar_t* raw = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
        0, reinterpret_cast<wchar_t*>(&raw), 0, nullptr);
    std::u16string text;
    if (length > 0 && raw != nullptr) text = Utf16(std::wstring_view(raw, length));
    if (raw != nullptr) LocalFree(raw);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ' ||
                             text.back() == u'.')) {
        text.pop_back();
    }
    if (text.empty()) text = whenNone.empty() ? u"error " + FromUtf8(std::to_string(error)) : std::u16string(whenNone);
    return text;
}

}  // namespace tavrin::platform::win32
