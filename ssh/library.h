#pragma once
// libssh's global state. The first use in the process calls ssh_init, the end of the last use
// calls ssh_finalize: both from ordinary calls of the component, never from DllMain.

#include <string>

namespace tavrin::ssh {

// libssh's version and crypto backend, as it names them ("0.12.2/openssl").
std::string LibraryVersion();

class LibraryUse {
public:
    // Throws tavrin::AutomationError when libssh cannot be initialised.
    LibraryUse();
    ~LibraryUse();
    LibraryUse(const LibraryUse&) = delete;
    LibraryUse& operator=(const LibraryUse&) = delete;
};

}  // namespace tavrin::ssh
