#pragma once
// One control of a loaded form: its design entry, its text and, for a drop-down combo box or
// list, its items and selected index.

#include "dialog/form_layout.h"

#include <string>
#include <string_view>
#include <vector>

namespace tavrin::dialog {

class Control {
public:
    // A control as the design creates it: the design-time text, no items, nothing selected.
    explicit Control(const ControlLayout& layout);

    const ControlLayout& Layout() const { return *layout_; }
    std::u16string_view Name() const { return layout_->name; }
    ControlKind Kind() const { return layout_->kind; }

    // The text of a text box, the caption of a label or button, the edit text of a combo box.
    const std::u16string& Text() const { return text_; }
    // For a combo box the selection follows the text: the first item equal to it (exactly, case
    // included), or -1 when no item is.
    void SetText(std::u16string text);
    // Overwrites the text (the password box's among them) before the control goes.
    void Wipe() noexcept;

    // Combo boxes and drop-down lists only; other kinds fail with "Object doesn't support this property or method".
    void Clear();  // removes all items and the edit text
    void AddItem(std::u16string item);  // appends at the end; the list is never sorted
    int ListCount() const;
    const std::u16string& List(int index) const;  // fails with "Invalid property array index"
    int ListIndex() const;
    // Selects an item and puts its text into the edit field; -1 selects none and empties the
    // edit field. Other values fail with "Invalid property value".
    void SetListIndex(int index);

private:
    void RequireList() const;

    const ControlLayout* layout_;
    std::u16string text_;
    std::vector<std::u16string> items_;
    int listIndex_ = -1;
};

}  // namespace tavrin::dialog
