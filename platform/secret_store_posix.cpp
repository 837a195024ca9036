#include "platform/secret_store.h"

namespace tavrin::platform {

namespace {

constexpr std::u16string_view kCredentialManager =
    u"the Windows Credential Manager is a Windows store: there is none on this system";
constexpr std::u16string_view kDpapi = u"DPAPI is a Windows store: there is none on this system";

}  // namespace

bool HasWindowsSecretStores() { return false; }

CredentialRead ReadGenericCredential(std::u16string_view) {
    CredentialRead read;
    read.end = CredentialRead::End::Unsupported;
    read.error = kCredentialManager;
    return read;
}

std::u16string WriteGenericCredential(std::u16string_view, std::u16string_view, std::u16string_view) {
    return std::u16string(kCredentialManager);
}

std::u16string DeleteGenericCredential(std::u16string_view) { return std::u16string(kCredentialManager); }

DpapiResult ProtectPassword(std::u16string_view, DpapiScope) { return DpapiResult{false, {}, {}, std::u16string(kDpapi)}; }

DpapiResult UnprotectPassword(std::string_view) { return DpapiResult{false, {}, {}, std::u16string(kDpapi)}; }

}  // namespace tavrin::platform
