#include "common/numbers.h"

#include "common/automation_error.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace tavrin {

namespace {

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

bool Skipped(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

// Reads the digits of an "&H" / "&O" integer.
double ReadRadixInteger(std::u16string_view text, std::size_t at, unsigned radix) {
    std::uint64_t value = 0;
    for (; at < text.size(); ++at) {
        const char16_t c = text[at];
        if (Skipped(c)) continue;
        unsigned digit;
        if (c >= u'0' && c <= u'9') digit = c - u'0';
        else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10u;
        else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10u;
        else break;
        if (digit >= radix) break;
        value = ((value * radix) + digit) & 0xFFFFFFFFFFFFull;  // keep well above 32 bits, never overflow
    }
    if (value <= 0xFFFF) return static_cast<std::int16_t>(static_cast<std::uint16_t>(value));
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFFu));
}

}  // namespace

double ReadNumber(std::u16string_view text) {
    std::size_t i = 0;
    const auto skip = [&] {
        while (i < text.size() && Skipped(text[i])) ++i;
    };
    skip();
    if (i < text.size() && text[i] == u'&') {
        ++i;
        skip();
        if (i < text.size() && (text[i] == u'H' || text[i] == u'h')) return ReadRadixInteger(text, i + 1, 16);
        if (i < text.size() && (text[i] == u'O' || text[i] == u'o')) return ReadRadixInteger(text, i + 1, 8);
        return 0;
    }

    // Gather the number's characters without the skipped ones, then convert once.
    std::string digits;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    bool point = false, any = false;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (Skipped(c)) continue;
        if (c >= u'0' && c <= u'9') { digits += static_cast<char>(c); any = true; }
        else if (c == u'.' && !point) { digits += '.'; point = true; }
        else break;
    }
    if (!any) return 0;
    // An exponent counts only when digits follow its marker (and sign).
    if (i < text.size() && (text[i] == u'E' || text[i] == u'e')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        while (j < text.size() && Skipped(text[j])) ++j;
        if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) exponent += static_cast<char>(text[j++]);
        bool expDigits = false;
        for (; j < text.size(); ++j) {
            const char16_t c = text[j];
            if (Skipped(c)) continue;
            if (c < u'0' || c > u'9') break;
            exponent += static_cast<char>(c);
            expDigits = true;
        }
        if (expDigits) digits += exponent;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                           std::chars_format::general);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: the mantissa's digits decide which.
        const auto e = digits.find('e');
        const bool tiny = e != std::string::npos && e + 1 < digits.size() && digits[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::max();
    } else if (ec != std::errc{}) {
        value = 0;
    }
    return negative ? -value : value;
}

std::u16string NumberText(double number) {
    if (std::isnan(number)) return u"-1.#IND";
    if (std::isinf(number)) return number < 0 ? u"-1.#INF" : u"1.#INF";
    if (number == 0) return u"0";

    // 15 significant digits, rounded, as d.dddddddddddddde±x.
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(number), std::chars_format::scientific, 14);
    const std::string sci(buf, res.ptr);
    const auto e = sci.find('e');
    std::string mantissa = sci.substr(0, 1) + sci.substr(2, e - 2);  // the 15 digits
    const int exponent = std::stoi(sci.substr(e + 1));
    while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();

    std::string out = number < 0 ? "-" : "";
    if (exponent < -4 || exponent >= 15) {
        out += mantissa[0];
        if (mantissa.size() > 1) out += "." + mantissa.substr(1);
        const int magnitude = exponent < 0 ? -exponent : exponent;
        out += exponent < 0 ? "E-" : "E+";
        if (magnitude < 10) out += '0';
        out += std::to_string(magnitude);
    } else if (exponent < 0) {
        out += "." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + mantissa;
    } else {
        const auto integral = static_cast<std::size_t>(exponent) + 1;
        if (mantissa.size() <= integral) {
            out += mantissa + std::string(integral - mantissa.size(), '0');
        } else {
            out += mantissa.substr(0, integral) + "." + mantissa.substr(integral);
        }
    }
    return Ascii(out);
}

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

}  // namespace tavrin
