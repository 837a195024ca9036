// Registration as regsvr32 does it, for all users and for the current user: the entries that
// appear, and that unregistration leaves the classes exactly as they were before.

#include "tests/wine/com_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::comtest {
namespace {

// The classes of one scope (Software\Classes of HKLM or HKCU): keys by path, each with its values as
// type and bytes.
using Values = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;
using Tree = std::map<std::wstring, Values>;

std::wstring Lower(std::wstring text) {
    for (auto& c : text) c = static_cast<wchar_t>(::towlower(c));
    return text;
}

std::vector<std::wstring> Subkeys(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        std::array<wchar_t, 256> name{};
        auto length = static_cast<DWORD>(name.size());
        if (::RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(name.data(), length);
    }
    return names;
}

Values ReadValues(HKEY key) {
    Values values;
    for (DWORD i = 0;; ++i) {
        std::array<wchar_t, 16384> name{};
        auto nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        DWORD size = 0;
        if (::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size);
        nameLength = static_cast<DWORD>(name.size());
        ::RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
        data.resize(size);
        values[Lower(std::wstring(name.data(), nameLength))] = {type, data};
    }
    return values;
}

std::wstring GuidText(const GUID& guid);

// Whether a key below Classes is read with everything in it. The containers (CLSID, Interface,
// TypeLib) and the top level are large: there every key is listed by name and only the
// component's own keys are read in full, which covers every place registration could write.
bool ReadInFull(const std::wstring& shownPath) {
    static const std::vector<std::wstring> own = [] {
        return std::vector<std::wstring>{
            Lower(L"comTavrin.TavrinCom"),
            Lower(L"CLSID\\" + GuidText(CLSID_TavrinCom)),
            Lower(L"Interface\\" + GuidText(IID__TavrinCom)),
            Lower(L"TypeLib\\" + GuidText(LIBID_comTavrin)),
        };
    }();
    const std::wstring path = Lower(shownPath);
    for (const auto& prefix : own) {
        if (path == prefix || path.rfind(prefix + L"\\", 0) == 0) return true;
    }
    return false;
}

bool IsContainer(const std::wstring& shownPath) {
    const std::wstring path = Lower(shownPath);
    return path.empty() || path == L"clsid" || path == L"interface" || path == L"typelib";
}

void ReadTree(HKEY root, const std::wstring& shownPath, Tree& tree) {
    const std::wstring path = shownPath.empty() ? L"Software\\Classes" : L"Software\\Classes\\" + shownPath;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    const bool full = ReadInFull(shownPath);
    tree[Lower(shownPath)] = full || IsContainer(shownPath) ? ReadValues(key) : Values{};
    const auto subkeys = full || IsContainer(shownPath) ? Subkeys(key) : std::vector<std::wstring>{};
    ::RegCloseKey(key);
    for (const auto& sub : subkeys) {
        const std::wstring child = shownPath.empty() ? sub : shownPath + L"\\" + sub;
        // Wine's 64-bit prefix shows the shared TypeLib keys again below Wow6432Node.
        if (Lower(child) == L"wow6432node") continue;
        ReadTree(root, child, tree);
    }
}

Tree Snapshot(HKEY root) {
    Tree tree;
    ReadTree(root, L"", tree);
    return tree;
}

std::wstring GuidText(const GUID& guid) {
    std::array<wchar_t, 40> text{};
    ::StringFromGUID2(guid, text.data(), static_cast<int>(text.size()));
    return text.data();
}

std::optional<std::wstring> TextValue(const Tree& tree, const std::wstring& key, const std::wstring& name = L"") {
    const auto k = tree.find(Lower(key));
    if (k == tree.end()) return std::nullopt;
    const auto v = k->second.find(Lower(name));
    if (v == k->second.end() || v->second.first != REG_SZ) return std::nullopt;
    const auto& bytes = v->second.second;
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

// Runs regsvr32 with the arguments and the DLL's path; returns its exit code.
DWORD RunRegsvr32(const std::wstring& arguments) {
    std::wstring commandLine = L"regsvr32.exe " + arguments + L" \"" + DllPath() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        ADD_FAILURE() << "regsvr32 did not start: " << ::GetLastError();
        return 0xFFFFFFFF;
    }
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 0xFFFFFFFF;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

// Runs its action when the test leaves the scope, also after a failed assertion, so that no
// registration outlives the test that made it.
class Finally {
public:
    explicit Finally(std::function<void()> action) : action_(std::move(action)) {}
    ~Finally() { action_(); }
    Finally(const Finally&) = delete;
    Finally& operator=(const Finally&) = delete;

private:
    std::function<void()> action_;
};

std::vector<std::wstring> AddedKeys(const Tree& before, const Tree& after) {
    std::vector<std::wstring> added;
    for (const auto& [key, values] : after) {
        if (before.find(key) == before.end()) added.push_back(key);
    }
    return added;
}

struct Scope {
    const char* name;
    const wchar_t* registerArguments;
    const wchar_t* unregisterArguments;
    HKEY root;
    HKEY otherRoot;
};

void PrintTo(const Scope& scope, std::ostream* os) { *os << scope.name; }

const std::array<Scope, 2> kScopes{{
    {"machine", L"/s", L"/s /u", HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER},
    {"user", L"/s /n /i:user", L"/s /u /n /i:user", HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE},
}};

class Registration : public testing::TestWithParam<Scope> {};

TEST_P(Registration, Regsvr32WritesTheEntriesInItsScopeAndRemovesThemAgain) {
    const Scope& scope = GetParam();
    const Tree before = Snapshot(scope.root);
    const Tree otherBefore = Snapshot(scope.otherRoot);
    ASSERT_EQ(TextValue(before, L"comTavrin.TavrinCom\\CLSID"), std::nullopt) << "registered before the test";

    const Finally unregister([&] { RunRegsvr32(scope.unregisterArguments); });
    ASSERT_EQ(0u, RunRegsvr32(scope.registerArguments));
    const Tree registered = Snapshot(scope.root);
    EXPECT_EQ(otherBefore, Snapshot(scope.otherRoot)) << "the other scope was touched";

    const std::wstring clsid = GuidText(CLSID_TavrinCom);
    const std::wstring iid = GuidText(IID__TavrinCom);
    const std::wstring libid = GuidText(LIBID_comTavrin);
    const std::wstring path = DllPath();
    const std::wstring platform = sizeof(void*) == 8 ? L"win64" : L"win32";
    const std::wstring clsidKey = L"CLSID\\" + clsid;
    const std::wstring libraryKey = L"TypeLib\\" + libid + L"\\1.0";

    const std::array<std::array<std::wstring, 3>, 13> wanted{{
        {L"comTavrin.TavrinCom\\CLSID", L"", clsid},
        {clsidKey, L"", L"comTavrin.TavrinCom"},
        {clsidKey + L"\\InprocServer32", L"", path},
        {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsidKey + L"\\ProgID", L"", L"comTavrin.TavrinCom"},
        {clsidKey + L"\\TypeLib", L"", libid},
        {clsidKey + L"\\Version", L"", L"1.0"},
        {L"Interface\\" + iid, L"", L"_TavrinCom"},
        {L"Interface\\" + iid + L"\\ProxyStubClsid32", L"", L"{00020424-0000-0000-C000-000000000046}"},
        {L"Interface\\" + iid + L"\\TypeLib", L"", libid},
        {libraryKey, L"", L"comTavrin"},
        {libraryKey + L"\\0\\" + platform, L"", path},
        {libraryKey + L"\\FLAGS", L"", L"0"},
    }};
    for (const auto& [key, name, data] : wanted) {
        EXPECT_EQ(std::optional<std::wstring>(data), TextValue(registered, key, name))
            << testing::PrintToString(key) << " " << testing::PrintToString(name);
    }
    const auto added = AddedKeys(before, registered);
    EXPECT_EQ(18u, added.size()) << "keys written: " << testing::PrintToString(added);

    ASSERT_EQ(0u, RunRegsvr32(scope.unregisterArguments));
    const Tree after = Snapshot(scope.root);
    EXPECT_EQ(before.size(), after.size()) << "left behind: " << testing::PrintToString(AddedKeys(before, after));
    EXPECT_TRUE(before == after) << "the classes differ from before the registration";
    EXPECT_EQ(otherBefore, Snapshot(scope.otherRoot));
}

TEST_P(Registration, UnregisteringWhatIsNotRegisteredChangesNothingAndSucceeds) {
    const Scope& scope = GetParam();
    const Tree before = Snapshot(scope.root);
    EXPECT_EQ(0u, RunRegsvr32(scope.unregisterArguments));
    EXPECT_TRUE(before == Snapshot(scope.root));
}

INSTANTIATE_TEST_SUITE_P(BothScopes, Registration, testing::ValuesIn(kScopes),
                         [](const auto& info) { return std::string(info.param.name); });

// The type library's version key is shared with the other platform's build of the DLL: it stays
// while that platform's path is registered in it.
TEST(RegistrationShared, TypeLibraryOfTheOtherPlatformSurvivesUnregistration) {
    const ComDll dll;
    const std::wstring libraryKey = L"Software\\Classes\\TypeLib\\" + GuidText(LIBID_comTavrin);
    const std::wstring otherPlatform = libraryKey + (sizeof(void*) == 8 ? L"\\1.0\\0\\win32" : L"\\1.0\\0\\win64");
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, otherPlatform.c_str(), 0, nullptr, 0, KEY_WRITE,
                                               nullptr, &key, nullptr));
    ::RegCloseKey(key);
    const Finally cleanup([&] {
        dll.Install(FALSE, L"user");
        ::RegDeleteTreeW(HKEY_CURRENT_USER, libraryKey.c_str());
    });

