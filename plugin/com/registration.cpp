#include "plugin/com/registration.h"

#include "plugin/com/com_handles.h"
#include "plugin/com/comTavrin.h"

#include <oleauto.h>
#include <olectl.h>
#include <wrl/client.h>

#include <array>
#include <cwchar>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace tavrin::com {

const wchar_t kClassesPath[] = L"Software\\Classes";

namespace {

constexpr wchar_t kProgId[] = L"comTavrin.TavrinCom";
constexpr wchar_t kInterfaceName[] = L"_TavrinCom";
// The automation marshaler (PSOAInterface), proxy and stub of every oleautomation interface.
constexpr wchar_t kAutomationProxyStub[] = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr wchar_t kPlatform[] = L"win64";
#else
constexpr wchar_t kPlatform[] = L"win32";
#endif

// A failed registry or type library call, as the HRESULT that the entry point returns.
class RegistrationFailure {
public:
    explicit RegistrationFailure(HRESULT hr) : hr_(FAILED(hr) ? hr : SELFREG_E_CLASS) {}
    static RegistrationFailure OfStatus(LSTATUS status) { return RegistrationFailure(HRESULT_FROM_WIN32(status)); }
    HRESULT hr() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) throw RegistrationFailure(hr);
}

void CheckStatus(LSTATUS status) {
    if (status != ERROR_SUCCESS) throw RegistrationFailure::OfStatus(status);
}

std::wstring GuidText(const GUID& guid) {
    std::array<wchar_t, 40> text{};
    if (::StringFromGUID2(guid, text.data(), static_cast<int>(text.size())) == 0) throw RegistrationFailure(E_FAIL);
    return text.data();
}

// What the type library says about itself: its version and its name, as RegisterTypeLib
// writes them.
struct TypeLibraryFacts {
    std::wstring version;  // "major.minor", hexadecimal digits
    std::wstring name;
};

TypeLibraryFacts ReadTypeLibrary(const std::wstring& modulePath) {
    ComPtr<ITypeLib> library;
    ThrowIfFailed(::LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library));
    TLIBATTR* attr = nullptr;
    ThrowIfFailed(library->GetLibAttr(&attr));
    std::array<wchar_t, 16> version{};
    std::swprintf(version.data(), version.size(), L"%x.%x", attr->wMajorVerNum, attr->wMinorVerNum);
    library->ReleaseTLibAttr(attr);
    Bstr name;
    ThrowIfFailed(library->GetDocumentation(-1, name.put(), nullptr, nullptr, nullptr));
    return {version.data(), std::wstring(name.get(), name.size())};
}

RegKey CreateClasses(RegistrationScope scope) {
    RegKey key;
    CheckStatus(::RegCreateKeyExW(ScopeRoot(scope), kClassesPath, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                  key.put(), nullptr));
    return key;
}

// Null when the scope has no classes key at all (then there is nothing to remove).
RegKey OpenClasses(RegistrationScope scope) {
    RegKey key;
    const LSTATUS status = ::RegOpenKeyExW(ScopeRoot(scope), kClassesPath, 0, KEY_READ | KEY_WRITE | DELETE, key.put());
    if (status != ERROR_FILE_NOT_FOUND) CheckStatus(status);
    return key;
}

// One value to write: a key below Classes, a value name (empty: the key's default value)
// and its text. A null data writes the key alone.
struct Entry {
    std::wstring key;
    std::wstring name;
    std::optional<std::wstring> data;
};

