#pragma once
// Turns the bytes that a command prints into text: UTF-8 where the bytes form valid UTF-8,
// otherwise each byte through the ANSI code page. A UTF-8 sequence split between two pieces
// is joined; one stream of bytes per decoder.

#include "platform/codepage.h"

#include <string>
#include <string_view>

namespace tavrin::ssh {

class OutputDecoder {
public:
    explicit OutputDecoder(const platform::AnsiCodePage& ansi) : ansi_(&ansi) {}

    // Appends the text of `bytes` to `out`; an incomplete sequence at the end is held back.
    void Feed(std::string_view bytes, std::u16string& out);
    // The stream has ended: what is held back is decoded byte by byte.
    void Finish(std::u16string& out);

private:
    void DecodeAll(std::string_view bytes, bool final, std::u16string& out);

    const platform::AnsiCodePage* ansi_;
    std::string held_;  // at most three bytes of a sequence that has not ended yet
};

}  // namespace tavrin::ssh
