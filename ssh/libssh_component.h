#pragma once
// The SSH client component over libssh: factories with options of their own. LibsshFactory
// (ssh/component.h) is the one with the default options.

#include "ssh/component.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavrin::ssh {

struct LibsshOptions {
    // The known_hosts files against which server keys are checked, in order (a missing one is
    // skipped). nullopt: the account's and the machine's (DefaultKnownHostsFiles in
    // ssh/known_hosts.h), looked up at each connect.
    std::optional<std::vector<std::u16string>> knownHostsFiles;
};

// A factory whose SSH objects connect with these options. The objects keep what they need, so
// they may outlive the factory. Kept connections (ssh/session_pool.h) are shared only between
// checks that read the same known_hosts files.
std::unique_ptr<ComponentFactory> MakeLibsshFactory(LibsshOptions options);

}  // namespace tavrin::ssh
