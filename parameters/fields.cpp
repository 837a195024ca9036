#include "parameters/fields.h"

#include "common/text.h"
#include "parameters/codec.h"
#include "parameters/generic.h"
#include "platform/secret.h"

#include <algorithm>
#include <set>

namespace tavrin::parameters {

namespace {

constexpr FieldCode kProtocolCodes[] = {
    {u"1", u"1", u"SSH protocol 1"},
    {u"2", u"2", u"SSH protocol 2"},
    {u"A", u"A", u"SSH protocol: automatic (2)"},
};
constexpr FieldCode kKeyTypeCodes[] = {
    {u"RSA", u"RSA", u"key type (the key file decides for Ed25519 and ECDSA keys)"},
    {u"DSA", u"DSA", u"key type (the key file decides for Ed25519 and ECDSA keys)"},
};
constexpr FieldCode kComparisonCodes[] = {
    {u"CON", u"contains", u"UP when the output contains the value"},
    {u"NCO", u"not-contains", u"UP when the output does not contain the value"},
    {u"LT", u"less", u"UP when the output's number is less than the value"},
    {u"GT", u"greater", u"UP when the output's number is greater than the value"},
    {u"RC", u"exit-status", u"UP when the command's exit status is the value (empty: 0)"},
    {u"RE", u"matches", u"UP when the output matches the regular expression in the value (PCRE2)"},
    {u"NRE", u"not-matches", u"UP when the output does not match the regular expression in the value (PCRE2)"},
};
constexpr FieldCode kReturnModeCodes[] = {
    {u"NO", u"never", u"the output is never added to the result"},
    {u"YED", u"when-down", u"the output is added to the result when DOWN"},
    {u"YEA", u"always", u"the output is always added to the result"},
};

constexpr FieldSpec kFields[] = {
    {Field::Marker, u"ENC", Storage::Plain, DialogWrite::Layout,
     u"T", u"", u"marker of the written form (not read by the check)",
     {}, 0, u"", u""},
    {Field::User, u"USR", Storage::Plain, DialogWrite::Layout, u"", u"--user", u"user name", {}, 0, u"", u""},
    {Field::Password, u"PWD", Storage::Base64, DialogWrite::Layout,
     u"", u"--password", u"password, also the key file's pass phrase",
     {}, 0, u"", u""},
    {Field::Protocol, u"PROTO", Storage::Plain, DialogWrite::Layout,
     u"", u"--protocol", u"SSH protocol", kProtocolCodes, 2, u"",
     u"unknown code, read as A (automatic)"},
    {Field::Port, u"PORT", Storage::Plain, DialogWrite::Layout, u"", u"--port", u"TCP port", {}, 0, u"", u""},
    {Field::KeyFile, u"KEYF", Storage::Plain, DialogWrite::Layout,
     u"", u"--key-file", u"private key file", {}, 0, u"", u""},
    {Field::KeyType, u"KEYT", Storage::Plain, DialogWrite::Layout,
     u"", u"--key-type", u"key type", kKeyTypeCodes, 0, u"",
     u"unknown code, read as RSA"},
    {Field::Command, u"CMD", Storage::Base64, DialogWrite::Layout, u"", u"--command", u"command", {}, 0, u"", u""},
    {Field::Comparison, u"CCO", Storage::Plain, DialogWrite::Layout,
     u"", u"--operator", u"comparison operator", kComparisonCodes, 0,
     u"CON", u"unknown code: no test, UP with the output as the result"},
    {Field::ComparisonValue, u"CON", Storage::Plain, DialogWrite::Layout,
     u"", u"--value", u"comparison value", {}, 0, u"", u""},
    {Field::ReturnMode, u"RRE", Storage::Plain, DialogWrite::Layout,
     u"", u"--return-data", u"return-data mode", kReturnModeCodes, 0,
     u"NO", u"unknown code, read as NO (never added)"},
    {Field::HostKeys, u"HFP", Storage::Plain, DialogWrite::IfGiven, u"", u"--host-key",
     u"pinned host keys: only these are accepted, known_hosts is not read", {}, 0, u"", u""},
    {Field::Reuse, u"REUSE", Storage::Plain, DialogWrite::IfGiven, u"", u"--reuse",
     u"seconds the logged-in connection may be kept idle for the next check with the same login", {}, 0, u"",
     u""},
    {Field::Jump, u"JMP", Storage::Plain, DialogWrite::IfGiven, u"", u"--jump",
     u"bastion the server is reached through (user@host or user@host:port)", {}, 0, u"", u""},
    {Field::JumpPassword, u"JPW", Storage::Base64, DialogWrite::IfGiven, u"", u"--jump-password",
     u"bastion's password, also its key file's pass phrase", {}, 0, u"", u""},
    {Field::JumpKeyFile, u"JKF", Storage::Plain, DialogWrite::IfGiven, u"", u"--jump-key-file",
     u"bastion's private key file", {}, 0, u"", u""},
    {Field::JumpHostKeys, u"JFP", Storage::Plain, DialogWrite::IfGiven, u"", u"--jump-host-key",
     u"pinned host keys of the bastion: only these are accepted, known_hosts is not read for it", {}, 0, u"",
     u""},
    {Field::Certificate, u"CERT", Storage::Plain, DialogWrite::Kept, u"", u"--certificate",
     u"OpenSSH user certificate offered with the key file", {}, 0, u"", u""},
    // Where else the password may be kept (compose --password-store); the first one given
    // replaces PWD: CRED, then PWDE.
    {Field::Credential, u"CRED", Storage::Plain, DialogWrite::IfGiven, u"", u"",
     u"password (and user name, when set) from this Windows Credential Manager credential", {}, 0, u"", u""},
    {Field::ProtectedPassword, u"PWDE", Storage::Plain, DialogWrite::IfGiven, u"", u"",
     u"password encrypted with DPAPI (this computer's or this account's key)", {}, 0, u"", u""},
};

constexpr bool TableIsInEnumOrder() {
    for (std::size_t i = 0; i < std::size(kFields); ++i) {
        if (static_cast<std::size_t>(kFields[i].field) != i) return false;
    }
    return true;
}
static_assert(TableIsInEnumOrder(), "Spec() indexes the table by the enumeration");

// Where the key of a piece ends: the first "=" before the next "#", or npos.
struct RawPiece {
    std::size_t position;
    std::size_t end;     // the next "#" or the end of the string
    std::size_t equals;  // npos when the piece has no "=" before `end`
};

template <class Visit>
void ForEachRawPiece(std::u16string_view s, Visit visit) {
    std::size_t at = s.find(u'#');
    while (at != std::u16string_view::npos && at + 1 < s.size()) {
        std::size_t end = s.find(u'#', at + 1);
        if (end == std::u16string_view::npos) end = s.size();
        const std::size_t eq = s.substr(at + 1, end - at - 1).find(u'=');
        visit(RawPiece{at, end, eq == std::u16string_view::npos ? eq : at + 1 + eq});
        at = end == s.size() ? std::u16string_view::npos : end;
    }
}

// A key that a lookup can find: GetField trims blanks off the key it is given and searches for
// "#" KEY "=", so a key with blanks at its ends, or an empty one, is never found.
bool IsLookupKey(std::u16string_view key) { return !key.empty() && TrimBlanks(key).size() == key.size(); }

// The texts of pieces or fields made on the way, overwritten when they go: one of them may be
// the password's Base64.
void Wipe(Piece& piece) noexcept { platform::SecureWipe(piece.text); }
void Wipe(StoredField& field) noexcept { platform::SecureWipe(field.value); }
template <class T>
struct WipedTexts {
    std::vector<T>& list;
    ~WipedTexts() {
        for (T& item : list) Wipe(item);
    }
};
template <class T>
WipedTexts(std::vector<T>&) -> WipedTexts<T>;

}  // namespace

std::span<const FieldSpec> Fields() { return kFields; }

const FieldSpec& Spec(Field field) { return kFields[static_cast<std::size_t>(field)]; }

const FieldSpec* FindField(std::u16string_view key) {
    const std::u16string upper = Generic::UpperCase(TrimBlanks(key));
    for (const FieldSpec& spec : kFields) {
        if (spec.key == upper) return &spec;
    }
    return nullptr;
}

std::u16string StoredValue(std::u16string_view parameterString, Field field) {
    return Generic::GetField(parameterString, Spec(field).key);
}

std::u16string Value(std::u16string_view parameterString, Field field) {
    std::u16string stored = StoredValue(parameterString, field);
    if (Spec(field).storage != Storage::Base64) return stored;
    // The stored form of the password is as secret as the password.
    struct Wiped {
        std::u16string& text;
        ~Wiped() { platform::SecureWipe(text); }
    } wiped{stored};
    return modTavrin::DecodeText(stored);
}

std::u16string StoredForm(Field field, std::u16string_view value) {
    if (Spec(field).storage == Storage::Base64) return modTavrin::EncodeText(value);
    return std::u16string(value);
}

int IndexForCode(Field field, std::u16string_view code) {
    const FieldSpec& spec = Spec(field);
    for (std::size_t i = 0; i < spec.codes.size(); ++i) {
        if (spec.codes[i].code == code) return static_cast<int>(i);
    }
    return spec.indexForOther;
}

std::u16string CodeForIndex(Field field, int listIndex) {
    const FieldSpec& spec = Spec(field);
    if (listIndex >= 0 && static_cast<std::size_t>(listIndex) < spec.codes.size()) {
        return std::u16string(spec.codes[static_cast<std::size_t>(listIndex)].code);
    }
    return std::u16string(spec.codeForNone);
}

std::optional<std::u16string> CodeForOption(Field field, std::u16string_view option) {
    for (const FieldCode& c : Spec(field).codes) {
        if (c.option == option) return std::u16string(c.code);
    }
    return std::nullopt;
}

std::u16string OptionNames(Field field) {
    const auto codes = Spec(field).codes;
    std::u16string out;
    for (std::size_t i = 0; i < codes.size(); ++i) {
        if (i > 0) out += i + 1 == codes.size() ? u" or " : u", ";
        out += codes[i].option;
    }
    return out;
}

std::u16string_view CodeMeaning(Field field, std::u16string_view code) {
    for (const FieldCode& c : Spec(field).codes) {
        if (c.code == code) return c.meaning;
    }
    return Spec(field).otherMeaning;
}

std::vector<Piece> Pieces(std::u16string_view s) {
    std::vector<Piece> pieces;
    // Room for every piece from the start: a list that grows moves its pieces, and a short text
    // moved leaves its characters behind in the memory given back.
    pieces.reserve(static_cast<std::size_t>(std::count(s.begin(), s.end(), u'#')));
    // The upper-case keys met so far: GetField finds the first "#KEY=" that matches by upper
    // case, and a piece's key runs to its first "=", so the first piece with a key is where any
    // lookup of that key lands.
    std::set<std::u16string> seen;
    ForEachRawPiece(s, [&](const RawPiece& raw) {
        Piece& piece = pieces.emplace_back();
        piece.position = raw.position;
        piece.text = std::u16string(s.substr(raw.position + 1, raw.end - raw.position - 1));
        if (raw.equals != std::u16string_view::npos) {
            const std::u16string_view key = s.substr(raw.position + 1, raw.equals - raw.position - 1);
            if (IsLookupKey(key)) {
                piece.key = std::u16string(key);
                piece.kind = seen.insert(Generic::UpperCase(key)).second ? Piece::Kind::Field : Piece::Kind::Hidden;
            }
        }
    });
    return pieces;
}

std::vector<StoredField> StoredFields(std::u16string_view s) {
    std::vector<Piece> pieces = Pieces(s);
    const WipedTexts wiped{pieces};
    std::vector<StoredField> fields;
    fields.reserve(pieces.size());
    for (Piece& piece : pieces) {
        if (piece.kind != Piece::Kind::Field) continue;
        StoredField& field = fields.emplace_back();
        field.position = piece.position;
        field.value = std::u16string(std::u16string_view(piece.text).substr(piece.key.size() + 1));
        field.key = std::move(piece.key);
    }
    return fields;
}

std::u16string WithField(std::u16string_view s, std::u16string_view key, std::u16string_view value) {
    const std::u16string upperKey = Generic::UpperCase(TrimBlanks(key));
    std::vector<StoredField> fields = StoredFields(s);
    const WipedTexts wiped{fields};
    // Each result is sized before it is written: a string that grows leaves copies of the
    // shorter one (and of the password's Base64 in it) in the memory given back.
    for (const StoredField& field : fields) {
        if (Generic::UpperCase(field.key) != upperKey) continue;
        const std::size_t start = field.position + 1 + field.key.size() + 1;
        std::u16string out;
        out.reserve(s.size() - field.value.size() + value.size());
        out += s.substr(0, start);
        out += value;
        out += s.substr(start + field.value.size());
        return out;
    }
    const std::u16string trimmedKey = TrimBlanks(key);
    std::u16string out;
    out.reserve(s.size() + trimmedKey.size() + value.size() + 3);
    out += s;
    if (out.empty() || out.back() != u'#') out += u'#';
    out += trimmedKey;
    out += u'=';
    out += value;
    out += u'#';
    return out;
}

std::u16string WithFieldsAppended(std::u16string_view closedString, const std::vector<StoredField>& fields) {
    if (fields.empty()) return std::u16string(closedString);
    // The closing "#" of the string is the opening "#" of the first field added.
    std::size_t size = closedString.size() + 1;
    for (const StoredField& field : fields) size += field.key.size() + field.value.size() + 2;
    std::u16string out;
    out.reserve(size);
    out += closedString;
    if (out.empty() || out.back() != u'#') out += u'#';
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += u'#';
        out += fields[i].key;
        out += u'=';
        out += fields[i].value;
    }
    out += u'#';
    return out;
}

