#include "dialog/frmmain.h"

#include "common/automation_error.h"
#include "common/base64.h"
#include "dialog/dialog_result.h"
#include "dialog/parameter_editing.h"
#include "dialog/presenter.h"
#include "common/numbers.h"
#include "common/text.h"
#include "parameters/fields.h"
#include "platform/secret_store.h"
#include "ssh/host_key_pins.h"

namespace tavrin::dialog {

namespace {

constexpr std::int32_t kFormAlreadyDisplayed = 400;

template <std::size_t N>
void FillList(Control& list, const std::array<std::u16string_view, N>& items, int selected) {
    list.Clear();
    for (const std::u16string_view item : items) list.AddItem(std::u16string(item));
    list.SetListIndex(selected);
}

}  // namespace

void frmmain::Load() {
    if (loaded_) return;
    controls_.clear();
    controls_.reserve(kFormLayout.size());
    for (const ControlLayout& layout : kFormLayout) controls_.emplace_back(layout);
    bastion_.clear();
    bastion_.reserve(kBastionLayout.size());
    for (const ControlLayout& layout : kBastionLayout) bastion_.emplace_back(layout);
    caption_.clear();
    // The form counts as loaded while Form_Load runs, so its uses of controls do not recurse;
    // a failure in it leaves the form unloaded.
    loaded_ = true;
    try {
        Form_Load();
    } catch (...) {
        Unload();
        throw;
    }
}

void frmmain::Unload() {
    loaded_ = false;
    for (Control& control : controls_) control.Wipe();
    controls_.clear();
    for (Control& control : bastion_) control.Wipe();
    bastion_.clear();
    caption_.clear();
    openedProtected_.clear();
}

void frmmain::Form_Load() {
    caption_ = FormTitle();
    FillList(cmbProtocol(), kProtocolItems, 2);
    txtPort().SetText(u"22");
    FillList(cmbKeyType(), kKeyTypeItems, 0);
    FillList(cmbContains(), kContainsItems, 0);
    FillList(cmbReturnResult(), kReturnResultItems, 0);
    FillList(cmbPasswordStore(), kPasswordStoreItems, 0);
}

bool frmmain::ShowModal() {
    if (shown_) throw AutomationError(kFormAlreadyDisplayed, u"Form already displayed; can't show modally");
    Load();
    FormPresenter& presenter = presenter_ != nullptr ? *presenter_ : PlatformPresenter();
    struct ShownFlag {
        bool& flag;
        explicit ShownFlag(bool& f) : flag(f) { flag = true; }
        ~ShownFlag() { flag = false; }
        ShownFlag(const ShownFlag&) = delete;
        ShownFlag& operator=(const ShownFlag&) = delete;
    } shown(shown_);
    confirmed_ = false;
    presenter.ShowModal(*this);
    return confirmed_;
}

const std::u16string& frmmain::Caption() {
    Load();
    return caption_;
}

Control& frmmain::ControlAt(int tabIndex) {
    if (tabIndex < 0 || tabIndex >= static_cast<int>(kControlCount)) {
        throw AutomationError(errors::kObjectDoesntSupport, u"Object doesn't support this property or method");
    }
    Load();
    return controls_[static_cast<std::size_t>(tabIndex)];
}

Control& frmmain::BastionControlAt(int index) {
    if (index < 0 || index >= static_cast<int>(kBastionControlCount)) {
        throw AutomationError(errors::kObjectDoesntSupport, u"Object doesn't support this property or method");
    }
    Load();
    return bastion_[static_cast<std::size_t>(index)];
}

void frmmain::SetOpenedParameter(const std::u16string& parameter) { opened_ = platform::SecretText(parameter); }

int frmmain::PasswordStoreIndex(DialogFields::PasswordStore store) {
    switch (store) {
        case DialogFields::PasswordStore::ThisComputer: return 1;
        case DialogFields::PasswordStore::CredentialManager: return 2;
        case DialogFields::PasswordStore::InTheString: break;
    }
    return 0;
}

DialogFields::PasswordStore frmmain::PasswordStoreForIndex(int listIndex) {
    switch (listIndex) {
        case 1: return DialogFields::PasswordStore::ThisComputer;
        case 2: return DialogFields::PasswordStore::CredentialManager;
        default: break;
    }
    return DialogFields::PasswordStore::InTheString;
}

bool frmmain::NamesACredential(int listIndex) {
    return PasswordStoreForIndex(listIndex) == DialogFields::PasswordStore::CredentialManager;
}

void frmmain::ShowPassword(const DialogFields& opened) {
    cmbPasswordStore().SetListIndex(PasswordStoreIndex(opened.passwordStore));
    txtCredential().SetText(opened.credential);
    // The password of a store outside the string is never read here, let alone shown.
    txtPassword().SetText(opened.passwordStore == DialogFields::PasswordStore::InTheString
                              ? opened.password
                              : std::u16string(kPasswordPlaceholder));
    openedProtected_ = TrimBlanks(opened.protectedPassword);
}

std::optional<frmmain::StoreProblem> frmmain::PlacePassword(DialogFields& fields, bool writeCredential,
                                                            bool forTest) {
    using Store = DialogFields::PasswordStore;
    const bool kept = fields.password == kPasswordPlaceholder;
    switch (fields.passwordStore) {
        case Store::InTheString:
            // The placeholder is never written: the password it stands for is not at hand.
            if (!kept) return std::nullopt;
            return StoreProblem{OkOutcome::PasswordKeptOutside,
                                u"The password is kept outside the check. Type it again to keep it in the check "
                                u"(Base64)."};
        case Store::ThisComputer: {
            if (kept && !openedProtected_.empty()) {
                fields.protectedPassword = openedProtected_;
                return std::nullopt;
            }
            if (kept || fields.password.empty()) {
                return StoreProblem{OkOutcome::PasswordNeeded, u"Type the password to be encrypted for this computer."};
            }
            const platform::DpapiResult made = platform::ProtectPassword(fields.password, platform::DpapiScope::Machine);
            if (!made.ok) {
                return StoreProblem{OkOutcome::PasswordStoreFailed,
                                    u"The password could not be encrypted for this computer: " + made.error};
            }
            fields.protectedPassword = FromUtf8(EncodeBase64(made.blob));
            return std::nullopt;
        }
        case Store::CredentialManager: {
            const std::u16string name = TrimBlanks(fields.credential);
            if (name.empty()) {
                return StoreProblem{OkOutcome::CredentialNameMissing,
                                    u"Type the name of the credential in the Windows Credential Manager."};
            }
            if (kept || fields.password.empty()) return std::nullopt;  // the credential as it is
            if (forTest) {
                // A test writes nothing: it runs with the password typed, in its own string only.
                fields.passwordStore = Store::InTheString;
                return std::nullopt;
            }
            if (!writeCredential) {
                return StoreProblem{OkOutcome::CredentialQuestion,
                                    u"Store the password in the Windows Credential Manager of this account as " + name +
                                        u"?"};
            }
            const std::u16string failed = platform::WriteGenericCredential(name, fields.userName, fields.password);
            if (!failed.empty()) {
                return StoreProblem{OkOutcome::PasswordStoreFailed,
                                    u"The password could not be stored in the Windows Credential Manager: " + failed};
            }
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void frmmain::StoreBastion(const DialogFields& fields) {
    txtJump().SetText(fields.jump);
    txtJumpPassword().SetText(fields.jumpPassword);
    txtJumpKeyfile().SetText(fields.jumpKeyFile);
    txtJumpHostKeys().SetText(fields.jumpHostKeys);
    btBastion().SetText(BastionCaption(fields.jump));
}

Control& frmmain::Controls(std::u16string_view name) {
    const ControlLayout* layout = FindControlLayout(name);
    if (layout == nullptr) {
        throw AutomationError(errors::kObjectDoesntSupport, u"Object doesn't support this property or method");
    }
    return ControlAt(layout->tabIndex);
}

DialogFields frmmain::FieldsNow() {
    DialogFields fields;
    fields.protocolIndex = cmbProtocol().ListIndex();
    fields.keyTypeIndex = cmbKeyType().ListIndex();
    fields.comparisonIndex = cmbContains().ListIndex();
    fields.returnModeIndex = cmbReturnResult().ListIndex();
    fields.userName = txtUsername().Text();
    fields.password = txtPassword().Text();
    fields.port = txtPort().Text();
    fields.keyFile = txtKeyfile().Text();
    fields.command = txtCommand().Text();
    fields.comparisonValue = txtContains().Text();
    fields.hostKeys = txtHostKeys().Text();
    fields.reuse = txtReuse().Text();
    fields.jump = txtJump().Text();
    fields.jumpPassword = txtJumpPassword().Text();
    fields.jumpKeyFile = txtJumpKeyfile().Text();
    fields.jumpHostKeys = txtJumpHostKeys().Text();
    fields.passwordStore = PasswordStoreForIndex(cmbPasswordStore().ListIndex());
    fields.credential = txtCredential().Text();
    return fields;
}

frmmain::OkOutcome frmmain::btOK_Click(bool credentialWriteConfirmed) {
    Generic::DialogResult().clear();
    okMessage_.clear();
    DialogFields fields = FieldsNow();
    if (const std::optional<FieldProblem> problem = ProblemOfFields(fields)) {
        okMessage_ = problem->message;
        switch (problem->where) {
            case FieldProblem::Where::HostKeys: return OkOutcome::HostKeysInvalid;
            case FieldProblem::Where::Reuse: return OkOutcome::ReuseInvalid;
            case FieldProblem::Where::Jump: return OkOutcome::JumpInvalid;
            case FieldProblem::Where::JumpHostKeys: return OkOutcome::JumpHostKeysInvalid;
            case FieldProblem::Where::Hostname:
            case FieldProblem::Where::Port: break;
        }
        return OkOutcome::PortNotANumber;
    }
    if (std::optional<StoreProblem> refused = PlacePassword(fields, credentialWriteConfirmed, false)) {
        okMessage_ = std::move(refused->message);
        return refused->outcome;
    }
    std::optional<std::u16string> composed = ComposeParameterString(fields);
    if (!composed) {
        okMessage_ = std::u16string(kInvalidPortMessage);
        return OkOutcome::PortNotANumber;
    }
    Generic::DialogResult() = std::move(*composed);
    confirmed_ = true;
    Unload();
    return OkOutcome::Stored;
}

int frmmain::FocusFor(OkOutcome outcome) {
    switch (outcome) {
        case OkOutcome::HostKeysInvalid: return tab::txtHostKeys;
        case OkOutcome::ReuseInvalid: return tab::txtReuse;
        case OkOutcome::JumpInvalid:
        case OkOutcome::JumpHostKeysInvalid: return tab::btBastion;
        case OkOutcome::PasswordKeptOutside:
        case OkOutcome::PasswordNeeded: return tab::txtPassword;
        case OkOutcome::CredentialNameMissing:
        case OkOutcome::CredentialQuestion: return tab::txtCredential;
        case OkOutcome::PasswordStoreFailed: return tab::cmbPasswordStore;
        case OkOutcome::Stored:
        case OkOutcome::PortNotANumber: break;
    }
    return tab::txtPort;
}

int frmmain::FocusFor(const FieldProblem& problem) {
    switch (problem.where) {
        case FieldProblem::Where::Hostname: return tab::txtHostname;
        case FieldProblem::Where::HostKeys: return tab::txtHostKeys;
        case FieldProblem::Where::Reuse: return tab::txtReuse;
        case FieldProblem::Where::Jump:
        case FieldProblem::Where::JumpHostKeys: return tab::btBastion;
        case FieldProblem::Where::Port: break;
    }
    return tab::txtPort;
}

std::variant<TestRequest, FieldProblem, frmmain::StoreProblem> frmmain::TestRequestNow() {
    DialogFields fields = FieldsNow();
    if (std::optional<FieldProblem> problem = ProblemOfFields(fields)) return std::move(*problem);
    if (std::optional<StoreProblem> refused = PlacePassword(fields, false, true)) return std::move(*refused);
    std::optional<std::u16string> composed = ComposeParameterString(fields);
    if (!composed) return FieldProblem{FieldProblem::Where::Port, std::u16string(kInvalidPortMessage)};
    TestRequest request;
    request.hostName = TrimBlanks(txtHostname().Text());
    request.timeout = TrimBlanks(txtTimeout().Text());
    request.parameter = WithKeptFields(*composed, opened_.get());
    platform::SecureWipe(*composed);
    return request;
}

void frmmain::ShowTestReport(const TestReport& report) { txtTestResult().SetText(TestReportText(report)); }

std::variant<frmmain::FetchRequest, FieldProblem> frmmain::FetchRequestNow() {
    FetchRequest request;
    request.host = TrimBlanks(txtHostname().Text());
    if (request.host.empty()) {
        return FieldProblem{FieldProblem::Where::Hostname, u"Type the host name whose key is to be fetched."};
    }
    const std::optional<std::u16string> port = PortWrittenForText(txtPort().Text());
    const int number = port ? static_cast<int>(tavrin::ReadNumber(*port)) : 0;
    if (number < 1 || number > 65535) {
        return FieldProblem{FieldProblem::Where::Port,
                            u"The port must be a TCP port from 1 to 65535 to fetch the key."};
    }
    request.port = number;
    request.timeout = FetchTimeout();
    return request;
}

std::chrono::seconds frmmain::FetchTimeout() {
    const std::optional<double> seconds = tavrin::ParseWholeNumber(txtTimeout().Text());
    if (seconds && *seconds >= 1 && *seconds <= 32767) return std::chrono::seconds(static_cast<int>(*seconds));
    return FetchRequest{}.timeout;
}

void frmmain::ShowFetchedKey(const ssh::HostKeyProbe& probe) { txtTestResult().SetText(FetchedKeyText(probe)); }

void frmmain::PinHostKey(const std::u16string& fingerprint) {
    txtHostKeys().SetText(ssh::WithPinAdded(txtHostKeys().Text(), fingerprint));
}

std::optional<FieldProblem> frmmain::BastionOk(const DialogFields& typed) {
    // The rules of the form's OK, on fields that hold nothing but the bastion's (and a port
    // that passes): one home for what a well-formed JMP and JFP are.
    DialogFields bastion;
    bastion.port = u"22";
    bastion.jump = typed.jump;
    bastion.jumpPassword = typed.jumpPassword;
    bastion.jumpKeyFile = typed.jumpKeyFile;
    bastion.jumpHostKeys = typed.jumpHostKeys;
    if (std::optional<FieldProblem> problem = ProblemOfFields(bastion)) return problem;
    StoreBastion(bastion);
    return std::nullopt;
}

std::variant<frmmain::FetchRequest, FieldProblem> frmmain::BastionFetchRequestNow(std::u16string_view jumpTyped) {
    const parameters::JumpParse parsed = parameters::ParseJump(jumpTyped);
    if (!parsed.ok()) return FieldProblem{FieldProblem::Where::Jump, parsed.error};
    if (!parsed.jump) {
        return FieldProblem{FieldProblem::Where::Jump,
                            u"Type the bastion (user@host or user@host:port) whose key is to be fetched."};
    }
    FetchRequest request;
    request.host = parsed.jump->host;
    request.port = parsed.jump->port;
    request.timeout = FetchTimeout();
    return request;
}

int frmmain::BastionFocusFor(const FieldProblem& problem) {
    return problem.where == FieldProblem::Where::JumpHostKeys ? bastion_tab::txtJumpHostKeys : bastion_tab::txtJump;
}

int frmmain::BastionFocusFor(OkOutcome outcome) {
    return outcome == OkOutcome::JumpHostKeysInvalid ? bastion_tab::txtJumpHostKeys : bastion_tab::txtJump;
}

std::u16string frmmain::BastionCaption(std::u16string_view jump) {
    const std::u16string value = TrimBlanks(jump);
    if (value.empty()) return u"&Bastion...";
    const parameters::JumpParse parsed = parameters::ParseJump(value);
    const std::u16string& shown = parsed.jump ? parsed.jump->host : value;
    std::u16string caption = u"&Bastion: ";
    for (const char16_t c : shown) {
        if (c == u'&') caption += u'&';  // a single one would underline the next character
        caption += c;
    }
    return caption;
}

void frmmain::CloseBox() { Unload(); }

}  // namespace tavrin::dialog
