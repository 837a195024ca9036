#pragma once
// The SSH client component over libssh (LibsshFactory in ssh/component.h), and its one
// adjustable point for tests.

#include <optional>
#include <string>
#include <vector>

namespace tavrin::ssh {

// The known_hosts files against which server keys are checked. By default they are the
// account's and the machine's (DefaultKnownHostsFiles in ssh/known_hosts.h); tests point them
// elsewhere, and nullopt restores the default. Applies to SSH objects that connect afterwards.
void SetKnownHostsFilesForTesting(std::optional<std::vector<std::u16string>> files);
// The same with one file.
void SetKnownHostsFileForTesting(std::optional<std::u16string> path);

// The files that the next connect uses.
std::vector<std::u16string> KnownHostsFiles();

}  // namespace tavrin::ssh
