#include "plugin/pattern.h"

#include "common/text.h"

#include <pcre2.h>

#include <new>
#include <string>

namespace tavrin::plugin {

namespace {

static_assert(sizeof(PCRE2_UCHAR) == sizeof(char16_t), "the 16-bit library matches UTF-16 text");

struct CodeFree {
    void operator()(pcre2_code* code) const noexcept { pcre2_code_free(code); }
};
struct ContextFree {
    void operator()(pcre2_match_context* context) const noexcept { pcre2_match_context_free(context); }
};
struct StackFree {
    void operator()(pcre2_jit_stack* stack) const noexcept { pcre2_jit_stack_free(stack); }
};
struct DataFree {
    void operator()(pcre2_match_data* data) const noexcept { pcre2_match_data_free(data); }
};

PCRE2_SPTR Units(std::u16string_view text) { return reinterpret_cast<PCRE2_SPTR>(text.data()); }

std::u16string ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
    if (length < 0) return u"error " + FromUtf8(std::to_string(code));
    return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(length));
}

}  // namespace

struct Pattern::Compiled {
    std::unique_ptr<pcre2_code, CodeFree> code;
    std::unique_ptr<pcre2_match_context, ContextFree> context;
    std::unique_ptr<pcre2_jit_stack, StackFree> stack;
    bool jitted = false;
};

Pattern::Pattern(std::unique_ptr<Compiled> compiled) : compiled_(std::move(compiled)) {}
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;
Pattern::~Pattern() = default;

std::variant<Pattern, std::u16string> Pattern::Compile(std::u16string_view pattern) {
    const std::u16string quoted = u"\"" + std::u16string(pattern) + u"\"";
    auto compiled = std::make_unique<Compiled>();
    int error = 0;
    PCRE2_SIZE offset = 0;
    // Output that is not valid UTF-16 (a lone surrogate) is matched as far as it is valid,
    // rather than failing the match.
    compiled->code.reset(pcre2_compile(Units(pattern), pattern.size(), PCRE2_UTF | PCRE2_MATCH_INVALID_UTF, &error,
                                       &offset, nullptr));
    if (!compiled->code) {
        if (error == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
        return u"The pattern " + quoted + u" is not valid: " + ErrorText(error) + u" at offset " +
               FromUtf8(std::to_string(offset));
    }
    compiled->context.reset(pcre2_match_context_create(nullptr));
    if (!compiled->context) throw std::bad_alloc();
    pcre2_set_match_limit(compiled->context.get(), kPatternMatchLimit);
    pcre2_set_depth_limit(compiled->context.get(), kPatternDepthLimit);
    pcre2_set_heap_limit(compiled->context.get(), kPatternHeapLimitKiB);
    // Without the JIT (a platform it does not support) the interpreter matches, under the same
    // limits.
    if (pcre2_jit_compile(compiled->code.get(), PCRE2_JIT_COMPLETE) == 0) {
        compiled->stack.reset(pcre2_jit_stack_create(32 * 1024, kPatternJitStackBytes, nullptr));
        if (!compiled->stack) throw std::bad_alloc();
        pcre2_jit_stack_assign(compiled->context.get(), nullptr, compiled->stack.get());
        compiled->jitted = true;
    }
    return Pattern(std::move(compiled));
}

Pattern::Match Pattern::Find(std::u16string_view text) const {
    const std::unique_ptr<pcre2_match_data, DataFree> data(
        pcre2_match_data_create_from_pattern(compiled_->code.get(), nullptr));
    if (!data) throw std::bad_alloc();
    const int rc =
        pcre2_match(compiled_->code.get(), Units(text), text.size(), 0, 0, data.get(), compiled_->context.get());
    if (rc >= 0) return Match::Found;
    if (rc == PCRE2_ERROR_NOMATCH) return Match::NotFound;
    if (rc == PCRE2_ERROR_NOMEMORY) throw std::bad_alloc();
    return Match::OverLimit;  // a limit, the JIT's stack, or anything else PCRE2 could not finish
}

bool Pattern::Jitted() const { return compiled_->jitted; }

}  // namespace tavrin::plugin
