#pragma once
// Private key files in their text forms, without libssh: PuTTY's key files (versions 2 and 3,
// decrypted and checked against their MAC, then rewritten as an unencrypted OpenSSH key that
// libssh imports from memory), the clear parts of OpenSSH keys, and the clean-up of key texts
// that Windows editors leave (byte-order mark, CRLF line ends, trailing blanks).
//
// Everything that holds private key material is a platform::SecretBytes.

#include "platform/secret.h"

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

// What an SSH public key blob says: its algorithm name and its size in bits (RSA: the
// modulus; DSA: p; ECDSA: the curve; EdDSA: 256 or 448). Nothing when the blob is malformed.
struct PublicKeyFacts {
    std::string algorithm;
    int bits = 0;
};
std::optional<PublicKeyFacts> InspectPublicBlob(std::string_view blob);

// The clear parts of an OpenSSH private key text ("openssh-key-v1"): its cipher ("none" when
// not encrypted), its public key blob, and its key derivation ("none" or "bcrypt", with the
// rounds it asks for). Nothing when the text is not such a key.
struct OpenSshFacts {
    std::string cipher;
    std::string publicBlob;
    std::string kdf;
    std::uint32_t bcryptRounds = 0;
};
std::optional<OpenSshFacts> InspectOpenSshKey(std::string_view text);

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

// Whether the text begins like a PuTTY key file (after an optional byte-order mark).
bool LooksLikePpk(std::string_view text);

// Reads a PuTTY key file's text. Throws KeyFileProblem (Damaged, Unsupported, Dsa).
PpkFile ParsePpk(std::string_view text);

// Decrypts (when encrypted) with the pass phrase's bytes, verifies the MAC, and rewrites the
// key as the text of an unencrypted OpenSSH private key. Throws KeyFileProblem (NoPassPhrase,
// WrongPassPhrase, Damaged, Unsupported, Dsa).
platform::SecretBytes PpkToOpenSsh(const PpkFile& file, const std::optional<std::string_view>& passPhrase);

}  // namespace tavrin::ssh::keyfile
