// The known_hosts reader over arbitrary file contents, for one fixed host and key. "%K" in the
// input stands for that key's "type base64" and "%H" for the host's hashed name, so that the
// fuzzer reaches the lines that name the host without having to guess a key or a hash.

#include "common/text.h"
#include "fuzz/fuzz_input.h"
#include "ssh/crypto.h"
#include "ssh/known_hosts.h"
#include "ssh/library.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using tavrin::ssh::KnownHostsOutcome;
using Result = KnownHostsOutcome::Result;

constexpr std::string_view kHost = "server.example";
constexpr std::string_view kKeyBase64 = "AAAAC3NzaC1lZDI1NTE5AAAAIFCq+pPaPd6Bywh9DVtpZ9CT2ylaDVZ5Id5EeEex3ZK4";

struct Fixed {
    tavrin::ssh::LibraryUse library;
    tavrin::ssh::KeyPtr key;
    std::string keyText = "ssh-ed25519 " + std::string(kKeyBase64);
    std::string hashedName;

    Fixed() {
        ssh_key raw = nullptr;
        if (ssh_pki_import_pubkey_base64(std::string(kKeyBase64).c_str(), SSH_KEYTYPE_ED25519, &raw) != SSH_OK) {
            std::abort();
        }
        key.reset(raw);
        const std::string salt = "\x81salt-salt-salt-salt";
        hashedName = HashedKnownHostName(
            salt, tavrin::ssh::crypto::Hmac(tavrin::ssh::crypto::Digest::Sha1, salt, std::string(kHost)));
    }
};

const Fixed& Get() {
    static const Fixed fixed;
    return fixed;
}

std::string Expand(std::string_view input, const Fixed& fixed) {
    std::string out;
    ExpandFuzzMarkers(
        input, "KH", [&out](char c) { out.push_back(c); },
        [&](char marker) { out += marker == 'K' ? fixed.keyText : fixed.hashedName; });
    return out;
}

// Line `number` (1-based) of the content without its leading blanks (and the BOM on line 1).
std::string_view LineText(std::string_view content, std::size_t number) {
    for (std::size_t i = 1; i < number; ++i) {
        const std::size_t end = content.find('\n');
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
    }
    std::string_view line = content.substr(0, content.find('\n'));
    if (number == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    return line;
}

void Check(const KnownHostsOutcome& outcome, const std::u16string& fileName, const std::string& content) {
    const std::size_t lines = static_cast<std::size_t>(std::count(content.begin(), content.end(), '\n')) + 1;
    switch (outcome.result) {
        case Result::NotRecorded:
            if (outcome.line != 0 || !outcome.file.empty()) std::abort();
            return;
        case Result::Unreadable: std::abort();  // only a file can be unreadable, never a text
        case Result::Damaged:
            if (outcome.detail.empty()) std::abort();
            break;
        case Result::CertificateAuthorityOnly: {
            // Decided by a CA line, whose marker field is followed by the host field.
            if (outcome.line == 0 || outcome.line > lines || !outcome.detail.empty()) std::abort();
            constexpr std::string_view kMarker = "@cert-authority";
            const std::string_view line = LineText(content, outcome.line);
            if (line.substr(0, kMarker.size()) != kMarker || line.size() == kMarker.size() ||
                (line[kMarker.size()] != ' ' && line[kMarker.size()] != '\t')) {
                std::abort();
            }
            break;
        }
        case Result::Matches:
        case Result::Changed:
        case Result::Revoked: break;
    }
    if (outcome.file != fileName || outcome.line == 0 || outcome.line > lines) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Fixed& fixed = Get();
    const std::string content = Expand(std::string_view(reinterpret_cast<const char*>(data), size), fixed);
    const std::u16string fileName = u"known_hosts";
    for (const int port : {22, 2222}) {
        Check(tavrin::ssh::CheckKnownHostsText(content, fileName, kHost, port, fixed.key.get()), fileName, content);
    }
    return 0;
}
