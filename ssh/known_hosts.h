#pragma once
// The host key check against known_hosts files, read by us (not by libssh), failing closed:
// a line for the host that cannot be read, a revoked key, or a file that exists but cannot
// be read refuses the server just as a changed key does. Nothing is ever written.
//
// Understood: plain names and patterns ("*", "?", "!" negation, comma lists), "[host]:port"
// for ports other than 22, hashed names ("|1|salt|hash", HMAC-SHA1), several keys per host,
// "@revoked" (that key is refused for the hosts the line names) and "@cert-authority". This
// client never asks for host certificates, so a certificate authority can vouch for nothing
// here: a CA line never matches a plain host key, and a host that only CA lines cover is
// refused rather than taken as recorded nowhere (whoever wrote the line wants the host verified).

#include "platform/files.h"
#include "ssh/libssh_handles.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::ssh {

struct KnownHostsOutcome {
    enum class Result {
        NotRecorded,  // no file names the host (or no file exists): accepted, nothing written
        CertificateAuthorityOnly,  // only @cert-authority lines name the host: refused, since no
                                   // host certificate is ever verified; names the first such line
        Matches,      // a line names the host with this key, and nothing refuses it
        Changed,      // lines name the host, none with this key
        Revoked,      // an @revoked line holds this key for the host
        Damaged,      // a line that names the host (or may) cannot be read
        Unreadable,   // a file exists but cannot be read
    };
    Result result = Result::NotRecorded;
    std::u16string file;  // the file that decided (for the texts)
    std::size_t line = 0; // 1-based line in it that decided; 0 for a whole file
    std::u16string detail;  // Unreadable: the system's reason; Damaged: what is wrong with the line
};

// One file's text. `port` 22 looks the host up by its plain name (and by "[host]:22"), any other
// by "[host]:port"; names compare without regard to ASCII case, and a hashed name is the HMAC of
// the lower-case name; @cert-authority lines name hosts by the same rules. Of the lines that name
// the host, the strongest outcome decides, in this order: Revoked, Damaged, Changed (no plain line
// holds this key), Matches, CertificateAuthorityOnly (no plain line names the host, a CA line
// does); the first line of that kind is named. A line that clearly names other hosts is skipped
// even when the rest of it is damaged; one whose host field cannot be evaluated (a malformed
// hashed name) may name the host and is Damaged, and so is a CA line for the host whose key
// cannot be read. A UTF-8 BOM and CRLF line ends are accepted.
KnownHostsOutcome CheckKnownHostsText(std::string_view content, const std::u16string& fileName,
                                      std::string_view host, int port, ssh_key serverKey);

// The files as read once for a connection: the key types asked for before the key exchange and
// the check after it see the same contents.
struct KnownHostsFile {
    std::u16string path;
    platform::FileContents contents;
};
using KnownHostsSnapshot = std::vector<KnownHostsFile>;
KnownHostsSnapshot ReadKnownHostsFiles(const std::vector<std::u16string>& files);

// The files in order; a missing file is skipped, and one that exists but cannot be read (a
// folder, access denied, more than a few MiB) is Unreadable. The strongest outcome of all files
// decides, in the order Revoked, Unreadable, Damaged, Changed, Matches, CertificateAuthorityOnly,
// NotRecorded, the first file of that kind named: a changed key in one file refuses even when
// another file holds this key, and a plain line in any file decides over a CA line in another.
KnownHostsOutcome CheckKnownHostsFiles(const KnownHostsSnapshot& files, std::string_view host, int port,
                                       ssh_key serverKey);

// What an outcome says of the key, in a few words for a person: "recorded in FILE line N",
// "recorded nowhere", or what refuses it ("recorded with another key in FILE line N: refused", ...).
std::u16string KnownHostsVerdict(const KnownHostsOutcome& outcome);

// The key types recorded for the host ("ssh-ed25519", "ecdsa-sha2-nistp256", ...), in the
// order the files name them, each once; @revoked and @cert-authority lines do not count. The
// key exchange asks for these first, so that a server with several host keys shows the one
// that was recorded.
std::vector<std::string> RecordedKeyTypes(const KnownHostsSnapshot& files, std::string_view host, int port);

// The files OpenSSH reads by default, in this order: the account's known_hosts and known_hosts2
// (~/.ssh; Windows: the profile's .ssh folder), then the machine's ssh_known_hosts and
// ssh_known_hosts2 (/etc/ssh; Windows: %ProgramData%\ssh). A folder that is not known (no
// home folder) gives no files.
std::vector<std::u16string> DefaultKnownHostsFiles();

}  // namespace tavrin::ssh
