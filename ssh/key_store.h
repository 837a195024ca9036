#pragma once
// Private keys loaded from files, and the process-wide registry through which the key object
// hands a loaded key to the SSH object: the key itself never leaves the process as text (the
// gcrypt build of libssh cannot write RSA or ECDSA private keys out), the SSH object is given
// a token that names the key in the registry.

#include "ssh/libssh_handles.h"
#include "ssh/library.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace tavrin::ssh {

struct PendingKey;

struct LoadedKey {
    LibraryUse library;  // declared first: libssh outlives the key
    KeyPtr key;          // null while the key is still to be opened (see `pending`)
    std::u16string path;
    std::string typeName;  // "ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", ...; may be empty
                           // while the key is still to be opened
    // Set for a key whose pass phrase has yet to be derived: that work is done by
    // OpenPendingKey, inside the bound of the check that uses the key.
    std::shared_ptr<const PendingKey> pending;
};

// Loads a private key file: OpenSSH format, PEM, or PuTTY's key file (versions 2 and 3), as
// Windows editors may leave them (byte-order mark, CRLF line ends, trailing blanks). The path
// reaches the system through wide-character APIs and libssh is given the file's contents. Throws
// tavrin::AutomationError with a description that names the file when it is missing,
// unreadable, not a private key, damaged, a DSA key, protected by a pass phrase that was not
// given, or asks for more key derivation work than any real key file (keyfile::kMost...).
//
// A key protected by a pass phrase is found again while something holds it (a kept connection);
// otherwise its file is checked here and the key is returned still to be opened (`pending`): the
// derivation of its pass phrase, which may take seconds, and the check of the pass phrase are
// left to OpenPendingKey.
std::shared_ptr<const LoadedKey> LoadPrivateKeyFile(const std::u16string& path,
                                                    const std::optional<std::u16string>& passPhrase);

// Opens a key that LoadPrivateKeyFile left to be opened. The work runs on a thread of its own
// (one per file and pass phrase at a time: a check that comes while an earlier one's work still
// runs waits for that work), and this call waits for it only until `deadline` or until `cancel`
// is raised: then it returns null and the work ends by itself, its result wiped. Throws
// tavrin::AutomationError naming the file when the key does not open (a wrong pass phrase, a
// damaged file), or when no thread could be started. A key that is not pending is returned as
// it is.
std::shared_ptr<const LoadedKey> OpenPendingKey(const std::shared_ptr<const LoadedKey>& key,
                                                std::chrono::steady_clock::time_point deadline,
                                                const std::atomic<bool>& cancel);

// What a key file is, told without the network.
struct KeyFileDescription {
    std::u16string format;   // "OpenSSH", "PEM", "PuTTY v2", "PuTTY v3"; empty: not a key file
    std::u16string keyType;  // "ssh-ed25519", "ssh-rsa", "ecdsa-sha2-nistp256", "ssh-dss" ...;
                             // empty when the file does not say before it is opened
    int bits = 0;            // the key's size; 0 when not known
    bool encrypted = false;
    std::u16string comment;  // the comment of a PuTTY key file
    // Whether the key loads: set when the file is not encrypted or a pass phrase was given.
    std::optional<bool> opens;
    std::u16string problem;  // why it does not load (the text LoadPrivateKeyFile throws)
};

// Describes a key file and, when it is not encrypted or a pass phrase is given, tries to load
// it. Throws tavrin::AutomationError only when the file is missing or cannot be read.
KeyFileDescription DescribeKeyFile(const std::u16string& path, const std::optional<std::u16string>& passPhrase);

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
