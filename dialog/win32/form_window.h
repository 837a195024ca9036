#pragma once
// The Win32 dialog of the form frmmain: one window of its own class with the controls of the
// design, shown modally by a message loop of its own, and the Bastion window that its
// "&Bastion..." button opens over it (modal, owned by it, of a class of its own).
//
// Control ids are ControlId(tab index) (dialog/form_layout.h); the controls are created in tab
// order, so the window's child order is the tab order.

#include "dialog/presenter.h"

namespace tavrin::dialog::win32 {

// The window class of the dialog, registered against this module for each showing.
inline constexpr wchar_t kFormWindowClass[] = L"TavrinFrmMain";
inline constexpr wchar_t kBastionWindowClass[] = L"TavrinBastion";

class Win32Presenter final : public FormPresenter {
public:
    // Creates the window hidden from the loaded form, puts it into the topmost band, shows it
    // with no owner and runs the thread's messages until the form is unloaded: by OK (the
    // controls' texts are read into the form, then btOK_Click composes) or by the close box.
    // A port that OK refuses is reported in a message box and the dialog stays open; a bastion
    // field that it refuses is reported so too, and the Bastion window opens on that field.
    // A password typed anew for the Credential Manager is written only after Yes to a question;
    // No leaves the dialog open with nothing written.
    // A WM_QUIT that arrives meanwhile closes the dialog and is posted again.
    void ShowModal(frmmain& form) override;
};

}  // namespace tavrin::dialog::win32