std::vector<Entry> Entries(const std::wstring& modulePath, const TypeLibraryFacts& library) {
    const std::wstring clsid = GuidText(CLSID_TavrinCom);
    const std::wstring iid = GuidText(IID__TavrinCom);
    const std::wstring libid = GuidText(LIBID_comTavrin);
    const std::wstring classKey = L"CLSID\\" + clsid;
    const std::wstring interfaceKey = L"Interface\\" + iid;
    const std::wstring libraryKey = L"TypeLib\\" + libid + L"\\" + library.version;

    std::wstring helpDir = modulePath;
    if (const auto slash = helpDir.find_last_of(L"\\/"); slash != std::wstring::npos) helpDir.resize(slash);

    return {
        {kProgId, L"", kProgId},
        {std::wstring(kProgId) + L"\\CLSID", L"", clsid},
        {classKey, L"", kProgId},
        {classKey + L"\\InprocServer32", L"", modulePath},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {classKey + L"\\ProgID", L"", kProgId},
        {classKey + L"\\TypeLib", L"", libid},
        {classKey + L"\\Version", L"", library.version},
        {classKey + L"\\Programmable", L"", std::nullopt},
        {interfaceKey, L"", kInterfaceName},
        {interfaceKey + L"\\ProxyStubClsid", L"", kAutomationProxyStub},
        {interfaceKey + L"\\ProxyStubClsid32", L"", kAutomationProxyStub},
        {interfaceKey + L"\\TypeLib", L"", libid},
        {interfaceKey + L"\\TypeLib", L"Version", library.version},
        {libraryKey, L"", library.name},
        {libraryKey + L"\\0\\" + kPlatform, L"", modulePath},
        {libraryKey + L"\\FLAGS", L"", L"0"},
        {libraryKey + L"\\HELPDIR", L"", helpDir},
    };
}

void Write(HKEY classes, const Entry& entry) {
    RegKey key;
    CheckStatus(
        ::RegCreateKeyExW(classes, entry.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr));
    if (!entry.data) return;
    const auto bytes = static_cast<DWORD>((entry.data->size() + 1) * sizeof(wchar_t));
    CheckStatus(::RegSetValueExW(key.get(), entry.name.empty() ? nullptr : entry.name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(entry.data->c_str()), bytes));
}

void DeleteTree(HKEY classes, const std::wstring& path) {
    const LSTATUS status = ::RegDeleteTreeW(classes, path.c_str());
    if (status != ERROR_FILE_NOT_FOUND) CheckStatus(status);
}

// The names of a key's subkeys, and whether it has values; nullopt when it does not exist.
struct KeyContents {
    std::vector<std::wstring> subkeys;
    bool hasValues = false;
};

std::optional<KeyContents> ReadKey(HKEY classes, const std::wstring& path) {
    RegKey key;
    const LSTATUS status = ::RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    CheckStatus(status);
    KeyContents contents;
    DWORD values = 0;
    CheckStatus(::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                                   nullptr, nullptr, nullptr, nullptr));
    contents.hasValues = values > 0;
    for (DWORD index = 0;; ++index) {
        std::array<wchar_t, 256> name{};
        auto length = static_cast<DWORD>(name.size());
        const LSTATUS next = ::RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (next == ERROR_NO_MORE_ITEMS) break;
        CheckStatus(next);
        contents.subkeys.emplace_back(name.data(), length);
    }
    return contents;
}

// The type library keys are shared by both platforms' builds of the component: remove our
// platform's path, then the version key once no locale in it names a path any more, then
// the library key once it is empty.
void UnregisterTypeLibrary(HKEY classes, const std::wstring& version) {
    const std::wstring libraryKey = L"TypeLib\\" + GuidText(LIBID_comTavrin);
    const std::wstring versionKey = libraryKey + L"\\" + version;
    DeleteTree(classes, versionKey + L"\\0\\" + kPlatform);

    if (const auto contents = ReadKey(classes, versionKey)) {
        bool pathsRemain = false;
        for (const auto& sub : contents->subkeys) {
            if (_wcsicmp(sub.c_str(), L"FLAGS") == 0 || _wcsicmp(sub.c_str(), L"HELPDIR") == 0) continue;
            const auto locale = ReadKey(classes, versionKey + L"\\" + sub);
            if (locale && !locale->subkeys.empty()) pathsRemain = true;
        }
        if (!pathsRemain) DeleteTree(classes, versionKey);
    }
    if (const auto contents = ReadKey(classes, libraryKey); contents && contents->subkeys.empty() && !contents->hasValues) {
        DeleteTree(classes, libraryKey);
    }
}

// The registry view of the other platform's build: the 32-bit view from a 64-bit process and
// the 64-bit view from a 32-bit one (on 32-bit Windows both name the one view there is).
#ifdef _WIN64
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

// The server path that one view's class key names; nullopt when that view has no server for
// the class. Every access names the view itself and goes from the root: a key opened in the
// other view does not carry its view to the keys opened below it (a 32-bit process would be
// sent back to its own view at the CLSID key).
constexpr DWORD kServerPathTypes = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;

