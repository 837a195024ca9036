#pragma once
// The form frmmain: the configuration dialog, and the owner of the SSH connection during a check.
//
// As a dialog the form is loaded on the first use of a control or of its caption: the controls
// are created from the design (dialog/form_layout.h) with their design-time texts and Form_Load
// runs. Unloading drops every control's contents; the next use loads afresh. Showing is done
// by a FormPresenter (dialog/presenter.h), the Win32 window on Windows.

#include "dialog/check_services.h"
#include "dialog/control.h"
#include "dialog/form_layout.h"
#include "dialog/parameter_editing.h"
#include "platform/secret.h"
#include "ssh/remote_run.h"

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <string_view>
#include <vector>

namespace tavrin::dialog {

class FormPresenter;


class frmmain {
public:
    // A null presenter stands for the platform's own (PlatformPresenter), taken when shown.
    explicit frmmain(ssh::ComponentFactory& factory = ssh::LibsshFactory(), FormPresenter* presenter = nullptr)
        : run_(factory), presenter_(presenter) {}
    frmmain(const frmmain&) = delete;
    frmmain& operator=(const frmmain&) = delete;

    // The run's start, reached by the check run.
    void Get_mount_list(std::optional<std::u16string> MountName = std::nullopt) {
        run_.Get_mount_list(std::move(MountName));
    }
    ssh::RemoteCommandRun& Run() { return run_; }

    // Lifecycle of the dialog.
    bool IsLoaded() const { return loaded_; }
    void Load();    // nothing when loaded
    void Unload();  // nothing when not loaded
    bool IsShown() const { return shown_; }
    // Loads the form if needed and shows it modally through the presenter; returns true when
    // the showing ended with an OK that stored a dialog result, false when it was closed.
    // Fails with "Form already displayed; can't show modally" while the form is shown.
    bool ShowModal();

    // The title (loads the form).
    const std::u16string& Caption();
    // The controls (each use loads the form). By name fails with "Object doesn't support
    // this property or method" for a name the form does not have.
    Control& Controls(std::u16string_view name);
    Control& ControlAt(int tabIndex);
    Control& txtHostname() { return ControlAt(tab::txtHostname); }
    Control& cmbProtocol() { return ControlAt(tab::cmbProtocol); }
    Control& txtPort() { return ControlAt(tab::txtPort); }
    Control& txtUsername() { return ControlAt(tab::txtUsername); }
    Control& txtPassword() { return ControlAt(tab::txtPassword); }
    Control& txtKeyfile() { return ControlAt(tab::txtKeyfile); }
    Control& cmbKeyType() { return ControlAt(tab::cmbKeyType); }
    Control& txtCommand() { return ControlAt(tab::txtCommand); }
    Control& cmbContains() { return ControlAt(tab::cmbContains); }
    Control& txtContains() { return ControlAt(tab::txtContains); }
    Control& btOK() { return ControlAt(tab::btOK); }
    Control& txtTimeout() { return ControlAt(tab::txtTimeout); }
    Control& cmbReturnResult() { return ControlAt(tab::cmbReturnResult); }
    Control& txtHostKeys() { return ControlAt(tab::txtHostKeys); }
    Control& btFetchKey() { return ControlAt(tab::btFetchKey); }
    Control& txtReuse() { return ControlAt(tab::txtReuse); }
    Control& btTest() { return ControlAt(tab::btTest); }
    Control& txtTestResult() { return ControlAt(tab::txtTestResult); }

    // What the Test and Fetch key buttons run, for one showing (null: the buttons report that
    // they are not available), and the string the dialog was opened with, whose fields that
    // the dialog does not edit a test keeps as OK does.
    void SetServices(CheckServices* services) { services_ = services; }
    CheckServices* Services() const { return services_; }
    void SetOpenedParameter(const std::u16string& parameter) { opened_ = platform::SecretText(parameter); }

    // The user's actions.
    enum class OkOutcome {
        Stored,            // the dialog result holds the new string and the form is unloaded
        PortNotANumber,    // nothing composed; the form stays loaded with everything typed
        HostKeysInvalid,   // as for the port: the HFP value is malformed
        ReuseInvalid,      // as for the port: the REUSE value is not a number of seconds
    };
    OkOutcome btOK_Click();
    // Why the last OK composed nothing: the message to show.
    const std::u16string& OkMessage() const { return okMessage_; }
    // The control to put right for an outcome that composed nothing.
    static int FocusFor(OkOutcome outcome);

    // Test: the check as OK would store it now (the string OK would write, with the kept
    // fields, and the host name and time-out typed), or what OK would refuse. The result box
    // shows the report.
    std::variant<TestRequest, FieldProblem> TestRequestNow();
    void ShowTestReport(const TestReport& report);
    // Fetch key: where to fetch it (the host name and port typed, within the time-out typed or
    // 10 seconds), or why not. The result box shows what was fetched; pinning appends the
    // fingerprint to the host keys (once).
    struct FetchRequest {
        std::u16string host;
        int port = 22;
        std::chrono::seconds timeout{10};
    };
    std::variant<FetchRequest, FieldProblem> FetchRequestNow();
    void ShowFetchedKey(const ssh::HostKeyProbe& probe);
    void PinHostKey(const std::u16string& fingerprint);
    // The tab index of the control that a problem names.
    static int FocusFor(const FieldProblem& problem);
    // The window's close box: unloads the form without composing anything.
    void CloseBox();

private:
    void Form_Load();
    DialogFields FieldsNow();

    ssh::RemoteCommandRun run_;
    FormPresenter* presenter_;
    bool loaded_ = false;
    bool shown_ = false;
    bool confirmed_ = false;
    std::u16string caption_;
    std::vector<Control> controls_;
    std::u16string okMessage_;
    CheckServices* services_ = nullptr;
    platform::SecretText opened_;
};

}  // namespace tavrin::dialog
