#pragma once
// OpenSSH user certificates offered with a key file: the one-line certificate file
// ("TYPE BASE64 [comment]", as ssh-keygen -s writes KEYFILE-cert.pub) read and its blob parsed
// here without libssh, the checks made before a login (a user certificate, for the key file's
// key, valid at the time given), the lines describe shows, and the private key that carries the
// certificate for libssh's public key authentication.
//
// The certificate is public material: nothing here is a secret. libssh is only ever given the
// blob that was parsed here, encoded again (Certificate::base64).

#include "ssh/libssh_handles.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::ssh {

// More than any certificate needs (one for an RSA key of 16384 bits, with many principals, is
// some kilobytes); a larger file is refused unread.
inline constexpr std::size_t kLargestCertificateFile = 64 * 1024;

// valid_before of a certificate without an end.
inline constexpr std::uint64_t kValidForever = 0xFFFFFFFFFFFFFFFFull;

// What OpenSSH's certificate types carry as their type field.
inline constexpr std::uint32_t kUserCertificate = 1;
inline constexpr std::uint32_t kHostCertificate = 2;

struct CertificateOption {
    std::string name;
    std::string data;  // as stored: for critical options a string in the wire format, for
                       // extensions usually empty
};

struct Certificate {
    std::u16string path;       // the file it was read from, for the texts
    std::string typeName;      // "ssh-ed25519-cert-v01@openssh.com", ...
    std::string keyTypeName;   // the certified key's type: "ssh-ed25519", "ecdsa-sha2-nistp256", "ssh-rsa"
    std::string publicBlob;    // the certified key's plain public key blob (keyTypeName and its
                               // fields: what PublicKeyBlob gives for that key)
    std::uint64_t serial = 0;
    std::uint32_t certificateType = 0;  // kUserCertificate or kHostCertificate
    std::string keyId;
    std::vector<std::string> principals;  // none: any user
    std::uint64_t validAfter = 0;         // seconds since 1970 (UTC); 0: from the beginning
    std::uint64_t validBefore = 0;        // kValidForever: no end
    std::vector<CertificateOption> criticalOptions;
    std::vector<CertificateOption> extensions;
    std::string caKeyType;           // the signing CA key's type, "ssh-ed25519", ...
    std::u16string caFingerprint;    // "SHA256:..." of the CA key, as ssh-keygen -l prints it
    std::string comment;             // what follows the Base64 on the line
    std::string base64;              // the whole certificate blob in Base64: what libssh is given
};

// Parses a certificate file's text. A UTF-8 byte-order mark, blanks and line ends around the
// line are allowed; anything but one line "TYPE BASE64 [comment]" whose TYPE is the blob's is
// refused. Types: ssh-ed25519-cert-v01@openssh.com, ecdsa-sha2-nistp256/384/521-cert-v01@openssh.com
// and ssh-rsa-cert-v01@openssh.com; security key (sk-) and DSA certificates are refused by
// name. Every length is checked against what is left of the blob, names and principals may hold
// no NUL byte, and nothing may follow the signature. The CA's signature is not verified (the
// server does that). Throws tavrin::AutomationError with a description that begins
// "The certificate '<path>' ..." and says what is wrong.
Certificate ParseCertificate(std::string_view text, const std::u16string& path);

// Reads and parses a certificate file (at most kLargestCertificateFile bytes). Throws
// tavrin::AutomationError naming the file when it is missing, cannot be read or does not parse.
Certificate ReadCertificateFile(const std::u16string& path);

// The certificate that OpenSSH's convention puts beside a key file: the key file's path
// followed by "-cert.pub".
std::u16string CertificatePathBeside(const std::u16string& keyPath);

// The certificate beside a key file, or nothing when there is no such file. Throws as
// ReadCertificateFile when the file exists but cannot be read or does not parse.
std::optional<Certificate> ReadCertificateBeside(const std::u16string& keyPath);

// The public key blob of a loaded key (libssh's Base64 of it, decoded); empty when libssh
// cannot write it.
std::string PublicKeyBlob(ssh_key key);

// Why the certificate cannot be offered for a login with the key of the key file `keyPath`,
// whose public key blob is `keyBlob` (PublicKeyBlob of the loaded key), at `now`
// (seconds since 1970, UTC: the caller's clock); empty when it can. One line, beginning
// "The certificate '<path>' ...": a host certificate; not for this key (both keys'
// fingerprints shown); not yet valid (now < valid_after) or expired (now >= valid_before), with
// the validity and the time now as "YYYY-MM-DD HH:MM:SS UTC" ("forever" for an open end).
std::u16string CertificateRefusal(const Certificate& certificate, std::string_view keyBlob,
                                  const std::u16string& keyPath, std::uint64_t now);

// The validity as the texts show it: "from <time> until <time>".
std::u16string CertificateValidity(const Certificate& certificate);

// describe's lines for the certificate: its type and key ID, serial, principals ("any" when it
// names none), validity, the CA's key type and fingerprint, the critical options (force-command
// and source-address with their values) and the extensions by name ("none" when there are none).
std::vector<std::u16string> DescribeCertificate(const Certificate& certificate);

// A new private key: a duplicate of `key` carrying the certificate, for ssh_userauth_publickey
// (which then offers the certificate's type and blob, and signs with the key). `key` itself is
// left as it was: it may be in use by other threads. Throws tavrin::AutomationError naming the
// certificate when libssh does not take it or finds it is not for the key, or when the key
// cannot be duplicated.
KeyPtr KeyWithCertificate(ssh_key key, const Certificate& certificate);

}  // namespace tavrin::ssh
