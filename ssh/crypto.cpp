#include "ssh/crypto.h"

#include "common/automation_error.h"
#include "platform/secret.h"

#include <gcrypt.h>
#include <malloc.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

namespace tavrin::ssh::crypto {

namespace {

// libgcrypt's own messages (such as its note about disk statistics under Wine) would go to
// the host's standard output: they are dropped.
void QuietLog(void*, int, const char*, va_list) {}

int Algorithm(Digest digest) { return digest == Digest::Sha1 ? GCRY_MD_SHA1 : GCRY_MD_SHA256; }

// libgcrypt's memory, overwritten whenever it is given back: what libgcrypt frees (the private
// keys of the Windows build's libssh among it) keeps nothing of itself. The blocks are the C
// library's own, so a block allocated before these functions were installed is freed by them
// alike. Secure memory stays off (see Prepare), so no block comes from libgcrypt's own pool.
std::size_t UsableSize(void* block) {
#if defined(_WIN32)
    return _msize(block);
#else
    return malloc_usable_size(block);
#endif
}

void* Allocate(std::size_t size) {
    if (size == 0) {
        // As libgcrypt's own allocator answers: a request for nothing is a mistake.
        errno = EINVAL;
        return nullptr;
    }
    return std::malloc(size);
}

int NeverSecure(const void*) { return 0; }

void Release(void* block) {
    if (block == nullptr) return;
    platform::SecureWipe(block, UsableSize(block));
    std::free(block);
}

// Never the C library's realloc, which may leave the old block as it was.
void* Reallocate(void* block, std::size_t size) {
    const std::size_t held = UsableSize(block);
    if (size <= held) return block;
    void* moved = std::malloc(size);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, held);
    Release(block);
    return moved;
}

struct MdCloser {
    void operator()(gcry_md_hd_t h) const { gcry_md_close(h); }
};
struct CipherCloser {
    void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};
struct KdfCloser {
    void operator()(gcry_kdf_hd_t h) const { gcry_kdf_close(h); }
};

}  // namespace

void Prepare() {
    static std::once_flag once;
    std::call_once(once, [] {
        // libgcrypt 1.11 marks the handler deprecated but still routes its log through it; no
        // other call keeps its notes (rndw32's "diskperf -y") off standard output.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        gcry_set_log_handler(&QuietLog, nullptr);
#pragma GCC diagnostic pop
        // The key exchange asks for random bytes four at a time, some two thousand times per
        // connection (the post-quantum key pair). The default generator stirs its pool and polls
        // the system for every request, which under Wine is hundreds of server round trips per
        // check. The DRBG (HMAC-SHA256, seeded once from the same system sources, reseeded after
        // its request limit and in a forked child) answers each request from its own state.
        // The choice is honoured only before libgcrypt initialises, so it comes first.
        gcry_control(GCRYCTL_SET_PREFERRED_RNG_TYPE, GCRY_RNG_TYPE_FIPS);
        // Every block is wiped when libgcrypt gives it back. Installing the functions counts as
        // libgcrypt's first initialisation, so it comes after the generator's choice.
        gcry_set_allocation_handler(&Allocate, &Allocate, &NeverSecure, &Reallocate, &Release);
        gcry_check_version(nullptr);
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) == 0) {
            // Without libgcrypt's secure memory, for two reasons. Its pool is torn down by
            // libssh's finalize (gcrypt build: GCRYCTL_TERM_SECMEM, whenever the last use of
            // libssh ends), while the DRBG keeps its state in that pool for the life of the
            // process: the next check's random numbers would come from freed memory. And it
            // would not hold libssh's private keys anyway: libssh builds them from buffers of
            // its own, and libgcrypt moves an S-expression to secure memory only when one of
            // its parts is there already. The functions above wipe every block instead.
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
    });
}

std::string Hash(Digest digest, std::string_view data) {
    Prepare();
    const int algorithm = Algorithm(digest);
    std::string out(gcry_md_get_algo_dlen(algorithm), '\0');
    gcry_md_hash_buffer(algorithm, out.data(), data.data(), data.size());
    return out;
}

