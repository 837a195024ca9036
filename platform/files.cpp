#include "platform/files.h"

#include "common/text.h"
#include "platform/files_system.h"
#include "platform/secret.h"

namespace tavrin::platform::system {

// The bytes go straight into the result's own storage, which is wiped whenever it is given
// back (grown, or dropped on a failure): a key file leaves no copy behind in freed memory.
FileContents ReadAll(std::size_t sizeHint, std::size_t largest, const ReadSome& readSome) {
    FileContents out;
    const auto fail = [&out](std::u16string why) {
        SecureWipe(out.bytes);
        out.status = FileStatus::Failed;
        out.error = std::move(why);
        return std::move(out);
    };
    const auto tooLarge = [&] {
        return fail(u"the file is larger than " + FromUtf8(std::to_string(largest)) + u" bytes");
    };
    if (sizeHint > largest) return tooLarge();
    // One more than the size, so that the end of the file is seen without growing.
    out.bytes.reserve(sizeHint + 1);
    std::size_t filled = 0;
    for (;;) {
        if (filled == out.bytes.capacity()) {
            if (filled > largest) return tooLarge();
            std::string larger;
            larger.reserve(out.bytes.capacity() * 2 + 1);
            larger.assign(out.bytes);
            SecureWipe(out.bytes);
            out.bytes.swap(larger);
        }
        out.bytes.resize(out.bytes.capacity());
        std::u16string error;
        const long long got = readSome(out.bytes.data() + filled, out.bytes.size() - filled, error);
        if (got < 0) return fail(std::move(error));
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    // Shrinking keeps the storage, so nothing is freed unwiped.
    if (filled > largest) return tooLarge();
    out.bytes.resize(filled);
    out.status = FileStatus::Read;
    return out;
}

}  // namespace tavrin::platform::system
