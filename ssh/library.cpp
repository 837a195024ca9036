#include "ssh/library.h"

#include "common/automation_error.h"

#include <libssh/libssh.h>

#include <mutex>

#if defined(_WIN32)
#include <gcrypt.h>

#include <cstdarg>
#endif

namespace tavrin::ssh {

namespace {

std::mutex& UseMutex() {
    static std::mutex m;
    return m;
}
int uses = 0;

#if defined(_WIN32)
// libgcrypt's own messages (such as its note about disk statistics under Wine) would go to
// the host's standard output: they are dropped.
void QuietGcryptLog(void*, int, const char*, va_list) {}

void PrepareGcrypt() {
    static std::once_flag once;
    std::call_once(once, [] {
        gcry_set_log_handler(&QuietGcryptLog, nullptr);
        gcry_check_version(nullptr);
        // Without secure memory: libssh's finalize terminates it, and a later initialise in the
        // same process (the next plug-in object) could not bring it back.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}
#endif

}  // namespace

LibraryUse::LibraryUse() {
    std::lock_guard lock(UseMutex());
    if (uses == 0) {
#if defined(_WIN32)
        PrepareGcrypt();
#endif
        if (ssh_init() != SSH_OK) {
            ssh_finalize();
            throw errors::ComponentFailure(u"The SSH library could not be initialised");
        }
    }
    ++uses;
}

LibraryUse::~LibraryUse() {
    std::lock_guard lock(UseMutex());
    if (--uses == 0) ssh_finalize();
}

}  // namespace tavrin::ssh
