#include "platform/secret_store.h"

#include "platform/win32_text.h"

#include <windows.h>
#include <wincred.h>
#include <dpapi.h>

#include <memory>
#include <string>

namespace tavrin::platform {

namespace {

// The system's buffers, given back the way each API asks.
struct CredentialFree {
    void operator()(CREDENTIALW* credential) const { CredFree(credential); }
};
struct LocalBufferFree {
    void operator()(BYTE* bytes) const { LocalFree(bytes); }
};
using LocalBuffer = std::unique_ptr<BYTE, LocalBufferFree>;

std::u16string LastErrorText() { return win32::SystemErrorText(GetLastError()); }

// Reads UTF-16LE bytes into `text`; why they are no password text, or empty when they are one:
// an odd byte count, a surrogate without its partner, or a NUL (a password that could never be
// sent).
std::u16string ReadPasswordText(const BYTE* bytes, std::size_t size, SecretText& text) {
    if (size % 2 != 0) {
        return u"its password is not UTF-16 text (an odd number of bytes, " + FromUtf8(std::to_string(size)) + u")";
    }
    text.get().resize(size / 2);
    for (std::size_t i = 0; i < size / 2; ++i) {
        text.get()[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    const std::u16string& t = text.get();
    for (std::size_t i = 0; i < t.size(); ++i) {
        const char16_t c = t[i];
        if (c == u'\0') return u"its password is not usable text (it holds a NUL character)";
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
                ++i;
                continue;
            }
            return u"its password is not UTF-16 text (a lone surrogate)";
        }
        if (c >= 0xDC00 && c <= 0xDFFF) return u"its password is not UTF-16 text (a lone surrogate)";
    }
    return {};
}

// A password's UTF-16LE bytes, in a buffer of their own that is wiped.
SecretBytes Utf16LeBytes(std::u16string_view password) {
    SecretBytes bytes;
    bytes.get().resize(password.size() * 2);
    for (std::size_t i = 0; i < password.size(); ++i) {
        bytes.get()[2 * i] = static_cast<char>(password[i] & 0xFF);
        bytes.get()[2 * i + 1] = static_cast<char>(password[i] >> 8);
    }
    return bytes;
}

bool HasNul(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }

}  // namespace

bool HasWindowsSecretStores() { return true; }

CredentialRead ReadGenericCredential(std::u16string_view target) {
    CredentialRead read;
    if (target.empty() || HasNul(target)) {
        read.error = u"no valid credential name";
        return read;
    }
    const std::wstring name = win32::Wide(target);
    CREDENTIALW* raw = nullptr;
    if (!CredReadW(name.c_str(), CRED_TYPE_GENERIC, 0, &raw)) {
        const DWORD error = GetLastError();
        if (error == ERROR_NOT_FOUND) {
            read.end = CredentialRead::End::Missing;
        } else {
            read.error = win32::SystemErrorText(error);
        }
        return read;
    }
    const std::unique_ptr<CREDENTIALW, CredentialFree> credential(raw);
    const std::u16string why = ReadPasswordText(credential->CredentialBlob, credential->CredentialBlobSize, read.password);
    // The system's copy of the password goes before the buffer is given back.
    SecureWipe(credential->CredentialBlob, credential->CredentialBlobSize);
    if (!why.empty()) {
        read.password.clear();
        read.error = why;
        return read;
    }
    if (credential->UserName != nullptr) read.user = win32::Utf16(credential->UserName);
    read.end = CredentialRead::End::Read;
    return read;
}

std::u16string WriteGenericCredential(std::u16string_view target, std::u16string_view user,
                                      std::u16string_view password) {
    if (target.empty() || HasNul(target)) return u"no valid credential name";
    if (HasNul(user) || HasNul(password)) return u"a user name or password with a NUL character cannot be stored";
    if (password.size() * 2 > CRED_MAX_CREDENTIAL_BLOB_SIZE) {
        return u"the password is longer than the Credential Manager keeps (" +
               FromUtf8(std::to_string(CRED_MAX_CREDENTIAL_BLOB_SIZE / 2)) + u" characters)";
    }
    std::wstring name = win32::Wide(target);
    std::wstring userName = win32::Wide(user);
    // The blob is the password's UTF-16LE units without a terminator, as cmdkey writes it.
    SecretBytes blob = Utf16LeBytes(password);
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = name.data();
    credential.CredentialBlobSize = static_cast<DWORD>(blob.get().size());
    credential.CredentialBlob = reinterpret_cast<BYTE*>(blob.get().data());
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    // An empty user name rather than none: a replaced credential keeps no earlier one.
    credential.UserName = userName.data();
    if (!CredWriteW(&credential, 0)) return LastErrorText();
    return {};
}

std::u16string DeleteGenericCredential(std::u16string_view target) {
    if (target.empty() || HasNul(target)) return u"no valid credential name";
    const std::wstring name = win32::Wide(target);
    if (CredDeleteW(name.c_str(), CRED_TYPE_GENERIC, 0)) return {};
    const DWORD error = GetLastError();
    if (error == ERROR_NOT_FOUND) {
        return u"there is no generic credential \"" + std::u16string(target) + u"\" for this account";
    }
    return win32::SystemErrorText(error);
}

DpapiResult ProtectPassword(std::u16string_view password, DpapiScope scope) {
    DpapiResult result;
    SecretBytes plain = Utf16LeBytes(password);
    DATA_BLOB in{static_cast<DWORD>(plain.get().size()), reinterpret_cast<BYTE*>(plain.get().data())};
    DATA_BLOB out{};
    DWORD flags = CRYPTPROTECT_UI_FORBIDDEN;
    if (scope == DpapiScope::Machine) flags |= CRYPTPROTECT_LOCAL_MACHINE;
    if (!CryptProtectData(&in, nullptr, nullptr, nullptr, nullptr, flags, &out)) {
        result.error = LastErrorText();
        return result;
    }
    const LocalBuffer owned(out.pbData);
    result.blob.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    result.ok = true;
    return result;
}

DpapiResult UnprotectPassword(std::string_view blob) {
    DpapiResult result;
    // CryptUnprotectData reads the blob only; it takes it through a pointer to non-const bytes.
    std::string copy(blob);
    DATA_BLOB in{static_cast<DWORD>(copy.size()), reinterpret_cast<BYTE*>(copy.data())};
    DATA_BLOB out{};
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) {
        result.error = LastErrorText();
        return result;
    }
    const LocalBuffer owned(out.pbData);
    const std::u16string why = ReadPasswordText(out.pbData, out.cbData, result.password);
    SecureWipe(out.pbData, out.cbData);
    if (!why.empty()) {
        result.password.clear();
        result.error = u"it decrypts, but " + why;
        return result;
    }
    result.ok = true;
    return result;
}

}  // namespace tavrin::platform
