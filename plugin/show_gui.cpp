#include "plugin/show_gui.h"

#include "dialog/frmmain.h"
#include "dialog/show_gui.h"

namespace tavrin::plugin {

void sa_showGUI(ObjectAccess& object) {
    const dialog::EditingInput input{object.HostnameAsText(), object.TimeoutAsText(), object.ParameterAsText()};
    if (const std::optional<std::u16string> edited = dialog::EditParameterString(object.Form(), input)) {
        object.PutParameter(*edited);
    }
}

}  // namespace tavrin::plugin
