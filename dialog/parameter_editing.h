#pragma once
// The rules between the parameter string and the dialog's fields: the four code maps, the
// port's number forms, the fill of the fields from a string and the composing of a string
// from the fields, all after the table of fields (parameters/fields.h). Pure: values in,
// values out.

#include "parameters/fields.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::dialog {

// Code to list index (load; exact, case-sensitive; anything else gives the list's default)
// and list index to code (OK; -1, no item selected, gives the list's code for none).
int ProtocolIndexForCode(std::u16string_view code);     // "1" 0, "2" 1, "A" 2; other 2
std::u16string ProtocolCodeForIndex(int listIndex);     // 0 "1", 1 "2", 2 "A"; -1 ""
int KeyTypeIndexForCode(std::u16string_view code);      // "RSA" 0, "DSA" 1; other 0
std::u16string KeyTypeCodeForIndex(int listIndex);      // 0 "RSA", 1 "DSA"; -1 ""
// "CON" 0, "NCO" 1, "LT" 2, "GT" 3, then the later rules "RC" 4, "RE" 5, "NRE" 6; other 0
int ComparisonIndexForCode(std::u16string_view code);
std::u16string ComparisonCodeForIndex(int listIndex);   // the same the other way; -1 "CON"
int ReturnModeIndexForCode(std::u16string_view code);   // "NO" 0, "YED" 1, "YEA" 2; other 0
std::u16string ReturnModeCodeForIndex(int listIndex);   // 0 "NO", 1 "YED", 2 "YEA"; -1 "NO"

// The message with which OK refuses a port that is not a whole number in the 16-bit range.
inline constexpr std::u16string_view kInvalidPortMessage = u"The port must be a number from -32768 to 32767.";

// The range of a port that OK writes: the 16-bit range that the check run accepts.
inline constexpr int kPortMinimum = -32768;
inline constexpr int kPortMaximum = 32767;

// The port as the dialog shows a stored value: its leading number ("22x" gives "22", an
// empty value "0").
std::u16string PortShownForValue(std::u16string_view storedValue);

// The port as OK writes the field's text: the whole text must be a whole number from
// kPortMinimum to kPortMaximum, blanks around it allowed (" 22 " and "022" give "22").
// nullopt when it is not.
std::optional<std::u16string> PortWrittenForText(std::u16string_view portText);

// The dialog's editable fields: texts as typed and the lists' selected indexes (-1: none).
struct DialogFields {
    std::u16string userName;
    std::u16string password;
    int protocolIndex = -1;
    std::u16string port;
    std::u16string keyFile;
    int keyTypeIndex = -1;
    std::u16string command;
    int comparisonIndex = -1;
    std::u16string comparisonValue;
    int returnModeIndex = -1;
    std::u16string hostKeys;  // the HFP value as typed; empty: not written
    std::u16string reuse;     // the REUSE value as typed; empty: not written
    // The bastion's fields as typed (JMP, JPW decoded, JKF, JFP); each empty: not written.
    std::u16string jump;
    std::u16string jumpPassword;
    std::u16string jumpKeyFile;
    std::u16string jumpHostKeys;
    // Where OK keeps the password: in the string (PWD, Base64), encrypted for this computer
    // (PWDE) or in the Windows Credential Manager (CRED, the credential's name). With PWDE or
    // CRED, PWD is written empty; `protectedPassword` is the PWDE value to write (the opened
    // one, or the one made for a password typed anew).
    enum class PasswordStore { InTheString, ThisComputer, CredentialManager };
    PasswordStore passwordStore = PasswordStore::InTheString;
    std::u16string credential;
    std::u16string protectedPassword;
    // The passwords are overwritten when the fields go.
    DialogFields() = default;
    DialogFields(const DialogFields&) = default;
    DialogFields& operator=(const DialogFields&) = default;
    ~DialogFields();
};

// Why OK cannot write the fields: the field to put right and what is wrong with it.
struct FieldProblem {
    enum class Where { Hostname, Port, HostKeys, Reuse, Jump, JumpHostKeys };
    Where where = Where::Port;
    std::u16string message;
};
// The first problem of the fields that OK writes, checked as the check run checks them; nullopt
// when there is none.
std::optional<FieldProblem> ProblemOfFields(const DialogFields& fields);

// The fields for a parameter string: the values as stored, the password and the command
// decoded, the codes mapped to indexes and the port in its number form. Throws
// tavrin::AutomationError when the password or the command does not decode.
DialogFields FieldsFromParameterString(std::u16string_view parameterString);

// The parameter string that OK writes for the fields, every field of the fixed layout in its
// order, then the host keys and REUSE when they are not empty; nullopt when the port text
// cannot be written (PortWrittenForText).
std::optional<std::u16string> ComposeParameterString(const DialogFields& fields);

// The fields of the string the dialog was opened with that OK does not write (pinned host
// keys, fields of other writers), in their order, as GetField reads them.
std::vector<parameters::StoredField> FieldsKeptByOk(std::u16string_view openedString);

// What OK stores: the composed string, then every field that FieldsKeptByOk keeps as
// "#KEY=value", then the closing "#". The composed string alone when nothing is kept.
std::u16string WithKeptFields(std::u16string_view composed, std::u16string_view openedString);

}  // namespace tavrin::dialog
