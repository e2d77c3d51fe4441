#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace a5merge {

// One rendered page: rows from the top, `channels` bytes a pixel (1 grey,
// 3 red green blue), 0 black to 255 white.
struct Raster {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::string pixels;

    unsigned char At(int x, int y, int channel = 0) const {
        return static_cast<unsigned char>(
            pixels[(static_cast<std::size_t>(y) * width + x) * channels + channel]);
    }
};

// The pages of binary PGM (P5) or PPM (P6) images one after the other, as
// Ghostscript's raster devices write them; false when `bytes` are not that.
bool ReadRasters(std::string_view bytes, std::vector<Raster>& pages);

// What keeps a sheet rendered as `pages` from printing as one sheet with
// both drawings: "prints as N pages", "nothing is drawn in the upper half
// (TOP)", "nothing is drawn in the lower half (BOTTOM)". Empty when it
// prints right.
std::vector<std::string> SheetProblems(const std::vector<Raster>& pages);

// Rows [top, bottom) of `page`.
Raster Rows(const Raster& page, int top, int bottom);

// Whether any pixel of rows [top, bottom) holds ink (is not white).
bool InkIn(const Raster& page, int top, int bottom);

}  // namespace a5merge
