#pragma once
// The form's icon as pixel data: a light screen above a grey base, in the 16 standard colours,
// at 32 x 32 and 16 x 16 pixels. The Windows dialog turns it into an icon handle.

#include <array>
#include <cstdint>
#include <vector>

namespace tavrin::dialog {

// The 16 standard colours as 0xRRGGBB, in their usual order (0 black ... 7 silver, 8 grey ...
// 15 white).
inline constexpr std::array<std::uint32_t, 16> kIconPalette{
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

struct IconImage {
    int size = 0;                       // width and height in pixels
    std::vector<std::uint8_t> colour;   // palette index per pixel, rows from the top
    std::vector<bool> transparent;      // per pixel; a transparent pixel has colour 0

    std::uint8_t At(int x, int y) const { return colour[static_cast<std::size_t>(y * size + x)]; }
    bool IsTransparent(int x, int y) const { return transparent[static_cast<std::size_t>(y * size + x)]; }
};

// The image at 32 or 16 pixels, each drawn for its size; other sizes give an empty image.
IconImage DrawFormIcon(int size);

}  // namespace tavrin::dialog
