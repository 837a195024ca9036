// The key types asked for before the key exchange: RecordedKeyTypes over known_hosts files as
// read into a snapshot, held against the host key check of the same snapshot.
//
// Input: the files' text, where "%F" starts the next file, "%M" the next file as one that is
// missing and "%U" as one that cannot be read; "%K" stands for the server's Ed25519 key
// ("type base64"), "%E" for another host's ECDSA key and "%H" for the host's hashed name, so
// that the fuzzer reaches the lines that name the host.

#include "fuzz/fuzz_input.h"
#include "ssh/crypto.h"
#include "ssh/known_hosts.h"
#include "ssh/library.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tavrin::ssh::KnownHostsOutcome;
using tavrin::ssh::KnownHostsSnapshot;
using tavrin::platform::FileStatus;
using Result = KnownHostsOutcome::Result;

constexpr std::string_view kHost = "server.example";
constexpr std::string_view kEd25519 = "AAAAC3NzaC1lZDI1NTE5AAAAIFCq+pPaPd6Bywh9DVtpZ9CT2ylaDVZ5Id5EeEex3ZK4";
constexpr std::string_view kEcdsa =
    "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBO3hP8ZRqo+OWA8uaQ/RKCIRFh3FbY5f6e4CKYy18SnYvILq9GNndyun"
    "mz/TuYCGuDQ1MfTV7rk3OkOb4pp8/1g=";

struct Fixed {
    tavrin::ssh::LibraryUse library;
    tavrin::ssh::KeyPtr key;
    std::string hashedName;

    Fixed() {
        ssh_key raw = nullptr;
        if (ssh_pki_import_pubkey_base64(std::string(kEd25519).c_str(), SSH_KEYTYPE_ED25519, &raw) != SSH_OK) {
            std::abort();
        }
        key.reset(raw);
        const std::string salt = "\x42salt-of-the-snapshot";
        hashedName = HashedKnownHostName(
            salt, tavrin::ssh::crypto::Hmac(tavrin::ssh::crypto::Digest::Sha1, salt, std::string(kHost)));
    }
};

const Fixed& Get() {
    static const Fixed fixed;
    return fixed;
}

KnownHostsSnapshot Snapshot(std::string_view input, const Fixed& fixed) {
    KnownHostsSnapshot files(1);
    const auto startFile = [&files](FileStatus status) {
        files.push_back({u"known_hosts_" + std::u16string(1, static_cast<char16_t>(u'0' + files.size())), {}});
        files.back().contents.status = status;
        if (status == FileStatus::Failed) files.back().contents.error = u"access is denied";
    };
    files[0].path = u"known_hosts_0";
    files[0].contents.status = FileStatus::Read;
    ExpandFuzzMarkers(
        input, "FMUKEH", [&files](char c) { files.back().contents.bytes.push_back(c); },
        [&](char marker) {
            std::string& bytes = files.back().contents.bytes;
            switch (marker) {
                case 'F': startFile(FileStatus::Read); break;
                case 'M': startFile(FileStatus::Missing); break;
                case 'U': startFile(FileStatus::Failed); break;
                case 'K': bytes += "ssh-ed25519 " + std::string(kEd25519); break;
                case 'E': bytes += "ecdsa-sha2-nistp256 " + std::string(kEcdsa); break;
                default: bytes += fixed.hashedName; break;
            }
        });
    return files;
}

void AddOnce(std::vector<std::string>& to, const std::vector<std::string>& types) {
    for (const auto& type : types) {
        if (std::find(to.begin(), to.end(), type) == to.end()) to.push_back(type);
    }
}

void Check(const KnownHostsSnapshot& files, int port, const Fixed& fixed) {
    const std::vector<std::string> types = tavrin::ssh::RecordedKeyTypes(files, kHost, port);
    // Each a field of some file's text, once.
    for (auto it = types.begin(); it != types.end(); ++it) {
        if (it->empty() || it->find_first_of(" \t\n") != std::string::npos) std::abort();
        if (std::find(types.begin(), it, *it) != it) std::abort();
        const bool inSomeFile = std::any_of(files.begin(), files.end(), [&](const auto& file) {
            return file.contents.status == FileStatus::Read && file.contents.bytes.find(*it) != std::string::npos;
        });
        if (!inSomeFile) std::abort();
    }

    // The files one by one give the same types in the same order.
    std::vector<std::string> oneByOne;
    for (const auto& file : files) AddOnce(oneByOne, tavrin::ssh::RecordedKeyTypes({file}, kHost, port));
    if (oneByOne != types) std::abort();

    // The check of the same snapshot agrees: a plain line that names the host gives a type and
    // decides (matching, changed or damaged); a match is a line of the server key's type.
    const KnownHostsOutcome outcome = tavrin::ssh::CheckKnownHostsFiles(files, kHost, port, fixed.key.get());
    const bool decidedByALine = outcome.result == Result::Matches || outcome.result == Result::Changed ||
                                outcome.result == Result::Damaged || outcome.result == Result::Revoked ||
                                outcome.result == Result::Unreadable;
    if (!types.empty() && !decidedByALine) std::abort();
    if ((outcome.result == Result::Matches || outcome.result == Result::Changed) && types.empty()) std::abort();
    if (outcome.result == Result::Matches && std::find(types.begin(), types.end(), "ssh-ed25519") == types.end()) {
        std::abort();
    }

    // Windows line ends and a byte-order mark change nothing (in files without a CR of their
    // own, and that have no mark yet).
    KnownHostsSnapshot windows = files;
    bool comparable = true;
    for (auto& file : windows) {
        std::string& bytes = file.contents.bytes;
        if (bytes.find('\r') != std::string::npos || bytes.starts_with("\xEF\xBB\xBF")) comparable = false;
        std::string crlf = "\xEF\xBB\xBF";
        for (const char c : bytes) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        bytes = crlf;
    }
    if (comparable && tavrin::ssh::RecordedKeyTypes(windows, kHost, port) != types) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Fixed& fixed = Get();
    const KnownHostsSnapshot files = Snapshot(std::string_view(reinterpret_cast<const char*>(data), size), fixed);
    for (const int port : {22, 2222}) Check(files, port, fixed);
    return 0;
}
