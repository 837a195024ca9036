#include "platform/secret.h"

#include <string.h>

namespace tavrin::platform {

void SecureWipe(void* data, std::size_t size) noexcept {
    if (data != nullptr && size > 0) explicit_bzero(data, size);
}

}  // namespace tavrin::platform
