#include "platform/linux/LumaExtraction.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

namespace pellora::test {
namespace {

constexpr std::uint8_t kChroma = 0x80;
constexpr std::uint8_t kPadding = 0xEE;

// Luma values across the whole byte range, below 16 and above 235 included.
std::uint8_t lumaAt(std::size_t x, std::size_t y) {
    return static_cast<std::uint8_t>((x * 37 + y * 101 + 3) % 256);
}

struct Format {
    const char* name;
    std::uint32_t fourcc;
    bool planar;
    std::size_t lumaOffset;  // within a packed pair
};

const std::vector<Format> kFormats = {
    {"GREY", V4L2_PIX_FMT_GREY, true, 0},   {"NV12", V4L2_PIX_FMT_NV12, true, 0},
    {"NV21", V4L2_PIX_FMT_NV21, true, 0},   {"YU12", V4L2_PIX_FMT_YUV420, true, 0},
    {"YV12", V4L2_PIX_FMT_YVU420, true, 0}, {"YUYV", V4L2_PIX_FMT_YUYV, false, 0},
    {"YVYU", V4L2_PIX_FMT_YVYU, false, 0},  {"UYVY", V4L2_PIX_FMT_UYVY, false, 1},
    {"VYUY", V4L2_PIX_FMT_VYUY, false, 1},
};

// A buffer laid out as the driver would fill it: rows `line` bytes apart with padding, and
// for the 4:2:0 formats the chroma planes after the luma plane.
std::vector<std::uint8_t> synthesize(const Format& f, std::size_t w, std::size_t h,
                                     std::size_t line) {
    std::vector<std::uint8_t> buffer;
    if (f.planar) {
        buffer.assign(line * h, kPadding);
        for (std::size_t y = 0; y < h; ++y) {
            for (std::size_t x = 0; x < w; ++x) {
                buffer[y * line + x] = lumaAt(x, y);
            }
        }
        if (f.fourcc != V4L2_PIX_FMT_GREY) {
            buffer.insert(buffer.end(), line * ((h + 1) / 2), kChroma);
        }
        return buffer;
    }
    buffer.assign(line * h, kPadding);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t pair = 0; pair < (w + 1) / 2; ++pair) {
            std::uint8_t* p = &buffer[y * line + pair * 4];
            std::size_t c = 1 - f.lumaOffset;  // chroma positions
            p[c] = kChroma;
            p[c + 2] = kChroma;
            p[f.lumaOffset] = lumaAt(pair * 2, y);
            p[f.lumaOffset + 2] = pair * 2 + 1 < w ? lumaAt(pair * 2 + 1, y) : 0x11;
        }
    }
    return buffer;
}

std::size_t packedLine(const Format& f, std::size_t w) {
    return f.planar ? w : (w + 1) / 2 * 4;
}

// The bytes a reader needs: every row up to its last luma byte.
std::size_t neededBytes(const Format& f, std::size_t w, std::size_t h, std::size_t line) {
    std::size_t extent = f.planar ? w : (w - 1) * 2 + f.lumaOffset + 1;
    return (h - 1) * line + extent;
}

std::uint8_t expected(std::uint8_t y, LumaRange range) {
    if (range == LumaRange::full) {
        return y;
    }
    double v = std::round((y - 16.0) * 255.0 / 219.0);
    return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
}

