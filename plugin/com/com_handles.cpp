#include "plugin/com/com_handles.h"

#include "platform/win32_text.h"

#include <new>

namespace tavrin::com {

Bstr::Bstr(std::u16string_view text) : Bstr(std::wstring_view(ToWide(text))) {}

Bstr::Bstr(std::wstring_view text) {
    bstr_ = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (bstr_ == nullptr) throw std::bad_alloc();
}

std::u16string ToU16(BSTR text) {
    if (text == nullptr) return {};
    return ToU16(std::wstring_view(text, ::SysStringLen(text)));
}

std::u16string ToU16(std::wstring_view text) { return platform::win32::Utf16(text); }

std::wstring ToWide(std::u16string_view text) { return platform::win32::Wide(text); }

}  // namespace tavrin::com
