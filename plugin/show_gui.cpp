#include "plugin/show_gui.h"

#include "dialog/check_services.h"
#include "dialog/frmmain.h"
#include "dialog/show_gui.h"
#include "plugin/check_run.h"
#include "plugin/portable_object.h"

#include <chrono>
#include <new>

namespace tavrin::plugin {

TestingServices::TestingServices(ssh::ComponentFactory& factory) : factory_(factory) {}

dialog::TestReport TestingServices::RunTest(const dialog::TestRequest& request, const std::atomic<bool>& cancel) {
    dialog::TestReport report;
    const auto started = std::chrono::steady_clock::now();
    try {
        // An object of the test's own, on this thread, whose form creates its components from
        // the same factory as the host's object: the check is the host's check in every way
        // except that its result goes nowhere but into the report.
        PortableObject object(factory_);
        object.sa_hostname = request.hostName;
        object.sa_timeout = request.timeout;
        object.sa_parameter = request.parameter;
        CheckDetails details;
        report.up = plugin::sa_docheck(object, cancel, details);
        if (const auto* text = std::get_if<std::u16string>(&object.sa_result)) report.result = *text;
        report.run = std::move(details.run);
        report.output = std::move(details.output);
        report.outputCut = details.outputCut;
    } catch (const std::bad_alloc&) {
        report = {};
        report.result = u"ERR: Out of memory( 0)";
    } catch (...) {
        report = {};
        report.result = u"ERR: the test could not be run( 0)";
    }
    report.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return report;
}

ssh::HostKeyProbe TestingServices::FetchKey(const std::u16string& host, int port, std::chrono::seconds timeout,
                                            const std::atomic<bool>& cancel) {
    return factory_.ProbeHostKey(host, port, timeout, cancel);
}

void sa_showGUI(ObjectAccess& object) {
    const dialog::EditingInput input{object.HostnameAsText(), object.TimeoutAsText(), object.ParameterAsText()};
    TestingServices services(object.Form().Run().Factory());
    if (const std::optional<std::u16string> edited = dialog::EditParameterString(object.Form(), input, &services)) {
        object.PutParameter(*edited);
    }
}

}  // namespace tavrin::plugin
