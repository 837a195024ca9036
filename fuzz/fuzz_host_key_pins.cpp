// The HFP field's value as an operator may type it: ParseHostKeyPins.
//
// Input: a first byte whose lowest bit chooses how the rest is read: as UTF-8 (the fuzzer
// reaches the ASCII of real fingerprints easily) or as UTF-16 units (any unit, lone surrogates
// too).

#include "common/base64.h"
#include "common/text.h"
#include "fuzz/fuzz_input.h"
#include "ssh/host_key_pins.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using tavrin::ssh::ParseHostKeyPins;

constexpr std::u16string_view kPrefix = u"SHA256:";

// What an accepted fingerprint must be: "SHA256:" and the unpadded Base64 of 32 bytes, in the
// one form that writes those bytes (the last symbol's unused bits zero).
void CheckFingerprint(const std::u16string& fingerprint) {
    if (!fingerprint.starts_with(kPrefix) || fingerprint.size() != kPrefix.size() + 43) std::abort();
    std::string digits;
    for (const char16_t c : fingerprint.substr(kPrefix.size())) {
        if (c >= 0x80) std::abort();
        digits.push_back(static_cast<char>(c));
    }
    std::string digest;
    if (!tavrin::DecodeBase64(digits + "=", digest) || digest.size() != 32) std::abort();
    if (tavrin::EncodeBase64(digest) != digits + "=") std::abort();
}

void CheckSameList(const std::u16string& value, const tavrin::ssh::HostKeyPins& pins) {
    const auto again = ParseHostKeyPins(value);
    if (!again.ok() || again.fingerprints != pins.fingerprints) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::u16string value =
        (data[0] & 1) != 0 ? SplitFuzzInput(data + 1, size - 1, 1)[0]
                           : tavrin::FromUtf8(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    const auto pins = ParseHostKeyPins(value);

    // Either a list or a reason, never both; a blank value pins nothing and is no error.
    if (pins.ok() == !pins.error.empty()) std::abort();
    if (!pins.ok() && !pins.fingerprints.empty()) std::abort();
    const bool blank = tavrin::TrimBlanks(value).empty();
    if (blank && (!pins.ok() || !pins.fingerprints.empty())) std::abort();
    if (!pins.ok()) {
        // The reason quotes the value or the entry it is about.
        if (pins.error.find(u'"') == std::u16string::npos) std::abort();
        return 0;
    }
    if (blank) return 0;

    // One fingerprint for each comma-separated entry.
    std::size_t entries = 1;
    for (const char16_t c : value) entries += c == u',' ? 1 : 0;
    if (pins.fingerprints.size() != entries) std::abort();
    for (const auto& fingerprint : pins.fingerprints) CheckFingerprint(fingerprint);

    // What was accepted reads back as the same list: written plainly, with blanks after the
    // commas, and with the padding some tools print.
    std::u16string plain;
    std::u16string spaced;
    std::u16string padded;
    for (const auto& fingerprint : pins.fingerprints) {
        const bool first = plain.empty();
        plain += (first ? u"" : u",") + fingerprint;
        spaced += (first ? u"  " : u" ,  ") + fingerprint + u" ";
        padded += (first ? u"" : u",") + fingerprint + u"=";
    }
    CheckSameList(plain, pins);
    CheckSameList(spaced, pins);
    CheckSameList(padded, pins);
    // A fingerprint is checked as written: changing the case of its prefix is refused.
    std::u16string lower = plain;
    lower.replace(0, kPrefix.size(), u"sha256:");
    if (ParseHostKeyPins(lower).ok()) std::abort();
    return 0;
}
