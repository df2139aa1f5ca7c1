#include "platform/linux/LumaExtraction.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <array>
#include <limits>

namespace pellora {

namespace {

struct Layout {
    bool planar;         // a plane of luma bytes first; otherwise packed 4:2:2 pairs
    std::size_t offset;  // of the first luma byte within a packed pair
};

std::optional<Layout> layoutOf(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_GREY:
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21:
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
            return Layout{true, 0};
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_YVYU:
            return Layout{false, 0};
        case V4L2_PIX_FMT_UYVY:
        case V4L2_PIX_FMT_VYUY:
            return Layout{false, 1};
        default:
            return std::nullopt;
    }
}

// (y - 16) * 255 / 219 rounded to nearest (219 is odd: no ties) and clamped to 0..255.
constexpr std::array<std::uint8_t, 256> makeExpansionTable() {
    std::array<std::uint8_t, 256> table{};
    for (int y = 0; y < 256; ++y) {
        int scaled = y <= 16 ? 0 : ((y - 16) * 255 + 109) / 219;
        table[static_cast<std::size_t>(y)] = static_cast<std::uint8_t>(scaled > 255 ? 255 : scaled);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kExpansion = makeExpansionTable();

}  // namespace

std::uint8_t expandLimitedLuma(std::uint8_t value) {
    return kExpansion[value];
}

LumaRange lumaRange(std::uint32_t colorspace, std::uint32_t quantization) {
    if (quantization == V4L2_QUANTIZATION_FULL_RANGE) {
        return LumaRange::full;
    }
    if (quantization == V4L2_QUANTIZATION_LIM_RANGE) {
        return LumaRange::limited;
    }
    return colorspace == V4L2_COLORSPACE_JPEG ? LumaRange::full : LumaRange::limited;
}

std::optional<int> lumaFormatRank(std::uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_GREY:
            return 0;
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_NV21:
            return 1;
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420:
            return 2;
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_YVYU:
            return 3;
        case V4L2_PIX_FMT_UYVY:
        case V4L2_PIX_FMT_VYUY:
            return 4;
        default:
            return std::nullopt;
    }
}

std::optional<LumaPlaneView> extractLuma(std::span<const std::uint8_t> buffer,
                                         const V4l2FrameFormat& format,
                                         std::vector<std::uint8_t>& scratch) {
    std::optional<Layout> layout = layoutOf(format.pixelFormat);
    constexpr std::uint32_t maxSide = std::numeric_limits<int>::max();
    if (!layout || format.width == 0 || format.height == 0 || format.width > maxSide ||
        format.height > maxSide || buffer.data() == nullptr) {
        return std::nullopt;
    }
    const std::size_t w = format.width;
    const std::size_t h = format.height;
    const std::size_t step = layout->planar ? 1 : 2;
    // Bytes of one row that luma is read from: up to and including its last luma byte.
    const std::size_t rowExtent = (w - 1) * step + layout->offset + 1;
    std::size_t line = format.bytesPerLine;
    if (line == 0) {
        line = layout->planar ? w : (w + 1) / 2 * 4;
    }
    if (line < rowExtent || buffer.size() < rowExtent ||
        (h - 1) > (buffer.size() - rowExtent) / line) {
        return std::nullopt;
    }

    LumaPlaneView view;
    view.width = static_cast<int>(w);
    view.height = static_cast<int>(h);
    if (layout->planar && format.range == LumaRange::full) {
        view.bytes = buffer.first((h - 1) * line + w);
        view.bytesPerRow = line;
        return view;
    }

    scratch.resize(w * h);
    const bool limited = format.range == LumaRange::limited;
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* source = buffer.data() + y * line + layout->offset;
        std::uint8_t* target = scratch.data() + y * w;
        // Separate loops keep the common cases free of a per-pixel branch.
        if (limited) {
            for (std::size_t x = 0; x < w; ++x) {
                target[x] = kExpansion[source[x * step]];
            }
        } else if (step == 2) {
            for (std::size_t x = 0; x < w; ++x) {
                target[x] = source[x * 2];
            }
        } else {
            std::copy(source, source + w, target);
        }
    }
    view.bytes = std::span<const std::uint8_t>(scratch.data(), scratch.size());
    view.bytesPerRow = w;
    return view;
}

}  // namespace pellora
