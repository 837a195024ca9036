#pragma once
// Operator tools of tavrin-check: making a parameter string without the host's dialog, and
// reading one back field by field with what the check run will make of it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::tools {

struct ComposeRequest {
    std::u16string user;
    std::u16string password;
    std::u16string protocol = u"A";       // 1, 2 or A
    std::u16string port = u"22";
    std::u16string keyFile;
    std::u16string keyType = u"RSA";      // RSA or DSA
    std::u16string command;
    std::u16string comparison = u"contains";  // contains, not-contains, less, greater
    std::u16string value;
    std::u16string returnData = u"never";     // never, when-down, always
    std::vector<std::u16string> hostKeys;     // pinned host keys, "SHA256:..."; none: no HFP field
    std::u16string reuse;                     // seconds a login may be kept; empty: no REUSE field
    std::u16string jump;                      // the bastion, user@host[:port]; empty: no JMP field
    std::u16string jumpPassword;              // the bastion's password or pass phrase; empty: no JPW
    std::u16string jumpKeyFile;               // the bastion's key file; empty: no JKF
    std::vector<std::u16string> jumpHostKeys; // the bastion's pinned host keys; none: no JFP
    std::u16string certificate;               // an OpenSSH user certificate file; empty: no CERT
    // Where the password (or the key's pass phrase) is kept (--password-store): in the string
    // (PWD, Base64), encrypted here with DPAPI (PWDE; this computer's key or this account's), or
    // in the Windows Credential Manager credential `credential` (CRED), where compose writes
    // nothing: tavrin-check credential set puts it there. With PWDE or CRED, PWD is empty.
    enum class PasswordStore { String, DpapiMachine, DpapiAccount, Credential };
    PasswordStore passwordStore = PasswordStore::String;
    std::u16string credential;
};

// The --password-store names: "string", "dpapi-machine", "dpapi-user", "credential:TARGET";
// the store of a name (and the credential's name), nullopt for any other.
std::u16string PasswordStoreName(ComposeRequest::PasswordStore store, std::u16string_view credential);
std::optional<ComposeRequest::PasswordStore> PasswordStoreForName(std::u16string_view name, std::u16string& credential);

struct ComposeResult {
    std::optional<std::u16string> parameter;
    std::u16string error;  // why nothing was composed
};

// The parameter string exactly as the dialog's OK writes it for these settings, followed by
// the HFP field when host keys are given (as OK keeps it). Refuses a "#" in a field that is
// stored as plain text, since it would cut that field when read back, and a malformed host key.
// A DPAPI store encrypts the password here; on a system without the Windows stores, DPAPI and
// the Credential Manager are refused by name.
ComposeResult Compose(const ComposeRequest& request);

// One line per field with its meaning, then the warnings. Unless showPassword, nothing of the
// password is shown: neither the password, nor its Base64 form, nor its length (nor PWDE's
// blob, whose size follows the password's). CRED and PWDE are read here as the check reads
// them, for the account this runs as: whether the credential exists (and its user name) or the
// blob decrypts. When no host key
// is pinned, the HFP line is followed by the known_hosts files the check reads, in its order,
// each with whether it exists on this machine (one that exists but cannot be read is warned of:
// it refuses every server).
std::vector<std::u16string> Describe(std::u16string_view parameter, bool showPassword);
// The same with these known_hosts files in place of the check's default ones.
std::vector<std::u16string> Describe(std::u16string_view parameter, bool showPassword,
                                     const std::vector<std::u16string>& knownHostsFiles);

// tavrin-check pin: how long the key exchange may take unless --timeout says otherwise.
inline constexpr int kPinDefaultTimeoutSeconds = 10;
// The port to fetch the host key from: the one given, else the parameter string's port as the
// check reads it (0, empty or out of range: 22).
int PinPort(std::optional<int> givenPort, std::optional<std::u16string_view> parameter);
// The parameter string with its HFP field set to the fingerprint, replacing the pins it had
// and keeping every other field.
std::u16string WithHostKeyPin(std::u16string_view parameter, std::u16string_view fingerprint);
// The same for the bastion's pins (JFP).
std::u16string WithBastionHostKeyPin(std::u16string_view parameter, std::u16string_view fingerprint);

}  // namespace tavrin::tools
