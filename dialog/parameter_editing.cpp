#include "dialog/parameter_editing.h"

#include "common/text.h"
#include "parameters/codec.h"
#include "parameters/generic.h"
#include "plugin/host_value.h"
#include "plugin/verdict.h"

#include <array>
#include <cmath>
#include <cstddef>

namespace tavrin::dialog {

namespace {

// One list's codes in index order, the index that an unknown code selects and the code that
// no selection writes.
template <std::size_t N>
struct CodeMap {
    std::array<std::u16string_view, N> codes;
    int indexForOther;
    std::u16string_view codeForNone;

    int IndexFor(std::u16string_view code) const {
        for (std::size_t i = 0; i < N; ++i) {
            if (codes[i] == code) return static_cast<int>(i);
        }
        return indexForOther;
    }
    std::u16string CodeFor(int listIndex) const {
        if (listIndex >= 0 && static_cast<std::size_t>(listIndex) < N) {
            return std::u16string(codes[static_cast<std::size_t>(listIndex)]);
        }
        return std::u16string(codeForNone);
    }
};

constexpr CodeMap<3> kProtocolCodes{{u"1", u"2", u"A"}, 2, u""};
constexpr CodeMap<2> kKeyTypeCodes{{u"RSA", u"DSA"}, 0, u""};
constexpr CodeMap<4> kComparisonCodes{{u"CON", u"NCO", u"LT", u"GT"}, 0, u"CON"};
constexpr CodeMap<3> kReturnModeCodes{{u"NO", u"YED", u"YEA"}, 0, u"NO"};

}  // namespace

int ProtocolIndexForCode(std::u16string_view code) { return kProtocolCodes.IndexFor(code); }
std::u16string ProtocolCodeForIndex(int listIndex) { return kProtocolCodes.CodeFor(listIndex); }
int KeyTypeIndexForCode(std::u16string_view code) { return kKeyTypeCodes.IndexFor(code); }
std::u16string KeyTypeCodeForIndex(int listIndex) { return kKeyTypeCodes.CodeFor(listIndex); }
int ComparisonIndexForCode(std::u16string_view code) { return kComparisonCodes.IndexFor(code); }
std::u16string ComparisonCodeForIndex(int listIndex) { return kComparisonCodes.CodeFor(listIndex); }
int ReturnModeIndexForCode(std::u16string_view code) { return kReturnModeCodes.IndexFor(code); }
std::u16string ReturnModeCodeForIndex(int listIndex) { return kReturnModeCodes.CodeFor(listIndex); }

std::u16string PortShownForValue(std::u16string_view storedValue) {
    return plugin::NumberText(plugin::ReadNumber(storedValue));
}

std::optional<std::u16string> PortWrittenForText(std::u16string_view portText) {
    const std::optional<double> number = plugin::ParseWholeNumber(portText);
    if (!number || !std::isfinite(*number) || std::trunc(*number) != *number) return std::nullopt;
    if (*number < kPortMinimum || *number > kPortMaximum) return std::nullopt;
    // Through an integer, so that a negative zero is written as 0.
    return plugin::NumberText(static_cast<double>(static_cast<int>(*number)));
}

DialogFields FieldsFromParameterString(std::u16string_view parameterString) {
    const std::u16string user = Generic::GetField(parameterString, u"USR");
    const std::u16string password = Generic::GetField(parameterString, u"PWD");
    const std::u16string protocol = Generic::GetField(parameterString, u"PROTO");
    const std::u16string port = Generic::GetField(parameterString, u"PORT");
    const std::u16string command = Generic::GetField(parameterString, u"CMD");
    const std::u16string keyFile = Generic::GetField(parameterString, u"KEYF");
    const std::u16string keyType = Generic::GetField(parameterString, u"KEYT");
    const std::u16string comparison = Generic::GetField(parameterString, u"CCO");
    const std::u16string comparisonValue = Generic::GetField(parameterString, u"CON");
    const std::u16string returnMode = Generic::GetField(parameterString, u"RRE");

    DialogFields fields;
    fields.userName = user;
    fields.password = modTavrin::DecodeText(password);
    fields.command = modTavrin::DecodeText(command);
    fields.protocolIndex = ProtocolIndexForCode(protocol);
    fields.port = PortShownForValue(port);
    fields.keyFile = keyFile;
    fields.keyTypeIndex = KeyTypeIndexForCode(keyType);
    fields.comparisonIndex = ComparisonIndexForCode(comparison);
    fields.comparisonValue = comparisonValue;
    fields.returnModeIndex = ReturnModeIndexForCode(returnMode);
    return fields;
}

std::optional<std::u16string> ComposeParameterString(const DialogFields& fields) {
    const std::u16string protocol = ProtocolCodeForIndex(fields.protocolIndex);
    const std::u16string keyType = KeyTypeCodeForIndex(fields.keyTypeIndex);
    const std::u16string comparison = ComparisonCodeForIndex(fields.comparisonIndex);
    const std::u16string returnMode = ReturnModeCodeForIndex(fields.returnModeIndex);
    const std::u16string password = modTavrin::EncodeText(fields.password);
    const std::u16string command = modTavrin::EncodeText(fields.command);
    const std::optional<std::u16string> port = PortWrittenForText(fields.port);
    if (!port) return std::nullopt;
    const std::u16string keyFile = TrimBlanks(fields.keyFile);

    return u"#ENC=T#USR=" + fields.userName + u"#PWD=" + password + u"#PROTO=" + protocol + u"#PORT=" + *port +
           u"#KEYF=" + keyFile + u"#KEYT=" + keyType + u"#" + u"CMD=" + command + u"#" + u"CCO=" + comparison +
           u"#CON=" + fields.comparisonValue + u"#RRE=" + returnMode + u"#";
}

}  // namespace tavrin::dialog
