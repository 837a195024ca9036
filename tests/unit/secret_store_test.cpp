#include "platform/secret_store.h"

#include "common/text.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <wincred.h>
#endif

#include <string>

namespace {

using namespace tavrin::platform;

#ifdef _WIN32

// A credential of this test's own, deleted whatever way the test ends.
class ScratchCredential {
public:
    explicit ScratchCredential(std::u16string target) : target_(std::move(target)) {
        DeleteGenericCredential(target_);
    }
    ~ScratchCredential() { DeleteGenericCredential(target_); }
    const std::u16string& target() const { return target_; }

private:
    std::u16string target_;
};

TEST(SecretStoreTest, GenericCredentialsAreWrittenReadReplacedAndDeleted) {
    ASSERT_TRUE(HasWindowsSecretStores());
    const ScratchCredential scratch(u"tavrin-test/store");
    const std::u16string& target = scratch.target();
    EXPECT_EQ(ReadGenericCredential(target).end, CredentialRead::End::Missing);

    const struct {
        std::u16string user;
        std::u16string password;
    } writes[] = {
        {u"svc-monitor", u"first p\u00E4ss"},
        {u"", u"\u4E2D\U0001F511 replaced"},  // no user name; characters no ANSI code page has
        {u"DOMAIN\\svc", u"x"},
    };
    for (const auto& w : writes) {
        ASSERT_EQ(WriteGenericCredential(target, w.user, w.password), u"");
        const CredentialRead read = ReadGenericCredential(target);
        ASSERT_EQ(read.end, CredentialRead::End::Read) << tavrin::ToUtf8(read.error);
        EXPECT_EQ(read.user, w.user);
        EXPECT_EQ(read.password.get(), w.password);
    }
    // Stored as cmdkey stores it: UTF-16LE without a terminator.
    PCREDENTIALW raw = nullptr;
    const std::wstring name(target.begin(), target.end());
    ASSERT_TRUE(CredReadW(name.c_str(), CRED_TYPE_GENERIC, 0, &raw));
    EXPECT_EQ(raw->CredentialBlobSize, 2u);
    EXPECT_EQ(raw->Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
    CredFree(raw);

    EXPECT_EQ(DeleteGenericCredential(target), u"");
    EXPECT_EQ(ReadGenericCredential(target).end, CredentialRead::End::Missing);
    EXPECT_NE(DeleteGenericCredential(target), u"");  // already gone
    EXPECT_NE(WriteGenericCredential(u"", u"u", u"p"), u"");
    EXPECT_EQ(ReadGenericCredential(u"").end, CredentialRead::End::Failed);
}

TEST(SecretStoreTest, ABlobThatIsNoUtf16PasswordIsFailedWithAReason) {
    const ScratchCredential scratch(u"tavrin-test/odd-blob");
    const std::wstring name(scratch.target().begin(), scratch.target().end());
    const struct {
        std::string blob;
        const char* why;
    } cases[] = {
        {std::string("abc", 3), "odd"},
        {std::string("\x00\xD8\x41\x00", 4), "surrogate"},  // a high surrogate, then "A"
        {std::string("\x00\xDC", 2), "surrogate"},
        {std::string("p\0\0\0", 4), "NUL"},               // written with its terminator
    };
    for (const auto& c : cases) {
        std::string bytes = c.blob;
        CREDENTIALW credential{};
        credential.Type = CRED_TYPE_GENERIC;
        credential.TargetName = const_cast<wchar_t*>(name.c_str());
        credential.CredentialBlobSize = static_cast<DWORD>(bytes.size());
        credential.CredentialBlob = reinterpret_cast<BYTE*>(bytes.data());
        credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
        ASSERT_TRUE(CredWriteW(&credential, 0));
        const CredentialRead read = ReadGenericCredential(scratch.target());
        EXPECT_EQ(read.end, CredentialRead::End::Failed) << c.why;
        EXPECT_NE(tavrin::ToUtf8(read.error).find(c.why), std::string::npos) << c.why;
        EXPECT_TRUE(read.password.empty()) << c.why;
    }
}

TEST(SecretStoreTest, DpapiBlobsOfBothScopesOpenAndADamagedOneIsRefused) {
    const std::u16string password = u"pa\u00DF \u4E2D\U0001F511";
    for (const DpapiScope scope : {DpapiScope::Machine, DpapiScope::Account}) {
        const DpapiResult sealed = ProtectPassword(password, scope);
        ASSERT_TRUE(sealed.ok) << tavrin::ToUtf8(sealed.error);
        // Encrypted: the password's bytes are not in the blob.
        const std::string plain(reinterpret_cast<const char*>(password.data()), password.size() * 2);
        EXPECT_EQ(sealed.blob.find(plain), std::string::npos);
        const DpapiResult opened = UnprotectPassword(sealed.blob);
        ASSERT_TRUE(opened.ok) << tavrin::ToUtf8(opened.error);
        EXPECT_EQ(opened.password.get(), password);

        // The end of the blob holds its authentication code (the header before it is not all
        // checked by every implementation).
        for (const std::size_t at : {sealed.blob.size() - 1, sealed.blob.size() - 8}) {
            std::string damaged = sealed.blob;
            damaged[at] = static_cast<char>(damaged[at] ^ 0x01);
            const DpapiResult refused = UnprotectPassword(damaged);
            EXPECT_FALSE(refused.ok) << at;
            EXPECT_FALSE(refused.error.empty()) << at;
            EXPECT_TRUE(refused.password.empty()) << at;
        }
        EXPECT_FALSE(UnprotectPassword(sealed.blob.substr(0, sealed.blob.size() / 2)).ok);
    }
    EXPECT_FALSE(UnprotectPassword("").ok);
    EXPECT_FALSE(UnprotectPassword("not a blob at all").ok);
}

#else

TEST(SecretStoreTest, EveryCallSaysTheStoresAreWindowsOnes) {
    EXPECT_FALSE(HasWindowsSecretStores());
    const CredentialRead read = ReadGenericCredential(u"t");
    EXPECT_EQ(read.end, CredentialRead::End::Unsupported);
    const std::u16string texts[] = {
        read.error,
        WriteGenericCredential(u"t", u"u", u"p"),
        DeleteGenericCredential(u"t"),
        ProtectPassword(u"p", DpapiScope::Machine).error,
        ProtectPassword(u"p", DpapiScope::Account).error,
        UnprotectPassword("blob").error,
    };
    for (const auto& text : texts) {
        EXPECT_NE(text.find(u"is a Windows store"), std::u16string::npos) << tavrin::ToUtf8(text);
    }
    EXPECT_FALSE(ProtectPassword(u"p", DpapiScope::Machine).ok);
    EXPECT_FALSE(UnprotectPassword("blob").ok);
}

#endif

}  // namespace
