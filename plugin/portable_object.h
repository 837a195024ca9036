#pragma once
// The plug-in object's state and behaviour for hosts that are not COM: the command-line host
// and the tests. Four properties holding host values, and the object's own form.

#include "dialog/frmmain.h"
#include "platform/secret.h"
#include "plugin/host_value.h"
#include "plugin/object_access.h"

#include <utility>

namespace tavrin::plugin {

// A host value that holds a secret: the parameter string carries the password's Base64. A text
// it holds is overwritten when it is replaced and when the value goes.
class WipedHostValue {
public:
    WipedHostValue() = default;
    ~WipedHostValue() { WipeText(value_); }
    WipedHostValue(const WipedHostValue&) = delete;
    WipedHostValue& operator=(const WipedHostValue&) = delete;

    WipedHostValue& operator=(const HostValue& value) {
        HostValue copy(value);
        return *this = std::move(copy);
    }
    WipedHostValue& operator=(HostValue&& value) noexcept {
        WipeText(value_);
        value_ = std::move(value);
        // A short text is copied by the move and stays in the source as well.
        WipeText(value);
        return *this;
    }

    const HostValue& get() const noexcept { return value_; }

private:
    static void WipeText(HostValue& value) noexcept {
        if (auto* text = std::get_if<std::u16string>(&value)) platform::SecureWipe(*text);
    }

    HostValue value_;
};

class PortableObject final : public ObjectAccess {
public:
    explicit PortableObject(ssh::ComponentFactory& factory = ssh::LibsshFactory()) : form_(factory) {}

    HostValue sa_hostname;
    HostValue sa_timeout;
    WipedHostValue sa_parameter;
    HostValue sa_result;

    bool sa_docheck();

    std::int16_t TimeoutAsInteger16() override { return ToInteger16(sa_timeout); }
    std::u16string TimeoutAsText() override { return ToText(sa_timeout); }
    std::u16string HostnameAsText() override { return ToText(sa_hostname); }
    std::u16string ParameterAsText() override { return ToText(sa_parameter.get()); }
    void PutResult(const std::u16string& text) override { sa_result = text; }
    void PutParameter(const std::u16string& text) override { sa_parameter = text; }
    dialog::frmmain& Form() override { return form_; }

private:
    dialog::frmmain form_;
};

}  // namespace tavrin::plugin
