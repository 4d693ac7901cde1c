// Histogram bar charts for the vex program and its demo.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "imageio.h"

namespace vextool {

// An RGB 8U chart of height x width: one panel per channel, stacked top to
// bottom, each bar scaled to the panel's tallest bin. One channel is drawn
// in white, several in red, green, blue and gray.
inline ImagePtr plotHistogram(const std::vector<std::vector<long long>>& counts, int height, int width) {
    ImagePtr img = makeImage(height, width, 3, VEX_DEPTH_8U, 24);
    static const uint8_t kColours[4][3] = {{235, 70, 70}, {70, 205, 70}, {80, 120, 245}, {200, 200, 200}};
    static const uint8_t kWhite[3] = {245, 245, 245}, kAxis[3] = {110, 110, 110};
    const int panels = static_cast<int>(counts.size());
    auto put = [&](int x, int y, const uint8_t* rgb) {
        std::memcpy(img->imageData + static_cast<size_t>(y) * img->widthStep + static_cast<size_t>(x) * 3, rgb, 3);
    };
    for (int p = 0; p < panels; ++p) {
        const std::vector<long long>& h = counts[static_cast<size_t>(p)];
        if (h.empty()) continue;
        const int top = p * height / panels + 2, base = (p + 1) * height / panels - 3;
        if (base <= top) continue;
        long long peak = 1;
        for (long long v : h) peak = std::max(peak, v);
        const uint8_t* colour = panels == 1 ? kWhite : kColours[p % 4];
        for (int x = 0; x < width; ++x) {
            const size_t bin = static_cast<size_t>(static_cast<long long>(x) * static_cast<long long>(h.size()) / width);
            const long long v = std::max(0LL, h[bin]);
            const int bar = static_cast<int>(v * (base - top) / peak);
            for (int y = base - bar; y < base; ++y) put(x, y, colour);
            put(x, base, kAxis);
        }
    }
    return img;
}

}  // namespace vextool
