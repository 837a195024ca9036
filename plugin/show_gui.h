#pragma once
// sa_showGUI of the plug-in object: the dialog cycle (dialog/show_gui.h) over the object's
// properties, with the check run behind the dialog's Test and Fetch key buttons.

#include "dialog/check_services.h"
#include "plugin/object_access.h"
#include "ssh/component.h"

namespace tavrin::plugin {

// Shows the object's form filled from its properties; after OK stores the new parameter
// string through the object's own put. A close stores nothing. Failures propagate as
// tavrin::AutomationError.
void sa_showGUI(ObjectAccess& object);

// The dialog's Test and Fetch key over the check run and a component factory: a test is
// sa_docheck on an object of its own, on the calling thread; the object's properties and the
// host's object are never touched.
class TestingServices final : public dialog::CheckServices {
public:
    explicit TestingServices(ssh::ComponentFactory& factory);
    dialog::TestReport RunTest(const dialog::TestRequest& request, const std::atomic<bool>& cancel) override;
    ssh::HostKeyProbe FetchKey(const std::u16string& host, int port, std::chrono::seconds timeout,
                               const std::atomic<bool>& cancel) override;

private:
    ssh::ComponentFactory& factory_;
};

}  // namespace tavrin::plugin
