#pragma once
// Owners for the raw handles of the COM boundary: BSTR, VARIANT and registry keys.
// Interface pointers are held in Microsoft::WRL::ComPtr.

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace tavrin::com {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "OLECHAR and char16_t must both be UTF-16 code units");

// An owned BSTR. A null BSTR is a valid, empty text.
class Bstr {
public:
    Bstr() noexcept = default;
    // Copies the text; throws std::bad_alloc when the string cannot be allocated.
    explicit Bstr(std::u16string_view text);
    explicit Bstr(std::wstring_view text);
    ~Bstr() { ::SysFreeString(bstr_); }
    Bstr(Bstr&& other) noexcept : bstr_(std::exchange(other.bstr_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        std::swap(bstr_, other.bstr_);
        return *this;
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;

    BSTR get() const noexcept { return bstr_; }
    // Frees what it holds and hands out the address for an [out] BSTR* parameter.
    BSTR* put() noexcept {
        Reset();
        return &bstr_;
    }
    BSTR release() noexcept { return std::exchange(bstr_, nullptr); }
    void Reset() noexcept { ::SysFreeString(std::exchange(bstr_, nullptr)); }
    UINT size() const noexcept { return ::SysStringLen(bstr_); }

private:
    BSTR bstr_ = nullptr;
};

// An owned VARIANT, cleared on destruction.
class Variant {
public:
    Variant() noexcept { ::VariantInit(&v_); }
    ~Variant() { ::VariantClear(&v_); }
    Variant(Variant&& other) noexcept : Variant() { std::swap(v_, other.v_); }
    Variant& operator=(Variant&& other) noexcept {
        std::swap(v_, other.v_);
        return *this;
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    const VARIANT& get() const noexcept { return v_; }
    VARIANT& get() noexcept { return v_; }
    VARIANT* address() noexcept { return &v_; }
    const VARIANT* address() const noexcept { return &v_; }
    // Clears what it holds and hands out the address for an [out] VARIANT* parameter.
    VARIANT* put() noexcept {
        ::VariantClear(&v_);
        return &v_;
    }
    // Moves the value out into a caller-owned VARIANT (which must not hold anything).
    void DetachTo(VARIANT* target) noexcept {
        *target = v_;
        ::VariantInit(&v_);
    }
    VARTYPE type() const noexcept { return V_VT(&v_); }

private:
    VARIANT v_;
};

// An open registry key.
class RegKey {
public:
    RegKey() noexcept = default;
    ~RegKey() { Reset(); }
    RegKey(RegKey&& other) noexcept : key_(std::exchange(other.key_, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept {
        std::swap(key_, other.key_);
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    HKEY get() const noexcept { return key_; }
    HKEY* put() noexcept {
        Reset();
        return &key_;
    }
    explicit operator bool() const noexcept { return key_ != nullptr; }
    void Reset() noexcept {
        if (key_ != nullptr) ::RegCloseKey(std::exchange(key_, nullptr));
    }

private:
    HKEY key_ = nullptr;
};

// BSTR <-> std::u16string: a null BSTR is the empty text.
std::u16string ToU16(BSTR text);
std::wstring ToWide(std::u16string_view text);
std::u16string ToU16(std::wstring_view text);

}  // namespace tavrin::com
