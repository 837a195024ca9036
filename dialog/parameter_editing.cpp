#include "dialog/parameter_editing.h"

#include "common/numbers.h"
#include "common/text.h"
#include "platform/secret.h"
#include "ssh/host_key_pins.h"

#include <cmath>

namespace tavrin::dialog {

using parameters::Field;

int ProtocolIndexForCode(std::u16string_view code) { return parameters::IndexForCode(Field::Protocol, code); }
std::u16string ProtocolCodeForIndex(int listIndex) { return parameters::CodeForIndex(Field::Protocol, listIndex); }
int KeyTypeIndexForCode(std::u16string_view code) { return parameters::IndexForCode(Field::KeyType, code); }
std::u16string KeyTypeCodeForIndex(int listIndex) { return parameters::CodeForIndex(Field::KeyType, listIndex); }
int ComparisonIndexForCode(std::u16string_view code) { return parameters::IndexForCode(Field::Comparison, code); }
std::u16string ComparisonCodeForIndex(int listIndex) { return parameters::CodeForIndex(Field::Comparison, listIndex); }
int ReturnModeIndexForCode(std::u16string_view code) { return parameters::IndexForCode(Field::ReturnMode, code); }
std::u16string ReturnModeCodeForIndex(int listIndex) { return parameters::CodeForIndex(Field::ReturnMode, listIndex); }

std::u16string PortShownForValue(std::u16string_view storedValue) {
    return tavrin::NumberText(tavrin::ReadNumber(storedValue));
}

std::optional<std::u16string> PortWrittenForText(std::u16string_view portText) {
    const std::optional<double> number = tavrin::ParseWholeNumber(portText);
    if (!number || !std::isfinite(*number) || std::trunc(*number) != *number) return std::nullopt;
    if (*number < kPortMinimum || *number > kPortMaximum) return std::nullopt;
    // Through an integer, so that a negative zero is written as 0.
    return tavrin::NumberText(static_cast<double>(static_cast<int>(*number)));
}

DialogFields FieldsFromParameterString(std::u16string_view parameterString) {
    // Every lookup and both decodings first, so that a value that does not decode leaves
    // nothing half filled.
    const auto value = [&](Field field) { return parameters::Value(parameterString, field); };
    DialogFields fields;
    fields.userName = value(Field::User);
    fields.password = value(Field::Password);
    fields.protocolIndex = ProtocolIndexForCode(value(Field::Protocol));
    fields.port = PortShownForValue(value(Field::Port));
    fields.command = value(Field::Command);
    fields.keyFile = value(Field::KeyFile);
    fields.keyTypeIndex = KeyTypeIndexForCode(value(Field::KeyType));
    fields.comparisonIndex = ComparisonIndexForCode(value(Field::Comparison));
    fields.comparisonValue = value(Field::ComparisonValue);
    fields.returnModeIndex = ReturnModeIndexForCode(value(Field::ReturnMode));
    fields.hostKeys = value(Field::HostKeys);
    fields.reuse = value(Field::Reuse);
    fields.jump = value(Field::Jump);
    fields.jumpPassword = value(Field::JumpPassword);
    fields.jumpKeyFile = value(Field::JumpKeyFile);
    fields.jumpHostKeys = value(Field::JumpHostKeys);
    // The store that the check reads first is the one the string uses.
    fields.credential = value(Field::Credential);
    fields.protectedPassword = value(Field::ProtectedPassword);
    if (!TrimBlanks(fields.credential).empty()) {
        fields.passwordStore = DialogFields::PasswordStore::CredentialManager;
    } else if (!TrimBlanks(fields.protectedPassword).empty()) {
        fields.passwordStore = DialogFields::PasswordStore::ThisComputer;
    }
    return fields;
}

DialogFields::~DialogFields() {
    platform::SecureWipe(password);
    platform::SecureWipe(jumpPassword);
}

std::optional<FieldProblem> ProblemOfFields(const DialogFields& fields) {
    if (!PortWrittenForText(fields.port)) {
        return FieldProblem{FieldProblem::Where::Port, std::u16string(kInvalidPortMessage)};
    }
    if (!TrimBlanks(fields.hostKeys).empty()) {
        const ssh::HostKeyPins pins = ssh::ParseHostKeyPins(fields.hostKeys);
        if (!pins.ok()) return FieldProblem{FieldProblem::Where::HostKeys, u"Host key (HFP): " + pins.error};
    }
    if (!parameters::ReuseSeconds(fields.reuse)) {
        return FieldProblem{FieldProblem::Where::Reuse, parameters::ReuseProblem(fields.reuse)};
    }
    if (const parameters::JumpParse jump = parameters::ParseJump(fields.jump); !jump.ok()) {
        return FieldProblem{FieldProblem::Where::Jump, jump.error};
    }
    if (!TrimBlanks(fields.jumpHostKeys).empty()) {
        const ssh::HostKeyPins pins = ssh::ParseHostKeyPins(fields.jumpHostKeys);
        if (!pins.ok()) {
            return FieldProblem{FieldProblem::Where::JumpHostKeys, u"Bastion host key (JFP): " + pins.error};
        }
    }
    return std::nullopt;
}

std::optional<std::u16string> ComposeParameterString(const DialogFields& fields) {
    const std::optional<std::u16string> port = PortWrittenForText(fields.port);
    if (!port) return std::nullopt;

    // The value OK writes for each field of its layout, before its stored form.
    const auto written = [&](const parameters::FieldSpec& spec) -> std::u16string {
        switch (spec.field) {
            case Field::User: return fields.userName;
            case Field::Password:
                return fields.passwordStore == DialogFields::PasswordStore::InTheString ? fields.password
                                                                                        : std::u16string();
            case Field::Protocol: return ProtocolCodeForIndex(fields.protocolIndex);
            case Field::Port: return *port;
            case Field::KeyFile: return TrimBlanks(fields.keyFile);
            case Field::KeyType: return KeyTypeCodeForIndex(fields.keyTypeIndex);
            case Field::Command: return fields.command;
            case Field::Comparison: return ComparisonCodeForIndex(fields.comparisonIndex);
            case Field::ComparisonValue: return fields.comparisonValue;
            case Field::ReturnMode: return ReturnModeCodeForIndex(fields.returnModeIndex);
            case Field::HostKeys: return TrimBlanks(fields.hostKeys);
            case Field::Reuse: return TrimBlanks(fields.reuse);
            case Field::Jump: return TrimBlanks(fields.jump);
            case Field::JumpPassword: return fields.jumpPassword;
            case Field::JumpKeyFile: return TrimBlanks(fields.jumpKeyFile);
            case Field::JumpHostKeys: return TrimBlanks(fields.jumpHostKeys);
            case Field::Credential:
                return fields.passwordStore == DialogFields::PasswordStore::CredentialManager
                           ? TrimBlanks(fields.credential)
                           : std::u16string();
            case Field::ProtectedPassword:
                return fields.passwordStore == DialogFields::PasswordStore::ThisComputer
                           ? TrimBlanks(fields.protectedPassword)
                           : std::u16string();
            case Field::Certificate:
            case Field::Marker: break;
        }
        return std::u16string(spec.fixedValue);
    };

    // Room for every field at once: a string that grows would leave copies of the password's
    // Base64 behind in the memory it gives up. Every value is overwritten once written.
    std::u16string composed;
    composed.reserve(256 + 2 * (fields.userName.size() + fields.password.size() + fields.keyFile.size() +
                                fields.command.size() + fields.comparisonValue.size() + fields.hostKeys.size() +
                                fields.reuse.size() + fields.jump.size() + fields.jumpPassword.size() +
                                fields.jumpKeyFile.size() + fields.jumpHostKeys.size()));
    for (const parameters::FieldSpec& spec : parameters::Fields()) {
        if (spec.dialogWrite == parameters::DialogWrite::Kept) continue;
        std::u16string value = written(spec);
        if (spec.dialogWrite == parameters::DialogWrite::IfGiven && value.empty()) continue;
        std::u16string stored = parameters::StoredForm(spec.field, value);
        composed += u'#';
        composed += spec.key;
        composed += u'=';
        composed += stored;
        platform::SecureWipe(value);
        platform::SecureWipe(stored);
    }
    composed += u'#';
    return composed;
}

std::vector<parameters::StoredField> FieldsKeptByOk(std::u16string_view openedString) {
    std::vector<parameters::StoredField> kept;
    for (parameters::StoredField& field : parameters::StoredFields(openedString)) {
        const parameters::FieldSpec* spec = parameters::FindField(field.key);
        if (spec == nullptr || spec->dialogWrite == parameters::DialogWrite::Kept) {
            kept.push_back(std::move(field));
        } else {
            platform::SecureWipe(field.value);  // the password's among them
        }
    }
    return kept;
}

std::u16string WithKeptFields(std::u16string_view composed, std::u16string_view openedString) {
    return parameters::WithFieldsAppended(composed, FieldsKeptByOk(openedString));
}

}  // namespace tavrin::dialog
