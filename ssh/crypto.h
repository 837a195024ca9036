#pragma once
// The few cryptographic primitives the SSH layer needs besides libssh's own (hashed
// known_hosts names, key file formats), all from libgcrypt: nothing here is hand-written.

#include "platform/secret.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavrin::ssh::crypto {

// Initialises libgcrypt once per process (idempotent, thread-safe); every function below calls
// it first.
void Prepare();

enum class Digest { Sha1, Sha256 };

// The digest of `data`, as raw bytes.
std::string Hash(Digest digest, std::string_view data);

// HMAC of `data` under `key`, as raw bytes.
std::string Hmac(Digest digest, std::string_view key, std::string_view data);

// HMAC-SHA256, under a key drawn at random once per process, of the parts, each preceded by its
// length (so that no two lists of parts give the same text): a name for secret material
// (credentials, a key file's bytes) that tells nothing of it and means nothing outside this
// process. The text is made in one wiped buffer; no part is copied elsewhere.
std::string ProcessKeyedHash(std::span<const std::string_view> parts);

// AES-256 in CBC mode, decrypting: `key` 32 bytes, `iv` 16 bytes, `data` a whole number of
// 16-byte blocks (no padding is removed). Throws tavrin::AutomationError when the library
// refuses.
platform::SecretBytes DecryptAes256Cbc(std::string_view key, std::string_view iv, std::string_view data);

enum class Argon2Flavour { D, I, Id };

struct Argon2Parameters {
    Argon2Flavour flavour = Argon2Flavour::Id;
    std::uint32_t memoryKiB = 0;
    std::uint32_t passes = 0;
    std::uint32_t parallelism = 0;
};

// `length` bytes of Argon2 (no secret key, no associated data) of `password` with `salt`.
// Throws tavrin::AutomationError when the library refuses the parameters.
platform::SecretBytes Argon2(const Argon2Parameters& parameters, std::string_view password, std::string_view salt,
                             std::size_t length);

// Compares two byte strings in time that does not depend on where they differ.
bool SameBytes(std::string_view a, std::string_view b);

}  // namespace tavrin::ssh::crypto
