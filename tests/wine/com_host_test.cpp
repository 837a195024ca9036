// The DLL as a COM host sees it: the type library, the class object and the module count,
// the properties through the vtable and through IDispatch, error information and lifetime.

#include "common/version.h"
#include "tests/wine/com_test_support.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <psapi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tavrin::comtest {
namespace {

class ComEnvironment final : public testing::Environment {
public:
    void SetUp() override { apartment_ = std::make_unique<Apartment>(); }
    void TearDown() override { apartment_.reset(); }

private:
    std::unique_ptr<Apartment> apartment_;
};
[[maybe_unused]] testing::Environment* const kEnvironment = testing::AddGlobalTestEnvironment(new ComEnvironment);

const ComDll& Dll() {
    static const ComDll dll;
    return dll;
}

constexpr std::size_t kDispatchSlots = 7;  // IUnknown and IDispatch before the interface's own

// ---------------------------------------------------------------- type library

struct SlotExpectation {
    const wchar_t* name;
    MEMBERID id;
    INVOKEKIND kind;
    VARTYPE type;  // of the one parameter; VT_EMPTY: none
    bool retval;   // the parameter is [out, retval] type*
};

constexpr std::array<SlotExpectation, 15> kSlots{{
    {L"sa_docheck", 0x60030004, INVOKE_FUNC, VT_BOOL, true},
    {L"sa_showGUI", 0x60030005, INVOKE_FUNC, VT_EMPTY, false},
    {L"sa_result", 0x68030003, INVOKE_PROPERTYPUT, VT_VARIANT, false},
    {L"sa_result", 0x68030003, INVOKE_PROPERTYPUTREF, VT_VARIANT, false},
    {L"sa_result", 0x68030003, INVOKE_PROPERTYGET, VT_VARIANT, true},
    {L"sa_parameter", 0x68030002, INVOKE_PROPERTYPUT, VT_VARIANT, false},
    {L"sa_parameter", 0x68030002, INVOKE_PROPERTYPUTREF, VT_VARIANT, false},
    {L"sa_parameter", 0x68030002, INVOKE_PROPERTYGET, VT_VARIANT, true},
    {L"sa_timeout", 0x68030001, INVOKE_PROPERTYPUT, VT_VARIANT, false},
    {L"sa_timeout", 0x68030001, INVOKE_PROPERTYPUTREF, VT_VARIANT, false},
    {L"sa_timeout", 0x68030001, INVOKE_PROPERTYGET, VT_VARIANT, true},
    {L"sa_hostname", 0x68030000, INVOKE_PROPERTYPUT, VT_VARIANT, false},
    {L"sa_hostname", 0x68030000, INVOKE_PROPERTYPUTREF, VT_VARIANT, false},
    {L"sa_hostname", 0x68030000, INVOKE_PROPERTYGET, VT_VARIANT, true},
    {L"SetResource", 0x60030008, INVOKE_FUNC, VT_BSTR, false},
}};

ComPtr<ITypeLib> LoadLibraryOfDll() {
    ComPtr<ITypeLib> library;
    EXPECT_EQ(S_OK, ::LoadTypeLibEx(DllPath().c_str(), REGKIND_NONE, &library));
    return library;
}

std::wstring NameOf(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr))) return {};
    std::wstring text = name;
    ::SysFreeString(name);
    return text;
}

TEST(TypeLibrary, IdentityVersionAndHelpFile) {
    const auto library = LoadLibraryOfDll();
    ASSERT_TRUE(library);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_comTavrin));
    EXPECT_EQ(1, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    library->ReleaseTLibAttr(attr);

    BSTR name = nullptr;
    BSTR helpFile = nullptr;
    ASSERT_EQ(S_OK, library->GetDocumentation(-1, &name, nullptr, nullptr, &helpFile));
    EXPECT_STREQ(L"comTavrin", name);
    ASSERT_NE(nullptr, helpFile);
    const std::wstring help = helpFile;
    EXPECT_EQ(L"comTavrin.chm", help.substr(help.size() - std::min<std::size_t>(help.size(), 13)));
    ::SysFreeString(name);
    ::SysFreeString(helpFile);
}

TEST(TypeLibrary, InterfaceIsHiddenDualNonextensibleAutomation) {
    const auto library = LoadLibraryOfDll();
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID__TavrinCom, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_DISPATCH, attr->typekind);
    const WORD wanted = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    EXPECT_EQ(wanted, attr->wTypeFlags & wanted);
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(L"_TavrinCom", NameOf(info.Get(), MEMBERID_NIL));
}

