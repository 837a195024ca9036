#pragma once
// A failure as the automation runtime reports it: an error number and a description.
// The COM boundary turns it into an HRESULT (0x800A0000 | number) with error information;
// the check run puts its description into "ERR: <description>( 0)".

#include <cstdint>
#include <exception>
#include <string>

namespace tavrin {

class AutomationError : public std::exception {
public:
    AutomationError(std::int32_t number, std::u16string description);

    std::int32_t number() const noexcept { return number_; }
    const std::u16string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    std::int32_t number_;
    std::u16string description_;
    std::string utf8_;
};

// The classic automation error numbers and their texts.
namespace errors {
inline constexpr std::int32_t kInvalidProcedureCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kFileNotFound = 53;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
inline constexpr std::int32_t kObjectDoesntSupport = 438;
// Errors of our own components (the SSH layer, the check run) use this number.
inline constexpr std::int32_t kComponentFailure = 0x7FFF;

AutomationError InvalidProcedureCall();  // "Invalid procedure call or argument"
AutomationError Overflow();              // "Overflow"
AutomationError TypeMismatch();          // "Type mismatch"
AutomationError InvalidUseOfNull();      // "Invalid use of Null"
AutomationError ComponentFailure(std::u16string description);
}  // namespace errors

}  // namespace tavrin
