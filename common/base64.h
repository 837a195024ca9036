#pragma once
// RFC 4648 Base64 of bytes (standard alphabet, "=" padding). The one Base64 of the system: the
// parameter string's codec of texts (parameters/base64.h) writes through it, key files and
// known_hosts lines are read with it.

#include <string>
#include <string_view>

namespace tavrin {

inline constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Appends the Base64 form of `bytes` to `out`.
void AppendBase64(std::string_view bytes, std::string& out);
std::string EncodeBase64(std::string_view bytes);

// Strict reading: only the alphabet, then at most two "=" that complete the last group of
// four; blanks, tabs and line ends between symbols are skipped. Appends the bytes to `out`
// (which the caller may have reserved and wipes, for a secret) and returns true, or returns
// false for anything else, leaving in `out` what was decoded so far.
bool DecodeBase64(std::string_view text, std::string& out);

// The value of one symbol of the alphabet, or -1.
int Base64Value(char symbol);

}  // namespace tavrin