// The vtable half: fifteen slots after IDispatch's seven, in the published order, with their
// member ids, kinds and parameter types.
TEST(TypeLibrary, VtableSlotsInOrderWithIdsAndParameterTypes) {
    const auto library = LoadLibraryOfDll();
    ComPtr<ITypeInfo> dispatchInfo;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(IID__TavrinCom, &dispatchInfo));
    HREFTYPE vtableRef = 0;
    ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableRef));
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatchInfo->GetRefTypeInfo(vtableRef, &info));

    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_INTERFACE, attr->typekind);
    const WORD wanted = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(wanted, attr->wTypeFlags & wanted);
    EXPECT_TRUE(IsEqualGUID(IID__TavrinCom, attr->guid));
    ASSERT_EQ(kSlots.size(), attr->cFuncs);
    EXPECT_EQ((kDispatchSlots + kSlots.size()) * sizeof(void*), attr->cbSizeVft);
    info->ReleaseTypeAttr(attr);

    for (UINT i = 0; i < kSlots.size(); ++i) {
        const auto& want = kSlots[i];
        SCOPED_TRACE(testing::Message() << "slot " << (i + 1));
        FUNCDESC* func = nullptr;
        ASSERT_EQ(S_OK, info->GetFuncDesc(i, &func));
        EXPECT_EQ(want.id, func->memid);
        EXPECT_EQ(want.kind, func->invkind);
        EXPECT_EQ(FUNC_PUREVIRTUAL, func->funckind);
        EXPECT_EQ(static_cast<SHORT>((kDispatchSlots + i) * sizeof(void*)), func->oVft);
        EXPECT_EQ(VT_HRESULT, func->elemdescFunc.tdesc.vt);
        EXPECT_EQ(want.name, NameOf(info.Get(), func->memid));
        if (want.type == VT_EMPTY) {
            EXPECT_EQ(0, func->cParams);
        } else if (func->cParams == 1) {
            const ELEMDESC& param = func->lprgelemdescParam[0];
            if (want.retval) {
                EXPECT_EQ(VT_PTR, param.tdesc.vt);
                ASSERT_NE(nullptr, param.tdesc.lptdesc);
                EXPECT_EQ(want.type, param.tdesc.lptdesc->vt);
                EXPECT_EQ(PARAMFLAG_FOUT | PARAMFLAG_FRETVAL, param.paramdesc.wParamFlags);
            } else {
                EXPECT_EQ(want.type, param.tdesc.vt);
                EXPECT_EQ(PARAMFLAG_FIN, param.paramdesc.wParamFlags);
            }
        } else {
            ADD_FAILURE() << "expected one parameter, found " << func->cParams;
        }
        info->ReleaseFuncDesc(func);
    }

    // SetResource's parameter is called s.
    std::array<BSTR, 2> names{};
    UINT count = 0;
    ASSERT_EQ(S_OK, info->GetNames(0x60030008, names.data(), static_cast<UINT>(names.size()), &count));
    ASSERT_EQ(2u, count);
    EXPECT_STREQ(L"s", names[1]);
    for (UINT i = 0; i < count; ++i) ::SysFreeString(names[i]);
}

