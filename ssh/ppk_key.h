#pragma once
// Private key files in their text forms, without libssh: PuTTY's key files (versions 2 and 3,
// decrypted and checked against their MAC, then rewritten as an unencrypted OpenSSH key that
// libssh imports from memory), the clear parts of OpenSSH keys and of PEM keys (their key
// derivation, read before libssh is given them), and the clean-up of key texts that Windows
// editors leave (byte-order mark, CRLF line ends, trailing blanks).
//
// libssh is only ever given a key text written here again from the bytes that were inspected
// (OpenSshFacts::text, PemFacts::text): its own readers of the armor are more lenient than ours
// (what they skip, which of several blocks they take), and a text they read differently could
// otherwise carry key derivation parameters that were never looked at.
//
// Everything that holds private key material is a platform::SecretBytes.

#include "platform/secret.h"
#include "ssh/crypto.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tavrin::ssh::keyfile {

// Why a key file cannot be used. The caller turns it into a text that names the file.
class KeyFileProblem : public std::runtime_error {
public:
    enum class Kind {
        Damaged,          // the file's structure is broken, or its MAC does not match its contents
        Unsupported,      // a valid file of a kind this program does not take (see detail)
        Dsa,              // a DSA key
        NoPassPhrase,     // encrypted, and no pass phrase was given
        WrongPassPhrase,  // encrypted, and the pass phrase does not open it
    };
    KeyFileProblem(Kind kind, const std::string& detail) : std::runtime_error(detail), kind_(kind) {}
    Kind kind() const noexcept { return kind_; }

private:
    Kind kind_;
};

// The text with UTF-8 byte-order marks, blanks and line ends before its first text dropped,
// every line end (CRLF, CR, LF) made LF, blanks and tabs at the ends of lines removed, and one
// LF at the end (none for a text that is all blank).
platform::SecretBytes NormaliseKeyText(std::string_view text);

// RFC 4648 Base64 of bytes; the decoder skips blanks and line ends and returns nothing for any
// other foreign character or a broken end.
std::optional<platform::SecretBytes> DecodeBase64(std::string_view text);
platform::SecretBytes EncodeBase64(std::string_view bytes);

// The SSH wire format (RFC 4251 section 5): a big-endian uint32, and a string (an mpint too) as
// a uint32 length and that many bytes, appended to `out`.
void PutUint32(std::string& out, std::uint32_t value);
void PutString(std::string& out, std::string_view value);

// What an SSH public key blob says: its algorithm name and its size in bits (RSA: the
// modulus; DSA: p; ECDSA: the curve; EdDSA: 256 or 448). Nothing when the blob is malformed.
struct PublicKeyFacts {
    std::string algorithm;
    int bits = 0;
};
std::optional<PublicKeyFacts> InspectPublicBlob(std::string_view blob);

// The clear parts of an OpenSSH private key text ("openssh-key-v1"): its cipher ("none" when
// not encrypted), its public key blob, and its key derivation ("none" or "bcrypt", with the
// rounds it asks for). The armor is read as libssh reads it (from the first BEGIN marker, what
// follows it up to the first white space passed over, the END marker after it), the Base64
// between strictly. Nothing when the text is not such a key, names its cipher or key derivation
// with a NUL byte in it (libssh would read the name only up to there), or holds other than one
// key.
struct OpenSshFacts {
    std::string cipher;
    std::string publicBlob;
    std::string kdf;
    std::uint32_t bcryptRounds = 0;
    platform::SecretBytes text;  // the key as libssh is to be given it: ArmoredOpenSshKey of the
                                 // bytes inspected
};
std::optional<OpenSshFacts> InspectOpenSshKey(std::string_view text);

// An OpenSSH private key blob in its armor: the BEGIN line, the Base64 in lines of 70, the END
// line, each ended by LF.
platform::SecretBytes ArmoredOpenSshKey(std::string_view blob);

// How an encrypted PKCS #8 key (EncryptedPrivateKeyInfo, RFC 5208 and 8018; PKCS #12's PBE
// schemes, RFC 7292 appendix C) derives its key from the pass phrase.
struct Pkcs8Derivation {
    enum class Kind { Pbkdf2, Scrypt, Pbes1, Pkcs12 };
    Kind kind = Kind::Pbkdf2;
    std::string scheme;            // for texts: "PBES2 with PBKDF2", "PKCS #12 PBE", ...
    std::uint64_t iterations = 0;  // PBKDF2, PBES1, PKCS #12 (UINT64_MAX: more than 64 bits)
    std::uint64_t scryptN = 0, scryptR = 0, scryptP = 0;  // scrypt (likewise)
};

