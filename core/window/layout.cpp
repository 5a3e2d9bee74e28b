#include "window/layout.hpp"

namespace torvela {

std::vector<shape> picture_shapes(int n, rect r) {
    using k = shape::kind;
    constexpr std::uint32_t black = 0x000000, grey = 0x282828;
    std::vector<shape> s;
    if (n >= 1 && n <= 4) {
        // One quarter filled, turning clockwise from the top.
        const rect disc{r.x + 1, r.y + 1, r.width - 2, r.height - 2};
        s.push_back({k::ellipse, disc, grey, 0xE6E6E6});
        s.push_back({k::pie, disc, grey, 0x145AC8, 1, 90 - 90 * (n - 1), -90});
    } else if ((n >= 5 && n <= 9) || (n >= 12 && n <= 16)) {
        // Chevrons filling from the PC downwards, or from the writer upwards.
        const bool down = n <= 9;
        const int count = down ? n - 5 : n - 12, h = r.height / 5, cx = r.x + r.width / 2;
        const int left = r.x + 2, right = r.x + r.width - 3;
        for (int i = 0; i < count; ++i) {
            const int y = down ? r.y + 2 + i * h : r.y + r.height - 3 - i * h;
            const int tip = down ? y + h - 2 : y - h + 2;
            s.push_back({k::line, {left, y, cx - left, tip - y}, 0xC83C14, no_fill, 2});
            s.push_back({k::line, {right, y, cx - right, tip - y}, 0xC83C14, no_fill, 2});
        }
    } else if (n == 10) {
        // The PC: a screen on a stand.
        const rect screen{r.x + 2, r.y + 1, r.width - 4, r.height * 2 / 3};
        s.push_back({k::box, screen, black, 0xD2D7E1});
        s.push_back({k::box, {screen.x + 3, screen.y + 3, screen.width - 6, screen.height - 6}, black, 0x3C6EAA});
        s.push_back({k::box, {r.x + 6, r.y + r.height - 1 - r.height / 4, r.width - 12, r.height / 4 - 1}, black,
                     0xA0A0A0});
    } else if (n == 11) {
        // The writer: a box with its lamp lit.
        const int cy = r.y + r.height / 2;
        s.push_back({k::rounded_box, r, black, 0x5A5A5F});
        s.push_back({k::ellipse, {r.x + 3, cy - 2, 4, 4}, black, 0x1EC83C});
        s.push_back({k::line, {r.x + 12, cy, r.width - 16, 0}, 0xC8C8C8, no_fill});
    }
    return s;
}

}  // namespace torvela