TEST(TypeLibrary, CoclassIsCreatableWithTheInterfaceAsDefault) {
    const auto library = LoadLibraryOfDll();
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, library->GetTypeInfoOfGuid(CLSID_TavrinCom, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_EQ(TKIND_COCLASS, attr->typekind);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_FALSE(attr->wTypeFlags & TYPEFLAG_FAPPOBJECT);
    EXPECT_EQ(1, attr->cImplTypes);
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(L"TavrinCom", NameOf(info.Get(), MEMBERID_NIL));

    INT flags = 0;
    ASSERT_EQ(S_OK, info->GetImplTypeFlags(0, &flags));
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
    EXPECT_FALSE(flags & IMPLTYPEFLAG_FSOURCE);
    HREFTYPE ref = 0;
    ASSERT_EQ(S_OK, info->GetRefTypeOfImplType(0, &ref));
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(S_OK, info->GetRefTypeInfo(ref, &implemented));
    TYPEATTR* implAttr = nullptr;
    ASSERT_EQ(S_OK, implemented->GetTypeAttr(&implAttr));
    EXPECT_TRUE(IsEqualGUID(IID__TavrinCom, implAttr->guid));
    implemented->ReleaseTypeAttr(implAttr);
}

TEST(DllFile, VersionResourceCarriesTheVersionAndTheSelfRegistrationMarker) {
    const std::wstring path = DllPath();
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<unsigned char> data(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const DWORD wantMs = (TAVRIN_VERSION_MAJOR << 16) | TAVRIN_VERSION_MINOR;
    const DWORD wantLs = (TAVRIN_VERSION_BUILD << 16) | TAVRIN_VERSION_REVISION;
    EXPECT_EQ(wantMs, fixed->dwFileVersionMS);
    EXPECT_EQ(wantLs, fixed->dwFileVersionLS);
    EXPECT_EQ(wantMs, fixed->dwProductVersionMS);
    EXPECT_EQ(wantLs, fixed->dwProductVersionLS);
    EXPECT_EQ(0x0001'0000u, wantMs);  // 1.0.0.10
    EXPECT_EQ(0x0000'000Au, wantLs);
    EXPECT_EQ(static_cast<DWORD>(VFT_DLL), fixed->dwFileType);

    void* value = nullptr;
    EXPECT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\OLESelfRegister", &value, &length));
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion", &value, &length));
    EXPECT_STREQ(L"" TAVRIN_VERSION_TEXT, static_cast<const wchar_t*>(value));
}

// ---------------------------------------------------------------- class object, module count

TEST(ClassObject, OnlyTheOneClassAndNoAggregation) {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Dll().GetClassObject(IID__TavrinCom, IID_PPV_ARGS(&factory)));
    EXPECT_FALSE(factory);
    ASSERT_EQ(S_OK, Dll().GetClassObject(CLSID_TavrinCom, IID_PPV_ARGS(&factory)));
    ComPtr<IUnknown> object;
    ComPtr<IUnknown> outer = factory;  // any IUnknown will do as a would-be outer object
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(outer.Get(), IID_IUnknown, &object));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
    EXPECT_FALSE(object);
}

TEST(ClassObject, CanUnloadOnlyWithoutObjectsFactoryReferencesAndLocks) {
    ASSERT_EQ(S_OK, Dll().CanUnloadNow());
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, Dll().GetClassObject(CLSID_TavrinCom, IID_PPV_ARGS(&factory)));
    EXPECT_EQ(S_FALSE, Dll().CanUnloadNow());

    ComPtr<_TavrinCom> object;
    ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID__TavrinCom, &object));
    ASSERT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, Dll().CanUnloadNow()) << "object and lock remain";
    object.Reset();
    EXPECT_EQ(S_FALSE, Dll().CanUnloadNow()) << "lock remains";

    ASSERT_EQ(S_OK, Dll().GetClassObject(CLSID_TavrinCom, IID_PPV_ARGS(&factory)));
    ASSERT_EQ(S_OK, factory->LockServer(FALSE));
    factory.Reset();
    EXPECT_EQ(S_OK, Dll().CanUnloadNow());
}

TEST(ClassObject, InterfacesOfTheObject) {
    const auto object = Dll().CreateObject();
    ComPtr<IUnknown> identity1;
    ComPtr<IUnknown> identity2;
    ComPtr<IDispatch> dispatch;
    ComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(S_OK, object.As(&dispatch));
    ASSERT_EQ(S_OK, object.As(&errorInfo));
    ASSERT_EQ(S_OK, dispatch.As(&identity1));
    ASSERT_EQ(S_OK, errorInfo.As(&identity2));
    EXPECT_EQ(identity1.Get(), identity2.Get());
    EXPECT_EQ(S_OK, errorInfo->InterfaceSupportsErrorInfo(IID__TavrinCom));
    ComPtr<IClassFactory> notThere;
    EXPECT_EQ(E_NOINTERFACE, object.As(&notThere));

    UINT count = 0;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(S_OK, dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info));
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
    EXPECT_TRUE(IsEqualGUID(IID__TavrinCom, attr->guid));
    info->ReleaseTypeAttr(attr);
}

// ---------------------------------------------------------------- properties

struct PropertyAccess {
    const char* name;
    DISPID id;
    HRESULT (*put)(_TavrinCom&, VARIANT);
    HRESULT (*putref)(_TavrinCom&, VARIANT);
    HRESULT (*get)(_TavrinCom&, VARIANT*);
};

void PrintTo(const PropertyAccess& property, std::ostream* os) { *os << property.name; }

const std::array<PropertyAccess, 4> kProperties{{
    {"sa_hostname", 0x68030000, [](_TavrinCom& o, VARIANT v) { return o.put_sa_hostname(v); },
     [](_TavrinCom& o, VARIANT v) { return o.putref_sa_hostname(v); },
     [](_TavrinCom& o, VARIANT* v) { return o.get_sa_hostname(v); }},
    {"sa_timeout", 0x68030001, [](_TavrinCom& o, VARIANT v) { return o.put_sa_timeout(v); },
     [](_TavrinCom& o, VARIANT v) { return o.putref_sa_timeout(v); },
     [](_TavrinCom& o, VARIANT* v) { return o.get_sa_timeout(v); }},
    {"sa_parameter", 0x68030002, [](_TavrinCom& o, VARIANT v) { return o.put_sa_parameter(v); },
     [](_TavrinCom& o, VARIANT v) { return o.putref_sa_parameter(v); },
     [](_TavrinCom& o, VARIANT* v) { return o.get_sa_parameter(v); }},
    {"sa_result", 0x68030003, [](_TavrinCom& o, VARIANT v) { return o.put_sa_result(v); },
     [](_TavrinCom& o, VARIANT v) { return o.putref_sa_result(v); },
     [](_TavrinCom& o, VARIANT* v) { return o.get_sa_result(v); }},
}};

