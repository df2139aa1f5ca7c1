#include "platform/linux/LumaExtraction.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/linux/V4l2Capture.h"

namespace pellora::test {
namespace {

// Luma values across the whole byte range, below 16 and above 235 included.
std::uint8_t lumaAt(std::size_t x, std::size_t y) {
    return static_cast<std::uint8_t>((x * 37 + y * 101 + 3) % 256);
}

struct Format {
    const char* name;
    std::uint32_t fourcc;
    std::size_t step;    // bytes from one luma sample to the next in a row
    std::size_t offset;  // of the first luma sample in a row
    bool chromaPlanes;   // 4:2:0: chroma after the luma plane
};

const std::vector<Format> kFormats = {
    {"GREY", V4L2_PIX_FMT_GREY, 1, 0, false},  {"NV12", V4L2_PIX_FMT_NV12, 1, 0, true},
    {"NV21", V4L2_PIX_FMT_NV21, 1, 0, true},   {"YU12", V4L2_PIX_FMT_YUV420, 1, 0, true},
    {"YV12", V4L2_PIX_FMT_YVU420, 1, 0, true}, {"YUYV", V4L2_PIX_FMT_YUYV, 2, 0, false},
    {"YVYU", V4L2_PIX_FMT_YVYU, 2, 0, false},  {"UYVY", V4L2_PIX_FMT_UYVY, 2, 1, false},
    {"VYUY", V4L2_PIX_FMT_VYUY, 2, 1, false},
};

std::size_t packedLine(const Format& f, std::size_t w) {
    return f.step == 1 ? w : (w + 1) / 2 * 4;
}

// A buffer laid out as the driver would fill it: rows `line` bytes apart, chroma and padding
// around the luma samples.
std::vector<std::uint8_t> synthesize(const Format& f, std::size_t w, std::size_t h,
                                     std::size_t line) {
    std::vector<std::uint8_t> buffer(line * (f.chromaPlanes ? h + (h + 1) / 2 : h), 0x80);
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            buffer[y * line + x * f.step + f.offset] = lumaAt(x, y);
        }
    }
    return buffer;
}

// The bytes a reader needs: every row up to its last luma byte.
std::size_t neededBytes(const Format& f, std::size_t w, std::size_t h, std::size_t line) {
    return (h - 1) * line + (w - 1) * f.step + f.offset + 1;
}

// The full-range value of a luma byte: 16..235 stretched to 0..255, rounded, clamped.
std::uint8_t expected(std::uint8_t y, LumaRange range) {
    if (range == LumaRange::full) {
        return y;
    }
    return static_cast<std::uint8_t>(
        std::clamp(std::round((y - 16.0) * 255.0 / 219.0), 0.0, 255.0));
}

// Every format, odd and even sizes, packed and padded rows, both ranges: the plane holds each
// luma sample; exactly the bytes it reads are enough, one byte fewer is refused.
TEST(LumaExtraction, EveryFormatSizeAndRangeGivesTheLumaPlane) {
    const std::vector<std::pair<std::size_t, std::size_t>> sizes = {{1, 1}, {2, 2},  {3, 5},
                                                                    {6, 4}, {16, 9}, {33, 17}};
    std::vector<std::uint8_t> scratch;
    for (const Format& f : kFormats) {
        for (auto [w, h] : sizes) {
            for (std::size_t extra : {0u, 5u}) {
                for (LumaRange range : {LumaRange::full, LumaRange::limited}) {
                    std::size_t line = packedLine(f, w) + extra;
                    SCOPED_TRACE(std::string(f.name) + " " + std::to_string(w) + "x" +
                                 std::to_string(h) + " line " + std::to_string(line) +
                                 (range == LumaRange::full ? " full" : " limited"));
                    std::vector<std::uint8_t> buffer = synthesize(f, w, h, line);
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
                    // A 4:2:0 frame cut short in its chroma still has all its luma.
                    buffer.resize(neededBytes(f, w, h, line));
                    EXPECT_TRUE(extractLuma(buffer, format, scratch).has_value());
                    buffer.pop_back();
                    EXPECT_FALSE(extractLuma(buffer, format, scratch).has_value());
                }
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
        {"empty buffer", {V4L2_PIX_FMT_GREY, 1, 1, 0, LumaRange::full}, 0},
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
        ASSERT_EQ(expandLimitedLuma(value), expected(value, LumaRange::limited)) << y;
    }
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_SRGB, V4L2_QUANTIZATION_FULL_RANGE), LumaRange::full);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_JPEG, V4L2_QUANTIZATION_LIM_RANGE), LumaRange::limited);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_JPEG, V4L2_QUANTIZATION_DEFAULT), LumaRange::full);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_SRGB, V4L2_QUANTIZATION_DEFAULT), LumaRange::limited);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_REC709, V4L2_QUANTIZATION_DEFAULT), LumaRange::limited);
}

// The capture asks for the best-ranked format a camera offers: luma that reads directly, grey
// first, and JPEG only when nothing else is there.
TEST(LumaExtraction, FormatsRankGreyFirstAndJpegLast) {
    std::vector<std::uint32_t> best = {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_YUV420,
                                       V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_UYVY, V4L2_PIX_FMT_MJPEG};
    for (std::size_t i = 1; i < best.size(); ++i) {
        ASSERT_TRUE(V4l2Capture::formatRank(best[i]).has_value());
        EXPECT_LT(*V4l2Capture::formatRank(best[i - 1]), *V4l2Capture::formatRank(best[i]));
    }
    for (const Format& f : kFormats) {
        EXPECT_EQ(V4l2Capture::formatRank(f.fourcc), lumaFormatRank(f.fourcc)) << f.name;
        EXPECT_TRUE(lumaFormatRank(f.fourcc).has_value()) << f.name;
    }
    EXPECT_EQ(V4l2Capture::formatRank(V4L2_PIX_FMT_JPEG),
              V4l2Capture::formatRank(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(lumaFormatRank(V4L2_PIX_FMT_MJPEG), std::nullopt);
    EXPECT_EQ(V4l2Capture::formatRank(V4L2_PIX_FMT_RGB24), std::nullopt);
}

}  // namespace
}  // namespace pellora::test
