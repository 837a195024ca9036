#include "plugin/check_run.h"

#include "common/automation_error.h"
#include "common/base64.h"
#include "common/numbers.h"
#include "common/text.h"
#include "dialog/frmmain.h"
#include "parameters/fields.h"
#include "platform/message_queue.h"
#include "platform/secret.h"
#include "platform/secret_store.h"
#include "plugin/host_value.h"
#include "plugin/portable_object.h"
#include "plugin/verdict.h"
#include "ssh/records.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <optional>
#include <string>
#include <variant>

namespace tavrin::plugin {

namespace {

using Clock = std::chrono::steady_clock;

// The SSH component's own limit when the time-out is 0 or less; the wait gives the run this
// much longer than its time-out before it abandons it.
constexpr int kDefaultTimeoutSeconds = 60;
constexpr int kWaitGraceSeconds = 5;
// The debug trace carries at most this many UTF-16 units of the output (64 KiB).
constexpr std::size_t kTracedOutputUnits = kDetailedOutputUnits;
// How often a wait that can be cancelled looks at its flag.
constexpr std::chrono::milliseconds kCancelSlice{100};

// One check at a time per thread: a second check started from inside the first one's wait
// (a host call dispatched by the pump) would overwrite the thread's records.
thread_local bool checkWaiting = false;

class WaitingMark {
public:
    WaitingMark() { checkWaiting = true; }
    ~WaitingMark() { checkWaiting = false; }
    WaitingMark(const WaitingMark&) = delete;
    WaitingMark& operator=(const WaitingMark&) = delete;
};

std::u16string FailureText(std::u16string_view description) {
    return u"ERR: " + std::u16string(description) + u"( 0)";
}

std::u16string Decimal(std::uint64_t number) { return FromUtf8(std::to_string(number)); }

// How the wait for the run ended.
enum class WaitEnd {
    Completed,   // the run raised its completion flag
    OutputLost,  // a piece of output could not be held in memory
    EventLost,   // a post to this thread failed: some event of the run will never come
    Quit,        // the host asked the thread to quit
    TimedOut,    // the run's time-out and the grace have passed
    Cancelled,   // the caller raised its cancel flag
};

struct WaitResult {
    WaitEnd end = WaitEnd::Completed;
    int quitCode = 0;
};

// Pumps the thread's messages until the run raises its completion flag or the wait has to be
// given up, sleeping in the platform's wait between messages instead of spinning.
WaitResult WaitForCompletion(Clock::time_point deadline, std::uint64_t refusedBefore,
                             const std::atomic<bool>* cancel) {
    const auto& outcome = modTavrin::Outcome();
    for (;;) {
        if (cancel != nullptr && cancel->load()) return {WaitEnd::Cancelled};
        const platform::PumpResult pumped = platform::PumpPending();
        if (pumped.quit) return {WaitEnd::Quit, pumped.quitCode};
        if (outcome.outputLost) return {WaitEnd::OutputLost};
        if (platform::RefusedPosts() != refusedBefore) return {WaitEnd::EventLost};
        if (outcome.completionFlag != 0) return {WaitEnd::Completed};
        const auto now = Clock::now();
        if (now >= deadline) return {WaitEnd::TimedOut};
        // Whole milliseconds, rounded up, so that the last wait does not end just short.
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (cancel != nullptr) wait = std::min(wait, kCancelSlice);
        platform::WaitForMessage(wait);
    }
}

// How much of the output is shown when it is cut after `most` units: never inside a surrogate pair.
std::size_t ShownUnits(const std::u16string& output, std::size_t most) {
    if (output.size() <= most) return output.size();
    std::size_t shown = most;
    if (output[shown - 1] >= 0xD800 && output[shown - 1] <= 0xDBFF) --shown;
    return shown;
}

// "Received: " and the output, cut after kTracedOutputUnits with a note of how much was left out.
std::u16string ReceivedTrace(const std::u16string& output) {
    const std::size_t shown = ShownUnits(output, kTracedOutputUnits);
    if (shown == output.size()) return u"Received: " + output;
    return u"Received: " + output.substr(0, shown) + u"\n[the trace stops here: " +
           Decimal(output.size() - shown) + u" more characters of output were not traced]";
}

// The password from where the string says it is kept, before PWD: the Windows Credential
// Manager (CRED, whose user name, when set, replaces USR) or DPAPI (PWDE). A store that cannot
// be read ends the check before it connects, naming the field and why; no other field is taken
// in its place.
void TakeStoredPassword(std::u16string_view parameters, modTavrin::ConnectionSettings& settings) {
    using tavrin::parameters::Field;
    const std::u16string credential = TrimBlanks(tavrin::parameters::StoredValue(parameters, Field::Credential));
    const std::u16string encrypted = TrimBlanks(tavrin::parameters::StoredValue(parameters, Field::ProtectedPassword));
    if (!credential.empty()) {
        platform::CredentialRead read = platform::ReadGenericCredential(credential);
        const std::u16string named = u"The credential \"" + credential + u"\" (CRED)";
        switch (read.end) {
            case platform::CredentialRead::End::Read: break;
            case platform::CredentialRead::End::Missing:
                throw errors::ComponentFailure(named + u" is not in the Windows Credential Manager of the account "
                                                       u"this check runs as");
            case platform::CredentialRead::End::Failed:
                throw errors::ComponentFailure(named + u" could not be read: " + read.error);
            case platform::CredentialRead::End::Unsupported:
                throw errors::ComponentFailure(named + u" is in the Windows Credential Manager, which is a Windows "
                                                       u"store: it cannot be read on this system");
        }
        if (read.password.empty()) throw errors::ComponentFailure(named + u" holds no password");
        platform::SecureWipe(settings.password);
        settings.password = read.password.get();
        if (!read.user.empty()) settings.userName = read.user;
        return;
    }
    if (encrypted.empty()) return;
    const std::u16string named = u"The encrypted password (PWDE)";
    if (!platform::HasWindowsSecretStores()) {
        throw errors::ComponentFailure(named + u" is encrypted with DPAPI, which is a Windows store: it cannot be "
                                               u"decrypted on this system");
    }
    std::string blob;
    if (!DecodeBase64(ToUtf8(encrypted), blob)) throw errors::ComponentFailure(named + u" is not valid Base64");
    platform::DpapiResult opened = platform::UnprotectPassword(blob);
    if (!opened.ok) {
        throw errors::ComponentFailure(named + u" cannot be decrypted here (it was made on another computer or "
                                               u"by another account): " + opened.error);
    }
    if (opened.password.empty()) throw errors::ComponentFailure(named + u" holds no password");
    platform::SecureWipe(settings.password);
    settings.password = opened.password.get();
}

// Whatever way a check leaves: the connection is released, the output's memory given back and
// the password overwritten in the thread's records.
class CheckCleanup {
public:
    explicit CheckCleanup(ObjectAccess& object) : object_(object) {}
    ~CheckCleanup() {
        object_.Form().Run().ReleaseConnection();
        modTavrin::ReleaseOutput(modTavrin::Outcome());
        modTavrin::WipePassword(modTavrin::Settings());
    }
    CheckCleanup(const CheckCleanup&) = delete;
    CheckCleanup& operator=(const CheckCleanup&) = delete;

private:
    ObjectAccess& object_;
};

Verdict Check(ObjectAccess& object, std::optional<int>& quitCode, const std::atomic<bool>* cancel,
              CheckDetails* details) {
    auto& settings = modTavrin::Settings();
    const CheckCleanup cleanup(object);
    settings.timeout = object.TimeoutAsInteger16();
    settings.hostName = object.HostnameAsText();

    struct WipedText {
        std::u16string text;
        ~WipedText() { platform::SecureWipe(text); }
    } parameters{object.ParameterAsText()};
    // The fields as the table of the parameter string names them; Base64 fields decoded.
    using tavrin::parameters::Field;
    const auto value = [&](Field field) { return tavrin::parameters::Value(parameters.text, field); };
    settings.userName = value(Field::User);
    platform::SecureWipe(settings.password);
    settings.password = value(Field::Password);
    TakeStoredPassword(parameters.text, settings);
    settings.protocol = value(Field::Protocol);
    settings.port = RoundToInteger16(ReadNumber(value(Field::Port)));
    settings.keyFile = value(Field::KeyFile);
    settings.keyType = value(Field::KeyType);
    settings.command = value(Field::Command);
    const std::u16string comparisonOperator = value(Field::Comparison);
    const std::u16string comparisonValue = value(Field::ComparisonValue);
    const std::u16string returnDataMode = value(Field::ReturnMode);
    settings.hostKeyPins = value(Field::HostKeys);
    const std::u16string reuse = value(Field::Reuse);
    const std::optional<int> reuseSeconds = tavrin::parameters::ReuseSeconds(reuse);
    if (!reuseSeconds) {
        throw errors::ComponentFailure(tavrin::parameters::ReuseProblem(reuse));
    }
    settings.reuse = *reuseSeconds;
    // The bastion's fields are checked before anything connects; JFP by the component.
    const tavrin::parameters::JumpParse jump = tavrin::parameters::ParseJump(value(Field::Jump));
    if (!jump.ok()) throw errors::ComponentFailure(jump.error);
    settings.jumpHost = jump.jump ? jump.jump->host : std::u16string();
    settings.jumpPort = jump.jump ? jump.jump->port : 22;
    settings.jumpUser = jump.jump ? jump.jump->user : std::u16string();
    platform::SecureWipe(settings.jumpPassword);
    settings.jumpPassword = value(Field::JumpPassword);
    settings.jumpKeyFile = value(Field::JumpKeyFile);
    settings.jumpHostKeyPins = value(Field::JumpHostKeys);
    settings.certificate = value(Field::Certificate);

    // The later rules' values are checked before anything connects.
    RunEnd end;
    std::optional<Pattern> pattern;
    if (comparisonOperator == u"RC") {
        const std::optional<int> wanted = WantedExitStatus(comparisonValue);
        if (!wanted) {
            throw errors::ComponentFailure(u"The exit status \"" + comparisonValue + u"\" is not a whole number");
        }
        end.wantedStatus = *wanted;
    } else if (IsPatternRule(comparisonOperator) && !comparisonValue.empty()) {
        std::variant<Pattern, std::u16string> compiled = Pattern::Compile(comparisonValue);
        if (auto* error = std::get_if<std::u16string>(&compiled)) throw errors::ComponentFailure(*error);
        pattern.emplace(std::get<Pattern>(std::move(compiled)));
        end.pattern = &*pattern;
    }

    if (settings.userName.empty()) return {false, u"ERR: can't connect to an SSH server without a USERNAME"};
    if (settings.password.empty() && settings.keyFile.empty()) {
        return {false, u"ERR: can't connect to an SSH server without a PASSWORD"};
    }

    auto& outcome = modTavrin::Outcome();
    modTavrin::ReleaseOutput(outcome);
    outcome.outputLost = false;
    // The events of the run come through this thread's queue: without one the wait could
    // only end by its bound.
    if (!platform::CurrentThreadQueue().Ready()) {
        return {false, FailureText(u"this thread cannot receive the events of the SSH connection "
                                   u"(its message queue could not be created)")};
    }

    const int seconds = (settings.timeout > 0 ? settings.timeout : kDefaultTimeoutSeconds) + kWaitGraceSeconds;
    WaitResult waited;
    {
        WaitingMark mark;
        const std::uint64_t refusedBefore = platform::RefusedPosts();
        const auto deadline = Clock::now() + std::chrono::seconds(seconds);
        object.Form().Get_mount_list(std::u16string());
        modTavrin::WipePassword(settings);  // the component holds its own copy now
        waited = WaitForCompletion(deadline, refusedBefore, cancel);
    }
    // No event of this run reaches the handlers any more; an abandoned session is cancelled.
    object.Form().Run().ReleaseConnection();
    if (details != nullptr) details->run = object.Form().Run().LastRun();

    switch (waited.end) {
    case WaitEnd::Quit:
        quitCode = waited.quitCode;
        return {false, u"The check was abandoned: the host asked this thread to quit"};
    case WaitEnd::OutputLost:
        return {false, u"The output could not be held in memory; the check was abandoned"};
    case WaitEnd::EventLost:
        return {false, u"An event of the SSH connection could not be delivered to this thread; the check was "
                       u"abandoned"};
    case WaitEnd::TimedOut:
        return {false, u"The check did not end within " + Decimal(static_cast<std::uint64_t>(seconds)) +
                           u" seconds; it was abandoned"};
    case WaitEnd::Cancelled:
        return {false, u"The check was cancelled"};
    case WaitEnd::Completed:
        break;
    }

    if (!outcome.errorText.empty()) {
        return {false, outcome.startFailed ? FailureText(outcome.errorText) : outcome.errorText};
    }
    modTavrin::DebugTrace(ReceivedTrace(outcome.collectedOutput));
    if (details != nullptr) {
        const std::size_t shown = ShownUnits(outcome.collectedOutput, kDetailedOutputUnits);
        details->output = outcome.collectedOutput.substr(0, shown);
        details->outputCut = shown < outcome.collectedOutput.size();
    }
    end.exitStatus = object.Form().Run().LastRun().facts.exitStatus;
    Verdict verdict = JudgeOutput(outcome.collectedOutput, comparisonOperator, comparisonValue, returnDataMode, end);
    modTavrin::ReleaseOutput(outcome);
    return verdict;
}

}  // namespace

namespace {

bool RunCheck(ObjectAccess& object, const std::atomic<bool>* cancel, CheckDetails* details) {
    Verdict verdict;
    std::optional<int> quitCode;
    if (checkWaiting) {
        verdict = {false, FailureText(u"a check is already running on this thread")};
    } else {
        try {
            verdict = Check(object, quitCode, cancel, details);
        } catch (const AutomationError& e) {
            verdict = {false, FailureText(e.description())};
        } catch (const std::bad_alloc&) {
            verdict = {false, FailureText(u"Out of memory")};
        } catch (const std::exception& e) {
            verdict = {false, FailureText(FromUtf8(e.what()))};
        }
    }
    try {
        object.PutResult(verdict.text);
    } catch (...) {
        // Storing a text into the object's own property does not fail in practice; if it ever
        // does, the Boolean still reaches the host.
    }
    // The quit request that ended the wait belongs to the host's own loop.
    if (quitCode) platform::PostQuit(*quitCode);
    return verdict.up;
}

}  // namespace

bool sa_docheck(ObjectAccess& object) { return RunCheck(object, nullptr, nullptr); }

bool sa_docheck(ObjectAccess& object, const std::atomic<bool>& cancel, CheckDetails& details) {
    return RunCheck(object, &cancel, &details);
}

bool PortableObject::sa_docheck() { return plugin::sa_docheck(*this); }

}  // namespace tavrin::plugin
