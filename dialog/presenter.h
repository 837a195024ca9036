#pragma once
// What shows a loaded form modally: on Windows the real dialog window, in tests a scripted
// stand-in that plays the user's part.

namespace tavrin::dialog {

class frmmain;

class FormPresenter {
public:
    virtual ~FormPresenter() = default;
    // Shows the loaded form modally, topmost and with no owner window, and returns once the
    // form has been unloaded (by OK or by closing the window). The user's actions reach the
    // form through its handlers: edits through the controls' texts and selections, OK through
    // btOK_Click, the close box through CloseBox. Failures propagate.
    virtual void ShowModal(frmmain& form) = 0;
};

// The presenter of this platform: the Win32 dialog on Windows. Elsewhere there is no window
// system to show the form on, and showing fails with an AutomationError.
FormPresenter& PlatformPresenter();

}  // namespace tavrin::dialog
