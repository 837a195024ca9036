#pragma once
// The system's ANSI code page, one byte per character, as the Base64 codec and the debug trace
// need it.
//
// Windows: the code page that GetACP() names (or any code page given by number), through
// WideCharToMultiByte / MultiByteToWideChar, with that code page's own substitute character
// for what it lacks.
//
// Linux: Windows-1252 stands in for it, with "?" as the substitute. The five bytes that 1252
// leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) decode to the control characters of the same
// number (U+0081 ...), as Windows' own table does, and encode back to those bytes.
//
// Double-byte code pages (932, 936, 949, 950 ...): a character whose ANSI form takes two bytes
// is written as the code page's substitute character, so the codec stays one byte per
// character; a lead byte decoded on its own gives the code page's default Unicode character
// for an unmapped byte (what MultiByteToWideChar yields for it).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tavrin::platform {

class AnsiCodePage {
public:
    virtual ~AnsiCodePage() = default;
    virtual std::uint8_t EncodeChar(char16_t ch) const = 0;
    virtual char16_t DecodeByte(std::uint8_t byte) const = 0;
    virtual std::uint32_t Number() const = 0;

    std::string Encode(std::u16string_view text) const;
    std::u16string Decode(std::string_view bytes) const;
};

// The code page of this process (Windows: GetACP(); Linux: 1252).
const AnsiCodePage& SystemAnsiCodePage();

// A given code page. Linux knows only 1252; Windows knows every installed code page.
// Returns null for a code page that cannot be used.
std::unique_ptr<AnsiCodePage> MakeAnsiCodePage(std::uint32_t number);

}  // namespace tavrin::platform
