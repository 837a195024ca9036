#pragma once
// The regular expressions of the RE and NRE rules: PCRE2 syntax in UTF mode, compiled once per
// check before it connects and matched against the output with limits on the work, so that no
// output (64 MiB of it, built to make the match backtrack) holds the check for long.

#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace tavrin::plugin {

class Pattern {
public:
    enum class Match {
        Found,
        NotFound,
        OverLimit,  // the match stopped at a limit (or failed): neither answer is known
    };

    // The compiled pattern, or why it does not compile: "The pattern "X" is not valid: REASON
    // at offset N".
    static std::variant<Pattern, std::u16string> Compile(std::u16string_view pattern);

    // Whether the pattern matches anywhere in the text.
    Match Find(std::u16string_view text) const;

    // Whether the just-in-time compiler serves the match on this platform.
    bool Jitted() const;

    Pattern(Pattern&&) noexcept;
    Pattern& operator=(Pattern&&) noexcept;
    ~Pattern();

private:
    struct Compiled;
    explicit Pattern(std::unique_ptr<Compiled> compiled);
    std::unique_ptr<Compiled> compiled_;
};

// The limits of one match: calls of PCRE2's matcher, its backtracking depth and heap, and the
// JIT's stack.
inline constexpr unsigned kPatternMatchLimit = 20'000'000;
inline constexpr unsigned kPatternDepthLimit = 10'000;
inline constexpr unsigned kPatternHeapLimitKiB = 64 * 1024;
inline constexpr std::size_t kPatternJitStackBytes = 1024 * 1024;

}  // namespace tavrin::plugin
