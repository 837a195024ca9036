// Private key files as the check reads them: DescribeKeyFile (the format's detection, the PEM
// and OpenSSH paths into libssh, the PuTTY path with its pass phrase candidates) over a file
// written to memory-backed storage for each input.
//
// Input: the file's bytes; after their last NUL byte, if any, a mode byte and a pass phrase in
// UTF-8. The mode's bits:
//   1  the pass phrase is given (without it: none)
//   2  a PuTTY file that reads is written again by fuzz/ppk_writer.h under the pass phrase, with
//      a MAC that matches, so that its key gets past the MAC check
//   4  ... under the pass phrase's bytes in the ANSI code page instead of UTF-8 (what PuTTYgen
//      on Windows may have written)
//   8  ... and an unencrypted one written encrypted, its clear private part as the key
//
// Each execution stays cheap: a pass phrase is given only to files whose key derivation stays
// within small budgets, checked here before DescribeKeyFile: PuTTY's Argon2 within
// fuzz::kArgon2Budget, OpenSSH's bcrypt at most kBcryptBudget rounds (as InspectOpenSshKey reads
// them), and an encrypted PKCS #8 key's iterations at most kIterationBudget and its scrypt work
// at most kScryptBudget (as InspectPemKey reads them). The store gives libssh only what those
// two have read, so the budget holds for what libssh derives.
//
// The check never asks anyone for a pass phrase: standard input is a pipe that holds a line,
// and an execution that takes any of it fails.

#include "common/automation_error.h"
#include "common/text.h"
#include "fuzz/ppk_writer.h"
#include "platform/codepage.h"
#include "ssh/key_store.h"
#include "ssh/library.h"
#include "ssh/ppk_key.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

namespace keyfile = tavrin::ssh::keyfile;

constexpr std::uint32_t kBcryptBudget = 4;
constexpr std::uint64_t kIterationBudget = 2048;
constexpr std::uint64_t kScryptBudget = 8192;  // N * r * p (and each of them): 1 MiB, a few ms
constexpr std::string_view kTerminalLine = "pass phrase from the terminal\n";

// Whether a PEM key's derivation, as the key store reads it, asks for little work. A file the
// store refuses before any derivation is within the budget.
bool PemWithinBudget(std::string_view text) {
    std::optional<keyfile::PemFacts> facts;
    try {
        facts = keyfile::InspectPemKey(text);
    } catch (const keyfile::KeyFileProblem&) {
        return true;
    }
    if (!facts || !facts->derivation) return true;
    const keyfile::Pkcs8Derivation& derivation = *facts->derivation;
    if (derivation.kind != keyfile::Pkcs8Derivation::Kind::Scrypt) return derivation.iterations <= kIterationBudget;
    return derivation.scryptN <= kScryptBudget && derivation.scryptR <= kScryptBudget &&
           derivation.scryptP <= kScryptBudget && derivation.scryptN * derivation.scryptR * derivation.scryptP <= kScryptBudget;
}

bool WithinBudget(std::string_view bytes) {
    if (keyfile::LooksLikePpk(bytes)) {
        try {
            return fuzz::WithinArgon2Budget(keyfile::ParsePpk(bytes));
        } catch (const keyfile::KeyFileProblem&) {
            return true;  // refused before any derivation
        }
    }
    const auto text = keyfile::NormaliseKeyText(bytes);
    if (const auto facts = keyfile::InspectOpenSshKey(text.get())) {
        if (facts->kdf == "bcrypt" && facts->bcryptRounds > kBcryptBudget) return false;
    }
    return PemWithinBudget(text.get());
}

// The key file of this process, and standard input as a pipe that holds one line.
struct Scene {
    tavrin::ssh::LibraryUse library;
    std::string path = "/dev/shm/tavrin-fuzz-key-" + std::to_string(::getpid());
    int terminal = -1;  // the pipe's writing end

    Scene() {
        if (const int tty = ::open("/dev/tty", O_RDONLY | O_CLOEXEC); tty >= 0) {
            ::close(tty);
            std::fputs("fuzz_key_store: a terminal is open to this process; reads from it go unseen\n", stderr);
        }
        int ends[2];
        if (::pipe(ends) != 0 || ::dup2(ends[0], STDIN_FILENO) < 0) std::abort();
        ::close(ends[0]);
        terminal = ends[1];
        Refill();
    }
    ~Scene() { std::remove(path.c_str()); }

