#pragma once
// Module Generic: reading the fields of a parameter string. (The module's other member, the
// dialog result, belongs to the configuration dialog: dialog/dialog_result.h.)
//
// A parameter string is a chain of fields "#KEY=value", closed by one more "#", e.g.
//   #ENC=T#USR=admin#PWD=c2VjcmV0#PROTO=A#PORT=22#KEYF=#KEYT=RSA#CMD=ZGYgLWs=#CCO=CON#CON=/#RRE=NO#
// There is no escaping: a value is the raw text up to the next "#".

#include <string>
#include <string_view>

namespace Generic {

// The value of the first field "#KEY=" (key compared without regard to case, blanks around the
// key ignored), up to the next "#" or the end, taken from the original string with its case.
// The empty text when there is no such field. Never fails.
std::u16string GetField(std::u16string_view parameterString, std::u16string_view key);

// Upper case of each UTF-16 unit by the one-to-one mapping, so the length never changes.
char16_t UpperCaseUnit(char16_t unit);
std::u16string UpperCase(std::u16string_view text);

}  // namespace Generic
