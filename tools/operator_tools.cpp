#include "tools/operator_tools.h"

#include "common/automation_error.h"
#include "common/numbers.h"
#include "common/text.h"
#include "dialog/parameter_editing.h"
#include "parameters/codec.h"
#include "parameters/fields.h"
#include "parameters/generic.h"
#include "platform/files.h"
#include "platform/secret.h"
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

}  // namespace

ComposeResult Compose(const ComposeRequest& r) {
    ComposeResult result;
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

    // A character that the ANSI code page lacks would not survive the Base64 form.
    for (const auto& [field, text] : {std::pair<Field, const std::u16string*>{Field::Password, &r.password},
                                      {Field::Command, &r.command},
                                      {Field::JumpPassword, &r.jumpPassword}}) {
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
                    const std::optional<std::u16string> passPhrase = decoded(Field::Password);
                    lines.push_back(Padded(u"", 8) + KeyFileText(value, passPhrase && !passPhrase->empty()
                                                                            ? passPhrase
                                                                            : std::nullopt));
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
            case Field::Certificate:
                CertificateLines(value, stored(Field::KeyFile),
                                 password && !password->empty() ? password : std::nullopt, lines, warnings);
                break;
            case Field::Marker:
            case Field::User:
                line(spec.key, value, meaning);
                break;
        }
    }

    if (stored(Field::User).empty()) {
        warnings.push_back(u"no user name: the check will end with \"ERR: can't connect to an SSH server without a USERNAME\"");
    } else if (password && password->empty() && stored(Field::KeyFile).empty()) {
        warnings.push_back(u"no password and no key file: the check will end with \"ERR: can't connect to an SSH server "
                           u"without a PASSWORD\"");
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
