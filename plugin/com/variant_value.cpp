#include "plugin/com/variant_value.h"

#include "common/automation_error.h"
#include "plugin/com/error_info.h"

#include <new>

namespace tavrin::com {

void VariantValue::Store(const VARIANT& value) {
    Variant copy;
    // VariantCopyInd resolves one level of reference; a VARIANT that refers to a VARIANT
    // holding a reference again takes a second round.
    ThrowIfFailed(::VariantCopyInd(copy.address(), const_cast<VARIANT*>(&value)));
    while ((copy.type() & VT_BYREF) != 0) {
        Variant inner;
        ThrowIfFailed(::VariantCopyInd(inner.address(), copy.address()));
        copy = std::move(inner);
    }
    value_ = std::move(copy);
}

void VariantValue::StoreText(std::u16string_view text) {
    // The text is put in place as it is made, without a second copy.
    Bstr bstr(text);
    Variant value;
    V_VT(value.address()) = VT_BSTR;
    V_BSTR(value.address()) = bstr.release();
    value_ = std::move(value);
}

void VariantValue::CopyTo(VARIANT* target) const {
    Variant copy;
    ThrowIfFailed(::VariantCopy(copy.address(), const_cast<VARIANT*>(value_.address())));
    copy.DetachTo(target);
}

namespace {

// value converted to type, or the automation error that the conversion stands for.
Variant Convert(const VARIANT& value, VARTYPE type) {
    if (V_VT(&value) == VT_NULL) throw errors::InvalidUseOfNull();
    Variant converted;
    const HRESULT hr =
        ::VariantChangeTypeEx(converted.address(), const_cast<VARIANT*>(&value), LOCALE_USER_DEFAULT, 0, type);
    switch (hr) {
        case S_OK:
            return converted;
        case DISP_E_TYPEMISMATCH:
            throw errors::TypeMismatch();
        case DISP_E_OVERFLOW:
            throw errors::Overflow();
        case E_OUTOFMEMORY:
            throw std::bad_alloc();
        default:
            throw AutomationError(hr, DescribeHResult(hr));
    }
}

}  // namespace

std::int16_t ToInteger16(const VARIANT& value) {
    const Variant converted = Convert(value, VT_I2);
    return V_I2(converted.address());
}

std::u16string ToText(const VARIANT& value) {
    // A text is read as it is: its conversion would only be one more copy of it.
    if (V_VT(&value) == VT_BSTR) return ToU16(V_BSTR(&value));
    const Variant converted = Convert(value, VT_BSTR);
    return ToU16(V_BSTR(converted.address()));
}

}  // namespace tavrin::com
