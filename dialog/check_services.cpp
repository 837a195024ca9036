#include "dialog/check_services.h"

#include "common/text.h"
#include "platform/secret.h"

#include <string>

namespace tavrin::dialog {

TestRequest::~TestRequest() { platform::SecureWipe(parameter); }

namespace {

std::u16string FirstLine(const std::u16string& text) {
    const std::size_t end = text.find_first_of(u"\r\n");
    return end == std::u16string::npos ? text : text.substr(0, end);
}

std::u16string Seconds(std::chrono::milliseconds took) {
    const long long ms = took.count() < 0 ? 0 : took.count();
    std::string text = std::to_string(ms / 1000) + ".";
    const std::string fraction = std::to_string(ms % 1000);
    text += std::string(3 - fraction.size(), '0') + fraction;
    return FromUtf8(text);
}

std::u16string TrustText(const ssh::RunFacts& facts) {
    using Trust = ssh::RunFacts::Trust;
    switch (facts.trust) {
        case Trust::Pinned: return u"pinned";
        case Trust::Recorded: return u"recorded in " + facts.file + u" line " + FromUtf8(std::to_string(facts.line));
        case Trust::RecordedNowhere: return u"recorded nowhere: press Fetch key to pin it";
        case Trust::Unknown: break;
    }
    return u"not accepted";
}

}  // namespace

std::u16string TestReportText(const TestReport& report) {
    std::u16string text = (report.up ? u"UP: " : u"DOWN: ") + FirstLine(report.result) + u"\n";
    text += u"Time: " + Seconds(report.took) + u" s\n";
    const ssh::RunReport& run = report.run;
    if (run.fingerprint.empty()) {
        text += u"Host key: not reached\n";
    } else {
        text += u"Host key: " + run.fingerprint + u", " + TrustText(run.facts) + u"\n";
    }
    if (!run.algorithms.empty()) text += u"Key exchange: " + run.algorithms + u"\n";
    if (!run.fingerprint.empty()) {
        text += run.facts.keptLogin ? u"Login: a kept login served the check\n" : u"Login: a new login\n";
    }
    if (run.facts.exitStatus) text += u"Exit status: " + FromUtf8(std::to_string(*run.facts.exitStatus)) + u"\n";
    if (!report.output.empty() || report.outputCut) {
        text += report.outputCut ? u"Output (its first 64 KiB):\n" : u"Output:\n";
        text += report.output;
    } else {
        text += u"Output: none";
    }
    return text;
}

std::u16string FetchedKeyText(const ssh::HostKeyProbe& probe) {
    if (!probe.error.empty()) return u"The host key was not fetched: " + probe.error;
    if (probe.fingerprint.empty()) return u"The host key was not fetched: the server showed none";
    return u"Host key: " + probe.keyType + u" " + probe.fingerprint + u"\nknown_hosts: " + probe.knownHosts;
}

}  // namespace tavrin::dialog
