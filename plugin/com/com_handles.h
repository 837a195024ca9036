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

// A move-only owner of one handle of type H, given back with Free when it goes; a null handle
// owns nothing.
template <typename H, typename Free>
class OwnedHandle {
public:
    OwnedHandle() noexcept = default;
    ~OwnedHandle() { Reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    H get() const noexcept { return handle_; }
    // Gives back what it holds and hands out the address for an [out] parameter.
    H* put() noexcept {
        Reset();
        return &handle_;
    }
    H release() noexcept { return std::exchange(handle_, nullptr); }
    void Reset() noexcept {
        if (handle_ != nullptr) Free{}(std::exchange(handle_, nullptr));
    }
    explicit operator bool() const noexcept { return handle_ != nullptr; }

protected:
    explicit OwnedHandle(H handle) noexcept : handle_(handle) {}

private:
    H handle_ = nullptr;
};

// Overwrites a BSTR's characters before it is freed: a property may hold the parameter string,
// and with it the password's Base64 (the system's BSTR cache would keep it as it was).
void WipeBstr(BSTR text) noexcept;

struct FreeBstr {
    void operator()(BSTR text) const noexcept {
        WipeBstr(text);
        ::SysFreeString(text);
    }
};
struct CloseRegKey {
    void operator()(HKEY key) const noexcept { ::RegCloseKey(key); }
};

// An owned BSTR. A null BSTR is a valid, empty text.
class Bstr : public OwnedHandle<BSTR, FreeBstr> {
public:
    Bstr() noexcept = default;
    // Copies the text; throws std::bad_alloc when the string cannot be allocated.
    explicit Bstr(std::u16string_view text);
    explicit Bstr(std::wstring_view text);

    UINT size() const noexcept { return ::SysStringLen(get()); }
};

// An owned VARIANT, cleared on destruction; a text it owns is overwritten first (WipeBstr).
class Variant {
public:
    Variant() noexcept { ::VariantInit(&v_); }
    ~Variant() { Clear(); }
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
        Clear();
        return &v_;
    }
    // Moves the value out into a caller-owned VARIANT (which must not hold anything).
    void DetachTo(VARIANT* target) noexcept {
        *target = v_;
        ::VariantInit(&v_);
    }
    VARTYPE type() const noexcept { return V_VT(&v_); }

private:
    void Clear() noexcept {
        if (V_VT(&v_) == VT_BSTR) WipeBstr(V_BSTR(&v_));
        ::VariantClear(&v_);
    }

    VARIANT v_;
};

// An open registry key.
using RegKey = OwnedHandle<HKEY, CloseRegKey>;

// BSTR <-> std::u16string: a null BSTR is the empty text.
std::u16string ToU16(BSTR text);
std::wstring ToWide(std::u16string_view text);
std::u16string ToU16(std::wstring_view text);

}  // namespace tavrin::com
