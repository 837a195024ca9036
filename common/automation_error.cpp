#include "common/automation_error.h"

#include "common/text.h"

#include <utility>

namespace tavrin {

AutomationError::AutomationError(std::int32_t number, std::u16string description)
    : number_(number), description_(std::move(description)), utf8_(ToUtf8(description_)) {}

namespace errors {
AutomationError InvalidProcedureCall() {
    return {kInvalidProcedureCall, u"Invalid procedure call or argument"};
}
AutomationError Overflow() { return {kOverflow, u"Overflow"}; }
AutomationError TypeMismatch() { return {kTypeMismatch, u"Type mismatch"}; }
AutomationError InvalidUseOfNull() { return {kInvalidUseOfNull, u"Invalid use of Null"}; }
AutomationError ComponentFailure(std::u16string description) {
    return {kComponentFailure, std::move(description)};
}
}  // namespace errors

}  // namespace tavrin
