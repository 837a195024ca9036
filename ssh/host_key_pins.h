#pragma once
// Pinned host keys: the value of the parameter string's HFP field, one or more SHA256
// fingerprints as ssh-keygen -l prints them ("SHA256:" and 43 characters of unpadded Base64),
// separated by commas. With pins, exactly those keys are accepted and known_hosts is not read.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::ssh {

struct HostKeyPins {
    std::vector<std::u16string> fingerprints;  // each "SHA256:..." exactly as ssh-keygen prints it
    std::u16string error;                      // set when the value is malformed: what is wrong
    bool ok() const { return error.empty(); }
};

// Blanks around each fingerprint are allowed; an empty value gives no pins (and no error).
HostKeyPins ParseHostKeyPins(std::u16string_view value);

// The value with `fingerprint` appended after a comma (alone when the value is empty), or the
// value as it is when it already pins that key.
std::u16string WithPinAdded(std::u16string_view value, std::u16string_view fingerprint);

}  // namespace tavrin::ssh
