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
    Control& btBastion() { return ControlAt(tab::btBastion); }
    Control& cmbPasswordStore() { return ControlAt(tab::cmbPasswordStore); }
    Control& txtCredential() { return ControlAt(tab::txtCredential); }

    // Where OK keeps the password (cmbPasswordStore, items kPasswordStoreItems). A check opened
    // with its password outside the string (PWDE or CRED) shows kPasswordPlaceholder in the
    // password box, never the password: while the box holds it, OK keeps the stored password
    // as it is (the opened PWDE value; the credential as it is). Anything else in the box is a
    // password typed anew.
    static constexpr std::u16string_view kPasswordPlaceholder = u"\uE000\uE000\uE000\uE000\uE000\uE000\uE000\uE000";
    static int PasswordStoreIndex(DialogFields::PasswordStore store);
    static DialogFields::PasswordStore PasswordStoreForIndex(int listIndex);  // -1: in the string
    // Whether the credential's name box takes input for the list's selection.
    static bool NamesACredential(int listIndex);
    // Sets the password box and the store's controls for an opened check (the placeholder for
    // PWDE and CRED) and remembers the opened PWDE value.
    void ShowPassword(const DialogFields& opened);

    // The bastion's fields (JMP, JPW decoded, JKF, JFP), edited in the Bastion window: its
    // controls by index in kBastionLayout (each use loads the form; an unload drops them with
    // the form's). OK, Test and the kept fields take the bastion from here.
    Control& BastionControlAt(int index);
    Control& txtJump() { return BastionControlAt(bastion_tab::txtJump); }
    Control& txtJumpPassword() { return BastionControlAt(bastion_tab::txtJumpPassword); }
    Control& txtJumpKeyfile() { return BastionControlAt(bastion_tab::txtJumpKeyfile); }
    Control& txtJumpHostKeys() { return BastionControlAt(bastion_tab::txtJumpHostKeys); }

    // What the Test and Fetch key buttons run, for one showing (null: the buttons report that
    // they are not available), and the string the dialog was opened with, whose fields that
    // the dialog does not edit a test keeps as OK does.
    void SetServices(CheckServices* services) { services_ = services; }
    CheckServices* Services() const { return services_; }
    void SetOpenedParameter(const std::u16string& parameter);

    // The user's actions.
    enum class OkOutcome {
        Stored,            // the dialog result holds the new string and the form is unloaded
        PortNotANumber,    // nothing composed; the form stays loaded with everything typed
        HostKeysInvalid,   // as for the port: the HFP value is malformed
        ReuseInvalid,      // as for the port: the REUSE value is not a number of seconds
        JumpInvalid,       // as for the port: the JMP value is not user@host[:port]
        JumpHostKeysInvalid,  // as for the port: the JFP value is malformed
        PasswordKeptOutside,  // "in the check" chosen while the box holds the placeholder
        PasswordNeeded,       // "encrypted for this computer" with no password to encrypt
        CredentialNameMissing,  // "in Windows Credential Manager as:" with no name
        CredentialQuestion,   // a password typed anew for the Credential Manager: OkMessage() is
                              // the question; Yes is btOK_Click(true), No leaves all as it is
        PasswordStoreFailed,  // encrypting or storing failed: OkMessage() says why
    };
    // `credentialWriteConfirmed`: the user said Yes to the question of a CredentialQuestion.
    OkOutcome btOK_Click(bool credentialWriteConfirmed = false);
    // Why the last OK composed nothing: the message to show.
    const std::u16string& OkMessage() const { return okMessage_; }
    // The control to put right for an outcome that composed nothing.
    static int FocusFor(OkOutcome outcome);

    // Why Test cannot run with the password's store as chosen: what OK would refuse, with the
    // outcome whose control (FocusFor) to put right.
    struct StoreProblem {
        OkOutcome outcome = OkOutcome::PasswordNeeded;
        std::u16string message;
    };
    // Test: the check as OK would store it now (the string OK would write, with the kept
    // fields, and the host name and time-out typed), or what OK would refuse. The result box
    // shows the report. A password typed anew for the Credential Manager is not written by a
    // test: the test runs with it in the string (PWD), without CRED.
    std::variant<TestRequest, FieldProblem, StoreProblem> TestRequestNow();
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
    // The tab index of the control that a problem names (btBastion for the bastion's fields).
    static int FocusFor(const FieldProblem& problem);

    // The Bastion window. OK: the bastion members of `typed` (the others are not looked at),
    // checked as the form's OK checks them; when they pass they are stored and the button's
    // caption follows, otherwise nothing changes and the problem (Where::Jump or
    // Where::JumpHostKeys) says why. Cancel stores nothing and calls nothing here.
    std::optional<FieldProblem> BastionOk(const DialogFields& typed);
    // Its Fetch key: the bastion's host and port from the JMP value typed there, within the
    // form's time-out as for the form's Fetch key; pinning is ssh::WithPinAdded on its host key box.
    std::variant<FetchRequest, FieldProblem> BastionFetchRequestNow(std::u16string_view jumpTyped);
    // Its control (index in kBastionLayout) that a problem of the bastion's fields names.
    static int BastionFocusFor(const FieldProblem& problem);
    static int BastionFocusFor(OkOutcome outcome);
    // The button's caption for a JMP value: "&Bastion..." when there is none, otherwise
    // "&Bastion: " and the bastion's host (the value itself when it is malformed).
    static std::u16string BastionCaption(std::u16string_view jump);
    // The window's close box: unloads the form without composing anything.
    void CloseBox();

private:
    void Form_Load();
    DialogFields FieldsNow();
    void StoreBastion(const DialogFields& fields);
    // Puts the password where the store chosen in `fields` says (PWDE made, credential written
    // when `writeCredential`), or says why not (nullopt: `fields` can be composed).
    std::optional<StoreProblem> PlacePassword(DialogFields& fields, bool writeCredential, bool forTest);
    std::chrono::seconds FetchTimeout();

    ssh::RemoteCommandRun run_;
    FormPresenter* presenter_;
    bool loaded_ = false;
    bool shown_ = false;
    bool confirmed_ = false;
    std::u16string caption_;
    std::vector<Control> controls_;
    std::vector<Control> bastion_;  // kBastionLayout
    std::u16string okMessage_;
    CheckServices* services_ = nullptr;
    platform::SecretText opened_;
    std::u16string openedProtected_;  // the PWDE value of the opened check
};

}  // namespace tavrin::dialog
