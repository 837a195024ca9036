#pragma once
// Small helpers for the UTF-16 texts that the whole core works with.

#include <string>
#include <string_view>

namespace tavrin {

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD (decoding) or is encoded as is
// (a lone surrogate is written as its three-byte form), so nothing is ever dropped silently.
std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

// ToUtf8 in two steps, for a buffer that must not grow (a secret's, platform/secret.h): the
// length of the UTF-8 form, and the form written to `out`, which has room for that many bytes.
// Returns the end of what was written.
std::size_t Utf8Length(std::u16string_view text);
char* WriteUtf8(std::u16string_view text, char* out);

// One UTF-8 sequence at the start of `bytes` (well-formed UTF-8 only: no overlong forms, no
// surrogates, nothing above U+10FFFF). The one UTF-8 reader of the system: FromUtf8 and the
// decoder of command output both take their steps from it.
struct Utf8Sequence {
    enum class Kind {
        Valid,       // `codePoint` in `length` bytes
        Invalid,     // the first byte starts no valid sequence
        Incomplete,  // valid so far, but `bytes` ends inside it
    };
    Kind kind = Kind::Invalid;
    char32_t codePoint = 0;
    std::size_t length = 1;
};
Utf8Sequence ReadUtf8Sequence(std::string_view bytes);

// Appends a code point as one or two UTF-16 units.
void AppendUtf16(char32_t codePoint, std::u16string& out);

// Removes blanks (U+0020 only, as the classic Trim does) at both ends.
std::u16string TrimBlanks(std::u16string_view text);

}  // namespace tavrin
