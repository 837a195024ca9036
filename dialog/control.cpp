#include "dialog/control.h"

#include "common/automation_error.h"
#include "platform/secret.h"

#include <algorithm>
#include <utility>

namespace tavrin::dialog {

namespace {
constexpr std::int32_t kInvalidPropertyValue = 380;
constexpr std::int32_t kInvalidPropertyArrayIndex = 381;
}  // namespace

Control::Control(const ControlLayout& layout) : layout_(&layout), text_(layout.designText) {}

void Control::Wipe() noexcept { platform::SecureWipe(text_); }

void Control::SetText(std::u16string text) {
    platform::SecureWipe(text_);  // the password box's earlier text
    text_ = std::move(text);
    if (Kind() == ControlKind::ComboBox || Kind() == ControlKind::DropDownList) {
        const auto it = std::find(items_.begin(), items_.end(), text_);
        listIndex_ = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
    }
}

void Control::RequireList() const {
    if (Kind() != ControlKind::ComboBox && Kind() != ControlKind::DropDownList) {
        throw AutomationError(errors::kObjectDoesntSupport, u"Object doesn't support this property or method");
    }
}

void Control::Clear() {
    RequireList();
    items_.clear();
    text_.clear();
    listIndex_ = -1;
}

void Control::AddItem(std::u16string item) {
    RequireList();
    items_.push_back(std::move(item));
}

int Control::ListCount() const {
    RequireList();
    return static_cast<int>(items_.size());
}

const std::u16string& Control::List(int index) const {
    RequireList();
    if (index < 0 || index >= static_cast<int>(items_.size())) {
        throw AutomationError(kInvalidPropertyArrayIndex, u"Invalid property array index");
    }
    return items_[static_cast<std::size_t>(index)];
}

int Control::ListIndex() const {
    RequireList();
    return listIndex_;
}

void Control::SetListIndex(int index) {
    RequireList();
    if (index < -1 || index >= static_cast<int>(items_.size())) {
        throw AutomationError(kInvalidPropertyValue, u"Invalid property value");
    }
    listIndex_ = index;
    text_ = index < 0 ? std::u16string() : items_[static_cast<std::size_t>(index)];
}

}  // namespace tavrin::dialog
