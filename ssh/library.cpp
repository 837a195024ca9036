#include "ssh/library.h"

#include "common/automation_error.h"
#include "ssh/crypto.h"

#include <libssh/libssh.h>
#if defined(TAVRIN_LIBSSH_OPENSSL)
#include <openssl/crypto.h>
#endif

#include <mutex>

namespace tavrin::ssh {

namespace {

std::mutex& UseMutex() {
    static std::mutex m;
    return m;
}
int uses = 0;

}  // namespace

LibraryUse::LibraryUse() {
    std::lock_guard lock(UseMutex());
    if (uses == 0) {
        crypto::Prepare();
        if (ssh_init() != SSH_OK) {
            ssh_finalize();
            throw errors::ComponentFailure(u"The SSH library could not be initialised");
        }
    }
    ++uses;
}

std::string LibraryVersion() { return ssh_version(0); }

void ReleaseThreadState() noexcept {
#if defined(TAVRIN_LIBSSH_OPENSSL)
    OPENSSL_thread_stop();
#endif
}

LibraryUse::~LibraryUse() {
    std::lock_guard lock(UseMutex());
    if (--uses == 0) ssh_finalize();
}

}  // namespace tavrin::ssh
