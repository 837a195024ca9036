#include "plugin/host_value.h"

#include "common/automation_error.h"
#include "plugin/verdict.h"

#include <cmath>

namespace tavrin::plugin {

std::int16_t RoundToInteger16(double number) {
    if (std::isnan(number)) throw errors::Overflow();
    const double rounded = std::nearbyint(number);  // the default rounding mode: halves to even
    if (rounded < -32768.0 || rounded > 32767.0) throw errors::Overflow();
    return static_cast<std::int16_t>(rounded);
}

std::optional<double> ParseWholeNumber(std::u16string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && (text[b] == u' ' || text[b] == u'\t')) ++b;
    while (e > b && (text[e - 1] == u' ' || text[e - 1] == u'\t')) --e;
    const std::u16string_view body = text.substr(b, e - b);
    if (body.empty()) return std::nullopt;

    std::size_t i = 0;
    if (body[0] == u'&') {
        if (body.size() < 3 || (body[1] != u'H' && body[1] != u'h' && body[1] != u'O' && body[1] != u'o')) {
            return std::nullopt;
        }
        const bool hex = body[1] == u'H' || body[1] == u'h';
        for (i = 2; i < body.size(); ++i) {
            const char16_t c = body[i];
            const bool digit = (c >= u'0' && c <= u'7') || (hex && ((c >= u'8' && c <= u'9') ||
                                                                   (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')));
            if (!digit) return std::nullopt;
        }
        return ReadNumber(body);
    }
    if (body[i] == u'+' || body[i] == u'-') ++i;
    bool digits = false, point = false;
    for (; i < body.size(); ++i) {
        const char16_t c = body[i];
        if (c >= u'0' && c <= u'9') digits = true;
        else if (c == u'.' && !point) point = true;
        else break;
    }
    if (!digits) return std::nullopt;
    if (i < body.size() && (body[i] == u'E' || body[i] == u'e')) {
        ++i;
        if (i < body.size() && (body[i] == u'+' || body[i] == u'-')) ++i;
        bool expDigits = false;
        while (i < body.size() && body[i] >= u'0' && body[i] <= u'9') { ++i; expDigits = true; }
        if (!expDigits) return std::nullopt;
    }
    if (i != body.size()) return std::nullopt;
    return ReadNumber(body);
}

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
