#include "dialog/frmmain.h"

#include "common/automation_error.h"
#include "dialog/dialog_result.h"
#include "dialog/parameter_editing.h"
#include "dialog/presenter.h"

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

frmmain::OkOutcome frmmain::btOK_Click() {
    Generic::DialogResult().clear();
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

    std::optional<std::u16string> composed = ComposeParameterString(fields);
    if (!composed) return OkOutcome::PortNotANumber;
    Generic::DialogResult() = std::move(*composed);
    confirmed_ = true;
    Unload();
    return OkOutcome::Stored;
}

void frmmain::CloseBox() { Unload(); }

}  // namespace tavrin::dialog
