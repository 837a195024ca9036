#pragma once
// libssh's global state. The first use in the process calls ssh_init, the end of the last use
// calls ssh_finalize: both from ordinary calls of the component, never from DllMain.

namespace tavrin::ssh {

class LibraryUse {
public:
    // Throws tavrin::AutomationError when libssh cannot be initialised.
    LibraryUse();
    ~LibraryUse();
    LibraryUse(const LibraryUse&) = delete;
    LibraryUse& operator=(const LibraryUse&) = delete;
};

}  // namespace tavrin::ssh