// The clear parts of a PEM private key text: its one private key block (a line
// "-----BEGIN <label>-----" where the label ends in "PRIVATE KEY", up to its END line), its
// headers (RFC 1421: "Proc-Type: 4,ENCRYPTED" and "DEK-Info" for the legacy encryption) and its
// DER. Other blocks (a certificate beside the key) are left out of `text`.
struct PemFacts {
    std::string label;         // "RSA PRIVATE KEY", "EC PRIVATE KEY", "PRIVATE KEY", "ENCRYPTED PRIVATE KEY"...
    bool encrypted = false;    // the legacy encryption's header, or an encrypted PKCS #8 key
    std::string keyType;       // what the block tells before it is opened, in SSH's names
                               // ("ssh-rsa", "ssh-dss"); empty when it does not say
    std::optional<Pkcs8Derivation> derivation;  // an encrypted PKCS #8 key
    platform::SecretBytes text;  // the block alone, armored again (Base64 in lines of 64): what
                                 // libssh is to be given
};
// Nothing when the text holds no private key block. Throws KeyFileProblem: Damaged (a block
// without its END line, headers without the blank line after them, Base64 or DER that does not
// read), Unsupported (more than one private key block; an encrypted PKCS #8 key whose scheme or
// key derivation is not one of those above, named by its object identifier).
std::optional<PemFacts> InspectPemKey(std::string_view text);

// A PuTTY key file as read, before any decryption.
struct PpkFile {
    int version = 0;  // 2 or 3
    std::string algorithm;
    std::string encryption;  // "none" or "aes256-cbc"
    std::string comment;
    std::string publicBlob;
    std::string keyDerivation;  // version 3, encrypted: "Argon2id", "Argon2i" or "Argon2d"
    std::uint32_t argon2Memory = 0;
    std::uint32_t argon2Passes = 0;
    std::uint32_t argon2Parallelism = 0;
    std::string argon2Salt;
    platform::SecretBytes privateBlob;  // as stored (encrypted when `encryption` is not "none")
    std::string mac;          // raw bytes of Private-MAC

    bool Encrypted() const { return encryption != "none"; }
};

// The most work a key file's pass phrase derivation may ask for; a file that asks for more is
// refused before any of it is done, as no real tool writes such a file and the work would hold
// the check for minutes or hours. bcrypt (OpenSSH keys): ssh-keygen uses 16 rounds unless told
// otherwise (a tenth of a second), 1000 rounds take about 7 s, and the limit, 4096 rounds, about
// half a minute. Argon2 (PuTTY keys): PuTTYgen uses 8 MiB and passes for about a tenth of a
// second; the limits are 256 MiB, 1000 passes, and 8 GiB of memory passes in all (memory times
// passes).
inline constexpr std::uint32_t kMostBcryptRounds = 4096;
inline constexpr std::uint32_t kMostArgon2MemoryKiB = 256 * 1024;
inline constexpr std::uint32_t kMostArgon2Passes = 1000;
inline constexpr std::uint64_t kMostArgon2Work = 8ull * 1024 * 1024;  // KiB times passes
// Encrypted PKCS #8 keys (PEM "ENCRYPTED PRIVATE KEY"). PBKDF2: OpenSSL writes 2048 iterations
// unless told otherwise, a million take about half a second. PBES1 and PKCS #12's PBE iterate a
// plain hash, cheaper still: the same limit. scrypt: OpenSSL writes N = 16384, r = 8, p = 1
// (16 MiB, a twentieth of a second); the limits are N of 2^20, r of 32, p of 16, 1 GiB of
// memory (128 * r * N bytes) and N * r * p of 2^24 (about 128 times OpenSSL's choice, some
// seconds).
inline constexpr std::uint64_t kMostPbkdf2Iterations = 1000000;
inline constexpr std::uint64_t kMostPbeIterations = 1000000;
inline constexpr std::uint64_t kMostScryptN = 1u << 20;
inline constexpr std::uint64_t kMostScryptR = 32;
inline constexpr std::uint64_t kMostScryptP = 16;
inline constexpr std::uint64_t kMostScryptMemory = 1ull << 30;  // bytes: 128 * r * N
inline constexpr std::uint64_t kMostScryptWork = 1ull << 24;    // N * r * p

// Whether the text begins like a PuTTY key file (after an optional byte-order mark).
bool LooksLikePpk(std::string_view text);

// Reads a PuTTY key file's text. Throws KeyFileProblem (Damaged, Unsupported, Dsa).
PpkFile ParsePpk(std::string_view text);

// The Argon2 parameters of an encrypted version 3 file, from its Key-Derivation and Argon2-*
// lines.
crypto::Argon2Parameters Argon2ParametersOf(const PpkFile& file);

// Decrypts (when encrypted) with the pass phrase's bytes, verifies the MAC, and rewrites the
// key as the text of an unencrypted OpenSSH private key. Throws KeyFileProblem (NoPassPhrase,
// WrongPassPhrase, Damaged, Unsupported, Dsa).
platform::SecretBytes PpkToOpenSsh(const PpkFile& file, const std::optional<std::string_view>& passPhrase);

}  // namespace tavrin::ssh::keyfile
