#include "dialog/dialog_result.h"

namespace Generic {

std::u16string& DialogResult() {
    thread_local std::u16string result;
    return result;
}

}  // namespace Generic
