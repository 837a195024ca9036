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
#include "ssh/host_key_pins.h"
#include "ssh/key_store.h"
#include "ssh/known_hosts.h"

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

}  // namespace

ComposeResult Compose(const ComposeRequest& r) {
    ComposeResult result;
    const std::pair<Field, const std::u16string*> plain[] = {
        {Field::User, &r.user}, {Field::KeyFile, &r.keyFile}, {Field::ComparisonValue, &r.value}};
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
                                      {Field::Command, &r.command}}) {
        if (modTavrin::DecodeText(modTavrin::EncodeText(*text)) != *text) {
            result.error = std::u16string(Spec(field).option) + u" holds characters that the ANSI code page cannot store";
            return result;
        }
    }

    // The pins and REUSE go into the dialog's own fields, which OK writes after its layout.
    if (!r.hostKeys.empty()) {
        std::u16string joined;
        for (const auto& key : r.hostKeys) joined += (joined.empty() ? u"" : u",") + key;
        const ssh::HostKeyPins pins = ssh::ParseHostKeyPins(joined);
        if (!pins.ok() || pins.fingerprints.empty()) {
            result.error = std::u16string(Spec(Field::HostKeys).option) + u": " +
                           (pins.ok() ? std::u16string(u"no fingerprint given") : pins.error);
            return result;
        }
        for (const auto& fingerprint : pins.fingerprints) {
            fields.hostKeys += (fields.hostKeys.empty() ? u"" : u",") + fingerprint;
        }
    }

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
    result.parameter = *composed;
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
            case Field::HostKeys: {
                const ssh::HostKeyPins pins = ssh::ParseHostKeyPins(value);
                if (!pins.ok()) {
                    line(spec.key, value, u"pinned host keys: malformed");
                    warnings.push_back(u"HFP: " + pins.error + u": the check will fail before connecting");
                } else if (pins.fingerprints.empty()) {
                    line(spec.key, value, u"host keys: none pinned (known_hosts decides)");
                    // The files as the check reads them, here (the check's machine may differ).
                    for (const auto& [path, contents] : ssh::ReadKnownHostsFiles(knownHostsFiles)) {
                        std::u16string state;
                        switch (contents.status) {
                            case platform::FileStatus::Read: state = u"exists"; break;
                            case platform::FileStatus::Missing: state = u"does not exist, skipped"; break;
                            case platform::FileStatus::Failed:
                                state = u"exists but cannot be read (" + contents.error + u")";
                                warnings.push_back(u"the known_hosts file " + path + u" cannot be read (" +
                                                   contents.error + u"): every check without HFP will be DOWN");
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

}  // namespace tavrin::tools