struct SampleValue {
    const char* name;
    void (*make)(VARIANT&);
};

void PrintTo(const SampleValue& value, std::ostream* os) { *os << value.name; }

const std::array<SampleValue, 11> kValues{{
    {"empty", [](VARIANT& v) { V_VT(&v) = VT_EMPTY; }},
    {"null", [](VARIANT& v) { V_VT(&v) = VT_NULL; }},
    {"integer", [](VARIANT& v) { V_VT(&v) = VT_I2; V_I2(&v) = -7; }},
    {"long", [](VARIANT& v) { V_VT(&v) = VT_I4; V_I4(&v) = 100000; }},
    {"byte", [](VARIANT& v) { V_VT(&v) = VT_UI1; V_UI1(&v) = 200; }},
    {"double", [](VARIANT& v) { V_VT(&v) = VT_R8; V_R8(&v) = 2.5; }},
    {"currency", [](VARIANT& v) { V_VT(&v) = VT_CY; V_CY(&v).int64 = 123456789; }},
    {"date", [](VARIANT& v) { V_VT(&v) = VT_DATE; V_DATE(&v) = 45000.25; }},
    {"boolean", [](VARIANT& v) { V_VT(&v) = VT_BOOL; V_BOOL(&v) = VARIANT_TRUE; }},
    {"text", [](VARIANT& v) { SetText(v, L"#USR=bob#PORT=22"); }},
    {"empty_text", [](VARIANT& v) { SetText(v, L""); }},
}};

// Same type, same value.
testing::AssertionResult SameValue(const VARIANT& want, const VARIANT& got) {
    if (V_VT(&want) != V_VT(&got)) {
        return testing::AssertionFailure() << "type " << V_VT(&got) << ", expected " << V_VT(&want);
    }
    bool same = true;
    switch (V_VT(&want)) {
        case VT_EMPTY:
        case VT_NULL: break;
        case VT_I2: same = V_I2(&want) == V_I2(&got); break;
        case VT_I4: same = V_I4(&want) == V_I4(&got); break;
        case VT_UI1: same = V_UI1(&want) == V_UI1(&got); break;
        case VT_R8: same = V_R8(&want) == V_R8(&got); break;
        case VT_CY: same = V_CY(&want).int64 == V_CY(&got).int64; break;
        case VT_DATE: same = V_DATE(&want) == V_DATE(&got); break;
        case VT_BOOL: same = V_BOOL(&want) == V_BOOL(&got); break;
        case VT_BSTR: same = Text(want) == Text(got) && V_BSTR(&want) != V_BSTR(&got); break;
        case VT_DISPATCH: same = V_DISPATCH(&want) == V_DISPATCH(&got); break;
        default: return testing::AssertionFailure() << "unexpected type " << V_VT(&want);
    }
    if (same) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "different value of type " << V_VT(&want);
}

HRESULT InvokePut(IDispatch& target, DISPID id, WORD flags, VARIANT& value, EXCEPINFO* exception = nullptr) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    UINT argumentError = 0;
    return target.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, exception, &argumentError);
}

HRESULT InvokeCall(IDispatch& target, DISPID id, WORD flags, VARIANT* result, std::vector<VARIANT> args = {},
                   EXCEPINFO* exception = nullptr) {
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    UINT argumentError = 0;
    return target.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception, &argumentError);
}

TEST(Properties, NewObjectReadsBackEmpty) {
    const auto object = Dll().CreateObject();
    for (const auto& property : kProperties) {
        TestVariant value;
        V_VT(&value.v) = VT_I4;  // an [out] value is overwritten, not cleared from garbage
        ASSERT_EQ(S_OK, property.get(*object.Get(), &value.v)) << property.name;
        EXPECT_EQ(VT_EMPTY, V_VT(&value.v)) << property.name;
    }
}

class PropertyRoundTrip : public testing::TestWithParam<std::tuple<PropertyAccess, SampleValue>> {};

TEST_P(PropertyRoundTrip, VtablePutThenGetKeepsTypeAndValue) {
    const auto& [property, sample] = GetParam();
    const auto object = Dll().CreateObject();
    TestVariant value;
    sample.make(value.v);
    ASSERT_EQ(S_OK, property.put(*object.Get(), value.v));
    TestVariant back;
    ASSERT_EQ(S_OK, property.get(*object.Get(), &back.v));
    EXPECT_TRUE(SameValue(value.v, back.v));
}

