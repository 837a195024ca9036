#pragma once
// The module-level records of the remote command run: connection settings and run outcome,
// one of each per thread, shared by every plug-in object on that thread. (Module modTavrin's
// codec of texts belongs to the parameter string: parameters/codec.h.)

#include <cstdint>
#include <string>
#include <string_view>

namespace modTavrin {

struct ConnectionSettings {
    std::u16string hostName;
    std::int16_t port = 0;
    std::u16string protocol;
    std::u16string userName;
    std::u16string password;
    std::u16string keyFile;
    std::u16string keyType;
    std::u16string command;
    std::int16_t timeout = 0;
    std::u16string hostKeyPins;  // the HFP field as found; empty: known_hosts decides
    std::int32_t reuse = 0;      // the REUSE field's seconds; 0: a fresh connection, closed after
    // The bastion (JMP as read: empty host, a direct connection), its password or pass phrase
    // (JPW), key file (JKF) and pinned host keys (JFP).
    std::u16string jumpHost;
    std::int32_t jumpPort = 22;
    std::u16string jumpUser;
    std::u16string jumpPassword;
    std::u16string jumpKeyFile;
    std::u16string jumpHostKeyPins;
    std::u16string certificate;  // the CERT field: a certificate file for the key file
};

struct RunOutcome {
    std::int16_t completionFlag = 0;  // 0 lowered, -1 raised; any non-zero value ends the wait
    std::u16string collectedOutput;
    std::u16string errorText;
    // A piece of output could not be held (an allocation failed): what was collected has a
    // hole and was given back; the run ends DOWN.
    bool outputLost = false;
    // The run could not start: its error text is a failure of the check run's own ("ERR: ...").
    bool startFailed = false;
};

// Gives the collected output's memory back (clear alone keeps the capacity on the thread).
void ReleaseOutput(RunOutcome& outcome) noexcept;

// Overwrites the password before its memory is given back (platform/secret.h).
void WipePassword(ConnectionSettings& settings) noexcept;

// This thread's records.
ConnectionSettings& Settings();
RunOutcome& Outcome();

// One text to the debug output, nothing added.
void DebugTrace(std::u16string_view text);

}  // namespace modTavrin
