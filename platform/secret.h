#pragma once
// Secrets (passwords, pass phrases, decrypted key material) in memory that is overwritten
// before it is given back.

#include "common/text.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tavrin::platform {

// Overwrites `size` bytes so that the compiler cannot leave the stores out.
void SecureWipe(void* data, std::size_t size) noexcept;

template <class Char>
void SecureWipe(std::basic_string<Char>& text) noexcept {
    // The whole capacity: a string that shrank keeps its old characters behind the end.
    if (text.capacity() > 0) SecureWipe(text.data(), text.capacity() * sizeof(Char));
    text.clear();
}

// A string that wipes itself when it is released or reassigned.
template <class Char>
class BasicSecret {
public:
    BasicSecret() = default;
    // A moved string keeps a short text in its own buffer (the small-string optimisation copies
    // it and leaves the source's characters where they were): the source is wiped.
    explicit BasicSecret(std::basic_string<Char>&& text) noexcept : text_(std::move(text)) { SecureWipe(text); }
    explicit BasicSecret(const std::basic_string<Char>& text) : text_(text) {}
    ~BasicSecret() { SecureWipe(text_); }
    BasicSecret(const BasicSecret& other) : text_(other.text_) {}
    BasicSecret(BasicSecret&& other) noexcept : text_(std::move(other.text_)) { SecureWipe(other.text_); }
    BasicSecret& operator=(const BasicSecret& other) {
        if (this != &other) {
            SecureWipe(text_);
            text_ = other.text_;
        }
        return *this;
    }
    BasicSecret& operator=(BasicSecret&& other) noexcept {
        if (this != &other) {
            SecureWipe(text_);
            text_ = std::move(other.text_);
            SecureWipe(other.text_);
        }
        return *this;
    }

    const std::basic_string<Char>& get() const { return text_; }
    std::basic_string<Char>& get() { return text_; }
    bool empty() const { return text_.empty(); }
    void clear() { SecureWipe(text_); }

private:
    std::basic_string<Char> text_;
};

using SecretBytes = BasicSecret<char>;
using SecretText = BasicSecret<char16_t>;

// The UTF-8 form of a secret text (as ToUtf8 writes it), in one buffer of its final size: a
// buffer that grew would leave its shorter predecessors in freed memory.
inline SecretBytes SecretUtf8(std::u16string_view text) {
    SecretBytes out;
    out.get().resize(Utf8Length(text));
    WriteUtf8(text, out.get().data());
    return out;
}

}  // namespace tavrin::platform
