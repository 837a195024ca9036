#include "dialog/win32/form_icon.h"

#include "dialog/form_icon_image.h"

#include <cstdint>
#include <vector>

namespace tavrin::dialog::win32 {

namespace {

// A BITMAPINFO with room for the 16-colour palette.
struct PaletteBitmapInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[16];
};

}  // namespace

UniqueIcon CreateFormIcon(int size) {
    const IconImage image = DrawFormIcon(size);
    if (image.size == 0) return nullptr;

    PaletteBitmapInfo info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = size;
    info.header.biHeight = -size;  // rows from the top
    info.header.biPlanes = 1;
    info.header.biBitCount = 4;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = 16;
    for (std::size_t i = 0; i < kIconPalette.size(); ++i) {
        info.colours[i].rgbRed = static_cast<BYTE>(kIconPalette[i] >> 16);
        info.colours[i].rgbGreen = static_cast<BYTE>(kIconPalette[i] >> 8);
        info.colours[i].rgbBlue = static_cast<BYTE>(kIconPalette[i]);
    }

    void* bits = nullptr;
    UniqueBitmap colour(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits,
                                         nullptr, 0));
    if (!colour || bits == nullptr) return nullptr;
    // Two pixels a byte, the left one in the high half; rows padded to four bytes.
    const int colourStride = ((size * 4 + 31) / 32) * 4;
    auto* colourBytes = static_cast<std::uint8_t*>(bits);
    // The mask: one bit a pixel, 1 for transparent, the left one highest; rows padded to two bytes.
    const int maskStride = ((size + 15) / 16) * 2;
    std::vector<std::uint8_t> maskBytes(static_cast<std::size_t>(maskStride * size), 0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            std::uint8_t& c = colourBytes[y * colourStride + x / 2];
            const std::uint8_t index = image.At(x, y);
            c = (x % 2 == 0) ? static_cast<std::uint8_t>((c & 0x0F) | (index << 4))
                             : static_cast<std::uint8_t>((c & 0xF0) | index);
            if (image.IsTransparent(x, y)) {
                maskBytes[static_cast<std::size_t>(y * maskStride + x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    GdiFlush();
    UniqueBitmap mask(CreateBitmap(size, size, 1, 1, maskBytes.data()));
    if (!mask) return nullptr;

    ICONINFO icon{};
    icon.fIcon = TRUE;
    icon.hbmMask = mask.get();
    icon.hbmColor = colour.get();
    return UniqueIcon(CreateIconIndirect(&icon));
}

}  // namespace tavrin::dialog::win32