TEST_P(PropertyRoundTrip, InvokePutAndPutrefThenGetKeepTypeAndValue) {
    const auto& [property, sample] = GetParam();
    const auto object = Dll().CreateObject();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, object.As(&dispatch));
    for (const WORD flags : {WORD{DISPATCH_PROPERTYPUT}, WORD{DISPATCH_PROPERTYPUTREF}}) {
        TestVariant value;
        sample.make(value.v);
        ASSERT_EQ(S_OK, InvokePut(*dispatch.Get(), property.id, flags, value.v)) << flags;
        TestVariant back;
        ASSERT_EQ(S_OK, InvokeCall(*dispatch.Get(), property.id, DISPATCH_PROPERTYGET, &back.v));
        EXPECT_TRUE(SameValue(value.v, back.v)) << flags;
        TestVariant direct;
        ASSERT_EQ(S_OK, property.get(*object.Get(), &direct.v));
        EXPECT_TRUE(SameValue(value.v, direct.v)) << "vtable get after Invoke put";
    }
}

INSTANTIATE_TEST_SUITE_P(AllPropertiesAndTypes, PropertyRoundTrip,
                         testing::Combine(testing::ValuesIn(kProperties), testing::ValuesIn(kValues)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
                         });

TEST(Properties, PutStoresAValueNotTheReference) {
    const auto object = Dll().CreateObject();
    LONG number = 42;
    TestVariant byRef;
    V_VT(&byRef.v) = VT_I4 | VT_BYREF;
    V_I4REF(&byRef.v) = &number;
    ASSERT_EQ(S_OK, object->put_sa_timeout(byRef.v));
    number = 7;
    TestVariant back;
    ASSERT_EQ(S_OK, object->get_sa_timeout(&back.v));
    ASSERT_EQ(VT_I4, V_VT(&back.v));
    EXPECT_EQ(42, V_I4(&back.v));

    // A VARIANT referring to a VARIANT: the text it holds.
    TestVariant inner;
    SetText(inner.v, L"server.example");
    TestVariant outer;
    V_VT(&outer.v) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&outer.v) = &inner.v;
    ASSERT_EQ(S_OK, object->putref_sa_hostname(outer.v));
    TestVariant host;
    ASSERT_EQ(S_OK, object->get_sa_hostname(&host.v));
    ASSERT_EQ(VT_BSTR, V_VT(&host.v));
    EXPECT_EQ(L"server.example", Text(host.v));
    EXPECT_NE(V_BSTR(&inner.v), V_BSTR(&host.v));
}

// An IDispatch whose references can be counted.
class CountedDispatch final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
    std::atomic<ULONG> references{1};
};

TEST(Properties, PutrefKeepsTheObjectAndReleasesItWithTheObject) {
    CountedDispatch probe;
    for (const auto& property : kProperties) {
        SCOPED_TRACE(property.name);
        {
            const auto object = Dll().CreateObject();
            VARIANT value;
            V_VT(&value) = VT_DISPATCH;
            V_DISPATCH(&value) = &probe;
            ASSERT_EQ(S_OK, property.putref(*object.Get(), value));
            EXPECT_EQ(2u, probe.references.load()) << "the property holds one reference";
            {
                TestVariant back;
                ASSERT_EQ(S_OK, property.get(*object.Get(), &back.v));
                ASSERT_EQ(VT_DISPATCH, V_VT(&back.v));
                EXPECT_EQ(&probe, V_DISPATCH(&back.v));
                EXPECT_EQ(3u, probe.references.load()) << "the caller got its own reference";
            }
            // Replacing the value releases the object.
            TestVariant text;
            SetText(text.v, L"x");
            ASSERT_EQ(S_OK, property.put(*object.Get(), text.v));
            EXPECT_EQ(1u, probe.references.load());
            ASSERT_EQ(S_OK, property.putref(*object.Get(), value));
            // A put with an object keeps the reference as well.
            ASSERT_EQ(S_OK, property.put(*object.Get(), value));
            EXPECT_EQ(2u, probe.references.load());
        }
        EXPECT_EQ(1u, probe.references.load()) << "released with the object";
    }
}

TEST(Properties, TwoObjectsAreIndependent) {
    auto first = Dll().CreateObject();
    const auto second = Dll().CreateObject();
    TestVariant value;
    SetText(value.v, L"first.example");
    ASSERT_EQ(S_OK, first->put_sa_hostname(value.v));
    TestVariant other;
    ASSERT_EQ(S_OK, second->get_sa_hostname(&other.v));
    EXPECT_EQ(VT_EMPTY, V_VT(&other.v));

    first.Reset();
    VARIANT_BOOL up = VARIANT_TRUE;
    ASSERT_EQ(S_OK, second->sa_docheck(&up));
    EXPECT_EQ(VARIANT_FALSE, up);
    TestVariant result;
    ASSERT_EQ(S_OK, second->get_sa_result(&result.v));
    EXPECT_EQ(L"ERR: can't connect to an SSH server without a USERNAME", Text(result.v));
}

// ---------------------------------------------------------------- late binding

