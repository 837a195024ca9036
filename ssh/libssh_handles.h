#pragma once
// Owners for libssh's objects: every one is freed by the library's own free function.

#include <libssh/callbacks.h>
#include <libssh/libssh.h>

#include <memory>

namespace tavrin::ssh {

struct SessionFree {
    void operator()(ssh_session session) const noexcept { ssh_free(session); }
};
struct ChannelFree {
    void operator()(ssh_channel channel) const noexcept { ssh_channel_free(channel); }
};
struct KeyFree {
    void operator()(ssh_key key) const noexcept { ssh_key_free(key); }
};
struct CharFree {
    void operator()(char* text) const noexcept { ssh_string_free_char(text); }
};
struct HashFree {
    void operator()(unsigned char* hash) const noexcept {
        unsigned char* owned = hash;
        ssh_clean_pubkey_hash(&owned);
    }
};

using SessionPtr = std::unique_ptr<ssh_session_struct, SessionFree>;
using ChannelPtr = std::unique_ptr<ssh_channel_struct, ChannelFree>;
using KeyPtr = std::unique_ptr<ssh_key_struct, KeyFree>;
using LibsshText = std::unique_ptr<char, CharFree>;
using HashPtr = std::unique_ptr<unsigned char, HashFree>;

}  // namespace tavrin::ssh
