#pragma once
// The plug-in object's Variant properties: how a value is stored and read back, and the
// conversions that the check run and the dialog cycle read them with.

#include "plugin/com/com_handles.h"

#include <cstdint>
#include <string>

namespace tavrin::com {

// A property's value.
//
// Store (property put and putref alike) keeps a copy of the value; a value passed by
// reference (VT_BYREF, also a VARIANT referring to a VARIANT) is copied as the value it
// refers to. An object reference is kept as that reference, not as the object's default
// value, and putref of a value that is not an object stores a copy as put does: the host's
// value always comes back unchanged, whichever of the two it used. The old value is released
// only after the copy has succeeded, so a failed store leaves the property as it was. A text
// held is overwritten when it is replaced and when the property goes (sa_parameter holds the
// password's Base64).
class VariantValue {
public:
    // Throws HResultError (with the platform's description) when the value cannot be copied.
    void Store(const VARIANT& value);
    void StoreText(std::u16string_view text);
    // A copy for an [out] VARIANT*; an object comes back as the same object, AddRef'ed.
    void CopyTo(VARIANT* target) const;
    const VARIANT& get() const noexcept { return value_.get(); }

private:
    Variant value_;
};

// The conversions of the automation runtime in the user's locale:
// VT_EMPTY gives 0 or the empty text; Null is "Invalid use of Null" (94); a value that does
// not convert is "Type mismatch" (13), one out of range "Overflow" (6). Numbers are rounded
// to the nearest integer, halves to even. Every failure throws tavrin::AutomationError.
std::int16_t ToInteger16(const VARIANT& value);
std::u16string ToText(const VARIANT& value);

}  // namespace tavrin::com
