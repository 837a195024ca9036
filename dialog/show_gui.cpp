#include "dialog/show_gui.h"

#include "common/text.h"
#include "dialog/dialog_result.h"
#include "dialog/frmmain.h"
#include "dialog/parameter_editing.h"

namespace tavrin::dialog {

std::optional<std::u16string> EditParameterString(frmmain& form, const EditingInput& input,
                                                  CheckServices* services) {
    // The first use of a control loads the form (Form_Load sets the title, lists and defaults).
    form.txtHostname().SetText(TrimBlanks(input.hostName));
    form.txtTimeout().SetText(TrimBlanks(input.timeout));

    if (!input.parameter.empty()) {
        // Every lookup and both decodings come before the first control is set, so a value
        // that does not decode fails the call before anything is shown.
        const DialogFields fields = FieldsFromParameterString(input.parameter);
        form.txtUsername().SetText(fields.userName);
        form.ShowPassword(fields);  // with the store's controls
        form.txtKeyfile().SetText(fields.keyFile);
        form.cmbKeyType().SetListIndex(fields.keyTypeIndex);
        form.cmbProtocol().SetListIndex(fields.protocolIndex);
        form.txtPort().SetText(fields.port);
        form.txtCommand().SetText(fields.command);
        form.cmbContains().SetListIndex(fields.comparisonIndex);
        form.txtContains().SetText(fields.comparisonValue);
        form.cmbReturnResult().SetListIndex(fields.returnModeIndex);
        form.txtHostKeys().SetText(fields.hostKeys);
        form.txtReuse().SetText(fields.reuse);
        // The bastion's fields, which the Bastion window shows, and its button's caption.
        form.txtJump().SetText(fields.jump);
        form.txtJumpPassword().SetText(fields.jumpPassword);
        form.txtJumpKeyfile().SetText(fields.jumpKeyFile);
        form.txtJumpHostKeys().SetText(fields.jumpHostKeys);
        form.btBastion().SetText(frmmain::BastionCaption(fields.jump));
    }
    form.SetOpenedParameter(input.parameter);
    struct ServicesForShowing {
        frmmain& form;
        ServicesForShowing(frmmain& f, CheckServices* services) : form(f) { form.SetServices(services); }
        ~ServicesForShowing() {
            form.SetServices(nullptr);
            form.SetOpenedParameter({});
        }
        ServicesForShowing(const ServicesForShowing&) = delete;
        ServicesForShowing& operator=(const ServicesForShowing&) = delete;
    } servicesForShowing(form, services);

    // The presenter holds the window topmost and runs the modal loop. Only a showing that
    // ended with OK gives a string: a close leaves the stored one as it was, whatever an earlier
    // OK of this or another object left in the dialog result. OK's string is followed by the
    // fields of the opened string that the dialog does not edit (pinned host keys, kept
    // connections, the fields of other writers), so that editing a check never drops them.
    if (!form.ShowModal()) return std::nullopt;
    return WithKeptFields(Generic::DialogResult(), input.parameter);
}

}  // namespace tavrin::dialog
