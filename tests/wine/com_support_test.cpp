// The conversions and the error reporting of the COM boundary, without the DLL.

#include "common/automation_error.h"
#include "plugin/com/com_handles.h"
#include "plugin/com/error_info.h"
#include "plugin/com/variant_value.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <new>
#include <optional>
#include <stdexcept>

namespace tavrin::com {
namespace {

using Microsoft::WRL::ComPtr;

Variant Make(const std::function<void(VARIANT&)>& fill) {
    Variant v;
    fill(*v.address());
    return v;
}

Variant Text(const wchar_t* text) {
    return Make([&](VARIANT& v) {
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = ::SysAllocString(text);
    });
}

// The automation error number that a conversion threw, or nullopt for none.
template <class Conversion>
std::optional<std::int32_t> FailureNumber(Conversion&& convert) {
    try {
        convert();
    } catch (const AutomationError& e) {
        return e.number();
    }
    return std::nullopt;
}

struct IntegerCase {
    const char* name;
    std::function<void(VARIANT&)> fill;
    std::int16_t expected;             // when no failure
    std::optional<std::int32_t> failure;  // the automation error number
};

void PrintTo(const IntegerCase& c, std::ostream* os) { *os << c.name; }

class TimeoutConversion : public testing::TestWithParam<IntegerCase> {};

TEST_P(TimeoutConversion, ToInteger16) {
    const auto& c = GetParam();
    const Variant value = Make(c.fill);
    if (c.failure) {
        EXPECT_EQ(c.failure, FailureNumber([&] { ToInteger16(value.get()); }));
    } else {
        EXPECT_EQ(c.expected, ToInteger16(value.get()));
    }
}

const IntegerCase kIntegerCases[] = {
    {"empty", [](VARIANT& v) { V_VT(&v) = VT_EMPTY; }, 0, std::nullopt},
    {"integer", [](VARIANT& v) { V_VT(&v) = VT_I2; V_I2(&v) = -32768; }, -32768, std::nullopt},
    {"long", [](VARIANT& v) { V_VT(&v) = VT_I4; V_I4(&v) = 30; }, 30, std::nullopt},
    {"half_down_to_even", [](VARIANT& v) { V_VT(&v) = VT_R8; V_R8(&v) = 2.5; }, 2, std::nullopt},
    {"half_up_to_even", [](VARIANT& v) { V_VT(&v) = VT_R8; V_R8(&v) = 3.5; }, 4, std::nullopt},
    {"negative_half", [](VARIANT& v) { V_VT(&v) = VT_R8; V_R8(&v) = -0.5; }, 0, std::nullopt},
    {"boolean_true", [](VARIANT& v) { V_VT(&v) = VT_BOOL; V_BOOL(&v) = VARIANT_TRUE; }, -1, std::nullopt},
    {"text_number", [](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = ::SysAllocString(L" 45 "); }, 45, std::nullopt},
    {"text_no_number", [](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = ::SysAllocString(L"abc"); }, 0,
     errors::kTypeMismatch},
    {"empty_text", [](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = ::SysAllocString(L""); }, 0,
     errors::kTypeMismatch},
    {"too_big", [](VARIANT& v) { V_VT(&v) = VT_I4; V_I4(&v) = 32768; }, 0, errors::kOverflow},
    {"too_big_text", [](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = ::SysAllocString(L"40000"); }, 0,
     errors::kOverflow},
    {"null", [](VARIANT& v) { V_VT(&v) = VT_NULL; }, 0, errors::kInvalidUseOfNull},
};

INSTANTIATE_TEST_SUITE_P(Values, TimeoutConversion, testing::ValuesIn(kIntegerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextConversion, EmptyNumbersTextsAndNull) {
    EXPECT_EQ(u"", ToText(Variant().get()));
    EXPECT_EQ(u"", ToText(Make([](VARIANT& v) { V_VT(&v) = VT_BSTR; V_BSTR(&v) = nullptr; }).get()));
    EXPECT_EQ(u"30", ToText(Make([](VARIANT& v) { V_VT(&v) = VT_I4; V_I4(&v) = 30; }).get()));
    EXPECT_EQ(u"-7", ToText(Make([](VARIANT& v) { V_VT(&v) = VT_I2; V_I2(&v) = -7; }).get()));
    EXPECT_EQ(u"host \u00e9\U0001F600", ToText(Text(L"host \u00e9\U0001F600").get()));
    EXPECT_EQ(errors::kInvalidUseOfNull, FailureNumber([] { ToText(Make([](VARIANT& v) { V_VT(&v) = VT_NULL; }).get()); }));
}

TEST(VariantValueStore, CopiesDereferencesAndKeepsTheOldValueOnFailure) {
    VariantValue property;
    EXPECT_EQ(VT_EMPTY, V_VT(&property.get()));
    property.StoreText(u"first");
    ASSERT_EQ(VT_BSTR, V_VT(&property.get()));
    EXPECT_EQ(u"first", ToU16(V_BSTR(&property.get())));

    SHORT number = 12;
    Variant byRef = Make([&](VARIANT& v) {
        V_VT(&v) = VT_I2 | VT_BYREF;
        V_I2REF(&v) = &number;
    });
    property.Store(byRef.get());
    number = 13;
    ASSERT_EQ(VT_I2, V_VT(&property.get()));
    EXPECT_EQ(12, V_I2(&property.get()));

    const Variant bad = Make([](VARIANT& v) { V_VT(&v) = 0x7FF; });
    EXPECT_THROW(property.Store(bad.get()), HResultError);
    ASSERT_EQ(VT_I2, V_VT(&property.get()));
    EXPECT_EQ(12, V_I2(&property.get()));

    Variant copy;
    property.CopyTo(copy.put());
    EXPECT_EQ(VT_I2, copy.type());
}

// What each kind of failure becomes at the boundary: its HRESULT and the description that the
// caller finds in the thread's error information.
struct ReportCase {
    const char* name;
    std::function<void()> fail;
    HRESULT hr;
    const wchar_t* description;
};

void PrintTo(const ReportCase& c, std::ostream* os) { *os << c.name; }

class FailureReport : public testing::TestWithParam<ReportCase> {};

TEST_P(FailureReport, HResultAndErrorInfo) {
    const auto& c = GetParam();
    const HRESULT hr = Guarded(IID_IDispatch, [&] {
        c.fail();
        return S_OK;
    });
    EXPECT_EQ(c.hr, hr);
    ComPtr<IErrorInfo> info;
    ASSERT_EQ(S_OK, ::GetErrorInfo(0, &info));
    Bstr description;
    ASSERT_EQ(S_OK, info->GetDescription(description.put()));
    EXPECT_EQ(std::wstring(c.description), std::wstring(description.get(), description.size()));
    Bstr source;
    ASSERT_EQ(S_OK, info->GetSource(source.put()));
    EXPECT_EQ(std::wstring(L"comTavrin.TavrinCom"), std::wstring(source.get(), source.size()));
    GUID guid{};
    ASSERT_EQ(S_OK, info->GetGUID(&guid));
    EXPECT_TRUE(IsEqualGUID(IID_IDispatch, guid));
}

const ReportCase kReportCases[] = {
    {"invalid_use_of_null", [] { throw errors::InvalidUseOfNull(); }, static_cast<HRESULT>(0x800A005E),
     L"Invalid use of Null"},
    {"type_mismatch", [] { throw errors::TypeMismatch(); }, static_cast<HRESULT>(0x800A000D), L"Type mismatch"},
    {"component", [] { throw errors::ComponentFailure(u"no key file"); }, static_cast<HRESULT>(0x800A7FFF),
     L"no key file"},
    {"hresult_number", [] { throw AutomationError(static_cast<std::int32_t>(0x80004005), u"failed"); },
     static_cast<HRESULT>(0x80004005), L"failed"},
    {"platform_call", [] { throw HResultError(DISP_E_BADVARTYPE, u"bad type"); }, DISP_E_BADVARTYPE, L"bad type"},
    {"out_of_memory", [] { throw std::bad_alloc(); }, E_OUTOFMEMORY, L"Out of memory"},
    {"other_exception", [] { throw std::runtime_error("boom"); }, E_UNEXPECTED, L"Unexpected failure: boom"},
    {"not_an_exception", [] { throw 42; }, E_UNEXPECTED, L"Unexpected failure"},
};

INSTANTIATE_TEST_SUITE_P(Kinds, FailureReport, testing::ValuesIn(kReportCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FailureReportClean, SuccessLeavesNoStaleErrorInfo) {
    (void)Guarded(IID_IDispatch, []() -> HRESULT { throw errors::Overflow(); });
    EXPECT_EQ(S_OK, Guarded(IID_IDispatch, [] { return S_OK; }));
    ComPtr<IErrorInfo> info;
    EXPECT_EQ(S_FALSE, ::GetErrorInfo(0, &info));
}

}  // namespace
}  // namespace tavrin::com
