#include "plugin/check_run.h"

#include "common/automation_error.h"
#include "common/text.h"
#include "dialog/frmmain.h"
#include "parameters/codec.h"
#include "parameters/generic.h"
#include "platform/message_queue.h"
#include "plugin/host_value.h"
#include "plugin/portable_object.h"
#include "plugin/verdict.h"
#include "ssh/records.h"

#include <new>

namespace tavrin::plugin {

namespace {

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

// Pumps the thread's messages until the run raises its completion flag, sleeping in the
// platform's wait between messages instead of spinning.
void WaitForCompletion() {
    const auto& outcome = modTavrin::Outcome();
    while (outcome.completionFlag == 0) {
        platform::PumpPending();
        if (outcome.completionFlag != 0) break;
        platform::WaitForMessage();
    }
}

Verdict Check(ObjectAccess& object) {
    auto& settings = modTavrin::Settings();
    settings.timeout = object.TimeoutAsInteger16();
    settings.hostName = object.HostnameAsText();

    const std::u16string parameters = object.ParameterAsText();
    const auto field = [&](std::u16string_view key) { return Generic::GetField(parameters, key); };
    settings.userName = field(u"USR");
    settings.password = modTavrin::DecodeText(field(u"PWD"));
    settings.protocol = field(u"PROTO");
    settings.port = RoundToInteger16(ReadNumber(field(u"PORT")));
    settings.keyFile = field(u"KEYF");
    settings.keyType = field(u"KEYT");
    settings.command = modTavrin::DecodeText(field(u"CMD"));
    const std::u16string comparisonOperator = field(u"CCO");
    const std::u16string comparisonValue = field(u"CON");
    const std::u16string returnDataMode = field(u"RRE");
    settings.hostKeyPins = field(u"HFP");

    if (settings.userName.empty()) return {false, u"ERR: can't connect to an SSH server without a USERNAME"};
    if (settings.password.empty() && settings.keyFile.empty()) {
        return {false, u"ERR: can't connect to an SSH server without a PASSWORD"};
    }

    auto& outcome = modTavrin::Outcome();
    outcome.collectedOutput.clear();
    {
        WaitingMark mark;
        object.Form().Get_mount_list(std::u16string());
        WaitForCompletion();
    }

    if (!outcome.errorText.empty()) return {false, outcome.errorText};
    modTavrin::DebugTrace(u"Received: " + outcome.collectedOutput);
    return JudgeOutput(outcome.collectedOutput, comparisonOperator, comparisonValue, returnDataMode);
}

}  // namespace

bool sa_docheck(ObjectAccess& object) {
    Verdict verdict;
    if (checkWaiting) {
        verdict = {false, FailureText(u"a check is already running on this thread")};
    } else {
        try {
            verdict = Check(object);
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
    return verdict.up;
}

bool PortableObject::sa_docheck() { return plugin::sa_docheck(*this); }

}  // namespace tavrin::plugin
