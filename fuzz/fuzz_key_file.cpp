#include "ssh/ppk_key.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using tavrin::ssh::keyfile::KeyFileProblem;
namespace keyfile = tavrin::ssh::keyfile;

// Key file texts as an attacker could leave them: the PuTTY reader, the OpenSSH inspection and
// the clean-up of editor leftovers. Encrypted PuTTY files are only parsed (a pass phrase would
// make every input an Argon2 run); unencrypted ones go through the MAC check and the rewrite.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Normalising twice changes nothing more, and leaves no CR, BOM or blank at a line's end.
    const auto once = keyfile::NormaliseKeyText(text);
    if (keyfile::NormaliseKeyText(once.get()).get() != once.get()) std::abort();
    for (std::size_t i = 0; i < once.get().size(); ++i) {
        const char c = once.get()[i];
        if (c == '\r') std::abort();
        if (c == '\n' && i > 0 && (once.get()[i - 1] == ' ' || once.get()[i - 1] == '\t')) std::abort();
    }

    // Base64: what decodes encodes back to the same symbols once blanks are gone.
    if (const auto decoded = keyfile::DecodeBase64(text)) {
        const auto again = keyfile::DecodeBase64(keyfile::EncodeBase64(decoded->get()).get());
        if (!again || again->get() != decoded->get()) std::abort();
    }

    if (const auto facts = keyfile::InspectOpenSshKey(text)) keyfile::InspectPublicBlob(facts->publicBlob);

    try {
        const keyfile::PpkFile file = keyfile::ParsePpk(text);
        keyfile::InspectPublicBlob(file.publicBlob);
        if (file.Encrypted()) return 0;
        // What passes the MAC becomes an OpenSSH key whose public part is the file's.
        const auto converted = keyfile::PpkToOpenSsh(file, std::nullopt);
        const auto facts = keyfile::InspectOpenSshKey(converted.get());
        if (!facts || facts->cipher != "none" || facts->publicBlob != file.publicBlob) std::abort();
    } catch (const KeyFileProblem&) {
    }
    return 0;
}