    int Held() const {
        int held = 0;
        if (::ioctl(STDIN_FILENO, FIONREAD, &held) != 0) std::abort();
        return held;
    }
    void Refill() const {
        for (int held = Held(); held < static_cast<int>(kTerminalLine.size()); ++held) {
            const char c = kTerminalLine[static_cast<std::size_t>(held)];
            if (::write(terminal, &c, 1) != 1) std::abort();
        }
    }
    std::u16string Write(std::string_view bytes) const {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) std::abort();
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        if (std::fclose(file) != 0 || !written) std::abort();
        return tavrin::FromUtf8(path);
    }
};

tavrin::ssh::KeyFileDescription Describe(const Scene& scene, const std::u16string& path,
                                         const std::optional<std::u16string>& phrase) {
    tavrin::ssh::KeyFileDescription out;
    try {
        out = tavrin::ssh::DescribeKeyFile(path, phrase);
    } catch (const tavrin::AutomationError&) {
        std::abort();  // only a file that is missing or unreadable throws
    }
    if (scene.Held() != static_cast<int>(kTerminalLine.size())) {
        std::fputs("fuzz_key_store: the key file's pass phrase was read from standard input\n", stderr);
        std::abort();
    }

    static const std::u16string_view kFormats[] = {u"", u"OpenSSH", u"PEM", u"PuTTY", u"PuTTY v2", u"PuTTY v3"};
    if (std::find(std::begin(kFormats), std::end(kFormats), out.format) == std::end(kFormats)) std::abort();
    const bool phraseGiven = phrase && !phrase->empty();
    if (out.opens == true && (!out.problem.empty() || out.format.empty())) std::abort();
    if (out.opens == false && out.problem.empty()) std::abort();
    // Not tried: only an encrypted file without a pass phrase.
    if (!out.opens && (!out.encrypted || phraseGiven || !out.problem.empty())) std::abort();
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Scene scene;
    const auto& page = tavrin::platform::SystemAnsiCodePage();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = input.rfind('\0');
    const std::string_view text = input.substr(0, nul);
    const std::string_view tail = nul == std::string_view::npos ? std::string_view{} : input.substr(nul + 1);
    const unsigned mode = tail.empty() ? 0u : static_cast<unsigned char>(tail[0]);
    const std::u16string phraseText = tavrin::FromUtf8(tail.empty() ? tail : tail.substr(1));
    std::optional<std::u16string> phrase;
    if ((mode & 1) != 0) phrase = phraseText;
    const bool phraseGiven = phrase && !phrase->empty();

    // The PuTTY file written again under the pass phrase's UTF-8 or ANSI bytes.
    std::string bytes(text);
    std::optional<keyfile::PpkFile> sealed;
    const bool ansi = (mode & 4) != 0;
    const std::string sealBytes = ansi ? page.Encode(phraseText) : tavrin::ToUtf8(phraseText);
    if ((mode & 2) != 0 && keyfile::LooksLikePpk(text)) {
        try {
            keyfile::PpkFile file = keyfile::ParsePpk(text);
            if ((mode & 8) != 0) file = fuzz::WithEncryption(std::move(file));
            if (fuzz::WithinArgon2Budget(file) && (!file.Encrypted() || phraseGiven)) {
                bytes = fuzz::WritePpk(file, sealBytes);
                sealed = std::move(file);
            }
        } catch (const keyfile::KeyFileProblem&) {
        } catch (const tavrin::AutomationError&) {
            // Argon2 parameters that the library refuses
        }
    }
    if (phraseGiven && !WithinBudget(bytes)) phrase.reset();

    const std::u16string path = scene.Write(bytes);
    const auto described = Describe(scene, path, phrase);
    // Without a pass phrase an encrypted key never opens.
    if (described.encrypted && !(phrase && !phrase->empty()) && described.opens == true) std::abort();
    if (!sealed) return 0;

    if (described.format != (sealed->version == 2 ? u"PuTTY v2" : u"PuTTY v3")) std::abort();
    if (described.encrypted != sealed->Encrypted() || described.comment != tavrin::FromUtf8(sealed->comment)) {
        std::abort();
    }
    if (!sealed->Encrypted()) return 0;
    if (!phrase) return 0;  // over the budget after all
    // The pass phrase opens the file when its bytes are among the candidates: its UTF-8, or its
    // ANSI bytes when the code page holds it. The key itself may still be refused, but the pass
    // phrase is never called wrong.
    bool ascii = true;
    for (const char16_t c : phraseText) ascii = ascii && c < 0x80;
    const bool holds = page.Decode(sealBytes) == phraseText;
    if (!ansi || ascii || holds) {
        if (described.problem.find(u"is wrong") != std::u16string::npos) std::abort();
    } else if (described.opens == true) {
        std::abort();
    }
    // Another pass phrase never opens it.
    if (Describe(scene, path, phraseText + u"\u0001").opens == true) std::abort();
    return 0;
}
