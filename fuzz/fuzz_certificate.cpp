// OpenSSH certificate files as anyone who can write beside a key file may leave them:
// ParseCertificate, and the checks and description of what it accepts.
//
// Input: a first byte whose lowest bit chooses how the rest is read: as the file's text, or as
// the certificate blob itself, put on a line behind the type name it begins with (the fuzzer
// would rarely write valid Base64 of a blob that parses).
//
// What parses must parse again to the same fields from its own Base64, certify a key whose plain
// blob reads as a key of its type, be refused with any other key and at any time outside its
// validity, and be described in lines without control characters.

#include "common/automation_error.h"
#include "common/base64.h"
#include "ssh/certificate.h"
#include "ssh/ppk_key.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using tavrin::ssh::Certificate;

const std::u16string kPath = u"f";
const std::u16string kStart = u"The certificate 'f' ";

bool OneLine(const std::u16string& text) {
    for (const char16_t c : text) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

bool SameFields(const Certificate& a, const Certificate& b) {
    const auto sameOptions = [](const auto& x, const auto& y) {
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (x[i].name != y[i].name || x[i].data != y[i].data) return false;
        }
        return true;
    };
    return a.typeName == b.typeName && a.keyTypeName == b.keyTypeName && a.publicBlob == b.publicBlob &&
           a.serial == b.serial && a.certificateType == b.certificateType && a.keyId == b.keyId &&
           a.principals == b.principals && a.validAfter == b.validAfter && a.validBefore == b.validBefore &&
           sameOptions(a.criticalOptions, b.criticalOptions) && sameOptions(a.extensions, b.extensions) &&
           a.caKeyType == b.caKeyType && a.caFingerprint == b.caFingerprint && a.base64 == b.base64;
}

void Check(const Certificate& c) {
    // Its own Base64, on a line of its own, reads to the same certificate.
    Certificate again;
    try {
        again = tavrin::ssh::ParseCertificate(c.typeName + " " + c.base64 + "\n", kPath);
    } catch (const tavrin::AutomationError&) {
        std::abort();
    }
    if (!SameFields(c, again)) std::abort();

    // The certified key is a key of the plain type.
    const auto facts = tavrin::ssh::keyfile::InspectPublicBlob(c.publicBlob);
    if (!facts || facts->algorithm != c.keyTypeName || c.typeName != c.keyTypeName + "-cert-v01@openssh.com") {
        std::abort();
    }
    if (c.caFingerprint.size() != 7 + 43 || c.caFingerprint.substr(0, 7) != u"SHA256:") std::abort();

    // The checks: another key is never this one; inside the validity a user certificate for its
    // own key is fine, outside it never.
    const bool user = c.certificateType == tavrin::ssh::kUserCertificate;
    const std::u16string other = tavrin::ssh::CertificateRefusal(c, c.publicBlob + "x", u"k", c.validAfter);
    if (other.empty() || other.substr(0, kStart.size()) != kStart || !OneLine(other)) std::abort();
    for (const std::uint64_t now : {c.validAfter, c.validAfter - 1, c.validBefore, c.validBefore - 1,
                                    std::uint64_t{0}, ~std::uint64_t{0}}) {
        const std::u16string refusal = tavrin::ssh::CertificateRefusal(c, c.publicBlob, u"k", now);
        const bool valid = now >= c.validAfter && now < c.validBefore;
        if (refusal.empty() != (user && valid)) std::abort();
        if (!refusal.empty() && (refusal.substr(0, kStart.size()) != kStart || !OneLine(refusal))) std::abort();
    }
    for (const std::u16string& line : tavrin::ssh::DescribeCertificate(c)) {
        if (!OneLine(line)) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string text;
    if ((data[0] & 1) == 0) {
        text = rest;
    } else {
        // The blob behind the type name it begins with (as much of it as there is).
        std::string type;
        if (rest.size() >= 4) {
            const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(rest[0])) << 24) |
                                       (static_cast<std::size_t>(static_cast<unsigned char>(rest[1])) << 16) |
                                       (static_cast<std::size_t>(static_cast<unsigned char>(rest[2])) << 8) |
                                       static_cast<unsigned char>(rest[3]);
            type = std::string(rest.substr(4, length));
        }
        text = type + " " + tavrin::EncodeBase64(rest) + " comment\n";
    }
    Certificate c;
    try {
        c = tavrin::ssh::ParseCertificate(text, kPath);
    } catch (const tavrin::AutomationError& e) {
        if (e.description().substr(0, kStart.size()) != kStart || !OneLine(e.description())) std::abort();
        return 0;
    }
    Check(c);
    return 0;
}
