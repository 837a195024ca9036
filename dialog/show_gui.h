#pragma once
// The dialog cycle: the form filled from a check's settings, shown modally, and the parameter
// string that OK composes. The plug-in object's sa_showGUI (plugin/show_gui.h) hands it the
// object's properties and stores what comes back.

#include <optional>
#include <string>

namespace tavrin::dialog {

class frmmain;
class CheckServices;

// The three properties of the plug-in object as text.
struct EditingInput {
    std::u16string hostName;
    std::u16string timeout;
    std::u16string parameter;
};

// Fills the form (loading it), shows it modally and returns, after OK, the new parameter
// string: OK's fixed layout followed by the fields of the opened string that the dialog does
// not edit. nullopt when the dialog was closed without OK. Failures propagate as
// tavrin::AutomationError. `services` run the Test and Fetch key buttons while the form is shown.
std::optional<std::u16string> EditParameterString(frmmain& form, const EditingInput& input,
                                                  CheckServices* services = nullptr);

}  // namespace tavrin::dialog
