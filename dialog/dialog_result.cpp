#include "dialog/dialog_result.h"

#include "platform/per_thread.h"

namespace Generic {

namespace {
// A type of its own: PerThread keeps one object per type and thread.
struct DialogResultRecord {
    std::u16string text;
};
}  // namespace

std::u16string& DialogResult() { return tavrin::platform::PerThread<DialogResultRecord>().text; }

}  // namespace Generic
