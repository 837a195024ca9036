#include "plugin/host_value.h"

#include "common/automation_error.h"
#include "common/numbers.h"

#include <cmath>

namespace tavrin::plugin {

std::int16_t ToInteger16(const HostValue& value) {
    struct Visitor {
        std::int16_t operator()(EmptyValue) const { return 0; }
        std::int16_t operator()(NullValue) const { throw errors::InvalidUseOfNull(); }
        std::int16_t operator()(bool b) const { return b ? -1 : 0; }
        std::int16_t operator()(std::int16_t n) const { return n; }
        std::int16_t operator()(std::int32_t n) const { return RoundToInteger16(n); }
        std::int16_t operator()(double d) const { return RoundToInteger16(d); }
        std::int16_t operator()(const std::u16string& s) const {
            const auto number = ParseWholeNumber(s);
            if (!number) throw errors::TypeMismatch();
            return RoundToInteger16(*number);
        }
    };
    return std::visit(Visitor{}, value);
}

std::u16string ToText(const HostValue& value) {
    struct Visitor {
        std::u16string operator()(EmptyValue) const { return {}; }
        std::u16string operator()(NullValue) const { throw errors::InvalidUseOfNull(); }
        std::u16string operator()(bool b) const { return b ? u"True" : u"False"; }
        std::u16string operator()(std::int16_t n) const { return NumberText(n); }
        std::u16string operator()(std::int32_t n) const { return NumberText(n); }
        std::u16string operator()(double d) const {
            std::u16string text = NumberText(d);
            if (text.starts_with(u".")) text.insert(0, u"0");
            else if (text.starts_with(u"-.")) text.insert(1, u"0");
            return text;
        }
        std::u16string operator()(const std::u16string& s) const { return s; }
    };
    return std::visit(Visitor{}, value);
}

}  // namespace tavrin::plugin
