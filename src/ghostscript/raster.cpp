#include "ghostscript/raster.h"

#include <cctype>

namespace a5merge {

namespace {

// Ghostscript's smoothing leaves near-white at edges; ink is darker.
constexpr unsigned char kInk = 250;

// Skips white space and comments of a PNM header.
void SkipSpace(std::string_view bytes, std::size_t& at) {
    while (at < bytes.size()) {
        if (bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n') ++at;
        } else if (std::isspace(static_cast<unsigned char>(bytes[at]))) {
            ++at;
        } else {
            return;
        }
    }
}

bool Number(std::string_view bytes, std::size_t& at, long& value) {
    SkipSpace(bytes, at);
    const std::size_t start = at;
    value = 0;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) &&
           value < 1'000'000) {
        value = value * 10 + (bytes[at++] - '0');
    }
    return at > start;
}

}  // namespace

bool ReadRasters(std::string_view bytes, std::vector<Raster>& pages) {
    pages.clear();
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 2 || bytes[at] != 'P' ||
            (bytes[at + 1] != '5' && bytes[at + 1] != '6')) {
            return false;
        }
        Raster page;
        page.channels = bytes[at + 1] == '5' ? 1 : 3;
        at += 2;
        long width = 0, height = 0, maxValue = 0;
        if (!Number(bytes, at, width) || !Number(bytes, at, height) ||
            !Number(bytes, at, maxValue) || maxValue != 255 || at >= bytes.size() ||
            !std::isspace(static_cast<unsigned char>(bytes[at]))) {
            return false;
        }
        ++at;  // the one white-space byte before the pixels
        const std::size_t size = static_cast<std::size_t>(width) * height * page.channels;
        if (bytes.size() - at < size) return false;
        page.width = static_cast<int>(width);
        page.height = static_cast<int>(height);
        page.pixels.assign(bytes.substr(at, size));
        at += size;
        pages.push_back(std::move(page));
    }
    return true;
}

Raster Rows(const Raster& page, int top, int bottom) {
    Raster rows = page;
    const std::size_t row = static_cast<std::size_t>(page.width) * page.channels;
    rows.height = bottom - top;
    rows.pixels = page.pixels.substr(row * top, row * rows.height);
    return rows;
}

bool InkIn(const Raster& page, int top, int bottom) {
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < page.width; ++x) {
            for (int c = 0; c < page.channels; ++c) {
                if (page.At(x, y, c) < kInk) return true;
            }
        }
    }
    return false;
}

std::vector<std::string> SheetProblems(const std::vector<Raster>& pages) {
    if (pages.size() != 1) return {"prints as " + std::to_string(pages.size()) + " pages"};
    const Raster& sheet = pages.front();
    std::vector<std::string> problems;
    const int middle = sheet.height / 2;
    if (!InkIn(sheet, 0, middle)) problems.push_back("nothing is drawn in the upper half (TOP)");
    if (!InkIn(sheet, middle, sheet.height)) {
        problems.push_back("nothing is drawn in the lower half (BOTTOM)");
    }
    return problems;
}

}  // namespace a5merge
