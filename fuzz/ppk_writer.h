#pragma once
// PuTTY key files written by the fuzz targets themselves: the fields of a file as read, its
// private part encrypted under a pass phrase of the target's choosing and its MAC computed, so
// that the fuzzer's keys get past the MAC check to the rewriting and to libssh. Written from
// the format as PuTTYgen writes it, not with the reader's own key derivation and MAC; the wire
// format's writers and the mapping of the Argon2 lines are the reader's (ssh/ppk_key.h).

#include "common/base64.h"
#include "ssh/crypto.h"
#include "ssh/ppk_key.h"

#include <gcrypt.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace fuzz {

namespace crypto = tavrin::ssh::crypto;
using tavrin::ssh::keyfile::PpkFile;

// Argon2 work (KiB of memory times passes) that one derivation of a fuzz input may cost: 4 MiB
// passes take a few milliseconds, where PuTTYgen's own 8 MiB and some passes take a tenth of a
// second and would leave the fuzzer at a few inputs a second. Inputs that ask for more are
// still parsed, but never opened with a pass phrase.
inline constexpr std::uint64_t kArgon2Budget = 4 * 1024;

inline bool WithinArgon2Budget(const PpkFile& file) {
    return file.version != 3 || !file.Encrypted() ||
           std::uint64_t{file.argon2Memory} * file.argon2Passes <= kArgon2Budget;
}

inline std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out.push_back(kDigits[(static_cast<unsigned char>(c) >> 4) & 0xF]);
        out.push_back(kDigits[static_cast<unsigned char>(c) & 0xF]);
    }
    return out;
}

// "Name-Lines: N" and the Base64 of the bytes, 64 symbols a line.
inline void PutLines(std::string& out, std::string_view name, std::string_view bytes) {
    const std::string encoded = tavrin::EncodeBase64(bytes);
    out += std::string(name) + ": " + std::to_string((encoded.size() + 63) / 64) + "\n";
    for (std::size_t i = 0; i < encoded.size(); i += 64) out += encoded.substr(i, 64) + "\n";
}

struct CipherClose {
    void operator()(gcry_cipher_hd_t handle) const { gcry_cipher_close(handle); }
};

inline std::string EncryptAes256Cbc(std::string_view key, std::string_view iv, std::string data) {
    gcry_cipher_hd_t raw = nullptr;
    if (gcry_cipher_open(&raw, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) != 0) std::abort();
    const std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, CipherClose> handle(raw);
    if (gcry_cipher_setkey(raw, key.data(), key.size()) != 0 || gcry_cipher_setiv(raw, iv.data(), iv.size()) != 0 ||
        gcry_cipher_encrypt(raw, data.data(), data.size(), nullptr, 0) != 0) {
        std::abort();
    }
    return data;
}

// An unencrypted file's fields as an encrypted file would hold them, at the least Argon2 work
// the reader takes; its private part stays the clear one WritePpk encrypts.
inline PpkFile WithEncryption(PpkFile file) {
    if (file.Encrypted()) return file;
    file.encryption = "aes256-cbc";
    if (file.version == 3) {
        file.keyDerivation = "Argon2id";
        file.argon2Memory = 8;
        file.argon2Passes = 1;
        file.argon2Parallelism = 1;
        file.argon2Salt = "salt of a fuzz file";
    }
    return file;
}

// The file's text with `file.privateBlob` as the clear private part (zero bytes added up to a
// whole cipher block when encrypted). Unencrypted files are MACed as PuTTYgen does: version 2
// under the empty pass phrase, version 3 with an empty key. The caller keeps Argon2 within
// the budget.
inline std::string WritePpk(const PpkFile& file, std::string_view passPhrase) {
    crypto::Prepare();
    std::string clear = file.privateBlob.get();
    std::string cipherKey, iv, macKey;
    if (file.Encrypted()) {
        clear.append((16 - clear.size() % 16) % 16, '\0');
        if (file.version == 2) {
            cipherKey = crypto::Hash(crypto::Digest::Sha1, std::string("\0\0\0\0", 4) + std::string(passPhrase)) +
                        crypto::Hash(crypto::Digest::Sha1, std::string("\0\0\0\1", 4) + std::string(passPhrase));
            cipherKey.resize(32);
            iv.assign(16, '\0');
        } else {
            const std::string derived =
                crypto::Argon2(tavrin::ssh::keyfile::Argon2ParametersOf(file), passPhrase, file.argon2Salt, 80).get();
            cipherKey = derived.substr(0, 32);
            iv = derived.substr(32, 16);
            macKey = derived.substr(48);
        }
    }
    if (file.version == 2) {
        macKey = crypto::Hash(crypto::Digest::Sha1, "putty-private-key-file-mac-key" +
                                                        std::string(file.Encrypted() ? passPhrase : ""));
    }
    std::string macInput;
    for (const std::string_view part : {std::string_view(file.algorithm), std::string_view(file.encryption),
                                        std::string_view(file.comment), std::string_view(file.publicBlob),
                                        std::string_view(clear)}) {
        tavrin::ssh::keyfile::PutString(macInput, part);
    }
    const std::string mac =
        crypto::Hmac(file.version == 2 ? crypto::Digest::Sha1 : crypto::Digest::Sha256, macKey, macInput);
    const std::string stored = file.Encrypted() ? EncryptAes256Cbc(cipherKey, iv, clear) : clear;

    std::string out = "PuTTY-User-Key-File-" + std::to_string(file.version) + ": " + file.algorithm + "\n";
    out += "Encryption: " + file.encryption + "\n";
    out += "Comment: " + file.comment + "\n";
    PutLines(out, "Public-Lines", file.publicBlob);
    if (file.version == 3 && file.Encrypted()) {
        out += "Key-Derivation: " + file.keyDerivation + "\n";
        out += "Argon2-Memory: " + std::to_string(file.argon2Memory) + "\n";
        out += "Argon2-Passes: " + std::to_string(file.argon2Passes) + "\n";
        out += "Argon2-Parallelism: " + std::to_string(file.argon2Parallelism) + "\n";
        out += "Argon2-Salt: " + Hex(file.argon2Salt) + "\n";
    }
    PutLines(out, "Private-Lines", stored);
    out += "Private-MAC: " + Hex(mac) + "\n";
    return out;
}

}  // namespace fuzz