std::string Hmac(Digest digest, std::string_view key, std::string_view data) {
    Prepare();
    const int algorithm = Algorithm(digest);
    gcry_md_hd_t raw = nullptr;
    if (gcry_md_open(&raw, algorithm, GCRY_MD_FLAG_HMAC) != 0 || raw == nullptr) {
        throw errors::ComponentFailure(u"The cryptographic library could not compute an HMAC");
    }
    const std::unique_ptr<gcry_md_handle, MdCloser> handle(raw);
    if (gcry_md_setkey(raw, key.data(), key.size()) != 0) {
        throw errors::ComponentFailure(u"The cryptographic library refused an HMAC key");
    }
    gcry_md_write(raw, data.data(), data.size());
    const unsigned char* result = gcry_md_read(raw, algorithm);
    return std::string(reinterpret_cast<const char*>(result), gcry_md_get_algo_dlen(algorithm));
}

std::string ProcessKeyedHash(std::span<const std::string_view> parts) {
    Prepare();
    static const std::string key = [] {
        std::string bytes(32, '\0');
        gcry_randomize(bytes.data(), bytes.size(), GCRY_STRONG_RANDOM);
        return bytes;
    }();
    std::size_t size = 0;
    for (const std::string_view part : parts) size += part.size() + 21;  // the length, ':' and the part
    platform::SecretBytes text;
    text.get().reserve(size);
    for (const std::string_view part : parts) {
        text.get() += std::to_string(part.size());
        text.get() += ':';
        text.get() += part;
    }
    return Hmac(Digest::Sha256, key, text.get());
}

platform::SecretBytes DecryptAes256Cbc(std::string_view key, std::string_view iv, std::string_view data) {
    Prepare();
    constexpr std::size_t kBlock = 16;
    if (key.size() != 32 || iv.size() != kBlock || data.size() % kBlock != 0) {
        throw errors::ComponentFailure(u"AES-256-CBC was given a key, IV or data of the wrong size");
    }
    gcry_cipher_hd_t raw = nullptr;
    if (gcry_cipher_open(&raw, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) != 0 || raw == nullptr) {
        throw errors::ComponentFailure(u"The cryptographic library could not set up AES-256-CBC");
    }
    const std::unique_ptr<gcry_cipher_handle, CipherCloser> handle(raw);
    platform::SecretBytes out{std::string(data)};
    if (gcry_cipher_setkey(raw, key.data(), key.size()) != 0 || gcry_cipher_setiv(raw, iv.data(), iv.size()) != 0 ||
        (!data.empty() && gcry_cipher_decrypt(raw, out.get().data(), out.get().size(), nullptr, 0) != 0)) {
        throw errors::ComponentFailure(u"The cryptographic library could not decrypt with AES-256-CBC");
    }
    return out;
}

platform::SecretBytes Argon2(const Argon2Parameters& parameters, std::string_view password, std::string_view salt,
                             std::size_t length) {
    Prepare();
    int subalgorithm = GCRY_KDF_ARGON2ID;
    if (parameters.flavour == Argon2Flavour::D) subalgorithm = GCRY_KDF_ARGON2D;
    if (parameters.flavour == Argon2Flavour::I) subalgorithm = GCRY_KDF_ARGON2I;
    // Tag length, passes, memory in KiB, lanes: the order libgcrypt takes them in.
    const unsigned long settings[4] = {static_cast<unsigned long>(length), parameters.passes, parameters.memoryKiB,
                                       parameters.parallelism};
    gcry_kdf_hd_t raw = nullptr;
    if (gcry_kdf_open(&raw, GCRY_KDF_ARGON2, subalgorithm, settings, 4, password.data(), password.size(), salt.data(),
                      salt.size(), nullptr, 0, nullptr, 0) != 0 ||
        raw == nullptr) {
        throw errors::ComponentFailure(u"The cryptographic library refused the Argon2 parameters");
    }
    const std::unique_ptr<gcry_kdf_handle, KdfCloser> handle(raw);
    platform::SecretBytes out{std::string(length, '\0')};
    if (gcry_kdf_compute(raw, nullptr) != 0 || gcry_kdf_final(raw, out.get().size(), out.get().data()) != 0) {
        throw errors::ComponentFailure(u"The cryptographic library could not compute Argon2");
    }
    return out;
}

bool SameBytes(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace tavrin::ssh::crypto
