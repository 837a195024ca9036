#pragma once
// The plug-in object's state and behaviour for hosts that are not COM: the command-line host
// and the tests. Four properties holding host values, and the object's own form.

#include "dialog/frmmain.h"
#include "plugin/host_value.h"
#include "plugin/object_access.h"

namespace tavrin::plugin {

class PortableObject final : public ObjectAccess {
public:
    explicit PortableObject(ssh::ComponentFactory& factory = ssh::LibsshFactory()) : form_(factory) {}

    HostValue sa_hostname;
    HostValue sa_timeout;
    HostValue sa_parameter;
    HostValue sa_result;

    bool sa_docheck();

    std::int16_t TimeoutAsInteger16() override { return ToInteger16(sa_timeout); }
    std::u16string TimeoutAsText() override { return ToText(sa_timeout); }
    std::u16string HostnameAsText() override { return ToText(sa_hostname); }
    std::u16string ParameterAsText() override { return ToText(sa_parameter); }
    void PutResult(const std::u16string& text) override { sa_result = text; }
    void PutParameter(const std::u16string& text) override { sa_parameter = text; }
    dialog::frmmain& Form() override { return form_; }

private:
    dialog::frmmain form_;
};

}  // namespace tavrin::plugin
