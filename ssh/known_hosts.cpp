#include "ssh/known_hosts.h"

#include "common/text.h"
#include "common/base64.h"
#include "platform/files.h"
#include "ssh/crypto.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

namespace tavrin::ssh {

namespace {

using Result = KnownHostsOutcome::Result;

// A known_hosts file is a few kilobytes; anything beyond this is not one.
constexpr std::size_t kLargestFile = 4 * 1024 * 1024;

// How strongly an outcome decides: a higher rank wins, the first of equal rank stays.
int Rank(Result result) {
    switch (result) {
        case Result::NotRecorded: return 0;
        case Result::CertificateAuthorityOnly: return 1;
        case Result::Matches: return 2;
        case Result::Changed: return 3;
        case Result::Damaged: return 4;
        case Result::Unreadable: return 5;
        case Result::Revoked: return 6;
    }
    return 6;
}

void Keep(KnownHostsOutcome& decided, KnownHostsOutcome candidate) {
    if (Rank(candidate.result) > Rank(decided.result)) decided = std::move(candidate);
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = Lower(c);
    return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The next field of `rest` (blanks separate fields); `rest` moves past it.
std::string_view NextField(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && IsBlank(rest[start])) ++start;
    std::size_t end = start;
    while (end < rest.size() && !IsBlank(rest[end])) ++end;
    const std::string_view field = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return field;
}

// A glob with "*" (any run) and "?" (one character), ASCII case-insensitive. Iterative, with
// one back-track point, so that no pattern costs more than length(pattern) * length(name).
bool GlobMatches(std::string_view pattern, std::string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
            ++p;
            ++n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

enum class Naming { Others, Host, Unknown };

struct HostFieldVerdict {
    Naming naming = Naming::Others;
    std::u16string problem;  // for Unknown
};

// Strict Base64 of exactly `size` bytes (OpenSSH writes the pad characters), or nothing.
std::optional<std::string> DecodeBase64(std::string_view text, std::size_t size) {
    if (text.size() != (size + 2) / 3 * 4) return std::nullopt;
    std::string bytes;
    if (!tavrin::DecodeBase64(text, bytes) || bytes.size() != size) return std::nullopt;
    return bytes;
}

// "|1|salt|hash": HMAC-SHA1 of the name under the salt.
HostFieldVerdict HashedNames(std::string_view field, const std::vector<std::string>& names) {
    constexpr std::string_view kMagic = "|1|";
    constexpr std::size_t kSha1Size = 20;
    if (field.substr(0, kMagic.size()) != kMagic) {
        return {Naming::Unknown, u"the hashed host name is not of the \"|1|\" kind"};
    }
    const std::string_view rest = field.substr(kMagic.size());
    const std::size_t bar = rest.find('|');
    const std::optional<std::string> salt =
        bar == std::string_view::npos ? std::nullopt : DecodeBase64(rest.substr(0, bar), kSha1Size);
    const std::optional<std::string> hash =
        bar == std::string_view::npos ? std::nullopt : DecodeBase64(rest.substr(bar + 1), kSha1Size);
    if (!salt || !hash) return {Naming::Unknown, u"the hashed host name is malformed"};
    for (const std::string& name : names) {
        if (crypto::SameBytes(crypto::Hmac(crypto::Digest::Sha1, *salt, name), *hash)) return {Naming::Host, {}};
    }
    return {Naming::Others, {}};
}

// Whether the host field names one of `names` (the host as looked up, lower case). A negated
// pattern that matches excludes the line whatever else matches.
HostFieldVerdict NamesHost(std::string_view field, const std::vector<std::string>& names) {
    if (field.empty()) return {Naming::Unknown, u"the host name is missing"};
    if (field.front() == '|') return HashedNames(field, names);
    bool named = false;
    while (!field.empty()) {
        const std::size_t comma = field.find(',');
        std::string_view pattern = field.substr(0, comma);
        field = comma == std::string_view::npos ? std::string_view{} : field.substr(comma + 1);
        const bool negated = !pattern.empty() && pattern.front() == '!';
        if (negated) pattern.remove_prefix(1);
        if (pattern.empty()) continue;
        for (const std::string& name : names) {
            if (!GlobMatches(pattern, name)) continue;
            if (negated) return {Naming::Others, {}};
            named = true;
        }
    }
    return {named ? Naming::Host : Naming::Others, {}};
}

bool IsBase64Text(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text) {
        if (c != '=' && Base64Value(c) < 0) return false;
    }
    return true;
}

// The key of a line, or the reason it cannot be read.
struct LineKey {
    KeyPtr key;
    std::u16string problem;
};

LineKey ReadKey(std::string_view typeName, std::string_view encoded) {
    LineKey out;
    if (typeName.empty()) {
        out.problem = u"the key is missing";
        return out;
    }
    const ssh_keytypes_e type = ssh_key_type_from_name(std::string(typeName).c_str());
    if (type == SSH_KEYTYPE_UNKNOWN) {
        out.problem = u"the key type \"" + FromUtf8(typeName) + u"\" is not known";
        return out;
    }
    if (encoded.empty()) {
        out.problem = u"the key is missing";
        return out;
    }
    ssh_key raw = nullptr;
    const int rc = IsBase64Text(encoded) ? ssh_pki_import_pubkey_base64(std::string(encoded).c_str(), type, &raw)
                                         : SSH_ERROR;
    out.key.reset(raw);
    if (rc != SSH_OK || !out.key || ssh_key_type(out.key.get()) != type) {
        out.key.reset();
        out.problem = u"the key is not a valid " + FromUtf8(typeName) + u" key";
    }
    return out;
}

KnownHostsOutcome LineOutcome(Result result, const std::u16string& fileName, std::size_t line,
                              std::u16string detail = {}) {
    KnownHostsOutcome out;
    out.result = result;
    out.file = fileName;
    out.line = line;
    out.detail = std::move(detail);
    return out;
}

// Walks one file's lines for the host. With `types`, the key types of the plain lines that
// name it are collected too; without `serverKey`, only that is done.
KnownHostsOutcome ReadFileText(std::string_view content, const std::u16string& fileName, std::string_view host,
                               int port, ssh_key serverKey, std::vector<std::string>* types) {
    // The names the host is looked up by: OpenSSH writes port 22 as the plain name, yet a
    // "[host]:22" entry names it too.
    const std::string plain = LowerAscii(host);
    const std::string bracketed = "[" + plain + "]:" + std::to_string(port);
    std::vector<std::string> names;
    if (port == 22) names.push_back(plain);
    names.push_back(bracketed);

    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (content.substr(0, kBom.size()) == kBom) content.remove_prefix(kBom.size());

    KnownHostsOutcome decided;
    KnownHostsOutcome changed;
    KnownHostsOutcome matched;
    KnownHostsOutcome certificateAuthority;
    std::size_t lineNumber = 0;
    while (!content.empty()) {
        ++lineNumber;
        const std::size_t end = content.find('\n');
        std::string_view rest = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view{} : content.substr(end + 1);
        if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);

        std::string_view field = NextField(rest);
        if (field.empty() || field.front() == '#') continue;

        std::string_view marker;
        if (field.front() == '@') {
            marker = field;
            field = NextField(rest);
        }
        const HostFieldVerdict naming = NamesHost(field, names);
        if (naming.naming == Naming::Others) continue;
        if (naming.naming == Naming::Unknown) {
            Keep(decided, LineOutcome(Result::Damaged, fileName, lineNumber, naming.problem));
            continue;
        }
        const bool revoked = marker == "@revoked";
        if (!marker.empty() && !revoked && marker != "@cert-authority") {
            Keep(decided, LineOutcome(Result::Damaged, fileName, lineNumber,
                                      u"the marker \"" + FromUtf8(marker) + u"\" is not known"));
            continue;
        }
        const std::string_view typeName = NextField(rest);
        const std::string_view encoded = NextField(rest);
        if (types != nullptr && marker.empty() && !typeName.empty() &&
            std::find(types->begin(), types->end(), typeName) == types->end()) {
            types->emplace_back(typeName);
        }
        if (serverKey == nullptr) continue;
        const LineKey lineKey = ReadKey(typeName, encoded);
        if (!lineKey.key) {
            Keep(decided, LineOutcome(Result::Damaged, fileName, lineNumber, lineKey.problem));
            continue;
        }
        // A certification authority vouches for certificates, never for a plain host key, and
        // this client asks for none: a host that only such lines name cannot be verified.
        if (marker == "@cert-authority") {
            if (certificateAuthority.result == Result::NotRecorded) {
                certificateAuthority = LineOutcome(Result::CertificateAuthorityOnly, fileName, lineNumber);
            }
            continue;
        }
        const bool same = ssh_key_cmp(lineKey.key.get(), serverKey, SSH_KEY_CMP_PUBLIC) == 0;
        if (revoked) {
            if (same) Keep(decided, LineOutcome(Result::Revoked, fileName, lineNumber));
        } else if (same) {
            if (matched.result == Result::NotRecorded) matched = LineOutcome(Result::Matches, fileName, lineNumber);
        } else if (changed.result == Result::NotRecorded) {
            changed = LineOutcome(Result::Changed, fileName, lineNumber);
        }
    }
    // Another key for the host counts only when no line holds this one; a plain line for the
    // host outranks its CA lines.
    Keep(decided, matched.result != Result::NotRecorded ? std::move(matched) : std::move(changed));
    Keep(decided, std::move(certificateAuthority));
    return decided;
}

}  // namespace