TEST(LateBinding, NamesResolveToThePublishedIdsWithoutRegardToCase) {
    const auto object = Dll().CreateObject();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, object.As(&dispatch));
    const std::array<std::pair<const wchar_t*, DISPID>, 10> names{{
        {L"sa_docheck", 0x60030004},
        {L"sa_showGUI", 0x60030005},
        {L"sa_result", 0x68030003},
        {L"sa_parameter", 0x68030002},
        {L"sa_timeout", 0x68030001},
        {L"sa_hostname", 0x68030000},
        {L"SetResource", 0x60030008},
        {L"SA_HOSTNAME", 0x68030000},
        {L"Sa_DoCheck", 0x60030004},
        {L"setresource", 0x60030008},
    }};
    for (const auto& [name, id] : names) {
        LPOLESTR text = const_cast<LPOLESTR>(name);
        DISPID found = 0;
        EXPECT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &text, 1, LOCALE_USER_DEFAULT, &found));
        EXPECT_EQ(id, found) << testing::PrintToString(std::wstring(name));
    }
    LPOLESTR unknown = const_cast<LPOLESTR>(L"txtResource");
    DISPID found = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &found));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, InvokeCall(*dispatch.Get(), 0x12345, DISPATCH_METHOD, nullptr));
}

TEST(LateBinding, CheckByNameAndByIdReachesTheSameObject) {
    const auto object = Dll().CreateObject();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, object.As(&dispatch));
    LPOLESTR name = const_cast<LPOLESTR>(L"sa_docheck");
    DISPID id = 0;
    ASSERT_EQ(S_OK, dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));

    TestVariant parameter;
    SetText(parameter.v, L"#USR=bob#CMD=ZWNobyBvaw==");
    ASSERT_EQ(S_OK, InvokePut(*dispatch.Get(), 0x68030002, DISPATCH_PROPERTYPUT, parameter.v));
    TestVariant up;
    ASSERT_EQ(S_OK, InvokeCall(*dispatch.Get(), id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &up.v));
    ASSERT_EQ(VT_BOOL, V_VT(&up.v));
    EXPECT_EQ(VARIANT_FALSE, V_BOOL(&up.v));
    TestVariant result;
    ASSERT_EQ(S_OK, InvokeCall(*dispatch.Get(), 0x68030003, DISPATCH_PROPERTYGET, &result.v));
    ASSERT_EQ(VT_BSTR, V_VT(&result.v));
    EXPECT_EQ(L"ERR: can't connect to an SSH server without a PASSWORD", Text(result.v));

    // The same through the vtable, after a time-out that is no number.
    TestVariant timeout;
    SetText(timeout.v, L"soon");
    ASSERT_EQ(S_OK, object->put_sa_timeout(timeout.v));
    VARIANT_BOOL direct = VARIANT_TRUE;
    ASSERT_EQ(S_OK, object->sa_docheck(&direct));
    EXPECT_EQ(VARIANT_FALSE, direct);
    TestVariant failure;
    ASSERT_EQ(S_OK, object->get_sa_result(&failure.v));
    EXPECT_EQ(L"ERR: Type mismatch( 0)", Text(failure.v));
}

TEST(LateBinding, SetResourceTakesTextAndSucceeds) {
    const auto object = Dll().CreateObject();
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, object.As(&dispatch));
    BSTR text = ::SysAllocString(L"resource");
    EXPECT_EQ(S_OK, object->SetResource(text));
    EXPECT_EQ(S_OK, object->SetResource(nullptr));
    ::SysFreeString(text);
    std::vector<VARIANT> args(1);
    SetText(args[0], L"resource");
    EXPECT_EQ(S_OK, InvokeCall(*dispatch.Get(), 0x60030008, DISPATCH_METHOD, nullptr, args));
    ::VariantClear(&args[0]);
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, InvokeCall(*dispatch.Get(), 0x60030008, DISPATCH_METHOD, nullptr));
}

// ---------------------------------------------------------------- failures

// sa_showGUI has no failure handling of its own: a host name of Null fails the call with
// "Invalid use of Null" (94) before anything is shown.
TEST(Failures, FailingMemberGivesErrorInfoThroughVtableAndInvoke) {
    const auto object = Dll().CreateObject();
    TestVariant null;
    V_VT(&null.v) = VT_NULL;
    ASSERT_EQ(S_OK, object->put_sa_hostname(null.v));

    const HRESULT hr = object->sa_showGUI();
    EXPECT_EQ(static_cast<HRESULT>(0x800A005E), hr);
    EXPECT_EQ(L"Invalid use of Null", TakeErrorDescription());

    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(S_OK, object.As(&dispatch));
    EXCEPINFO exception{};
    EXPECT_EQ(DISP_E_EXCEPTION, InvokeCall(*dispatch.Get(), 0x60030005, DISPATCH_METHOD, nullptr, {}, &exception));
    EXPECT_EQ(static_cast<HRESULT>(0x800A005E), exception.scode);
    ASSERT_NE(nullptr, exception.bstrDescription);
    EXPECT_STREQ(L"Invalid use of Null", exception.bstrDescription);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrHelpFile);

    // The object stays usable and keeps what was stored.
    TestVariant host;
    ASSERT_EQ(S_OK, object->get_sa_hostname(&host.v));
    EXPECT_EQ(VT_NULL, V_VT(&host.v));
}

