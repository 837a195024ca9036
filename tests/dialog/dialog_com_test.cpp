// The dialog through the registered component, as a host sees it: the object created by its
// ProgID, its properties set and read and sa_showGUI called through IDispatch, while a second
// thread plays the user on the real dialog.

#include "plugin/com/com_handles.h"
#include "expected_title.h"
#include "tests/wine/com_test_support.h"
#include "window_driver.h"

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <gtest/gtest.h>

#include <string>

namespace tavrin::dialog {
namespace {

using Microsoft::WRL::ComPtr;
using namespace driver;
using com::Variant;

using comtest::Apartment;

// The object, reached by name at run time as a script host reaches it.
class LateBoundObject {
public:
    LateBoundObject() {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(L"comTavrin.TavrinCom", &clsid), S_OK) << "is the component registered?";
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, &object_), S_OK);
    }
    explicit operator bool() const { return object_ != nullptr; }

    void PutText(const wchar_t* name, const wchar_t* text) {
        Variant value;
        V_VT(value.address()) = VT_BSTR;
        V_BSTR(value.address()) = SysAllocString(text);
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{value.address(), &put, 1, 1};
        EXPECT_EQ(Invoke(name, DISPATCH_PROPERTYPUT, params, nullptr, nullptr), S_OK) << name;
    }
    std::wstring GetText(const wchar_t* name) {
        Variant result;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXPECT_EQ(Invoke(name, DISPATCH_PROPERTYGET, none, result.address(), nullptr), S_OK) << name;
        EXPECT_EQ(result.type(), VT_BSTR) << name;
        return result.type() == VT_BSTR ? std::wstring(V_BSTR(result.address()), SysStringLen(V_BSTR(result.address())))
                                        : std::wstring();
    }
    HRESULT Call(const wchar_t* name, EXCEPINFO* error) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        Variant ignored;
        return Invoke(name, DISPATCH_METHOD, none, ignored.address(), error);
    }

private:
    HRESULT Invoke(const wchar_t* name, WORD flags, DISPPARAMS& params, VARIANT* result, EXCEPINFO* error) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        const HRESULT found = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(found)) return found;
        return object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, error, nullptr);
    }

    ComPtr<IDispatch> object_;
};

TEST(DialogThroughCom, OkStoresTheNewParameterThatTheHostReadsBack) {
    Apartment apartment;
    LateBoundObject object;
    ASSERT_TRUE(object);
    object.PutText(L"sa_hostname", L" server ");
    object.PutText(L"sa_timeout", L"20");
    object.PutText(L"sa_parameter", L"#USR=admin#PWD=c2VjcmV0#PROTO=2#PORT=2222#CMD=ZGYgLWs=#CCO=NCO#CON=err#RRE=YED#");
    ShowWithUser([&] { EXPECT_EQ(object.Call(L"sa_showGUI", nullptr), S_OK); },
                 [](HWND dialog) {
                     EXPECT_EQ(Text(dialog), testing::Wide(testing::ExpectedTitle()));
                     EXPECT_EQ(Text(dialog, tab::txtHostname), L"server");
                     EXPECT_EQ(Text(dialog, tab::txtTimeout), L"20");
                     EXPECT_EQ(Text(dialog, tab::txtPassword), L"secret");
                     EXPECT_EQ(Selection(Item(dialog, tab::cmbProtocol)), 1);
                     EXPECT_EQ(Selection(Item(dialog, tab::cmbContains)), 1);
                     Type(dialog, tab::txtCommand, L"uptime");
                     SendMessageW(Item(dialog, tab::cmbReturnResult), CB_SETCURSEL, 2, 0);
                     Click(Item(dialog, tab::btOK));
                 });
    EXPECT_EQ(object.GetText(L"sa_parameter"),
              L"#ENC=T#USR=admin#PWD=c2VjcmV0#PROTO=2#PORT=2222#KEYF=#KEYT=RSA#CMD=dXB0aW1l#CCO=NCO#CON=err#RRE=YEA#");
}

TEST(DialogThroughCom, ACloseLeavesTheParameterAsTheHostSetIt) {
    Apartment apartment;
    LateBoundObject earlier, object;
    ASSERT_TRUE(earlier && object);
    // An OK on another object leaves its string in the dialog result; it must not reach this one.
    ShowWithUser([&] { EXPECT_EQ(earlier.Call(L"sa_showGUI", nullptr), S_OK); },
                 [](HWND dialog) { Click(Item(dialog, tab::btOK)); });
    object.PutText(L"sa_parameter", L"#USR=kept#");
    ShowWithUser([&] { EXPECT_EQ(object.Call(L"sa_showGUI", nullptr), S_OK); },
                 [](HWND dialog) {
                     Type(dialog, tab::txtUsername, L"typed");
                     PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
                 });
    EXPECT_EQ(object.GetText(L"sa_parameter"), L"#USR=kept#");
}

TEST(DialogThroughCom, APasswordThatDoesNotDecodeFailsTheCallWithoutShowing) {
    Apartment apartment;
    LateBoundObject object;
    ASSERT_TRUE(object);
    object.PutText(L"sa_parameter", L"#USR=u#PWD==abc#");
    EXCEPINFO error{};
    EXPECT_EQ(object.Call(L"sa_showGUI", &error), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<unsigned long>(error.scode), 0x800A0005ul);
    EXPECT_STREQ(error.bstrDescription, L"Invalid procedure call or argument");
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrHelpFile);
    EXPECT_EQ(FindWindowW(win32::kFormWindowClass, nullptr), nullptr);
    EXPECT_EQ(object.GetText(L"sa_parameter"), L"#USR=u#PWD==abc#");
}

}  // namespace
}  // namespace tavrin::dialog
