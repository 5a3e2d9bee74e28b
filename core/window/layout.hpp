// Where a window's own parts stand and what its busy pictures are made of,
// in design pixels: the service view's trace, progress line and SAVE TRACE,
// the client area with and without the view.
#pragma once

#include <cstdint>
#include <vector>

#include "window/front.hpp"

namespace torvela {

// The service view's own parts, in design pixels.
// The trace above, the last jobs below it, KEPT UNITS under them.
inline constexpr int jobs_view_height = 96;
inline constexpr rect trace_view_place{client_width + 8, 8, trace_width - 16,
                                       service_height - 40 - jobs_view_height - service_button_height};
inline constexpr rect jobs_view_place{client_width + 8, trace_view_place.y + trace_view_place.height + 8,
                                      trace_width - 16, jobs_view_height};
inline constexpr rect kept_units_place{client_width + 8, jobs_view_place.y + jobs_view_height + 8,
                                       service_button_width, service_button_height};
inline constexpr rect progress_place{8, service_row_top, 360, service_button_height};
inline constexpr rect save_trace_place{save_trace_left, service_row_top, service_button_width,
                                       service_button_height};
// A failure's detail: under the file label, across the operator's view, a
// few lines that wrap (and scroll, for a long one), in both views.
inline constexpr rect detail_place{8, 157, client_width - 16, client_height - 157 - 4};
// The window's client area in design pixels, with or without the view.
constexpr rect window_area(bool service_view) {
    return service_view ? rect{0, 0, client_width + trace_width, service_height}
                        : rect{0, 0, client_width, client_height};
}

// The busy pictures (Image1 to Image16) as shapes to paint in `r`.
struct shape {
    enum class kind : std::uint8_t { ellipse, pie, line, box, rounded_box } what;
    rect at;                   // the shape's box (a line: from x,y to x+width,y+height)
    std::uint32_t pen, brush;  // 0xRRGGBB; brush `no_fill` for none
    int pen_width = 1;
    int start_deg = 0, span_deg = 0;  // a pie: counter-clockwise from three o'clock
};
inline constexpr std::uint32_t no_fill = 0xFF000000;
std::vector<shape> picture_shapes(int image, rect r);

}  // namespace torvela