    EXPECT_EQ(S_OK, dll.Install(TRUE, L"user"));
    EXPECT_EQ(S_OK, dll.Install(FALSE, L"user"));
    const Tree after = Snapshot(HKEY_CURRENT_USER);
    const std::wstring shown = otherPlatform.substr(std::wstring(L"Software\\Classes\\").size());
    EXPECT_NE(after.end(), after.find(Lower(shown))) << "the other platform's entry was removed";
    EXPECT_EQ(after.end(), after.find(Lower(L"CLSID\\" + GuidText(CLSID_TavrinCom))));
}

// Both platforms' builds may be registered at once, each in its own registry view, sharing the
// ProgID. Unregistering this build leaves a registration it does not own: the other view's
// (there is one only where WOW64 gives two views), or a copy at another path that was
// registered in this view since.
TEST(RegistrationShared, UnregistrationLeavesTheRegistrationsOfOthers) {
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    const bool twoViews = sizeof(void*) == 8 || wow64;
    const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring server = classes + L"CLSID\\" + GuidText(CLSID_TavrinCom) + L"\\InprocServer32";
    const std::wstring progId = classes + L"comTavrin.TavrinCom\\CLSID";
    const auto write = [](REGSAM view, const std::wstring& path, const std::wstring& text) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE | view,
                                                   nullptr, &key, nullptr));
        ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                         static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        ::RegCloseKey(key);
    };
    const auto read = [](REGSAM view, const std::wstring& path) -> std::optional<std::wstring> {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        std::array<wchar_t, 1024> text{};
        auto bytes = static_cast<DWORD>(sizeof text);
        const LSTATUS status = ::RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
        ::RegCloseKey(key);
        if (status != ERROR_SUCCESS) return std::nullopt;
        return std::wstring(text.data());
    };
    const auto removeAll = [&] {
        for (const REGSAM view : {REGSAM{0}, otherView}) {
            for (const std::wstring& key : {L"CLSID\\" + GuidText(CLSID_TavrinCom), std::wstring(L"comTavrin.TavrinCom"),
                                            L"Interface\\" + GuidText(IID__TavrinCom),
                                            L"TypeLib\\" + GuidText(LIBID_comTavrin)}) {
                HKEY root = nullptr;
                if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS | view, &root) ==
                    ERROR_SUCCESS) {
                    ::RegDeleteTreeW(root, key.c_str());
                    ::RegCloseKey(root);
                }
            }
        }
    };
    const std::wstring elsewhere = L"C:\\elsewhere\\comTavrin.dll";
    struct Case {
        const char* name;
        bool otherViewFirst;   // the other platform's build is registered before this one
        bool copyRegistered;   // after this one, a copy at another path is registered in this view
    };
    const Case cases[] = {{"other_view_registered", true, false}, {"copy_registered_since", false, true}};
    const ComDll dll;
    for (const auto& c : cases) {
        if (c.otherViewFirst && !twoViews) continue;  // 32-bit Windows has one view only
        const Finally cleanup(removeAll);
        if (c.otherViewFirst) {
            write(otherView, server, elsewhere);
            write(otherView, progId, GuidText(CLSID_TavrinCom));
        }
        ASSERT_EQ(S_OK, dll.RegisterServer()) << c.name;
        if (c.copyRegistered) write(0, server, elsewhere);
        ASSERT_EQ(S_OK, dll.UnregisterServer()) << c.name;

        EXPECT_EQ(read(0, progId), GuidText(CLSID_TavrinCom)) << c.name << ": the ProgID was removed";
        EXPECT_EQ(read(c.otherViewFirst ? otherView : 0, server), elsewhere) << c.name;
        if (c.otherViewFirst) {
            EXPECT_EQ(read(0, server), std::nullopt) << c.name << ": this build's class stayed";
        }
        // Once the other registration is gone too, this build's unregistration takes the rest.
        removeAll();
        ASSERT_EQ(S_OK, dll.RegisterServer()) << c.name;
        ASSERT_EQ(S_OK, dll.UnregisterServer()) << c.name;
        EXPECT_EQ(read(0, progId), std::nullopt) << c.name;
    }
}

