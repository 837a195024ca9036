#pragma once
// Failures at the COM boundary: every interface method runs its body through Guarded, which
// turns any exception into a failing HRESULT and the thread's automation error information
// (SetErrorInfo), so that a script host shows the description as Err.Description.

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <exception>
#include <string>

namespace tavrin::com {

// A failed platform call: its HRESULT and a description of it.
class HResultError : public std::exception {
public:
    HResultError(HRESULT hr, std::u16string description);
    HRESULT hr() const noexcept { return hr_; }
    const std::u16string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    HRESULT hr_;
    std::u16string description_;
    std::string utf8_;
};

// The system's text for an HRESULT ("Automation error" when it has none).
std::u16string DescribeHResult(HRESULT hr);

// Throws HResultError for a failing HRESULT.
void ThrowIfFailed(HRESULT hr);

// The HRESULT of an automation error number: 0x800A0000 | number for the classic numbers
// (1 to 65535); a number that is itself a failing HRESULT stands for itself.
HRESULT HResultOfErrorNumber(std::int32_t number) noexcept;

// Must be called inside a catch handler. Sets the thread's error information from the
// exception in flight and returns its HRESULT:
//   tavrin::AutomationError -> 0x800A0000 | number, its description;
//   HResultError            -> its HRESULT and description;
//   std::bad_alloc          -> E_OUTOFMEMORY, "Out of memory";
//   anything else           -> E_UNEXPECTED, with what() when there is one.
HRESULT ReportCurrentException(const IID& iid) noexcept;

// Sets the thread's error information (source "comTavrin.TavrinCom").
void SetAutomationErrorInfo(const IID& iid, const std::u16string& description) noexcept;

// Runs body (returning HRESULT) and turns any exception into ReportCurrentException's result.
// Clears the thread's error information first, so a caller never sees a stale one.
template <class Body>
HRESULT Guarded(const IID& iid, Body&& body) noexcept {
    try {
        ::SetErrorInfo(0, nullptr);
        return body();
    } catch (...) {
        return ReportCurrentException(iid);
    }
}

}  // namespace tavrin::com
