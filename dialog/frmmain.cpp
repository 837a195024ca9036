#include "dialog/frmmain.h"

#include "common/automation_error.h"
#include "dialog/dialog_result.h"
#include "dialog/parameter_editing.h"
#include "dialog/presenter.h"
#include "common/numbers.h"
#include "common/text.h"
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
    caption_.clear();
}

void frmmain::Form_Load() {
    caption_ = FormTitle();
    FillList(cmbProtocol(), kProtocolItems, 2);
    txtPort().SetText(u"22");
    FillList(cmbKeyType(), kKeyTypeItems, 0);
    FillList(cmbContains(), kContainsItems, 0);
    FillList(cmbReturnResult(), kReturnResultItems, 0);
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
    return fields;
}

frmmain::OkOutcome frmmain::btOK_Click() {
    Generic::DialogResult().clear();
    okMessage_.clear();
    const DialogFields fields = FieldsNow();
    if (const std::optional<FieldProblem> problem = ProblemOfFields(fields)) {
        okMessage_ = problem->message;
        switch (problem->where) {
            case FieldProblem::Where::HostKeys: return OkOutcome::HostKeysInvalid;
            case FieldProblem::Where::Reuse: return OkOutcome::ReuseInvalid;
            case FieldProblem::Where::Jump:
            case FieldProblem::Where::JumpHostKeys:
            case FieldProblem::Where::Hostname:
            case FieldProblem::Where::Port: break;
        }
        return OkOutcome::PortNotANumber;
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
        case FieldProblem::Where::JumpHostKeys:
        case FieldProblem::Where::Port: break;
    }
    return tab::txtPort;
}

std::variant<TestRequest, FieldProblem> frmmain::TestRequestNow() {
    const DialogFields fields = FieldsNow();
    if (std::optional<FieldProblem> problem = ProblemOfFields(fields)) return std::move(*problem);
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
    const std::optional<double> seconds = tavrin::ParseWholeNumber(txtTimeout().Text());
    if (seconds && *seconds >= 1 && *seconds <= 32767) {
        request.timeout = std::chrono::seconds(static_cast<int>(*seconds));
    }
    return request;
}

void frmmain::ShowFetchedKey(const ssh::HostKeyProbe& probe) { txtTestResult().SetText(FetchedKeyText(probe)); }

void frmmain::PinHostKey(const std::u16string& fingerprint) {
    txtHostKeys().SetText(ssh::WithPinAdded(txtHostKeys().Text(), fingerprint));
}

void frmmain::CloseBox() { Unload(); }

}  // namespace tavrin::dialog
