#include "plugin/verdict.h"

#include "common/numbers.h"
#include "common/text.h"

#include <cmath>
#include <limits>
#include <string>

namespace tavrin::plugin {

namespace {

constexpr std::u16string_view kContains = u"Output contains ";
constexpr std::u16string_view kDoesntContain = u"Output doesn't contain ";

std::u16string Concat(std::initializer_list<std::u16string_view> parts) {
    std::size_t n = 0;
    for (auto p : parts) n += p.size();
    std::u16string out;
    out.reserve(n);
    for (auto p : parts) out += p;
    return out;
}

}  // namespace

Verdict JudgeOutput(std::u16string_view output, std::u16string_view op, std::u16string_view value,
                    std::u16string_view mode) {
    if (value.empty()) return {true, std::u16string(output)};

    Verdict v;
    if (op == u"CON" || op == u"NCO") {
        const bool found = output.find(value) != std::u16string_view::npos;
        v.up = op == u"CON" ? found : !found;
        v.text = Concat({found ? kContains : kDoesntContain, value});
    } else if (op == u"LT" || op == u"GT") {
        const double a = ReadNumber(output);
        const double b = ReadNumber(value);
        const bool less = op == u"LT";
        v.up = less ? (a < b) : (a > b);
        const std::u16string_view prefix =
            less ? (v.up ? u"Output is less then " : u"Output is not less then ")
                 : (v.up ? u"Output is greater then " : u"Output is not greater then ");
        v.text = Concat({prefix, value, u" (", NumberText(a), u")"});
    } else {
        v = {true, std::u16string(output)};
    }

    if (!op.empty() && (mode == u"YEA" || (mode == u"YED" && !v.up))) {
        v.text = Concat({v.text, u"(", output, u")"});
    }
    return v;
}

bool IsPatternRule(std::u16string_view op) { return op == u"RE" || op == u"NRE"; }

std::optional<int> WantedExitStatus(std::u16string_view value) {
    if (TrimBlanks(value).empty()) return 0;
    const std::optional<double> number = ParseWholeNumber(value);
    if (!number || !std::isfinite(*number) || std::trunc(*number) != *number) return std::nullopt;
    if (*number < std::numeric_limits<int>::min() || *number > std::numeric_limits<int>::max()) return std::nullopt;
    return static_cast<int>(*number);
}

Verdict JudgeOutput(std::u16string_view output, std::u16string_view op, std::u16string_view value,
                    std::u16string_view mode, const RunEnd& end) {
    Verdict v;
    if (op == u"RC") {
        const std::u16string wanted = FromUtf8(std::to_string(end.wantedStatus));
        if (!end.exitStatus) {
            v = {false, u"The command's exit status was not reported, not " + wanted};
        } else if (*end.exitStatus == end.wantedStatus) {
            v = {true, u"Exit status is " + wanted};
        } else {
            v = {false, u"Exit status is " + FromUtf8(std::to_string(*end.exitStatus)) + u", not " + wanted};
        }
    } else if (IsPatternRule(op) && !value.empty()) {
        if (end.pattern == nullptr) return {false, Concat({u"The pattern \"", value, u"\" was not compiled"})};
        switch (end.pattern->Find(output)) {
            case Pattern::Match::Found:
                v = {op == u"RE", Concat({u"Output matches ", value})};
                break;
            case Pattern::Match::NotFound:
                v = {op == u"NRE", Concat({u"Output doesn't match ", value})};
                break;
            case Pattern::Match::OverLimit:
                v = {false, Concat({u"The pattern \"", value, u"\" could not be matched within its limits"})};
                break;
        }
    } else {
        return JudgeOutput(output, op, value, mode);
    }
    if (mode == u"YEA" || (mode == u"YED" && !v.up)) v.text = Concat({v.text, u"(", output, u")"});
    return v;
}

}  // namespace tavrin::plugin
