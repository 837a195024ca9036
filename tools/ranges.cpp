#include "tools/ranges.h"

#include "common/numbers.h"

#include <charconv>
#include <cmath>

namespace tavrin::tools {

namespace {

std::optional<double> Endpoint(std::u16string_view text) {
    const std::optional<double> n = ParseWholeNumber(text);
    if (!n || !std::isfinite(*n)) return std::nullopt;
    return n;
}

// The characters ReadNumber passes over wherever they stand.
bool Skipped(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }

bool RadixDigit(char16_t c, bool hex) {
    return (c >= u'0' && c <= u'7') ||
           (hex && ((c >= u'8' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')));
}

}  // namespace

std::optional<Range> ParseRange(std::u16string_view text) {
    Range range;
    if (text.starts_with(u'@')) {
        range.alertInside = true;
        text.remove_prefix(1);
    }
    const std::size_t colon = text.find(u':');
    if (colon == std::u16string_view::npos) {
        range.start = 0.0;
        range.end = Endpoint(text);
        if (!range.end) return std::nullopt;
    } else {
        const std::u16string_view start = text.substr(0, colon);
        const std::u16string_view end = text.substr(colon + 1);
        if (end.find(u':') != std::u16string_view::npos) return std::nullopt;
        if (start.empty()) {
            range.start = 0.0;
        } else if (start != u"~") {
            range.start = Endpoint(start);
            if (!range.start) return std::nullopt;
        }
        if (!end.empty()) {
            range.end = Endpoint(end);
            if (!range.end) return std::nullopt;
        }
    }
    if (range.start && range.end && *range.start > *range.end) return std::nullopt;
    return range;
}

bool Alerts(const Range& range, double value) {
    const bool inside = (!range.start || value >= *range.start) && (!range.end || value <= *range.end);
    return range.alertInside ? inside : !inside;
}

std::optional<double> LeadingNumber(std::u16string_view output) {
    std::size_t i = 0;
    const auto skip = [&] {
        while (i < output.size() && Skipped(output[i])) ++i;
    };
    skip();
    bool digit = false;
    if (i < output.size() && output[i] == u'&') {
        ++i;
        skip();
        if (i >= output.size()) return std::nullopt;
        const char16_t marker = output[i];
        const bool hex = marker == u'H' || marker == u'h';
        if (!hex && marker != u'O' && marker != u'o') return std::nullopt;
        ++i;
        skip();
        digit = i < output.size() && RadixDigit(output[i], hex);
    } else {
        if (i < output.size() && (output[i] == u'+' || output[i] == u'-')) ++i;
        bool point = false;
        for (; i < output.size() && !digit; ++i) {
            const char16_t c = output[i];
            if (Skipped(c)) continue;
            if (c >= u'0' && c <= u'9') digit = true;
            else if (c == u'.' && !point) point = true;
            else break;
        }
    }
    if (!digit) return std::nullopt;
    return ReadNumber(output);
}

std::u16string PerfdataNumber(double value) {
    // The shortest fixed form of a finite double is at most 309 integral digits, a sign and a
    // fraction of up to 1074 digits.
    char buffer[1100];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value == 0 ? 0.0 : value,
                                         std::chars_format::fixed);
    if (ec != std::errc{}) return u"0";
    return std::u16string(buffer, end);
}

}  // namespace tavrin::tools