TEST(LumaExtraction, EveryFormatSizeAndRangeGivesTheLumaPlane) {
    const std::vector<std::pair<std::size_t, std::size_t>> sizes = {{1, 1}, {2, 2},  {3, 5},
                                                                    {7, 3}, {16, 9}, {33, 17}};
    for (const Format& f : kFormats) {
        for (auto [w, h] : sizes) {
            for (std::size_t extra : {0u, 5u}) {
                for (LumaRange range : {LumaRange::full, LumaRange::limited}) {
                    std::size_t line = packedLine(f, w) + extra;
                    SCOPED_TRACE(std::string(f.name) + " " + std::to_string(w) + "x" +
                                 std::to_string(h) + " line " + std::to_string(line) +
                                 (range == LumaRange::full ? " full" : " limited"));
                    std::vector<std::uint8_t> buffer = synthesize(f, w, h, line);
                    std::vector<std::uint8_t> scratch;
                    // Line 0 means "packed" and must give the same answer when there is none.
                    std::uint32_t givenLine = extra == 0 ? 0 : static_cast<std::uint32_t>(line);
                    V4l2FrameFormat format{f.fourcc, static_cast<std::uint32_t>(w),
                                           static_cast<std::uint32_t>(h), givenLine, range};
                    auto plane = extractLuma(buffer, format, scratch);
                    ASSERT_TRUE(plane.has_value());
                    ASSERT_EQ(plane->width, static_cast<int>(w));
                    ASSERT_EQ(plane->height, static_cast<int>(h));
                    ASSERT_GE(plane->bytesPerRow, w);
                    ASSERT_GE(plane->bytes.size(), (h - 1) * plane->bytesPerRow + w);
                    for (std::size_t y = 0; y < h; ++y) {
                        for (std::size_t x = 0; x < w; ++x) {
                            ASSERT_EQ(plane->bytes[y * plane->bytesPerRow + x],
                                      expected(lumaAt(x, y), range))
                                << "at " << x << "," << y;
                        }
                    }
                }
            }
        }
    }
}

TEST(LumaExtraction, FullRangePlanesAreViewedInPlace) {
    for (const Format& f : kFormats) {
        SCOPED_TRACE(f.name);
        std::vector<std::uint8_t> buffer = synthesize(f, 8, 4, packedLine(f, 8) + 8);
        std::vector<std::uint8_t> scratch;
        V4l2FrameFormat format{f.fourcc, 8, 4, static_cast<std::uint32_t>(packedLine(f, 8) + 8),
                               LumaRange::full};
        auto plane = extractLuma(buffer, format, scratch);
        ASSERT_TRUE(plane.has_value());
        if (f.planar) {
            EXPECT_EQ(plane->bytes.data(), buffer.data());
            EXPECT_EQ(plane->bytesPerRow, 16u);
            EXPECT_TRUE(scratch.empty());
        } else {
            EXPECT_EQ(plane->bytes.data(), scratch.data());
            EXPECT_EQ(plane->bytesPerRow, 8u);
        }
    }
}

TEST(LumaExtraction, ABufferOneByteShortOfItsLayoutGivesNothing) {
    for (const Format& f : kFormats) {
        for (auto [w, h] :
             std::vector<std::pair<std::size_t, std::size_t>>{{1, 1}, {5, 3}, {6, 4}}) {
            for (LumaRange range : {LumaRange::full, LumaRange::limited}) {
                SCOPED_TRACE(std::string(f.name) + " " + std::to_string(w) + "x" +
                             std::to_string(h));
                std::size_t line = packedLine(f, w) + 3;
                std::vector<std::uint8_t> buffer = synthesize(f, w, h, line);
                std::size_t needed = neededBytes(f, w, h, line);
                ASSERT_LE(needed, buffer.size());
                V4l2FrameFormat format{f.fourcc, static_cast<std::uint32_t>(w),
                                       static_cast<std::uint32_t>(h),
                                       static_cast<std::uint32_t>(line), range};
                std::vector<std::uint8_t> scratch;
                // Exactly what is read is enough (a 4:2:0 frame cut short in its chroma too).
                std::vector<std::uint8_t> exact(
                    buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(needed));
                EXPECT_TRUE(extractLuma(exact, format, scratch).has_value());
                std::vector<std::uint8_t> shorter(exact.begin(), exact.end() - 1);
                EXPECT_FALSE(extractLuma(shorter, format, scratch).has_value());
                EXPECT_FALSE(extractLuma({}, format, scratch).has_value());
            }
        }
    }
}

struct LyingCase {
    const char* name;
    V4l2FrameFormat format;
    std::size_t bufferSize;
};

