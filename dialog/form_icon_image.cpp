#include "dialog/form_icon_image.h"

#include <utility>

namespace tavrin::dialog {

namespace {

constexpr std::uint8_t kBlack = 0;
constexpr std::uint8_t kTeal = 6;
constexpr std::uint8_t kSilver = 7;
constexpr std::uint8_t kGrey = 8;
constexpr std::uint8_t kWhite = 15;

class Canvas {
public:
    explicit Canvas(int size) {
        image_.size = size;
        image_.colour.assign(static_cast<std::size_t>(size * size), kBlack);
        image_.transparent.assign(static_cast<std::size_t>(size * size), true);
    }

    // A filled rectangle, right and bottom exclusive.
    void Fill(int left, int top, int right, int bottom, std::uint8_t colour) {
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) Set(x, y, colour);
        }
    }
    // A filled rectangle with a one-pixel outline.
    void Box(int left, int top, int right, int bottom, std::uint8_t fill, std::uint8_t outline) {
        Fill(left, top, right, bottom, fill);
        const int l = left, t = top, r = right - 1, b = bottom - 1;
        for (int x = l; x <= r; ++x) {
            Set(x, t, outline);
            Set(x, b, outline);
        }
        for (int y = t; y <= b; ++y) {
            Set(l, y, outline);
            Set(r, y, outline);
        }
    }

    IconImage Take() { return std::move(image_); }

private:
    void Set(int x, int y, std::uint8_t colour) {
        if (x < 0 || y < 0 || x >= image_.size || y >= image_.size) return;
        const auto i = static_cast<std::size_t>(y * image_.size + x);
        image_.colour[i] = colour;
        image_.transparent[i] = false;
    }

    IconImage image_;
};

}  // namespace

IconImage DrawFormIcon(int size) {
    if (size != 32 && size != 16) return IconImage{};
    Canvas canvas(size);
    if (size == 32) {
        // The monitor: a black-edged silver case around a white screen with a prompt on it.
        canvas.Box(2, 2, 30, 23, kSilver, kBlack);
        canvas.Box(5, 5, 27, 20, kWhite, kGrey);
        canvas.Fill(8, 8, 10, 10, kTeal);  // ">" of the prompt, in three steps
        canvas.Fill(10, 10, 12, 12, kTeal);
        canvas.Fill(8, 12, 10, 14, kTeal);
        canvas.Fill(14, 14, 20, 16, kTeal);  // the cursor
        // The stand: a grey neck and a grey base with black edges and a lit top edge.
        canvas.Box(13, 23, 19, 26, kGrey, kBlack);
        canvas.Box(6, 26, 26, 30, kGrey, kBlack);
        canvas.Fill(7, 27, 25, 28, kSilver);
    } else {
        canvas.Box(1, 1, 15, 12, kSilver, kBlack);
        canvas.Box(3, 3, 13, 10, kWhite, kGrey);
        canvas.Fill(4, 4, 5, 5, kTeal);
        canvas.Fill(5, 5, 6, 6, kTeal);
        canvas.Fill(4, 6, 5, 7, kTeal);
        canvas.Fill(7, 7, 10, 8, kTeal);
        canvas.Fill(6, 12, 10, 13, kBlack);
        canvas.Fill(7, 12, 9, 13, kGrey);
        canvas.Box(3, 13, 13, 16, kGrey, kBlack);
    }
    return canvas.Take();
}

}  // namespace tavrin::dialog