std::u16string ReuseProblem(std::u16string_view text) {
    return u"The REUSE value \"" + std::u16string(text) + u"\" is not a whole number of seconds from 0 to " +
           FromUtf8(std::to_string(kLongestReuse));
}

std::optional<int> ReuseSeconds(std::u16string_view text) {
    const std::u16string trimmed = TrimBlanks(text);
    if (trimmed.empty()) return 0;
    if (trimmed.size() > 6) return std::nullopt;
    int seconds = 0;
    for (const char16_t c : trimmed) {
        if (c < u'0' || c > u'9') return std::nullopt;
        seconds = seconds * 10 + (c - u'0');
    }
    if (seconds > kLongestReuse) return std::nullopt;
    return seconds;
}

}  // namespace tavrin::parameters

namespace tavrin::parameters {

JumpParse ParseJump(std::u16string_view text) {
    JumpParse parsed;
    const std::u16string value = TrimBlanks(text);
    if (value.empty()) return parsed;
    const auto refuse = [&](std::u16string_view why) {
        parsed.error = u"The bastion (JMP) \"" + value + u"\" is not user@host or user@host:port: " + std::u16string(why);
        return parsed;
    };
    const std::size_t at = value.rfind(u'@');
    if (at == std::u16string::npos) return refuse(u"no user name before an \"@\"");
    JumpHost jump;
    jump.user = value.substr(0, at);
    std::u16string_view rest = std::u16string_view(value).substr(at + 1);
    if (jump.user.empty()) return refuse(u"no user name before the \"@\"");
    std::u16string_view portText;
    bool havePort = false;
    if (!rest.empty() && rest.front() == u'[') {
        const std::size_t close = rest.find(u']');
        if (close == std::u16string_view::npos) return refuse(u"no \"]\" after the IPv6 address");
        jump.host = std::u16string(rest.substr(1, close - 1));
        const std::u16string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != u':') return refuse(u"text after the \"]\" that is not \":port\"");
            portText = after.substr(1);
            havePort = true;
        }
        if (jump.host.find(u':') == std::u16string::npos) return refuse(u"brackets hold no IPv6 address");
    } else {
        const std::size_t colon = rest.find(u':');
        if (colon != std::u16string_view::npos && rest.find(u':', colon + 1) == std::u16string_view::npos) {
            jump.host = std::u16string(rest.substr(0, colon));
            portText = rest.substr(colon + 1);
            havePort = true;
        } else {
            jump.host = std::u16string(rest);  // a host name, or an IPv6 address without a port
        }
    }
    if (jump.host.empty()) return refuse(u"no host name after the \"@\"");
    for (const char16_t c : jump.host) {
        if (c <= u' ' || c == u'@' || c == u'[' || c == u']' || c == u'/' || c == u'\\' || c == 0x7F) {
            return refuse(u"the host name holds a blank or a character no host name has");
        }
    }
    for (const char16_t c : jump.user) {
        if (c < u' ' || c == 0x7F) return refuse(u"the user name holds a control character");
    }
    if (havePort) {
        int port = 0;
        if (portText.empty() || portText.size() > 5) return refuse(u"the port is not a number from 1 to 65535");
        for (const char16_t c : portText) {
            if (c < u'0' || c > u'9') return refuse(u"the port is not a number from 1 to 65535");
            port = port * 10 + (c - u'0');
        }
        if (port < 1 || port > 65535) return refuse(u"the port is not a number from 1 to 65535");
        jump.port = port;
    }
    parsed.jump = std::move(jump);
    return parsed;
}

}  // namespace tavrin::parameters