TEST(LumaExtraction, ImpossibleLayoutsGiveNothing) {
    const std::vector<LyingCase> cases = {
        {"zero width", {V4L2_PIX_FMT_GREY, 0, 4, 0, LumaRange::full}, 64},
        {"zero height", {V4L2_PIX_FMT_GREY, 4, 0, 0, LumaRange::full}, 64},
        {"line shorter than a row", {V4L2_PIX_FMT_GREY, 8, 2, 7, LumaRange::full}, 64},
        {"packed line shorter than a row", {V4L2_PIX_FMT_YUYV, 4, 2, 6, LumaRange::full}, 64},
        {"width beyond the buffer", {V4L2_PIX_FMT_GREY, 1u << 20, 1, 0, LumaRange::full}, 64},
        {"height beyond the buffer", {V4L2_PIX_FMT_GREY, 1, 1u << 30, 1, LumaRange::full}, 64},
        {"largest width", {V4L2_PIX_FMT_YUYV, 0xFFFFFFFFu, 1, 0, LumaRange::full}, 64},
        {"largest height and line",
         {V4L2_PIX_FMT_NV12, 2, 0xFFFFFFFFu, 0xFFFFFFFFu, LumaRange::full},
         64},
        {"MJPEG is not decoded here", {V4L2_PIX_FMT_MJPEG, 4, 4, 0, LumaRange::full}, 64},
        {"unknown format", {v4l2_fourcc('Z', 'Z', 'Z', 'Z'), 4, 4, 0, LumaRange::full}, 64},
    };
    std::vector<std::uint8_t> scratch;
    for (const LyingCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> buffer(c.bufferSize, 100);
        EXPECT_FALSE(extractLuma(buffer, c.format, scratch).has_value());
    }
}

TEST(LumaExtraction, LimitedRangeStretchesToFullWithRoundingAndClamping) {
    const std::vector<std::pair<int, int>> anchors = {{0, 0},     {15, 0},    {16, 0},
                                                      {17, 1},    {126, 128}, {128, 130},
                                                      {235, 255}, {236, 255}, {255, 255}};
    for (auto [in, out] : anchors) {
        EXPECT_EQ(expandLimitedLuma(static_cast<std::uint8_t>(in)), out) << in;
    }
    for (int y = 0; y < 256; ++y) {
        auto value = static_cast<std::uint8_t>(y);
        EXPECT_EQ(expandLimitedLuma(value), expected(value, LumaRange::limited)) << y;
        if (y > 0) {
            EXPECT_GE(expandLimitedLuma(value),
                      expandLimitedLuma(static_cast<std::uint8_t>(y - 1)));
        }
    }
}

TEST(LumaExtraction, RangeFollowsTheQuantizationFields) {
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_SRGB, V4L2_QUANTIZATION_FULL_RANGE), LumaRange::full);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_JPEG, V4L2_QUANTIZATION_LIM_RANGE), LumaRange::limited);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_JPEG, V4L2_QUANTIZATION_DEFAULT), LumaRange::full);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_SRGB, V4L2_QUANTIZATION_DEFAULT), LumaRange::limited);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_REC709, V4L2_QUANTIZATION_DEFAULT), LumaRange::limited);
}

TEST(LumaExtraction, FormatsRankGreyFirstAndNeedNoDecoding) {
    std::vector<std::uint32_t> best = {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_YUV420,
                                       V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY};
    for (std::size_t i = 1; i < best.size(); ++i) {
        ASSERT_TRUE(lumaFormatRank(best[i]).has_value());
        EXPECT_LT(*lumaFormatRank(best[i - 1]), *lumaFormatRank(best[i]));
    }
    EXPECT_EQ(lumaFormatRank(V4L2_PIX_FMT_MJPEG), std::nullopt);
    EXPECT_EQ(lumaFormatRank(V4L2_PIX_FMT_RGB24), std::nullopt);
    for (const Format& f : kFormats) {
        EXPECT_TRUE(lumaFormatRank(f.fourcc).has_value()) << f.name;
    }
}

}  // namespace
}  // namespace pellora::test
