// Shared helpers of the test suites.
#pragma once

#include <string>
#include <vector>

#include "harness.hpp"

namespace test_support {

using bytes = std::vector<std::uint8_t>;

// All bytes the tool put on the line, in order.
inline bytes sent(const writer_sim::rig& r) {
    bytes all;
    for (const auto& rec : r.line.log)
        if (rec.to_writer) all.insert(all.end(), rec.bytes.begin(), rec.bytes.end());
    return all;
}

// The frames the tool sent, one per Output call.
inline std::vector<bytes> frames(const writer_sim::rig& r) {
    std::vector<bytes> out;
    for (const auto& rec : r.line.log)
        if (rec.to_writer) out.push_back(rec.bytes);
    return out;
}

inline bool busy_pictures_reset(const torvela::main_form& f) {
    if (f.Timer3.enabled || !f.Image1.visible) return false;
    const torvela::control* const hidden[] = {&f.Image2,  &f.Image3,  &f.Image4,  &f.Image5,
                                              &f.Image6,  &f.Image7,  &f.Image8,  &f.Image9,
                                              &f.Image12, &f.Image13, &f.Image14, &f.Image15,
                                              &f.Image16};
    for (const auto* c : hidden)
        if (c->visible) return false;
    return true;
}

}  // namespace test_support
