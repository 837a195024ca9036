#include "fuzz/fuzz_input.h"
#include "plugin/verdict.h"

#include <cstdlib>
#include <optional>
#include <variant>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto texts = SplitFuzzInput(data, size, 4);
    // Steer the operator and mode towards the codes now and then.
    static const char16_t* const kOperators[] = {u"CON", u"NCO", u"LT", u"GT", u"", u"RC", u"RE", u"NRE"};
    static const char16_t* const kModes[] = {u"NO", u"YED", u"YEA", u""};
    if (size > 0 && data[0] % 3 == 0) texts[1] = kOperators[data[0] % 8];
    if (size > 1 && data[1] % 3 == 0) texts[3] = kModes[data[1] % 4];
    const std::u16string& output = texts[0];
    const std::u16string& op = texts[1];
    const std::u16string& value = texts[2];
    const std::u16string& mode = texts[3];

    const auto v = tavrin::plugin::JudgeOutput(output, op, value, mode);
    if (value.empty() && (!v.up || v.text != output)) std::abort();
    if (op.empty() && (!v.up || v.text != output)) std::abort();
    if (!value.empty() && (op == u"CON" || op == u"NCO") && v.text.find(value) == std::u16string::npos) std::abort();
    if (mode == u"YEA" && !op.empty() && !value.empty() && !v.text.ends_with(u"(" + output + u")")) std::abort();

    // The later rules: a pattern from the value (compiled or refused), and an exit status.
    using tavrin::plugin::Pattern;
    tavrin::plugin::RunEnd end;
    if (size > 2) end.exitStatus = data[2] % 4 == 0 ? std::nullopt : std::optional<int>(data[2] % 3);
    std::optional<Pattern> pattern;
    if (tavrin::plugin::IsPatternRule(op) && !value.empty()) {
        auto compiled = Pattern::Compile(value);
        if (std::holds_alternative<std::u16string>(compiled)) return 0;  // refused before connecting
        pattern.emplace(std::get<Pattern>(std::move(compiled)));
        end.pattern = &*pattern;
        const Pattern::Match match = pattern->Find(output);
        const auto later = tavrin::plugin::JudgeOutput(output, op, value, mode, end);
        if (match == Pattern::Match::OverLimit && later.up) std::abort();
        if (match == Pattern::Match::Found && later.up != (op == u"RE")) std::abort();
        if (match == Pattern::Match::NotFound && later.up != (op == u"NRE")) std::abort();
    } else if (op == u"RC") {
        const std::optional<int> wanted = tavrin::plugin::WantedExitStatus(value);
        if (!wanted) return 0;
        end.wantedStatus = *wanted;
        const auto later = tavrin::plugin::JudgeOutput(output, op, value, mode, end);
        if (later.up != (end.exitStatus == wanted)) std::abort();
    }
    return 0;
}
