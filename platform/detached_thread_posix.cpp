#include "platform/detached_thread.h"

#include <system_error>
#include <thread>

namespace tavrin::platform {

bool RunDetached(std::function<void()> work) {
    try {
        std::thread([w = std::move(work)] {
            try {
                w();
            } catch (...) {
            }
        }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace tavrin::platform
