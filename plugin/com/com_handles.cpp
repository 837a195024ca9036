#include "plugin/com/com_handles.h"

#include "platform/secret.h"
#include "platform/win32_text.h"

#include <new>

namespace tavrin::com {

void WipeBstr(BSTR text) noexcept {
    if (text != nullptr) platform::SecureWipe(text, ::SysStringByteLen(text));
}

namespace {

BSTR Allocate(std::wstring_view text) {
    const BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (copy == nullptr) throw std::bad_alloc();
    return copy;
}

// Written unit by unit into the BSTR itself: no wide string in between keeps a copy.
BSTR Allocate(std::u16string_view text) {
    const BSTR copy = ::SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (copy == nullptr) throw std::bad_alloc();
    for (std::size_t i = 0; i < text.size(); ++i) copy[i] = static_cast<wchar_t>(text[i]);
    return copy;
}

}  // namespace

Bstr::Bstr(std::u16string_view text) : OwnedHandle(Allocate(text)) {}

Bstr::Bstr(std::wstring_view text) : OwnedHandle(Allocate(text)) {}

std::u16string ToU16(BSTR text) {
    if (text == nullptr) return {};
    return ToU16(std::wstring_view(text, ::SysStringLen(text)));
}

std::u16string ToU16(std::wstring_view text) { return platform::win32::Utf16(text); }

std::wstring ToWide(std::u16string_view text) { return platform::win32::Wide(text); }

}  // namespace tavrin::com
