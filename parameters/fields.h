#pragma once
// The fields of the parameter string, in one table: each field's key, how its value is stored,
// the codes of the list fields with their meanings and their names on tavrin-check's command
// line, and what the dialog writes. The dialog's fill and OK, tavrin-check compose and describe
// (and the check run) take their keys and codes from here; values are read with
// Generic::GetField.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::parameters {

enum class Field {
    Marker,           // ENC
    User,             // USR
    Password,         // PWD
    Protocol,         // PROTO
    Port,             // PORT
    KeyFile,          // KEYF
    KeyType,          // KEYT
    Command,          // CMD
    Comparison,       // CCO: the comparison operator
    ComparisonValue,  // CON
    ReturnMode,       // RRE: the return-data mode
    HostKeys,         // HFP: pinned host keys
    Reuse,            // REUSE: seconds a logged-in connection may be kept for the next check
    Jump,             // JMP: the bastion the server is reached through
    JumpPassword,     // JPW: the bastion's password or its key file's pass phrase
    JumpKeyFile,      // JKF: the bastion's private key file
    JumpHostKeys,     // JFP: pinned host keys of the bastion
    Certificate,      // CERT: an OpenSSH user certificate for the key file
    Credential,       // CRED: a generic credential of the Windows Credential Manager
    ProtectedPassword,  // PWDE: the password encrypted with DPAPI (Base64 of the blob)
};

enum class Storage { Plain, Base64 };

// One code of a list field.
struct FieldCode {
    std::u16string_view code;     // as stored, compared as whole, case-sensitive text
    std::u16string_view option;   // its name on tavrin-check's command line
    std::u16string_view meaning;  // what the check makes of it
};

enum class DialogWrite {
    Kept,     // not edited by the dialog: kept as the opened string has it
    Layout,   // always written, in the fixed layout
    IfGiven,  // edited by the dialog and written after the layout when its box is not empty
};

struct FieldSpec {
    Field field;
    std::u16string_view key;
    Storage storage;
    // What the dialog's OK writes of the field, in the order of the table: the fixed layout
    // first, then the later fields it edits when they are not empty; every other field of the
    // string the dialog was opened with is kept.
    DialogWrite dialogWrite;
    std::u16string_view fixedValue;  // the value OK always writes (ENC), or empty
    std::u16string_view option;      // tavrin-check compose's option, or empty
    std::u16string_view meaning;
    // A list field's codes in the order of the dialog's list; empty for a text field.
    std::span<const FieldCode> codes;
    int indexForOther = 0;              // the list item that any other code selects in the dialog
    std::u16string_view codeForNone;    // what OK writes when no list item is selected
    std::u16string_view otherMeaning;   // what the check makes of any other code
};

// Every field, in the order in which OK writes them (the fields OK does not write last).
std::span<const FieldSpec> Fields();
const FieldSpec& Spec(Field field);
// The field of a key as GetField compares keys (letter case and blanks around it ignored);
// null for a key that is not in the table.
const FieldSpec* FindField(std::u16string_view key);

// The value of a field as the string stores it (GetField), and as it means it: Base64 fields
// decoded. Decoding throws tavrin::AutomationError "Invalid procedure call or argument".
std::u16string StoredValue(std::u16string_view parameterString, Field field);
std::u16string Value(std::u16string_view parameterString, Field field);
// A value in its stored form (Base64 fields encoded).
std::u16string StoredForm(Field field, std::u16string_view value);

// A list field's code and the dialog's list index (see FieldSpec), and the code for a
// command-line name (nullopt when the name is not one of the field's).
int IndexForCode(Field field, std::u16string_view code);
std::u16string CodeForIndex(Field field, int listIndex);
std::optional<std::u16string> CodeForOption(Field field, std::u16string_view option);
// The command-line names of a field's codes for a message: "never, when-down or always".
std::u16string OptionNames(Field field);
// The meaning of a code: the table's, or the field's otherMeaning.
std::u16string_view CodeMeaning(Field field, std::u16string_view code);

// The fields of a stored string as GetField reads them: each "#KEY=" whose key a lookup finds
// at that very place (first occurrence, letter case ignored), in the order of the string. The
// key is kept as written; the value is GetField's. A key is what stands between the "#" and
// the first "=" after it, non-empty and without blanks at its ends.
struct StoredField {
    std::size_t position = 0;  // of the field's "#"
    std::u16string key;
    std::u16string value;
};
std::vector<StoredField> StoredFields(std::u16string_view parameterString);

// Every piece of a stored string between one "#" and the next (the closing "#" starts none),
// for explaining a string: a field GetField reads, a field that an earlier one of the same key
// hides, or text that is no field (a "#" inside a value cut it there).
struct Piece {
    enum class Kind { Field, Hidden, NoField };
    Kind kind = Kind::NoField;
    std::size_t position = 0;  // of its "#"
    std::u16string key;        // for Field and Hidden, as written
    std::u16string text;       // everything after the "#" up to the next "#"
};
std::vector<Piece> Pieces(std::u16string_view parameterString);

// The string with the field `key` set to `value`: the field GetField reads is given the new
// value in place; without one, "#KEY=value" is added at the end and the string closed with "#".
std::u16string WithField(std::u16string_view parameterString, std::u16string_view key, std::u16string_view value);

// The REUSE field's seconds: a whole number from 0 to kLongestReuse, blanks around it allowed;
// empty is 0. nullopt for anything else.
inline constexpr int kLongestReuse = 86400;
std::optional<int> ReuseSeconds(std::u16string_view text);
// Why a REUSE value is refused, for a message: "The REUSE value "x" is not a whole number of
// seconds from 0 to 86400".
std::u16string ReuseProblem(std::u16string_view text);

// The JMP field: "user@host" or "user@host:port" (port 22 when left out), an IPv6 address in
// brackets ("user@[::1]:2222"); the user is what stands before the last "@". An empty value (or
// blanks): no bastion, `jump` unset and no error.
struct JumpHost {
    std::u16string user;
    std::u16string host;
    int port = 22;
    friend bool operator==(const JumpHost&, const JumpHost&) = default;
};
struct JumpParse {
    std::optional<JumpHost> jump;
    std::u16string error;  // set when the value is malformed: the whole message
    bool ok() const { return error.empty(); }
};
JumpParse ParseJump(std::u16string_view text);

// A string of closed fields ("...#") followed by more fields, each "#KEY=value", then "#".
std::u16string WithFieldsAppended(std::u16string_view closedString, const std::vector<StoredField>& fields);

}  // namespace tavrin::parameters
