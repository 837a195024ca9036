#pragma once
// The check run: sa_docheck of the plug-in object.

#include "plugin/object_access.h"
#include "ssh/remote_run.h"

#include <atomic>
#include <cstddef>
#include <string>

namespace tavrin::plugin {

// Runs one check for the object and returns true for UP. The result text is stored through
// the object's own PutResult. Never throws: every failure ends as DOWN with a result text.
bool sa_docheck(ObjectAccess& object);

// The most of the output that a check's details carry, in UTF-16 units (64 KiB).
inline constexpr std::size_t kDetailedOutputUnits = 32 * 1024;

// What a check run showed besides its verdict, for the dialog's test.
struct CheckDetails {
    std::u16string output;  // the command's output, cut after kDetailedOutputUnits
    bool outputCut = false;
    ssh::RunReport run;
};

// The same check run, for a caller other than the host: it ends soon (within a tenth of a
// second) after `cancel` is raised, DOWN with "The check was cancelled", and fills `details`.
bool sa_docheck(ObjectAccess& object, const std::atomic<bool>& cancel, CheckDetails& details);

}  // namespace tavrin::plugin
