#include "ssh/certificate.h"

#include "common/automation_error.h"
#include "common/base64.h"
#include "common/text.h"
#include "platform/files.h"
#include "ssh/crypto.h"
#include "ssh/ppk_key.h"

#include <array>

namespace tavrin::ssh {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kCertSuffix = "-cert-v01@openssh.com";
// The longest type name a refusal repeats; a longer one is cut.
constexpr std::size_t kLongestShownName = 64;

std::u16string Quoted(const std::u16string& path) { return u"'" + path + u"'"; }

[[noreturn]] void Refuse(const std::u16string& path, const std::u16string& what) {
    throw errors::ComponentFailure(u"The certificate " + Quoted(path) + u" " + what);
}
[[noreturn]] void Damaged(const std::u16string& path, const std::u16string& what) {
    Refuse(path, u"is damaged: " + what);
}

// Text from the file for a one-line message: UTF-8 read as such, control characters written
// as \xNN (C1 controls and Unicode's line breaks as \uNNNN), cut after `longest` characters.
std::u16string Shown(std::string_view bytes, std::size_t longest = std::u16string::npos) {
    const std::u16string text = FromUtf8(bytes);
    std::u16string out;
    for (const char16_t c : text) {
        if (out.size() >= longest) {
            out += u"...";
            break;
        }
        constexpr std::string_view hex = "0123456789ABCDEF";
        if (c < 0x20 || c == 0x7F) {
            out += u"\\x";
            out.push_back(static_cast<char16_t>(hex[c >> 4]));
            out.push_back(static_cast<char16_t>(hex[c & 0xF]));
        } else if ((c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029) {  // C1 controls, line breaks
            out += u"\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out.push_back(static_cast<char16_t>(hex[(c >> shift) & 0xF]));
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::u16string Number(std::uint64_t value) { return FromUtf8(std::to_string(value)); }

// "SHA256:" and the unpadded Base64 of the blob's SHA-256, as ssh-keygen -l prints it.
std::u16string Fingerprint(std::string_view blob) {
    std::string encoded = EncodeBase64(crypto::Hash(crypto::Digest::Sha256, blob));
    while (!encoded.empty() && encoded.back() == '=') encoded.pop_back();
    return u"SHA256:" + FromUtf8(encoded);
}

// The certificate blob in the SSH wire format (RFC 4251 section 5), each read bounded by what
// is left; a failed read names the field it was for.
class CertificateReader {
public:
    CertificateReader(std::string_view data, const std::u16string& path) : data_(data), path_(path) {}

    std::uint32_t Uint32(const char16_t* field) {
        Need(4, field);
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(data_[at_ + i]);
        at_ += 4;
        return value;
    }
    std::uint64_t Uint64(const char16_t* field) {
        const std::uint64_t high = Uint32(field);
        return (high << 32) | Uint32(field);
    }
    std::string_view String(const char16_t* field) {
        const std::uint32_t length = Uint32(field);
        if (data_.size() - at_ < length) {
            Damaged(path_, u"the length of its " + std::u16string(field) + u" (" + Number(length) +
                               u" bytes) runs past the end of the certificate");
        }
        const std::string_view value = data_.substr(at_, length);
        at_ += length;
        return value;
    }
    // A string that is read as text: no NUL byte in it.
    std::string_view Name(const char16_t* field) {
        const std::string_view value = String(field);
        if (value.find('\0') != std::string_view::npos) Damaged(path_, u"its " + std::u16string(field) + u" holds a NUL byte");
        return value;
    }
    std::size_t At() const { return at_; }
    std::size_t Left() const { return data_.size() - at_; }

private:
    void Need(std::size_t bytes, const char16_t* field) const {
        if (data_.size() - at_ < bytes) Damaged(path_, u"it ends inside its " + std::u16string(field));
    }

    std::string_view data_;
    std::size_t at_ = 0;
    const std::u16string& path_;
};

// A list of (name, data) pairs: critical options or extensions.
std::vector<CertificateOption> ReadOptions(std::string_view list, const char16_t* what, const std::u16string& path) {
    CertificateReader reader(list, path);
    std::vector<CertificateOption> options;
    while (reader.Left() > 0) {
        CertificateOption option;
        option.name = std::string(reader.Name(what));
        if (option.name.empty()) Damaged(path, u"one of its " + std::u16string(what) + u"s has no name");
        option.data = std::string(reader.String(what));
        options.push_back(std::move(option));
    }
    return options;
}

// The certified key's fields after the nonce, by its plain type.
void ReadKeyFields(CertificateReader& reader, std::string_view plainType, const std::u16string& path) {
    if (plainType == "ssh-ed25519") {
        if (reader.String(u"Ed25519 key").size() != 32) Damaged(path, u"its Ed25519 key is not 32 bytes long");
    } else if (plainType == "ssh-rsa") {
        const std::string_view e = reader.String(u"RSA exponent");
        const std::string_view n = reader.String(u"RSA modulus");
        if (e.empty() || n.empty()) Damaged(path, u"its RSA key is empty");
    } else {  // ecdsa-sha2-<curve>
        const std::string_view curve = plainType.substr(plainType.rfind('-') + 1);
        if (reader.Name(u"ECDSA curve") != curve) {
            Damaged(path, u"its ECDSA key is not on the curve its type names (" + FromUtf8(curve) + u")");
        }
        const std::size_t size = curve == "nistp256" ? 65 : curve == "nistp384" ? 97 : 133;
        const std::string_view point = reader.String(u"ECDSA point");
        if (point.size() != size || point.front() != '\x04') Damaged(path, u"its ECDSA point is malformed");
    }
}

// The plain key type of a certificate type this client offers; refuses the others by name.
std::string PlainTypeOf(std::string_view type, const std::u16string& path) {
    static constexpr std::array<std::string_view, 5> kPlain = {"ssh-ed25519", "ecdsa-sha2-nistp256",
                                                               "ecdsa-sha2-nistp384", "ecdsa-sha2-nistp521", "ssh-rsa"};
    const bool isCert = type.size() > kCertSuffix.size() && type.substr(type.size() - kCertSuffix.size()) == kCertSuffix;
    const std::string_view plain = isCert ? type.substr(0, type.size() - kCertSuffix.size()) : type;
    for (const std::string_view known : kPlain) {
        if (plain != known) continue;
        if (!isCert) Refuse(path, u"holds a public key (" + FromUtf8(type) + u"), not a certificate");
        return std::string(plain);
    }
    const std::u16string shown = Shown(type, kLongestShownName);
    if (isCert && plain.substr(0, 3) == "sk-") {
        Refuse(path, u"is a security key certificate (" + shown + u"), which is not supported");
    }
    if (isCert && plain == "ssh-dss") Refuse(path, u"certifies a DSA key: DSA keys are not supported");
    if (isCert) Refuse(path, u"is of the type " + shown + u", which is not supported");
    if (plain == "ssh-dss" || plain.substr(0, 3) == "sk-" || plain == "ssh-ed448") {
        Refuse(path, u"holds a public key (" + shown + u"), not a certificate");
    }
    Refuse(path, u"is not an OpenSSH certificate (it begins with \"" + shown + u"\")");
}

void ReadBlob(std::string_view blob, Certificate& c) {
    const std::u16string& path = c.path;
    CertificateReader reader(blob, path);
    const std::string_view type = reader.Name(u"type name");
    if (type != c.typeName) {
        Damaged(path, u"its line says " + Shown(c.typeName, kLongestShownName) + u" and its contents " +
                          Shown(type, kLongestShownName));
    }
    reader.String(u"nonce");
    const std::size_t keyFrom = reader.At();
    ReadKeyFields(reader, c.keyTypeName, path);
    c.publicBlob.clear();
    keyfile::PutString(c.publicBlob, c.keyTypeName);
    c.publicBlob.append(blob.substr(keyFrom, reader.At() - keyFrom));

    c.serial = reader.Uint64(u"serial number");
    c.certificateType = reader.Uint32(u"certificate type");
    if (c.certificateType != kUserCertificate && c.certificateType != kHostCertificate) {
        Damaged(path, u"its certificate type is " + Number(c.certificateType) + u" (1 is a user, 2 a host certificate)");
    }
    c.keyId = std::string(reader.Name(u"key ID"));
    CertificateReader principals(reader.String(u"principals"), path);
    while (principals.Left() > 0) c.principals.emplace_back(principals.Name(u"principal"));
    c.validAfter = reader.Uint64(u"validity");
    c.validBefore = reader.Uint64(u"validity");
    c.criticalOptions = ReadOptions(reader.String(u"critical options"), u"critical option", path);
    c.extensions = ReadOptions(reader.String(u"extensions"), u"extension", path);
    reader.String(u"reserved field");
    const std::string_view caKey = reader.String(u"CA key");
    const auto caFacts = keyfile::InspectPublicBlob(caKey);
    if (!caFacts || caFacts->algorithm.find('\0') != std::string::npos) Damaged(path, u"its CA key is malformed");
    if (caFacts->algorithm.size() > kCertSuffix.size() &&
        caFacts->algorithm.substr(caFacts->algorithm.size() - kCertSuffix.size()) == kCertSuffix) {
        Damaged(path, u"it is signed by a certificate, not by a CA key");
    }
    c.caKeyType = caFacts->algorithm;
    c.caFingerprint = Fingerprint(caKey);
    CertificateReader signature(reader.String(u"signature"), path);
    if (signature.Name(u"signature").empty() || signature.String(u"signature").empty() || signature.Left() != 0) {
        Damaged(path, u"its signature is malformed");
    }
    if (reader.Left() != 0) Damaged(path, Number(reader.Left()) + u" bytes follow its signature");
}

bool IsLineBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// "YYYY-MM-DD HH:MM:SS UTC" of seconds since 1970 (the proleptic Gregorian calendar, any year).
std::u16string UtcTime(std::uint64_t seconds) {
    const std::uint64_t secondOfDay = seconds % 86400;
    // Days to civil date (Howard Hinnant's algorithm), in 64 bits: years stay below 2^40.
    const std::int64_t z = static_cast<std::int64_t>(seconds / 86400) + 719468;
    const std::int64_t era = z / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    const auto two = [](std::uint64_t v) { return std::string(v < 10 ? "0" : "") + std::to_string(v); };
    std::string yearText = std::to_string(year);
    if (yearText.size() < 4) yearText.insert(0, 4 - yearText.size(), '0');
    return FromUtf8(yearText + "-" + two(static_cast<std::uint64_t>(month)) + "-" + two(static_cast<std::uint64_t>(day)) +
                    " " + two(secondOfDay / 3600) + ":" + two(secondOfDay / 60 % 60) + ":" + two(secondOfDay % 60) +
                    " UTC");
}

std::u16string Names(const std::vector<CertificateOption>& options) {
    std::u16string out;
    for (const CertificateOption& option : options) {
        if (!out.empty()) out += u", ";
        out += Shown(option.name);
        if (option.name == "force-command" || option.name == "source-address") {
            // The value: a string inside the data.
            if (option.data.size() >= 4) {
                std::uint32_t length = 0;
                for (int i = 0; i < 4; ++i) length = (length << 8) | static_cast<unsigned char>(option.data[i]);
                if (length == option.data.size() - 4) out += u" \"" + Shown(std::string_view(option.data).substr(4)) + u"\"";
            }
        }
    }
    return out.empty() ? u"none" : out;
}

}  // namespace

Certificate ParseCertificate(std::string_view text, const std::u16string& path) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
    while (!text.empty() && IsLineBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsLineBlank(text.back())) text.remove_suffix(1);
    if (text.empty()) Refuse(path, u"is empty");
    if (text.find('\0') != std::string_view::npos) Refuse(path, u"is not a text: it holds a NUL byte");
    const std::size_t typeEnd = text.find_first_of(" \t\r\n");
    Certificate c;
    c.path = path;
    c.typeName = std::string(text.substr(0, typeEnd));
    c.keyTypeName = PlainTypeOf(c.typeName, path);
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        Refuse(path, u"holds more than one line (a certificate file is one line: type, Base64, comment)");
    }
    if (typeEnd == std::string_view::npos) Refuse(path, u"holds its type and nothing after it");
    std::string_view rest = text.substr(typeEnd);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    const std::size_t base64End = rest.find_first_of(" \t");
    const std::string_view base64 = rest.substr(0, base64End);
    if (base64End != std::string_view::npos) {
        rest = rest.substr(base64End);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
        c.comment = std::string(rest);
    }
    std::string blob;
    blob.reserve(base64.size() / 4 * 3 + 3);
    if (!DecodeBase64(base64, blob) || blob.empty()) Damaged(path, u"its Base64 text is malformed");
    ReadBlob(blob, c);
    c.base64 = EncodeBase64(blob);
    return c;
}

Certificate ReadCertificateFile(const std::u16string& path) {
    const platform::FileContents contents = platform::ReadWholeFile(path, kLargestCertificateFile);
    switch (contents.status) {
    case platform::FileStatus::Read:
        return ParseCertificate(contents.bytes, path);
    case platform::FileStatus::Missing:
        Refuse(path, u"does not exist");
    case platform::FileStatus::Failed:
        break;
    }
    Refuse(path, u"cannot be read: " + contents.error);
}

std::u16string CertificatePathBeside(const std::u16string& keyPath) { return keyPath + u"-cert.pub"; }

std::optional<Certificate> ReadCertificateBeside(const std::u16string& keyPath) {
    const std::u16string path = CertificatePathBeside(keyPath);
    const platform::FileContents contents = platform::ReadWholeFile(path, kLargestCertificateFile);
    switch (contents.status) {
    case platform::FileStatus::Read:
        return ParseCertificate(contents.bytes, path);
    case platform::FileStatus::Missing:
        return std::nullopt;
    case platform::FileStatus::Failed:
        break;
    }
    Refuse(path, u"cannot be read: " + contents.error);
}

std::string PublicKeyBlob(ssh_key key) {
    char* raw = nullptr;
    if (ssh_pki_export_pubkey_base64(key, &raw) != SSH_OK || raw == nullptr) return {};
    const LibsshText text(raw);
    std::string blob;
    if (!DecodeBase64(text.get(), blob)) return {};
    return blob;
}

std::u16string CertificateValidity(const Certificate& certificate) {
    return u"from " + (certificate.validAfter == 0 ? std::u16string(u"forever") : UtcTime(certificate.validAfter)) +
           u" until " +
           (certificate.validBefore == kValidForever ? std::u16string(u"forever") : UtcTime(certificate.validBefore));
}

std::u16string CertificateRefusal(const Certificate& certificate, std::string_view keyBlob,
                                  const std::u16string& keyPath, std::uint64_t now) {
    const std::u16string start = u"The certificate " + Quoted(certificate.path);
    if (certificate.certificateType != kUserCertificate) {
        return start + u" is a host certificate: a login needs a user certificate";
    }
    if (certificate.publicBlob != keyBlob) {
        return start + u" is not for the key in the key file " + Quoted(keyPath) + u": it certifies the key " +
               Fingerprint(certificate.publicBlob) + u", the key file holds " + Fingerprint(keyBlob);
    }
    const std::u16string validity = u"it is valid " + CertificateValidity(certificate) + u", and it is now " + UtcTime(now);
    if (now < certificate.validAfter) return start + u" is not yet valid: " + validity;
    if (now >= certificate.validBefore) return start + u" has expired: " + validity;
    return {};
}

std::vector<std::u16string> DescribeCertificate(const Certificate& c) {
    std::u16string principals;
    for (const std::string& principal : c.principals) {
        if (!principals.empty()) principals += u", ";
        principals += u"\"" + Shown(principal) + u"\"";
    }
    return {
        u"certificate: " + FromUtf8(c.typeName) +
            (c.certificateType == kUserCertificate ? u" (user certificate)" : u" (host certificate)"),
        u"key ID: \"" + Shown(c.keyId) + u"\"",
        u"serial: " + Number(c.serial),
        u"principals: " + (principals.empty() ? std::u16string(u"any") : principals),
        u"valid: " + CertificateValidity(c),
        u"signed by: " + Shown(c.caKeyType) + u" CA key " + c.caFingerprint,
        u"critical options: " + Names(c.criticalOptions),
        u"extensions: " + Names(c.extensions),
    };
}

KeyPtr KeyWithCertificate(ssh_key key, const Certificate& certificate) {
    const std::u16string start = u"The certificate " + Quoted(certificate.path);
    KeyPtr certified;
    {
        ssh_key raw = nullptr;
        const enum ssh_keytypes_e type = ssh_key_type_from_name(certificate.typeName.c_str());
        if (type == SSH_KEYTYPE_UNKNOWN || ssh_pki_import_cert_base64(certificate.base64.c_str(), type, &raw) != SSH_OK) {
            ssh_key_free(raw);
            throw errors::ComponentFailure(start + u" could not be read by the SSH library");
        }
        certified.reset(raw);
    }
    KeyPtr copy(ssh_key_dup(key));
    if (!copy || !ssh_key_is_private(copy.get())) {
        throw errors::ComponentFailure(start + u" could not be given to its key: the key could not be copied");
    }
    if (ssh_pki_copy_cert_to_privkey(certified.get(), copy.get()) != SSH_OK) {
        throw errors::ComponentFailure(start + u" is not for the key it is offered with");
    }
    return copy;
}

}  // namespace tavrin::ssh