KnownHostsOutcome CheckKnownHostsText(std::string_view content, const std::u16string& fileName,
                                      std::string_view host, int port, ssh_key serverKey) {
    return ReadFileText(content, fileName, host, port, serverKey, nullptr);
}

KnownHostsSnapshot ReadKnownHostsFiles(const std::vector<std::u16string>& files) {
    KnownHostsSnapshot read;
    for (const std::u16string& file : files) read.push_back({file, platform::ReadWholeFile(file, kLargestFile)});
    return read;
}

std::vector<std::string> RecordedKeyTypes(const KnownHostsSnapshot& files, std::string_view host, int port) {
    std::vector<std::string> types;
    for (const auto& [file, contents] : files) {
        if (contents.status == platform::FileStatus::Read) {
            ReadFileText(contents.bytes, file, host, port, nullptr, &types);
        }
    }
    return types;
}

KnownHostsOutcome CheckKnownHostsFiles(const KnownHostsSnapshot& files, std::string_view host, int port,
                                       ssh_key serverKey) {
    KnownHostsOutcome decided;
    for (const auto& [file, contents] : files) {
        switch (contents.status) {
            case platform::FileStatus::Missing: break;
            case platform::FileStatus::Failed:
                Keep(decided, LineOutcome(Result::Unreadable, file, 0, contents.error));
                break;
            case platform::FileStatus::Read:
                Keep(decided, CheckKnownHostsText(contents.bytes, file, host, port, serverKey));
                break;
        }
    }
    return decided;
}

