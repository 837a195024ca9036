#pragma once
// Small helpers for the UTF-16 texts that the whole core works with.

#include <string>
#include <string_view>

namespace tavrin {

// UTF-8 <-> UTF-16. Ill-formed input becomes U+FFFD (decoding) or is encoded as is
// (a lone surrogate is written as its three-byte form), so nothing is ever dropped silently.
std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

// Removes blanks (U+0020 only, as the classic Trim does) at both ends.
std::u16string TrimBlanks(std::u16string_view text);

}  // namespace tavrin
