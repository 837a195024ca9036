#include "tools/operator_tools.h"

#include "common/automation_error.h"
#include "dialog/parameter_editing.h"
#include "parameters/codec.h"
#include "parameters/generic.h"
#include "plugin/host_value.h"
#include "plugin/verdict.h"

#include <array>
#include <cmath>

namespace tavrin::tools {

namespace {

struct Choice {
    std::u16string_view option;
    int index;
};

std::optional<int> IndexOf(std::u16string_view option, std::initializer_list<Choice> choices) {
    for (const auto& c : choices) {
        if (c.option == option) return c.index;
    }
    return std::nullopt;
}

std::u16string Padded(std::u16string_view text, std::size_t width) {
    std::u16string out(text);
    if (out.size() < width) out.append(width - out.size(), u' ');
    return out;
}

std::u16string Quoted(std::u16string_view text) { return u"\"" + std::u16string(text) + u"\""; }

std::u16string Number(double n) { return plugin::NumberText(n); }

}  // namespace

ComposeResult Compose(const ComposeRequest& r) {
    ComposeResult result;
    const std::pair<std::u16string_view, const std::u16string*> plain[] = {
        {u"--user", &r.user}, {u"--key-file", &r.keyFile}, {u"--value", &r.value}};
    for (const auto& [option, text] : plain) {
        if (text->find(u'#') != std::u16string::npos) {
            result.error = std::u16string(option) +
                           u" holds a \"#\": the parameter string has no escaping, so the value would be cut there";
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
    const auto protocol = IndexOf(r.protocol, {{u"1", 0}, {u"2", 1}, {u"A", 2}});
    const auto keyType = IndexOf(r.keyType, {{u"RSA", 0}, {u"DSA", 1}});
    const auto comparison = IndexOf(r.comparison, {{u"contains", 0}, {u"not-contains", 1}, {u"less", 2}, {u"greater", 3}});
    const auto returnData = IndexOf(r.returnData, {{u"never", 0}, {u"when-down", 1}, {u"always", 2}});
    if (!protocol) result.error = u"--protocol takes 1, 2 or A";
    else if (!keyType) result.error = u"--key-type takes RSA or DSA";
    else if (!comparison) result.error = u"--operator takes contains, not-contains, less or greater";
    else if (!returnData) result.error = u"--return-data takes never, when-down or always";
    if (!result.error.empty()) return result;
    fields.protocolIndex = *protocol;
    fields.keyTypeIndex = *keyType;
    fields.comparisonIndex = *comparison;
    fields.returnModeIndex = *returnData;

    // A character that the ANSI code page lacks would not survive the Base64 form.
    for (const auto& [option, text] : {std::pair<std::u16string_view, const std::u16string*>{u"--password", &r.password},
                                       {u"--command", &r.command}}) {
        if (modTavrin::DecodeText(modTavrin::EncodeText(*text)) != *text) {
            result.error = std::u16string(option) + u" holds characters that the ANSI code page cannot store";
            return result;
        }
    }

    result.parameter = dialog::ComposeParameterString(fields);
    if (!result.parameter) {
        result.error = u"--port must be a whole number from " + Number(dialog::kPortMinimum) + u" to " +
                       Number(dialog::kPortMaximum);
    }
    return result;
}

std::vector<std::u16string> Describe(std::u16string_view parameter, bool showPassword) {
    std::vector<std::u16string> lines, warnings;
    const auto field = [&](std::u16string_view key) { return Generic::GetField(parameter, key); };
    const auto line = [&](std::u16string_view key, std::u16string_view value, std::u16string_view meaning) {
        lines.push_back(Padded(key, 6) + u"= " + Padded(value, 24) + u"  " + std::u16string(meaning));
    };
    const auto decoded = [&](std::u16string_view key) -> std::optional<std::u16string> {
        try {
            return modTavrin::DecodeText(field(key));
        } catch (const AutomationError& e) {
            warnings.push_back(std::u16string(key) + u" is not valid Base64 (" + e.description() +
                               u"): the check will end with \"ERR: " + e.description() + u"( 0)\"");
            return std::nullopt;
        }
    };

    line(u"ENC", field(u"ENC"), u"marker of the written form (not read by the check)");
    line(u"USR", field(u"USR"), u"user name");

    const auto password = decoded(u"PWD");
    if (!password) {
        line(u"PWD", field(u"PWD"), u"password: not valid Base64");
    } else if (password->empty()) {
        line(u"PWD", u"", u"password: none");
    } else {
        line(u"PWD", showPassword ? *password : std::u16string(password->size(), u'*'),
             u"password (Base64 " + field(u"PWD") + u"), also the key file's pass phrase");
    }

    const std::u16string protocol = field(u"PROTO");
    if (protocol == u"1") {
        line(u"PROTO", protocol, u"SSH protocol 1");
        warnings.push_back(u"PROTO=1 asks for SSH protocol 1, which is not supported: the check will be DOWN");
    } else if (protocol == u"2") {
        line(u"PROTO", protocol, u"SSH protocol 2");
    } else if (protocol == u"A") {
        line(u"PROTO", protocol, u"SSH protocol: automatic (2)");
    } else {
        line(u"PROTO", protocol, u"unknown code, read as A (automatic)");
    }

    const std::u16string portValue = field(u"PORT");
    try {
        const std::int16_t port = plugin::RoundToInteger16(plugin::ReadNumber(portValue));
        const int used = port == 0 ? 22 : port;
        line(u"PORT", portValue, u"TCP port " + Number(used) + (port == 0 ? u" (0 or empty means 22)" : u""));
        if (used < 1) warnings.push_back(u"port " + Number(used) + u" is not a TCP port: the connection will fail");
    } catch (const AutomationError& e) {
        line(u"PORT", portValue, u"TCP port: out of range");
        warnings.push_back(u"PORT " + Quoted(portValue) + u" is outside -32768 to 32767: the check will end with \"ERR: " +
                           e.description() + u"( 0)\"");
    }

    const std::u16string keyFile = field(u"KEYF");
    line(u"KEYF", keyFile, keyFile.empty() ? u"key file: none (password login)" : u"private key file");
    const std::u16string keyType = field(u"KEYT");
    if (keyType == u"RSA" || keyType == u"DSA") {
        line(u"KEYT", keyType, u"key type (the key file decides for Ed25519 and ECDSA keys)");
    } else {
        line(u"KEYT", keyType, u"unknown code, read as RSA");
    }

    const auto command = decoded(u"CMD");
    if (!command) line(u"CMD", field(u"CMD"), u"command: not valid Base64");
    else line(u"CMD", *command, u"command (Base64 " + field(u"CMD") + u")");

    const std::u16string op = field(u"CCO");
    const std::u16string value = field(u"CON");
    const std::array<std::pair<std::u16string_view, std::u16string_view>, 4> operators = {{
        {u"CON", u"UP when the output contains the value"},
        {u"NCO", u"UP when the output does not contain the value"},
        {u"LT", u"UP when the output's number is less than the value"},
        {u"GT", u"UP when the output's number is greater than the value"},
    }};
    std::u16string_view opMeaning = op.empty() ? u"none: no test, UP with the output as the result"
                                               : u"unknown code: no test, UP with the output as the result";
    for (const auto& [code, meaning] : operators) {
        if (code == op) opMeaning = meaning;
    }
    line(u"CCO", op, opMeaning);
    line(u"CON", value, u"comparison value");
    if (value.empty()) warnings.push_back(u"the comparison value is empty: every check is UP with the output as the result");
    if ((op == u"LT" || op == u"GT") && !value.empty() && !plugin::ParseWholeNumber(value)) {
        warnings.push_back(u"the comparison value " + Quoted(value) + u" is not a number; it reads as " +
                           Number(plugin::ReadNumber(value)));
    }
    const std::u16string mode = field(u"RRE");
    const std::u16string_view modeMeaning = mode == u"NO"    ? u"the output is never added to the result"
                                            : mode == u"YED" ? u"the output is added to the result when DOWN"
                                            : mode == u"YEA" ? u"the output is always added to the result"
                                                             : u"unknown code, read as NO (never added)";
    line(u"RRE", mode, modeMeaning);

    if (field(u"USR").empty()) {
        warnings.push_back(u"no user name: the check will end with \"ERR: can't connect to an SSH server without a USERNAME\"");
    } else if (password && password->empty() && keyFile.empty()) {
        warnings.push_back(u"no password and no key file: the check will end with \"ERR: can't connect to an SSH server "
                           u"without a PASSWORD\"");
    }

    // Pieces between "#" that are no field: a "#" inside a value cut it there. And fields that
    // an earlier one hides.
    std::u16string previousKey;
    std::vector<std::u16string> seen;
    std::size_t at = parameter.find(u'#');
    while (at != std::u16string_view::npos) {
        const std::size_t next = parameter.find(u'#', at + 1);
        const std::u16string_view piece = parameter.substr(at + 1, next == std::u16string_view::npos ? std::u16string_view::npos : next - at - 1);
        const std::size_t eq = piece.find(u'=');
        bool isField = eq != std::u16string_view::npos && eq > 0;
        for (std::size_t i = 0; isField && i < eq; ++i) {
            const char16_t c = piece[i];
            isField = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
        }
        if (isField) {
            const std::u16string key = Generic::UpperCase(piece.substr(0, eq));
            bool known = false;
            for (std::u16string_view k : {u"ENC", u"USR", u"PWD", u"PROTO", u"PORT", u"KEYF", u"KEYT", u"CMD", u"CCO", u"CON", u"RRE"}) {
                known = known || k == key;
            }
            if (!known) lines.push_back(Padded(key, 6) + u"= " + Padded(piece.substr(eq + 1), 24) + u"  unknown field, ignored");
            for (const auto& s : seen) {
                if (s == key) warnings.push_back(u"the field " + key + u" appears again; only the first one counts");
            }
            seen.push_back(key);
            previousKey = key;
        } else if (!piece.empty() || (next != std::u16string_view::npos && next + 1 < parameter.size())) {
            warnings.push_back(u"the text " + Quoted(piece) + u" after the value of " +
                               (previousKey.empty() ? std::u16string(u"the start") : previousKey) +
                               u" is no field: a \"#\" in that value cuts it there");
        }
        at = next;
    }

    for (auto& w : warnings) lines.push_back(u"warning: " + w);
    return lines;
}

}  // namespace tavrin::tools