TEST(Failures, FailedPutReportsAndKeepsTheOldValue) {
    const auto object = Dll().CreateObject();
    TestVariant good;
    SetText(good.v, L"kept");
    ASSERT_EQ(S_OK, object->put_sa_parameter(good.v));
    VARIANT bad;
    V_VT(&bad) = 0x7FF;  // no such type
    const HRESULT hr = object->put_sa_parameter(bad);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_FALSE(TakeErrorDescription().empty());
    TestVariant back;
    ASSERT_EQ(S_OK, object->get_sa_parameter(&back.v));
    EXPECT_EQ(L"kept", Text(back.v));
    EXPECT_EQ(E_POINTER, object->get_sa_parameter(nullptr));
    EXPECT_EQ(E_POINTER, object->sa_docheck(nullptr));
}

// ---------------------------------------------------------------- lifetime

struct ProcessUsage {
    SIZE_T privateBytes = 0;
    DWORD handles = 0;
};

// Private bytes: PrivateUsage, or PagefileUsage (the same commit charge) where the system
// reports only that one (Wine). Handles: GetProcessHandleCount, or where that reports none
// (Wine) the value of a fresh handle, since handles are allocated from the lowest free slot:
// leaked handles push it up.
ProcessUsage MeasureProcess() {
    ProcessUsage usage;
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    if (::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                               sizeof(counters))) {
        usage.privateBytes = std::max(counters.PrivateUsage, counters.PagefileUsage);
    }
    if (!::GetProcessHandleCount(::GetCurrentProcess(), &usage.handles) || usage.handles == 0) {
        const HANDLE probe = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        usage.handles = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(probe) / 4);
        ::CloseHandle(probe);
    }
    return usage;
}

TEST(Lifetime, TenThousandCreateReleaseCyclesDoNotGrow) {
    const auto factory = Dll().Factory();
    const auto cycle = [&] {
        ComPtr<_TavrinCom> object;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID__TavrinCom, &object));
        TestVariant host;
        SetText(host.v, L"server.example");
        ASSERT_EQ(S_OK, object->put_sa_hostname(host.v));
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(S_OK, object.As(&dispatch));
        TestVariant back;
        ASSERT_EQ(S_OK, InvokeCall(*dispatch.Get(), 0x68030000, DISPATCH_PROPERTYGET, &back.v));
        VARIANT_BOOL up = VARIANT_TRUE;
        ASSERT_EQ(S_OK, object->sa_docheck(&up));
    };
    for (int i = 0; i < 1000; ++i) {
        cycle();
        if (HasFatalFailure()) return;
    }
    const ProcessUsage before = MeasureProcess();
    for (int i = 0; i < 10000; ++i) {
        cycle();
        if (HasFatalFailure()) return;
    }
    const ProcessUsage after = MeasureProcess();
    const auto growth = static_cast<long long>(after.privateBytes) - static_cast<long long>(before.privateBytes);
    std::printf("private bytes %llu -> %llu (%+lld), handles %lu -> %lu\n",
                static_cast<unsigned long long>(before.privateBytes),
                static_cast<unsigned long long>(after.privateBytes), growth,
                static_cast<unsigned long>(before.handles), static_cast<unsigned long>(after.handles));
    ASSERT_GT(before.privateBytes, 0u) << "no memory figures from the system";
    // One leaked object per cycle (the object, its form and its values: well over 100 bytes)
    // would add more than a megabyte.
    EXPECT_LT(growth, 256 * 1024);
    EXPECT_LE(after.handles, before.handles + 2);
    EXPECT_EQ(S_FALSE, Dll().CanUnloadNow()) << "the factory is still held";
}


// A listener on the loopback that takes connections into its backlog and never says a word: a
// check against it waits until something ends it.
class SilentServer {
public:
    SilentServer() {
        ::WSAStartup(MAKEWORD(2, 2), &wsa_);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        // The port field is a 16-bit signed number: stay below 32768.
        for (u_short p = 21000; p < 21400 && socket_ != INVALID_SOCKET; ++p) {
            address.sin_port = htons(p);
            if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                ::listen(socket_, 4) == 0) {
                port_ = p;
                break;
            }
        }
    }
    ~SilentServer() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
        ::WSACleanup();
    }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    u_short port() const { return port_; }

    // An object set up to check this server with the time-out given.
    ComPtr<_TavrinCom> CheckingObject(short timeoutSeconds) const {
        ComPtr<_TavrinCom> object = Dll().CreateObject();
        if (!object) return object;
        TestVariant host, timeout, parameter;
        SetText(host.v, L"127.0.0.1");
        timeout.v.vt = VT_I2;
        timeout.v.iVal = timeoutSeconds;
        SetText(parameter.v, (L"#USR=u#PWD=cA==#PORT=" + std::to_wstring(port_) + L"#CMD=ZWNobyBvaw==#").c_str());
        EXPECT_EQ(S_OK, object->put_sa_hostname(host.v));
        EXPECT_EQ(S_OK, object->put_sa_timeout(timeout.v));
        EXPECT_EQ(S_OK, object->put_sa_parameter(parameter.v));
        return object;
    }