std::u16string KnownHostsVerdict(const KnownHostsOutcome& outcome) {
    const std::u16string where = outcome.file + u" line " + FromUtf8(std::to_string(outcome.line));
    using Result = KnownHostsOutcome::Result;
    switch (outcome.result) {
        case Result::NotRecorded: return u"recorded nowhere";
        case Result::Matches: return u"recorded in " + where;
        case Result::Changed: return u"recorded with another key in " + where + u": refused";
        case Result::Revoked: return u"revoked in " + where + u": refused";
        case Result::CertificateAuthorityOnly:
            return u"covered only by the certificate authority in " + where +
                   u", which this client does not verify: refused";
        case Result::Damaged: return where + u" cannot be read (" + outcome.detail + u"): refused";
        case Result::Unreadable: return outcome.file + u" cannot be read (" + outcome.detail + u"): refused";
    }
    return u"not checked";
}

std::vector<std::u16string> DefaultKnownHostsFiles() {
    const auto inFolder = [](std::u16string folder, std::u16string_view name) {
        if (folder.back() != platform::kPathSeparator) folder += platform::kPathSeparator;
        return folder + std::u16string(name);
    };
    std::vector<std::u16string> files;
    const std::u16string home = platform::UserHomeFolder();
    if (!home.empty()) {
        const std::u16string account = inFolder(home, u".ssh");
        files.push_back(inFolder(account, u"known_hosts"));
        files.push_back(inFolder(account, u"known_hosts2"));
    }
    const std::u16string machine = platform::MachineSshFolder();
    if (!machine.empty()) {
        files.push_back(inFolder(machine, u"ssh_known_hosts"));
        files.push_back(inFolder(machine, u"ssh_known_hosts2"));
    }
    return files;
}

}  // namespace tavrin::ssh
