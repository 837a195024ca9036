#pragma once
// Where a password can be kept outside the parameter string on Windows: a generic credential of
// the Windows Credential Manager of the account this process runs as (its password in UTF-16,
// as cmdkey /generic and the Credential Manager's window store it), and DPAPI, with this
// computer's key (any process here can decrypt it, none elsewhere) or this account's. Elsewhere
// neither store exists: every call says so.

#include "platform/secret.h"

#include <string>
#include <string_view>

namespace tavrin::platform {

// Whether this system has the stores at all (Windows).
bool HasWindowsSecretStores();

struct CredentialRead {
    enum class End {
        Read,         // `user` (may be empty) and `password`
        Missing,      // no generic credential of that name for this account
        Failed,       // it could not be read: `error`
        Unsupported,  // not Windows
    };
    End end = End::Failed;
    std::u16string user;
    SecretText password;
    std::u16string error;  // the system's words
};
// Reads the generic credential `target` of the account this process runs as.
CredentialRead ReadGenericCredential(std::u16string_view target);
// Writes (creates or replaces) it, persisted for the account on this computer; an empty text,
// or why it failed.
std::u16string WriteGenericCredential(std::u16string_view target, std::u16string_view user,
                                      std::u16string_view password);
// Deletes it; an empty text, or why it failed (a missing credential is a failure).
std::u16string DeleteGenericCredential(std::u16string_view target);

enum class DpapiScope {
    Machine,  // CRYPTPROTECT_LOCAL_MACHINE: any process on this computer
    Account,  // only the account this process runs as
};
struct DpapiResult {
    bool ok = false;
    std::string blob;      // Protect: the blob CryptProtectData returned (binary)
    SecretText password;   // Unprotect: the password (UTF-16)
    std::u16string error;  // why not: the system's words
};
// Encrypts the password's UTF-16LE bytes, without extra entropy and without a prompt.
DpapiResult ProtectPassword(std::u16string_view password, DpapiScope scope);
// Decrypts a blob of ProtectPassword's (or of [ProtectedData]::Protect's) with whichever key it
// names; fails for a blob made on another computer or by another account.
DpapiResult UnprotectPassword(std::string_view blob);

}  // namespace tavrin::platform
