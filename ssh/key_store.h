#pragma once
// Private keys loaded from files, and the process-wide registry through which the key object
// hands a loaded key to the SSH object: the key itself never leaves the process as text (the
// gcrypt build of libssh cannot write RSA or ECDSA private keys out), the SSH object is given
// a token that names the key in the registry.

#include "ssh/libssh_handles.h"
#include "ssh/library.h"

#include <memory>
#include <optional>
#include <string>

namespace tavrin::ssh {

struct LoadedKey {
    LibraryUse library;  // declared first: libssh outlives the key
    KeyPtr key;
    std::u16string path;
    std::string typeName;  // "ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", ...
};

// Loads a private key file (OpenSSH format or PEM). Throws tavrin::AutomationError with a
// description when the file is missing, unreadable, not a private key, protected by a pass
// phrase that was not given, or when the pass phrase is wrong.
std::shared_ptr<const LoadedKey> LoadPrivateKeyFile(const std::u16string& path,
                                                    const std::optional<std::u16string>& passPhrase);

// The registry. A token stays valid while the returned registration lives.
class KeyRegistration {
public:
    explicit KeyRegistration(std::shared_ptr<const LoadedKey> key);
    ~KeyRegistration();
    KeyRegistration(const KeyRegistration&) = delete;
    KeyRegistration& operator=(const KeyRegistration&) = delete;
    const std::u16string& Token() const { return token_; }

private:
    std::u16string token_;
};

// The key that a token names, or null when the token names none (any more).
std::shared_ptr<const LoadedKey> FindRegisteredKey(const std::u16string& token);

}  // namespace tavrin::ssh