private:
    WSADATA wsa_{};
    SOCKET socket_ = INVALID_SOCKET;
    u_short port_ = 0;
};

// Ends the process should the test's check not return within `seconds`.
class Watchdog {
public:
    Watchdog(int seconds, const char* what)
        : thread_([this, seconds, what] {
              for (int i = 0; i < seconds * 10 && !done_; ++i) ::Sleep(100);
              if (!done_) {
                  std::fprintf(stderr, "%s\n", what);
                  std::fflush(stderr);
                  ::TerminateProcess(::GetCurrentProcess(), 3);
              }
          }) {}
    ~Watchdog() {
        done_ = true;
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A host may release its last reference from inside the messages that the check's wait pumps
// (here a thread timer). The object must live until sa_docheck returns, and the check must
// still end by its time-out.
_TavrinCom* objectToRelease = nullptr;

void CALLBACK ReleaseFromTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    if (objectToRelease != nullptr) std::exchange(objectToRelease, nullptr)->Release();
}

TEST(Lifetime, ReleasedDuringTheWaitTheCheckStillEnds) {
    const SilentServer server;
    ASSERT_NE(0, server.port());
    _TavrinCom* raw = server.CheckingObject(2).Detach();
    ASSERT_NE(nullptr, raw);
    objectToRelease = raw;
    ASSERT_NE(0u, ::SetTimer(nullptr, 0, 300, &ReleaseFromTimer));
    VARIANT_BOOL up = VARIANT_TRUE;
    const DWORD started = ::GetTickCount();
    HRESULT hr = E_FAIL;
    {
        const Watchdog watchdog(20, "sa_docheck did not return 20 s after its object was released");
        hr = raw->sa_docheck(&up);
    }
    const DWORD took = ::GetTickCount() - started;

    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(VARIANT_FALSE, up);
    EXPECT_EQ(nullptr, objectToRelease) << "the timer never ran during the wait";
    EXPECT_LT(took, 4000u);
}

// A host that shuts down posts WM_QUIT to its thread while a check waits (here from a timer,
// as its own message handling would). The check ends at once, DOWN with a text that says why,
// without spinning, and the quit request is there again for the host's loop afterwards.
void CALLBACK QuitFromTimer(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    ::PostQuitMessage(42);
}

TEST(Lifetime, AQuitRequestDuringTheWaitEndsTheCheckAndIsPostedAgain) {
    const SilentServer server;
    ASSERT_NE(0, server.port());
    ComPtr<_TavrinCom> object = server.CheckingObject(30);
    ASSERT_TRUE(object);
    ASSERT_NE(0u, ::SetTimer(nullptr, 0, 300, &QuitFromTimer));
    VARIANT_BOOL up = VARIANT_TRUE;
    FILETIME created, exited, kernelBefore, userBefore, kernelAfter, userAfter;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernelBefore, &userBefore);
    const DWORD started = ::GetTickCount();
    HRESULT hr = E_FAIL;
    {
        const Watchdog watchdog(20, "sa_docheck did not return 20 s after WM_QUIT");
        hr = object->sa_docheck(&up);
    }
    const DWORD took = ::GetTickCount() - started;
    ::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernelAfter, &userAfter);
    const auto ticks = [](const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    const std::uint64_t cpuMs =
        (ticks(kernelAfter) - ticks(kernelBefore) + ticks(userAfter) - ticks(userBefore)) / 10000;

    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(VARIANT_FALSE, up);
    EXPECT_LT(took, 3000u) << "the check went on after WM_QUIT";
    EXPECT_LT(cpuMs, 1000u) << "the wait spun";
    TestVariant result;
    ASSERT_EQ(S_OK, object->get_sa_result(&result.v));
    EXPECT_EQ(L"The check was abandoned: the host asked this thread to quit", Text(result.v));

    MSG msg{};
    ASSERT_TRUE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "WM_QUIT was not posted again";
    EXPECT_EQ(42u, msg.wParam);
    EXPECT_FALSE(::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "posted more than once";
    std::printf("WM_QUIT ended the check after %lu ms, %llu ms of processor time\n", static_cast<unsigned long>(took),
                static_cast<unsigned long long>(cpuMs));
}

}  // namespace
}  // namespace tavrin::comtest
