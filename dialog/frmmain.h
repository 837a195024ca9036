#pragma once
// The form frmmain: the configuration dialog, and the owner of the SSH connection during a check.

#include "ssh/remote_run.h"

#include <optional>
#include <string>

namespace tavrin::dialog {

class frmmain {
public:
    explicit frmmain(ssh::ComponentFactory& factory = ssh::LibsshFactory()) : run_(factory) {}

    // The run's start, reached by the check run.
    void Get_mount_list(std::optional<std::u16string> MountName = std::nullopt) {
        run_.Get_mount_list(std::move(MountName));
    }
    ssh::RemoteCommandRun& Run() { return run_; }

private:
    ssh::RemoteCommandRun run_;
};

}  // namespace tavrin::dialog
