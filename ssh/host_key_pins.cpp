#include "ssh/host_key_pins.h"

#include "common/text.h"

#include <algorithm>

namespace tavrin::ssh {

namespace {

constexpr std::u16string_view kPrefix = u"SHA256:";
// 32 bytes of SHA-256 in unpadded Base64.
constexpr std::size_t kDigestChars = 43;

bool IsBase64Char(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'+' ||
           c == u'/';
}

// The last of 43 characters carries 4 bits of the digest and 2 zero bits.
bool IsLastDigestChar(char16_t c) {
    constexpr std::u16string_view allowed = u"AEIMQUYcgkosw048";
    return allowed.find(c) != std::u16string_view::npos;
}

std::u16string CheckOne(std::u16string_view pin) {
    const std::u16string quoted = u"\"" + std::u16string(pin) + u"\"";
    if (pin.substr(0, kPrefix.size()) != kPrefix) {
        if (pin.substr(0, 4) == u"MD5:") {
            return quoted + u" is an MD5 fingerprint; pin the SHA256 fingerprint (SHA256:...)";
        }
        return quoted + u" is not a SHA256 fingerprint (SHA256: and 43 characters, as ssh-keygen -l prints it)";
    }
    std::u16string_view digest = pin.substr(kPrefix.size());
    if (!digest.empty() && digest.back() == u'=') digest.remove_suffix(1);  // padding some tools print
    for (const char16_t c : digest) {
        if (!IsBase64Char(c)) return quoted + u" holds a character that a fingerprint cannot hold";
    }
    if (digest.size() != kDigestChars || !IsLastDigestChar(digest.back())) {
        return quoted + u" is not a whole SHA256 fingerprint (it needs 43 characters after SHA256:)";
    }
    return {};
}

}  // namespace

HostKeyPins ParseHostKeyPins(std::u16string_view value) {
    HostKeyPins pins;
    if (TrimBlanks(value).empty()) return pins;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = value.find(u',', start);
        const std::u16string one =
            TrimBlanks(value.substr(start, comma == std::u16string_view::npos ? std::u16string_view::npos
                                                                               : comma - start));
        if (one.empty()) {
            pins.error = u"The host key list \"" + std::u16string(value) + u"\" has an empty entry";
            pins.fingerprints.clear();
            return pins;
        }
        if (std::u16string why = CheckOne(one); !why.empty()) {
            pins.error = u"The pinned host key " + why;
            pins.fingerprints.clear();
            return pins;
        }
        std::u16string normal = one;
        if (normal.back() == u'=') normal.pop_back();
        pins.fingerprints.push_back(std::move(normal));
        if (comma == std::u16string_view::npos) break;
        start = comma + 1;
    }
    return pins;
}

std::u16string WithPinAdded(std::u16string_view value, std::u16string_view fingerprint) {
    const HostKeyPins pins = ParseHostKeyPins(value);
    const auto& known = pins.fingerprints;
    if (std::find(known.begin(), known.end(), fingerprint) != known.end()) return std::u16string(value);
    std::u16string out = TrimBlanks(value);
    if (!out.empty()) out += u',';
    out += fingerprint;
    return out;
}

}  // namespace tavrin::ssh
