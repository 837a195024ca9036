#pragma once
// libssh's global state. The first use in the process calls ssh_init, the end of the last use
// calls ssh_finalize: both from ordinary calls of the component, never from DllMain.

#include <string>

namespace tavrin::ssh {

// libssh's version and crypto backend, as it names them ("0.12.2/openssl").
std::string LibraryVersion();

// Frees what the crypto library keeps for the calling thread (OpenSSL's error queue, say). A
// thread that nobody joins calls it as its last step, before it reports that it is done, so that
// nothing of it is left for the process's end to find.
void ReleaseThreadState() noexcept;

class LibraryUse {
public:
    // Throws tavrin::AutomationError when libssh cannot be initialised.
    LibraryUse();
    ~LibraryUse();
    LibraryUse(const LibraryUse&) = delete;
    LibraryUse& operator=(const LibraryUse&) = delete;
};

}  // namespace tavrin::ssh
