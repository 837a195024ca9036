#include "ssh/library.h"

#include "common/automation_error.h"
#include "ssh/crypto.h"

#include <libssh/libssh.h>

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

LibraryUse::~LibraryUse() {
    std::lock_guard lock(UseMutex());
    if (--uses == 0) ssh_finalize();
}

}  // namespace tavrin::ssh
