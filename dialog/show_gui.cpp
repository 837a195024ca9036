#include "dialog/show_gui.h"

#include "common/text.h"
#include "dialog/dialog_result.h"
#include "dialog/frmmain.h"
#include "dialog/parameter_editing.h"

namespace tavrin::dialog {

void sa_showGUI(plugin::ObjectAccess& object) {
    frmmain& form = object.Form();
    // The first use of a control loads the form (Form_Load sets the title, lists and defaults).
    form.txtHostname().SetText(TrimBlanks(object.HostnameAsText()));
    form.txtTimeout().SetText(TrimBlanks(object.TimeoutAsText()));

    const std::u16string parameter = object.ParameterAsText();
    if (!parameter.empty()) {
        // Every lookup and both decodings come before the first control is set, so a value
        // that does not decode fails the call before anything is shown.
        const DialogFields fields = FieldsFromParameterString(parameter);
        form.txtUsername().SetText(fields.userName);
        form.txtPassword().SetText(fields.password);
        form.txtKeyfile().SetText(fields.keyFile);
        form.cmbKeyType().SetListIndex(fields.keyTypeIndex);
        form.cmbProtocol().SetListIndex(fields.protocolIndex);
        form.txtPort().SetText(fields.port);
        form.txtCommand().SetText(fields.command);
        form.cmbContains().SetListIndex(fields.comparisonIndex);
        form.txtContains().SetText(fields.comparisonValue);
        form.cmbReturnResult().SetListIndex(fields.returnModeIndex);
    }

    // The presenter holds the window topmost and runs the modal loop. Only a showing that
    // ended with OK stores anything: a close leaves sa_parameter exactly as it was, whatever an
    // earlier OK of this or another object left in the dialog result. OK's string is followed
    // by the fields of the opened string that the dialog does not edit (pinned host keys, the
    // fields of other writers), so that editing a check never drops them.
    if (form.ShowModal()) object.PutParameter(WithKeptFields(Generic::DialogResult(), parameter));
}

}  // namespace tavrin::dialog
