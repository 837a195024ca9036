#include "platform/secret.h"

#include <windows.h>

namespace tavrin::platform {

void SecureWipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size > 0) SecureZeroMemory(data, size);
}

}  // namespace tavrin::platform