std::optional<std::wstring> RegisteredServer(RegistrationScope scope, REGSAM view) {
    const std::wstring path =
        std::wstring(kClassesPath) + L"\\CLSID\\" + GuidText(CLSID_TavrinCom) + L"\\InprocServer32";
    RegKey key;
    LSTATUS status = ::RegOpenKeyExW(ScopeRoot(scope), path.c_str(), 0, KEY_QUERY_VALUE | view, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    CheckStatus(status);
    DWORD bytes = 0;
    status = ::RegGetValueW(key.get(), nullptr, nullptr, kServerPathTypes, nullptr, nullptr, &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    CheckStatus(status);
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    status = ::RegGetValueW(key.get(), nullptr, nullptr, kServerPathTypes, nullptr, text.data(), &bytes);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    CheckStatus(status);
    text.resize(::wcsnlen(text.data(), text.size()));
    return text;
}

// Removes a key below Classes, with everything in it, from the other view, as far as this
// process may: what that view keeps apart from ours (where a key is not shared).
void DeleteFromOtherView(RegistrationScope scope, const std::wstring& below) {
    const std::wstring path = std::wstring(kClassesPath) + L"\\" + below;
    {
        RegKey key;
        if (::RegOpenKeyExW(ScopeRoot(scope), path.c_str(), 0,
                            DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | kOtherView,
                            key.put()) != ERROR_SUCCESS) {
            return;
        }
        ::RegDeleteTreeW(key.get(), nullptr);  // what is inside; the key itself below
    }
    ::RegDeleteKeyExW(ScopeRoot(scope), path.c_str(), kOtherView, 0);
}

bool SameFile(const std::wstring& a, const std::wstring& b) { return ::_wcsicmp(a.c_str(), b.c_str()) == 0; }

// Unregistration removes this module's registration from its own view and leaves the other
// platform's alone. The class key goes only when it names this module (another copy may have
// been registered since). The ProgID and the interface may be shared by both views (Windows
// shares a ProgID): they go, from both views, once neither view has a server for the class.
void Unregister(RegistrationScope scope, const std::wstring& version, const std::wstring& modulePath) {
    const RegKey classes = OpenClasses(scope);
    if (!classes) return;
    const auto ours = RegisteredServer(scope, 0);
    const bool classIsOurs = !ours || SameFile(*ours, modulePath);
    if (classIsOurs) DeleteTree(classes.get(), L"CLSID\\" + GuidText(CLSID_TavrinCom));

    if (!RegisteredServer(scope, 0) && !RegisteredServer(scope, kOtherView)) {
        const std::wstring interfaceKey = L"Interface\\" + GuidText(IID__TavrinCom);
        DeleteTree(classes.get(), kProgId);
        DeleteTree(classes.get(), interfaceKey);
        DeleteFromOtherView(scope, kProgId);
        DeleteFromOtherView(scope, interfaceKey);
    }
    if (classIsOurs) UnregisterTypeLibrary(classes.get(), version);
}

// Inside a catch handler: the HRESULT of the failure in flight.
HRESULT CurrentFailure() noexcept {
    try {
        throw;
    } catch (const RegistrationFailure& failure) {
        return failure.hr();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

}  // namespace

HKEY ScopeRoot(RegistrationScope scope) noexcept {
    return scope == RegistrationScope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

HRESULT RegisterServer(RegistrationScope scope, const std::wstring& modulePath) noexcept {
    TypeLibraryFacts library;
    try {
        library = ReadTypeLibrary(modulePath);
        const RegKey classes = CreateClasses(scope);
        for (const auto& entry : Entries(modulePath, library)) Write(classes.get(), entry);
        return S_OK;
    } catch (...) {
        const HRESULT hr = CurrentFailure();
        if (!library.version.empty()) {
            try {
                Unregister(scope, library.version, modulePath);
            } catch (...) {
                // The registration's own failure is the one to report.
            }
        }
        return hr;
    }
}

HRESULT UnregisterServer(RegistrationScope scope, const std::wstring& modulePath) noexcept {
    try {
        Unregister(scope, ReadTypeLibrary(modulePath).version, modulePath);
        return S_OK;
    } catch (...) {
        return CurrentFailure();
    }
}

}  // namespace tavrin::com
