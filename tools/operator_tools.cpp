#include "tools/operator_tools.h"

#include "common/automation_error.h"
#include "common/numbers.h"
#include "common/text.h"
#include "dialog/parameter_editing.h"
#include "parameters/codec.h"
#include "parameters/fields.h"
#include "parameters/generic.h"
#include "platform/files.h"
#include "common/base64.h"
#include "platform/secret.h"
#include "platform/secret_store.h"
#include "ssh/certificate.h"
#include "ssh/host_key_pins.h"
#include "ssh/key_store.h"
#include "ssh/known_hosts.h"

#include <ctime>
#include <tuple>

namespace tavrin::tools {

namespace {

using parameters::Field;
using parameters::Spec;

std::u16string Padded(std::u16string_view text, std::size_t width) {
    std::u16string out(text);
    if (out.size() < width) out.append(width - out.size(), u' ');
    return out;
}

std::u16string Quoted(std::u16string_view text) { return u"\"" + std::u16string(text) + u"\""; }

std::u16string Number(double n) { return tavrin::NumberText(n); }

// What a key file is, as describe shows it.
std::u16string KeyFileText(const std::u16string& path, const std::optional<std::u16string>& passPhrase) {
    ssh::KeyFileDescription d;
    try {
        d = ssh::DescribeKeyFile(path, passPhrase);
    } catch (const AutomationError& e) {
        return u"on this machine: " + e.description();
    }
    if (d.format.empty()) return u"on this machine: not a private key file (" + d.problem + u")";
    std::u16string text = u"on this machine: " + d.format + u" key file";
    if (!d.keyType.empty()) text += u", " + d.keyType;
    if (d.bits > 0) text += u" " + Number(d.bits) + u" bits";
    text += d.encrypted ? u", encrypted" : u", not encrypted";
    if (!d.opens) {
        text += u"; no pass phrase in the string to open it";
    } else if (*d.opens) {
        text += d.encrypted ? u"; the password in the string opens it" : u"; it loads";
    } else {
        text += u"; it does not load: " + d.problem;
    }
    return text;
}

// The certificate the login offers with the key file: CERT's file, else the key file's
// "-cert.pub" when there is one; what it says, and whether the check would refuse it today.
void CertificateLines(const std::u16string& certificate, const std::u16string& keyFile,
                      const std::optional<std::u16string>& passPhrase, std::vector<std::u16string>& lines,
                      std::vector<std::u16string>& warnings) {
    const std::u16string key = TrimBlanks(keyFile);
    const std::u16string named = TrimBlanks(certificate);
    const std::u16string path = named.empty() ? ssh::CertificatePathBeside(key) : named;
    const std::u16string field = Padded(u"CERT", 6) + u"= ";
    if (key.empty()) {
        if (!named.empty()) lines.push_back(field + Padded(named, 24) + u"  certificate: unused (no key file, KEYF)");
        return;
    }
    std::optional<ssh::Certificate> read;
    try {
        read = named.empty() ? ssh::ReadCertificateBeside(key) : ssh::ReadCertificateFile(named);
    } catch (const AutomationError& e) {
        lines.push_back(field + Padded(path, 24) + u"  certificate: cannot be used");
        warnings.push_back(e.description() + u": the check will end with \"ERR: ...( 0)\" before connecting");
        return;
    }
    if (!read) return;  // no certificate beside the key: the key alone is offered
    lines.push_back(field + Padded(path, 24) +
                    (named.empty() ? u"  certificate beside the key file, offered with it"
                                   : u"  OpenSSH user certificate offered with the key file"));
    for (const std::u16string& text : ssh::DescribeCertificate(*read)) lines.push_back(Padded(u"", 8) + text);
    // Whether it fits the key is known once the key is open; its validity always.
    std::string keyBlob = read->publicBlob;
    try {
        const auto loaded = ssh::LoadPrivateKeyFile(key, passPhrase);
        if (loaded && loaded->key) keyBlob = ssh::PublicKeyBlob(loaded->key.get());
    } catch (const AutomationError&) {
        // The key file's own line says why it does not load.
    }
    const std::u16string refusal =
        ssh::CertificateRefusal(*read, keyBlob, key, static_cast<std::uint64_t>(std::time(nullptr)));
    if (!refusal.empty()) warnings.push_back(refusal + u": the check will end with \"ERR: ...( 0)\"");
}

// What this machine makes of CRED or PWDE, for the account this runs as: the line under the
// field's, the password when it could be read, and why the check would fail here.
struct StoreView {
    std::u16string state;
    std::optional<platform::SecretText> password;
    std::u16string warning;
};

StoreView CredentialView(const std::u16string& target, bool showPassword) {
    StoreView view;
    platform::CredentialRead read = platform::ReadGenericCredential(target);
    const std::u16string named = u"the credential " + Quoted(target) + u" (CRED)";
    constexpr std::u16string_view kFails = u": a check run as this account fails before connecting";
    switch (read.end) {
        case platform::CredentialRead::End::Read:
            view.state = u"on this machine: the credential exists for this account, " +
                         (read.user.empty() ? std::u16string(u"no user name (USR is used)")
                                            : u"user name " + Quoted(read.user) + u" (replaces USR)");
            if (read.password.empty()) {
                view.state += u", no password";
                view.warning = named + u" holds no password" + std::u16string(kFails);
            } else {
                if (showPassword) view.state += u", password " + Quoted(read.password.get());
                view.password = std::move(read.password);
            }
            break;
        case platform::CredentialRead::End::Missing:
            view.state = u"on this machine: no generic credential of that name for this account";
            view.warning = named + u" is not in this account's Windows Credential Manager" + std::u16string(kFails);
            break;
        case platform::CredentialRead::End::Failed:
            view.state = u"on this machine: it cannot be read: " + read.error;
            view.warning = named + u" cannot be read (" + read.error + u")" + std::u16string(kFails);
            break;
        case platform::CredentialRead::End::Unsupported:
            view.state = u"on this machine: " + read.error;
            view.warning = named + u" is kept in the Windows Credential Manager, a Windows store: a check on this "
                                   u"system fails before connecting";
            break;
    }
    return view;
}

StoreView ProtectedView(const std::u16string& base64, bool showPassword) {
    StoreView view;
    constexpr std::u16string_view kFails = u": a check run as this account fails before connecting";
    if (!platform::HasWindowsSecretStores()) {
        view.state = u"on this machine: DPAPI is a Windows store, there is none on this system";
        view.warning = u"PWDE is encrypted with DPAPI, a Windows store: a check on this system fails before connecting";
        return view;
    }
    std::string blob;
    if (!DecodeBase64(ToUtf8(base64), blob)) {
        view.state = u"on this machine: not valid Base64";
        view.warning = u"PWDE is not valid Base64" + std::u16string(kFails);
        return view;
    }
    platform::DpapiResult opened = platform::UnprotectPassword(blob);
    if (!opened.ok) {
        view.state = u"on this machine: it does not decrypt for this account: " + opened.error;
        view.warning = u"PWDE does not decrypt here (made on another computer, or by another account with its own "
                       u"key)" + std::u16string(kFails);
        return view;
    }
    // The blob does not say which key made it: a machine key's blob decrypts for every account
    // here, an account key's for that account only, and from one account the two look alike.
    view.state = u"on this machine: it decrypts for this account (this computer's key or this account's)";
    if (opened.password.empty()) {
        view.state += u", no password";
        view.warning = u"PWDE holds no password" + std::u16string(kFails);
    } else {
        if (showPassword) view.state += u", password " + Quoted(opened.password.get());
        view.password = std::move(opened.password);
    }
    return view;
}

}  // namespace

std::u16string PasswordStoreName(ComposeRequest::PasswordStore store, std::u16string_view credential) {
    switch (store) {
        case ComposeRequest::PasswordStore::String: return u"string";
        case ComposeRequest::PasswordStore::DpapiMachine: return u"dpapi-machine";
        case ComposeRequest::PasswordStore::DpapiAccount: return u"dpapi-user";
        case ComposeRequest::PasswordStore::Credential: break;
    }
    return u"credential:" + std::u16string(credential);
}

std::optional<ComposeRequest::PasswordStore> PasswordStoreForName(std::u16string_view name, std::u16string& credential) {
    using Store = ComposeRequest::PasswordStore;
    for (const Store store : {Store::String, Store::DpapiMachine, Store::DpapiAccount}) {
        if (name == PasswordStoreName(store, {})) return store;
    }
    constexpr std::u16string_view kCredential = u"credential:";
    if (!name.starts_with(kCredential)) return std::nullopt;
    credential = std::u16string(name.substr(kCredential.size()));
    return Store::Credential;
}

ComposeResult Compose(const ComposeRequest& r) {
    ComposeResult result;
    using Store = ComposeRequest::PasswordStore;
    const bool dpapi = r.passwordStore == Store::DpapiMachine || r.passwordStore == Store::DpapiAccount;
    if (r.passwordStore != Store::String) {
        const std::u16string option = u"--password-store " + PasswordStoreName(r.passwordStore, r.credential);
        if (!platform::HasWindowsSecretStores()) {
            result.error = option + (dpapi ? u": DPAPI" : u": the Windows Credential Manager") +
                           u" is a Windows store, there is none on this system";
            return result;
        }
        if (dpapi && r.password.empty()) {
            result.error = option + u" needs the password to encrypt: --password or --password-file";
            return result;
        }
        if (!dpapi && !r.password.empty()) {
            result.error = option + u" writes no password: store it in the credential with tavrin-check credential "
                                    u"set, not with --password";
            return result;
        }
        if (!dpapi && (TrimBlanks(r.credential).empty() || r.credential.find(u'#') != std::u16string::npos)) {
            result.error = u"--password-store credential:TARGET needs a credential name without \"#\"";
            return result;
        }
    }
    const std::pair<Field, const std::u16string*> plain[] = {
        {Field::User, &r.user},           {Field::KeyFile, &r.keyFile},         {Field::ComparisonValue, &r.value},
        {Field::Jump, &r.jump},           {Field::JumpKeyFile, &r.jumpKeyFile}, {Field::Certificate, &r.certificate}};
    for (const auto& [field, text] : plain) {
        if (text->find(u'#') != std::u16string::npos) {
            result.error = std::u16string(Spec(field).option) +
                           u" holds a \"#\": the parameter string has no escaping, so the value would be cut there";
            const std::optional<std::u16string> rule = parameters::CodeForOption(Field::Comparison, r.comparison);
            if (field == Field::ComparisonValue && rule && (*rule == u"RE" || *rule == u"NRE")) {
                result.error += u"; in a pattern write \\x23 for it";
            }
            return result;
        }
    }

    dialog::DialogFields fields;
    fields.userName = r.user;
    fields.password = r.password;
    fields.port = r.port;
    fields.keyFile = r.keyFile;
    fields.command = r.command;
    fields.comparisonValue = r.value;
    // The list fields: the code of the option's name, then the dialog's list item of that code.
    const std::pair<Field, std::pair<const std::u16string*, int*>> lists[] = {
        {Field::Protocol, {&r.protocol, &fields.protocolIndex}},
        {Field::KeyType, {&r.keyType, &fields.keyTypeIndex}},
        {Field::Comparison, {&r.comparison, &fields.comparisonIndex}},
        {Field::ReturnMode, {&r.returnData, &fields.returnModeIndex}},
    };
    for (const auto& [field, slots] : lists) {
        const std::optional<std::u16string> code = parameters::CodeForOption(field, *slots.first);
        if (!code) {
            result.error = std::u16string(Spec(field).option) + u" takes " + parameters::OptionNames(field);
            return result;
        }
        *slots.second = parameters::IndexForCode(field, *code);
    }

    // A character that the ANSI code page lacks would not survive the Base64 form (DPAPI keeps
    // the password in UTF-16).
    for (const auto& [field, text] : {std::pair<Field, const std::u16string*>{Field::Password, &r.password},
                                      {Field::Command, &r.command},
                                      {Field::JumpPassword, &r.jumpPassword}}) {
        if (field == Field::Password && dpapi) continue;
        if (modTavrin::DecodeText(modTavrin::EncodeText(*text)) != *text) {
            result.error = std::u16string(Spec(field).option) + u" holds characters that the ANSI code page cannot store";
            return result;
        }
    }

    // The pins, REUSE and the bastion go into the dialog's own fields, which OK writes after its
    // layout.
    for (const auto& [field, keys, slot] :
         {std::tuple<Field, const std::vector<std::u16string>*, std::u16string*>{Field::HostKeys, &r.hostKeys,
                                                                                 &fields.hostKeys},
          {Field::JumpHostKeys, &r.jumpHostKeys, &fields.jumpHostKeys}}) {
        if (keys->empty()) continue;
        std::u16string joined;
        for (const auto& key : *keys) joined += (joined.empty() ? u"" : u",") + key;
        const ssh::HostKeyPins pins = ssh::ParseHostKeyPins(joined);
        if (!pins.ok() || pins.fingerprints.empty()) {
            result.error = std::u16string(Spec(field).option) + u": " +
                           (pins.ok() ? std::u16string(u"no fingerprint given") : pins.error);
            return result;
        }
        for (const auto& fingerprint : pins.fingerprints) *slot += (slot->empty() ? u"" : u",") + fingerprint;
    }
    if (const parameters::JumpParse jump = parameters::ParseJump(r.jump); !jump.ok()) {
        result.error = std::u16string(Spec(Field::Jump).option) + u": " + jump.error;
        return result;
    }
    const bool bastionSettings = !r.jumpPassword.empty() || !r.jumpKeyFile.empty() || !r.jumpHostKeys.empty();
    if (TrimBlanks(r.jump).empty() && bastionSettings) {
        result.error = u"the bastion's password, key file and host keys need " + std::u16string(Spec(Field::Jump).option);
        return result;
    }
    fields.jump = TrimBlanks(r.jump);
    fields.jumpPassword = r.jumpPassword;
    fields.jumpKeyFile = r.jumpKeyFile;

    if (!r.reuse.empty()) {
        const std::optional<int> seconds = parameters::ReuseSeconds(r.reuse);
        if (!seconds) {
            result.error = std::u16string(Spec(Field::Reuse).option) + u" must be a whole number of seconds from 0 to " +
                           Number(parameters::kLongestReuse);
            return result;
        }
        fields.reuse = FromUtf8(std::to_string(*seconds));
    }

    switch (r.passwordStore) {
        case Store::String: break;
        case Store::Credential:
            fields.passwordStore = dialog::DialogFields::PasswordStore::CredentialManager;
            fields.credential = TrimBlanks(r.credential);
            break;
        case Store::DpapiMachine:
        case Store::DpapiAccount: {
            const platform::DpapiResult sealed = platform::ProtectPassword(
                r.password, r.passwordStore == Store::DpapiMachine ? platform::DpapiScope::Machine
                                                                   : platform::DpapiScope::Account);
            if (!sealed.ok) {
                result.error = u"--password-store " + PasswordStoreName(r.passwordStore, r.credential) +
                               u": the password could not be encrypted: " + sealed.error;
                return result;
            }
            fields.passwordStore = dialog::DialogFields::PasswordStore::ThisComputer;
            fields.protectedPassword = FromUtf8(EncodeBase64(sealed.blob));
            platform::SecureWipe(fields.password);
            break;
        }
    }

    const std::optional<std::u16string> composed = dialog::ComposeParameterString(fields);
    if (!composed) {
        result.error = std::u16string(Spec(Field::Port).option) + u" must be a whole number from " +
                       Number(dialog::kPortMinimum) + u" to " + Number(dialog::kPortMaximum);
        return result;
    }
    // The certificate is a field that OK keeps: after the fields it writes.
    const std::u16string certificate = TrimBlanks(r.certificate);
    result.parameter = certificate.empty() ? *composed
                                           : parameters::WithField(*composed, Spec(Field::Certificate).key, certificate);
    return result;
}

std::vector<std::u16string> Describe(std::u16string_view parameter, bool showPassword) {
    return Describe(parameter, showPassword, ssh::DefaultKnownHostsFiles());
}

std::vector<std::u16string> Describe(std::u16string_view parameter, bool showPassword,
                                     const std::vector<std::u16string>& knownHostsFiles) {
    std::vector<std::u16string> lines, warnings;
    const auto stored = [&](Field field) { return parameters::StoredValue(parameter, field); };
    const auto line = [&](std::u16string_view key, std::u16string_view value, std::u16string_view meaning) {
        lines.push_back(Padded(key, 6) + u"= " + Padded(value, 24) + u"  " + std::u16string(meaning));
    };
    const auto decoded = [&](Field field) -> std::optional<std::u16string> {
        try {
            return parameters::Value(parameter, field);
        } catch (const AutomationError& e) {
            warnings.push_back(std::u16string(Spec(field).key) + u" is not valid Base64 (" + e.description() +
                               u"): the check will end with \"ERR: " + e.description() + u"( 0)\"");
            return std::nullopt;
        }
    };
    constexpr std::u16string_view kHidden = u"(hidden)";

    std::optional<std::u16string> password;
    const std::u16string jump = TrimBlanks(stored(Field::Jump));
    // The stores the check reads before PWD, CRED first; each is described when given.
    const std::u16string credential = TrimBlanks(stored(Field::Credential));
    const std::u16string encrypted = TrimBlanks(stored(Field::ProtectedPassword));
    const std::optional<StoreView> credentialView =
        credential.empty() ? std::nullopt : std::optional<StoreView>(CredentialView(credential, showPassword));
    const std::optional<StoreView> protectedView =
        encrypted.empty() ? std::nullopt : std::optional<StoreView>(ProtectedView(encrypted, showPassword));
    const std::optional<StoreView>& store = credentialView ? credentialView : protectedView;
    // The password (or the key's pass phrase) the check would use: the store's when one is
    // given (nothing when it cannot be read here), else PWD's.
    const auto passPhrase = [&]() -> std::optional<std::u16string> {
        if (store) return store->password ? std::optional<std::u16string>(store->password->get()) : std::nullopt;
        return password && !password->empty() ? password : std::nullopt;  // PWD's line decoded it
    };
    for (const parameters::FieldSpec& spec : parameters::Fields()) {
        const std::u16string value = stored(spec.field);
        const std::u16string meaning(spec.meaning);
        switch (spec.field) {
            case Field::Password:
                password = decoded(spec.field);
                if (!password) {
                    line(spec.key, showPassword ? value : kHidden, u"password: not valid Base64");
                } else if (password->empty()) {
                    line(spec.key, u"", u"password: none");
                } else if (showPassword) {
                    line(spec.key, *password, meaning + u" (Base64 " + value + u")");
                } else {
                    line(spec.key, kHidden, meaning + u" (--show-password shows it)");
                }
                break;
            case Field::Protocol:
                line(spec.key, value, parameters::CodeMeaning(spec.field, value));
                if (value == u"1") {
                    warnings.push_back(u"PROTO=1 asks for SSH protocol 1, which is not supported: the check will be DOWN");
                }
                break;
            case Field::Port:
                try {
                    const std::int16_t port = tavrin::RoundToInteger16(tavrin::ReadNumber(value));
                    const int used = port == 0 ? 22 : port;
                    line(spec.key, value, meaning + u" " + Number(used) + (port == 0 ? u" (0 or empty means 22)" : u""));
                    if (used < 1) warnings.push_back(u"port " + Number(used) + u" is not a TCP port: the connection will fail");
                } catch (const AutomationError& e) {
                    line(spec.key, value, meaning + u": out of range");
                    warnings.push_back(u"PORT " + Quoted(value) +
                                       u" is outside -32768 to 32767: the check will end with \"ERR: " + e.description() +
                                       u"( 0)\"");
                }
                break;
            case Field::KeyFile:
                line(spec.key, value, value.empty() ? u"key file: none (password login)" : meaning);
                if (!value.empty()) {
                    // The key file as it is on this machine (the check's machine may differ).
                    std::optional<std::u16string> phrase = passPhrase();
                    lines.push_back(Padded(u"", 8) + KeyFileText(value, phrase));
                    if (phrase) platform::SecureWipe(*phrase);
                }
                break;
            case Field::Command:
                if (const auto command = decoded(spec.field)) {
                    line(spec.key, *command, command->empty() ? u"command: none" : meaning + u" (Base64 " + value + u")");
                } else {
                    line(spec.key, value, u"command: not valid Base64");
                }
                break;
            case Field::Comparison:
                line(spec.key, value,
                     value.empty() ? u"none: no test, UP with the output as the result"
                                   : parameters::CodeMeaning(spec.field, value));
                break;
            case Field::ComparisonValue: {
                line(spec.key, value, meaning);
                const std::u16string op = stored(Field::Comparison);
                if (value.empty()) {
                    warnings.push_back(u"the comparison value is empty: every check is UP with the output as the result");
                } else if ((op == u"LT" || op == u"GT") && !tavrin::ParseWholeNumber(value)) {
                    warnings.push_back(u"the comparison value " + Quoted(value) + u" is not a number; it reads as " +
                                       Number(tavrin::ReadNumber(value)));
                }
                break;
            }
            case Field::KeyType:
            case Field::ReturnMode:
                line(spec.key, value, parameters::CodeMeaning(spec.field, value));
                break;
            case Field::HostKeys:
            case Field::JumpHostKeys: {
                const bool bastion = spec.field == Field::JumpHostKeys;
                if (bastion && jump.empty()) {
                    if (!value.empty()) line(spec.key, value, u"bastion host keys: unused (no bastion, JMP)");
                    break;
                }
                const ssh::HostKeyPins pins = ssh::ParseHostKeyPins(value);
                if (!pins.ok()) {
                    line(spec.key, value, bastion ? u"pinned bastion host keys: malformed" : u"pinned host keys: malformed");
                    warnings.push_back(std::u16string(spec.key) + u": " + pins.error +
                                       u": the check will fail before connecting");
                } else if (pins.fingerprints.empty()) {
                    line(spec.key, value,
                         bastion ? u"bastion host keys: none pinned (known_hosts decides, under the bastion's name)"
                                 : u"host keys: none pinned (known_hosts decides)");
                    if (bastion && stored(Field::HostKeys).empty()) break;  // listed once, under HFP
                    // The files as the check reads them, here (the check's machine may differ).
                    for (const auto& [path, contents] : ssh::ReadKnownHostsFiles(knownHostsFiles)) {
                        std::u16string state;
                        switch (contents.status) {
                            case platform::FileStatus::Read: state = u"exists"; break;
                            case platform::FileStatus::Missing: state = u"does not exist, skipped"; break;
                            case platform::FileStatus::Failed:
                                state = u"exists but cannot be read (" + contents.error + u")";
                                warnings.push_back(u"the known_hosts file " + path + u" cannot be read (" +
                                                   contents.error + u"): every check without " +
                                                   std::u16string(spec.key) + u" will be DOWN");
                                break;
                        }
                        lines.push_back(Padded(u"", 8) + u"known_hosts on this machine: " + path + u": " + state);
                    }
                } else {
                    const std::size_t n = pins.fingerprints.size();
                    line(spec.key, value,
                         meaning + u" (" + Number(static_cast<double>(n)) + (n == 1 ? u" key)" : u" keys)"));
                }
                break;
            }
            case Field::Reuse: {
                const std::optional<int> seconds = parameters::ReuseSeconds(value);
                if (!seconds) {
                    line(spec.key, value, u"kept connections: not a number of seconds");
                    warnings.push_back(u"REUSE " + Quoted(value) + u" is not a whole number of seconds from 0 to " +
                                       Number(parameters::kLongestReuse) + u": the check will end with an \"ERR: \" result");
                } else if (*seconds == 0) {
                    line(spec.key, value, u"kept connections: none (a fresh login per check)");
                } else {
                    line(spec.key, value, meaning + u" (" + Number(*seconds) + u" s)");
                }
                break;
            }
            case Field::Jump: {
                const parameters::JumpParse parsed = parameters::ParseJump(value);
                if (!parsed.ok()) {
                    line(spec.key, value, u"bastion: malformed");
                    warnings.push_back(parsed.error + u": the check will end with \"ERR: ...( 0)\" before connecting");
                } else if (!parsed.jump) {
                    line(spec.key, value, u"bastion: none (a direct connection)");
                } else {
                    line(spec.key, value,
                         meaning + u": user " + parsed.jump->user + u", host " + parsed.jump->host + u", port " +
                             Number(parsed.jump->port));
                }
                break;
            }
            case Field::JumpPassword:
            case Field::JumpKeyFile:
                if (jump.empty()) {
                    if (!value.empty()) line(spec.key, kHidden, u"unused: no bastion (JMP)");
                    break;
                }
                if (spec.field == Field::JumpPassword) {
                    const std::optional<std::u16string> jumpPassword = decoded(spec.field);
                    if (!jumpPassword) {
                        line(spec.key, showPassword ? value : kHidden, u"bastion's password: not valid Base64");
                    } else if (jumpPassword->empty()) {
                        line(spec.key, u"", stored(Field::JumpKeyFile).empty()
                                                ? u"bastion's password: none; the bastion login uses the check's "
                                                  u"own password or key file"
                                                : u"bastion's password: none");
                    } else if (showPassword) {
                        line(spec.key, *jumpPassword, meaning + u" (Base64 " + value + u")");
                    } else {
                        line(spec.key, kHidden, meaning + u" (--show-password shows it)");
                    }
                    break;
                }
                line(spec.key, value, value.empty() ? u"bastion's key file: none" : meaning);
                if (!value.empty()) {
                    const std::optional<std::u16string> passPhrase = decoded(Field::JumpPassword);
                    lines.push_back(Padded(u"", 8) + KeyFileText(value, passPhrase && !passPhrase->empty()
                                                                            ? passPhrase
                                                                            : std::nullopt));
                }
                break;
            case Field::Certificate: {
                std::optional<std::u16string> phrase = passPhrase();
                CertificateLines(value, stored(Field::KeyFile), phrase, lines, warnings);
                if (phrase) platform::SecureWipe(*phrase);
                break;
            }
            case Field::Credential:
            case Field::ProtectedPassword: {
                const bool isCredential = spec.field == Field::Credential;
                const std::u16string& given = isCredential ? credential : encrypted;
                if (given.empty()) {
                    if (!value.empty()) line(spec.key, value, u"blank: no store, unused");
                    break;
                }
                // PWDE's blob is as long as the password's encrypted form: shown with the password.
                line(spec.key, isCredential || showPassword ? given : kHidden,
                     meaning + (!isCredential && credentialView ? u"; unused: CRED comes first" : u""));
                const StoreView& view = isCredential ? *credentialView : *protectedView;
                lines.push_back(Padded(u"", 8) + view.state);
                if (!view.warning.empty() && (isCredential || !credentialView)) warnings.push_back(view.warning);
                break;
            }
            case Field::Marker:
            case Field::User:
                line(spec.key, value, meaning);
                break;
        }
    }

    if (stored(Field::User).empty()) {
        warnings.push_back(u"no user name: the check will end with \"ERR: can't connect to an SSH server without a USERNAME\"");
    } else if (!store && password && password->empty() && stored(Field::KeyFile).empty()) {
        warnings.push_back(u"no password and no key file: the check will end with \"ERR: can't connect to an SSH server "
                           u"without a PASSWORD\"");
    }

    if (store) {
        const std::u16string from = credentialView ? u"CRED" : u"PWDE";
        if (password && !password->empty()) {
            warnings.push_back(u"PWD is set as well: the check ignores it and takes the password from " + from);
        }
        if (credentialView && protectedView) {
            warnings.push_back(u"several password stores are given (CRED and PWDE): the check takes CRED and ignores PWDE");
        }
    }

    // The fields that the table does not know, fields that an earlier one of the same key hides,
    // and pieces between "#" that are no field (a "#" inside a value cut it there). Their texts
    // are shown, never the password's: its value is a field of its own.
    if (!parameter.empty() && parameter.front() != u'#') {
        warnings.push_back(u"the string does not begin with \"#\": the text before the first \"#\" is no field");
    }
    std::u16string previousKey;
    // The pieces hold the password's Base64 among them: overwritten when they go.
    struct WipedPieces {
        std::vector<parameters::Piece> pieces;
        ~WipedPieces() {
            for (parameters::Piece& piece : pieces) platform::SecureWipe(piece.text);
        }
    } all{parameters::Pieces(parameter)};
    for (const parameters::Piece& piece : all.pieces) {
        switch (piece.kind) {
            case parameters::Piece::Kind::Field:
                if (parameters::FindField(piece.key) == nullptr) {
                    line(piece.key, std::u16string_view(piece.text).substr(piece.key.size() + 1),
                         u"unknown field: the check ignores it, the dialog keeps it");
                }
                previousKey = Generic::UpperCase(piece.key);
                break;
            case parameters::Piece::Kind::Hidden:
                previousKey = Generic::UpperCase(piece.key);
                warnings.push_back(u"the field " + previousKey + u" appears again; only the first one counts");
                break;
            case parameters::Piece::Kind::NoField:
                warnings.push_back(u"the text " + Quoted(piece.text) + u" after the value of " +
                                   (previousKey.empty() ? std::u16string(u"the start") : previousKey) +
                                   u" is no field: a \"#\" in that value cuts it there");
                break;
        }
    }

    for (auto& w : warnings) lines.push_back(u"warning: " + w);
    return lines;
}

int PinPort(std::optional<int> givenPort, std::optional<std::u16string_view> parameter) {
    if (givenPort) return *givenPort;
    if (!parameter) return 22;
    try {
        const int port = tavrin::RoundToInteger16(tavrin::ReadNumber(parameters::StoredValue(*parameter, Field::Port)));
        return port >= 1 ? port : 22;
    } catch (const AutomationError&) {
        return 22;
    }
}

std::u16string WithHostKeyPin(std::u16string_view parameter, std::u16string_view fingerprint) {
    return parameters::WithField(parameter, Spec(Field::HostKeys).key, fingerprint);
}

std::u16string WithBastionHostKeyPin(std::u16string_view parameter, std::u16string_view fingerprint) {
    return parameters::WithField(parameter, Spec(Field::JumpHostKeys).key, fingerprint);
}

}  // namespace tavrin::tools
