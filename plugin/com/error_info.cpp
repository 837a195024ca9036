#include "plugin/com/error_info.h"

#include "common/automation_error.h"
#include "common/text.h"
#include "platform/win32_text.h"
#include "plugin/com/com_handles.h"

#include <wrl/client.h>

#include <new>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace tavrin::com {

namespace {
constexpr wchar_t kErrorSource[] = L"comTavrin.TavrinCom";
}  // namespace

HResultError::HResultError(HRESULT hr, std::u16string description)
    : hr_(hr), description_(std::move(description)), utf8_(ToUtf8(description_)) {}

std::u16string DescribeHResult(HRESULT hr) {
    return platform::win32::SystemErrorText(static_cast<DWORD>(hr), u"Automation error");
}

void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) {
        if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
        throw HResultError(hr, DescribeHResult(hr));
    }
}

HRESULT HResultOfErrorNumber(std::int32_t number) noexcept {
    if (number < 0) return static_cast<HRESULT>(number);
    if (number == 0 || number > 0xFFFF) return E_FAIL;
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(number));
}

void SetAutomationErrorInfo(const IID& iid, const std::u16string& description) noexcept {
    try {
        ComPtr<ICreateErrorInfo> create;
        if (FAILED(::CreateErrorInfo(&create))) return;
        const std::wstring wide = ToWide(description);
        create->SetGUID(iid);
        create->SetSource(const_cast<LPOLESTR>(kErrorSource));
        create->SetDescription(const_cast<LPOLESTR>(wide.c_str()));
        ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info))) ::SetErrorInfo(0, info.Get());
    } catch (...) {
        // Without memory for the description the caller still gets the failing HRESULT.
    }
}

HRESULT ReportCurrentException(const IID& iid) noexcept {
    try {
        throw;
    } catch (const AutomationError& e) {
        SetAutomationErrorInfo(iid, e.description());
        return HResultOfErrorNumber(e.number());
    } catch (const HResultError& e) {
        SetAutomationErrorInfo(iid, e.description());
        return e.hr();
    } catch (const std::bad_alloc&) {
        SetAutomationErrorInfo(iid, u"Out of memory");
        return E_OUTOFMEMORY;
    } catch (const std::exception& e) {
        try {
            SetAutomationErrorInfo(iid, u"Unexpected failure: " + FromUtf8(e.what()));
        } catch (...) {
            SetAutomationErrorInfo(iid, u"Unexpected failure");
        }
        return E_UNEXPECTED;
    } catch (...) {
        SetAutomationErrorInfo(iid, u"Unexpected failure");
        return E_UNEXPECTED;
    }
}

}  // namespace tavrin::com