TEST(RegistrationShared, InstallRefusesAnUnknownScope) {
    const ComDll dll;
    const Tree before = Snapshot(HKEY_CURRENT_USER);
    EXPECT_EQ(E_INVALIDARG, dll.Install(TRUE, L"everyone"));
    EXPECT_TRUE(before == Snapshot(HKEY_CURRENT_USER));
}

// With the machine registration in place a host creates the object by ProgID and CLSID;
// without it the class is gone.
TEST(RegistrationShared, HostCreatesTheRegisteredClass) {
    const Apartment apartment;
    const ComDll dll;
    const Finally unregister([&] { dll.UnregisterServer(); });
    ASSERT_EQ(S_OK, dll.RegisterServer());
    CLSID clsid{};
    EXPECT_EQ(S_OK, ::CLSIDFromProgID(L"comTavrin.TavrinCom", &clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_TavrinCom, clsid));
    {
        ComPtr<_TavrinCom> object;
        ASSERT_EQ(S_OK, ::CoCreateInstance(CLSID_TavrinCom, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
        TestVariant value;
        EXPECT_EQ(S_OK, object->get_sa_result(&value.v));
        EXPECT_EQ(VT_EMPTY, V_VT(&value.v));
    }
    ASSERT_EQ(S_OK, dll.UnregisterServer());
    ComPtr<IUnknown> object;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ::CoCreateInstance(CLSID_TavrinCom, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object)));
    EXPECT_NE(S_OK, ::CLSIDFromProgID(L"comTavrin.TavrinCom", &clsid));
}

}  // namespace
}  // namespace tavrin::comtest
