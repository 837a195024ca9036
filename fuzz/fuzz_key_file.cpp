#include "common/automation_error.h"
#include "fuzz/ppk_writer.h"
#include "ssh/ppk_key.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

using tavrin::ssh::keyfile::KeyFileProblem;
namespace keyfile = tavrin::ssh::keyfile;

// Key file texts as an attacker could leave them: the PuTTY reader, its key derivation and
// decryption, the OpenSSH and PEM inspections (the PEM one with its DER reader of encrypted
// PKCS #8 keys) and the clean-up of editor leftovers.
//
// Input: the file's text; after its last NUL byte, if any, the pass phrase's bytes. Encrypted
// PuTTY files are opened with that pass phrase only when their Argon2 work stays within
// fuzz::kArgon2Budget. Each file that reads is also written again by fuzz/ppk_writer.h, under
// the pass phrase, with a MAC that matches (an unencrypted one also encrypted): that copy must
// open with the pass phrase (or be refused for what its key holds), and never with another one.

namespace {

using Kind = KeyFileProblem::Kind;

// The text PpkToOpenSsh gives for a MAC that does not match; a file written with the right MAC
// must never get it.
constexpr std::string_view kMacMismatch = "its MAC does not match its contents";

// What passes the MAC becomes an unencrypted OpenSSH key whose public part is the file's.
void CheckConverted(const keyfile::PpkFile& file, const tavrin::platform::SecretBytes& converted) {
    const auto facts = keyfile::InspectOpenSshKey(converted.get());
    if (!facts || facts->cipher != "none" || facts->publicBlob != file.publicBlob) std::abort();
    if (keyfile::NormaliseKeyText(converted.get()).get() != converted.get()) std::abort();
}

// Opens with a pass phrase that may be wrong; returns the problem's kind, or nothing when the
// file opened.
std::optional<Kind> Open(const keyfile::PpkFile& file, const std::optional<std::string_view>& phrase) {
    try {
        CheckConverted(file, keyfile::PpkToOpenSsh(file, phrase));
        return std::nullopt;
    } catch (const KeyFileProblem& problem) {
        return problem.kind();
    }
}

// The reader's fields against those a written file must give back.
bool SameFields(const keyfile::PpkFile& a, const keyfile::PpkFile& b) {
    return a.version == b.version && a.algorithm == b.algorithm && a.encryption == b.encryption &&
           a.comment == b.comment && a.publicBlob == b.publicBlob && a.keyDerivation == b.keyDerivation &&
           a.argon2Memory == b.argon2Memory && a.argon2Passes == b.argon2Passes &&
           a.argon2Parallelism == b.argon2Parallelism && a.argon2Salt == b.argon2Salt;
}

// The file written again under `sealPhrase` must open with it, and with no other.
void CheckWritten(const keyfile::PpkFile& file, const std::string& sealPhrase) {
    std::string written;
    try {
        written = fuzz::WritePpk(file, sealPhrase);
    } catch (const tavrin::AutomationError&) {
        return;  // Argon2 parameters that the library refuses (a salt too short for it)
    }
    keyfile::PpkFile again;
    try {
        again = keyfile::ParsePpk(written);
    } catch (const KeyFileProblem&) {
        std::abort();  // what the reader took, written plainly, must read again
    }
    if (!SameFields(file, again)) std::abort();
    const std::optional<std::string_view> right =
        file.Encrypted() ? std::optional<std::string_view>(sealPhrase) : std::nullopt;
    try {
        CheckConverted(again, keyfile::PpkToOpenSsh(again, right));
    } catch (const KeyFileProblem& problem) {
        // The right pass phrase is never wrong, and the MAC matches; the key itself may still be
        // refused.
        if (problem.kind() == Kind::WrongPassPhrase || problem.kind() == Kind::NoPassPhrase) std::abort();
        if (std::string_view(problem.what()) == kMacMismatch) std::abort();
    }
    if (file.Encrypted()) {
        // Another pass phrase never opens it.
        const std::string wrong = sealPhrase + "\x01";
        if (!Open(again, std::string_view(wrong))) std::abort();
    }
}

void CheckPpk(const keyfile::PpkFile& file, const std::optional<std::string_view>& phrase) {
    keyfile::InspectPublicBlob(file.publicBlob);
    const bool phraseGiven = phrase && !phrase->empty();
    if (file.Encrypted() && !phraseGiven) {
        // No derivation is tried without a pass phrase.
        const auto kind = Open(file, phrase);
        if (!kind || (*kind != Kind::NoPassPhrase && *kind != Kind::Dsa && *kind != Kind::Unsupported)) std::abort();
    } else if (fuzz::WithinArgon2Budget(file)) {
        // A pass phrase that was given is never reported missing.
        const auto kind = Open(file, phrase);
        if (kind == Kind::NoPassPhrase) std::abort();
        if (!kind && !file.Encrypted()) {
            // An unencrypted file opens only with the MAC that its contents give (its comment as
            // written, or without the blanks an editor may have added at its end).
            keyfile::PpkFile trimmed = file;
            while (!trimmed.comment.empty() && (trimmed.comment.back() == ' ' || trimmed.comment.back() == '\t')) {
                trimmed.comment.pop_back();
            }
            const auto macOf = [](const keyfile::PpkFile& f) { return keyfile::ParsePpk(fuzz::WritePpk(f, "")).mac; };
            if (macOf(file) != file.mac && macOf(trimmed) != file.mac) std::abort();
        }
    }
    if (!fuzz::WithinArgon2Budget(file)) return;

    // Written again under the pass phrase (or "fuzz"), with a MAC that matches; an unencrypted
    // file also encrypted, its clear private part as the key.
    const std::string sealPhrase = phraseGiven ? std::string(*phrase) : std::string("fuzz");
    CheckWritten(file, sealPhrase);
    if (!file.Encrypted()) CheckWritten(fuzz::WithEncryption(file), sealPhrase);
}

bool SameDerivation(const std::optional<keyfile::Pkcs8Derivation>& a, const std::optional<keyfile::Pkcs8Derivation>& b) {
    if (!a || !b) return !a && !b;
    return a->kind == b->kind && a->scheme == b->scheme && a->iterations == b->iterations &&
           a->scryptN == b->scryptN && a->scryptR == b->scryptR && a->scryptP == b->scryptP;
}

// A PEM key's one block, written again, reads to the same facts and is its own canonical form.
void CheckPem(std::string_view text) {
    std::optional<keyfile::PemFacts> facts;
    try {
        facts = keyfile::InspectPemKey(text);
    } catch (const KeyFileProblem& problem) {
        if (problem.kind() != Kind::Damaged && problem.kind() != Kind::Unsupported) std::abort();
        return;
    }
    if (!facts) return;
    if (facts->derivation && !facts->encrypted) std::abort();
    std::optional<keyfile::PemFacts> again;
    try {
        again = keyfile::InspectPemKey(facts->text.get());
    } catch (const KeyFileProblem&) {
        std::abort();
    }
    if (!again || again->label != facts->label || again->encrypted != facts->encrypted ||
        again->keyType != facts->keyType || !SameDerivation(again->derivation, facts->derivation) ||
        again->text.get() != facts->text.get()) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.rfind('\0');
    const std::string_view text = input.substr(0, nul);
    const std::optional<std::string_view> phrase =
        nul == std::string_view::npos ? std::nullopt : std::optional<std::string_view>(input.substr(nul + 1));

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

    // What is inspected is written again as the text libssh is given; that text inspects to the
    // same facts and is its own canonical form.
    if (const auto facts = keyfile::InspectOpenSshKey(text)) {
        keyfile::InspectPublicBlob(facts->publicBlob);
        if (facts->kdf != "bcrypt" && facts->bcryptRounds != 0) std::abort();
        const auto again = keyfile::InspectOpenSshKey(facts->text.get());
        if (!again || again->cipher != facts->cipher || again->kdf != facts->kdf ||
            again->bcryptRounds != facts->bcryptRounds || again->publicBlob != facts->publicBlob ||
            again->text.get() != facts->text.get()) {
            std::abort();
        }
    }
    CheckPem(text);

    std::optional<keyfile::PpkFile> file;
    try {
        file = keyfile::ParsePpk(text);
    } catch (const KeyFileProblem& problem) {
        if (problem.kind() != Kind::Damaged && problem.kind() != Kind::Unsupported && problem.kind() != Kind::Dsa) {
            std::abort();
        }
    }
    if (file) {
        if (!keyfile::LooksLikePpk(text)) std::abort();
        CheckPpk(*file, phrase);
    }
    return 0;
}
