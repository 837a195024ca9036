#pragma once
// The few cryptographic primitives the SSH layer needs besides libssh's own (hashed
// known_hosts names, key file formats), all from libgcrypt: nothing here is hand-written.

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

// Compares two byte strings in time that does not depend on where they differ.
bool SameBytes(std::string_view a, std::string_view b);

}  // namespace tavrin::ssh::crypto
