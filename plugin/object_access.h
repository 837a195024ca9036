#pragma once
// What the check run and the dialog cycle need of the plug-in object: its properties in the
// conversions they read them with, the object's own property puts, and its form.
// The COM object implements it over VARIANTs; the command-line host and the tests over
// portable values (plugin/host_value.h).

#include <cstdint>
#include <string>

namespace tavrin::dialog {
class frmmain;
}

namespace tavrin::plugin {

class ObjectAccess {
public:
    virtual ~ObjectAccess() = default;
    // Conversions; each throws tavrin::AutomationError ("Type mismatch", "Overflow",
    // "Invalid use of Null") when the value does not convert.
    virtual std::int16_t TimeoutAsInteger16() = 0;  // 16-bit, halves to even, text in the user's locale
    virtual std::u16string TimeoutAsText() = 0;
    virtual std::u16string HostnameAsText() = 0;
    virtual std::u16string ParameterAsText() = 0;
    // The object's own property puts, exactly as a host's put would store a text.
    virtual void PutResult(const std::u16string& text) = 0;
    virtual void PutParameter(const std::u16string& text) = 0;
    virtual dialog::frmmain& Form() = 0;
};

}  // namespace tavrin::plugin
