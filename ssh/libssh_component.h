#pragma once
// The SSH client component over libssh (LibsshFactory in ssh/component.h), and its one
// adjustable point for tests.

#include <optional>
#include <string>

namespace tavrin::ssh {

// The known_hosts file against which server keys are checked. By default it is the one of the
// account the check runs under (~/.ssh/known_hosts; on Windows %USERPROFILE%\.ssh\known_hosts);
// tests point it elsewhere, and nullopt restores the default. Applies to SSH objects that
// connect afterwards.
void SetKnownHostsFileForTesting(std::optional<std::u16string> path);

// The file that the next connect uses.
std::u16string KnownHostsFile();

}  // namespace tavrin::ssh
