#include "plugin/com/com_handles.h"

#include "platform/win32_text.h"

#include <new>

namespace tavrin::com {

Bstr::Bstr(std::u16string_view text) : Bstr(std::wstring_view(ToWide(text))) {}

namespace {

BSTR Allocate(std::wstring_view text) {
    const BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) throw std::bad_alloc();
    return copy;
}

}  // namespace

Bstr::Bstr(std::wstring_view text) : OwnedHandle(Allocate(text)) {}

std::u16string ToU16(BSTR text) {
    if (text == nullptr) return {};
    return ToU16(std::wstring_view(text, ::SysStringLen(text)));
}

std::u16string ToU16(std::wstring_view text) { return platform::win32::Utf16(text); }

std::wstring ToWide(std::u16string_view text) { return platform::win32::Wide(text); }

}  // namespace tavrin::com
