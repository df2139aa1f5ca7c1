#include "platform/linux/LumaExtraction.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "platform/linux/MjpegLuma.h"
#include "platform/linux/V4l2Capture.h"

namespace pellora::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Format {
    const char* name;
    std::uint32_t fourcc;
    std::size_t step;    // bytes from one luma sample to the next in a row
    std::size_t offset;  // of the first luma sample in a row
    bool chromaPlanes;   // 4:2:0: chroma after the luma plane
};
const Format kFormats[] = {
    {"GREY", V4L2_PIX_FMT_GREY, 1, 0, false},  {"NV12", V4L2_PIX_FMT_NV12, 1, 0, true},
    {"NV21", V4L2_PIX_FMT_NV21, 1, 0, true},   {"YU12", V4L2_PIX_FMT_YUV420, 1, 0, true},
    {"YV12", V4L2_PIX_FMT_YVU420, 1, 0, true}, {"YUYV", V4L2_PIX_FMT_YUYV, 2, 0, false},
    {"YVYU", V4L2_PIX_FMT_YVYU, 2, 0, false},  {"UYVY", V4L2_PIX_FMT_UYVY, 2, 1, false},
    {"VYUY", V4L2_PIX_FMT_VYUY, 2, 1, false},
};

// Every format, size, row layout and range gives each luma sample; the bytes up to the last
// luma sample are enough (a 4:2:0 frame cut short in its chroma), one fewer is refused.
TEST(LumaExtraction, EveryFormatSizeAndRangeGivesTheLumaPlane) {
    auto lumaAt = [](std::size_t x, std::size_t y) { return std::uint8_t(x * 37 + y * 101 + 3); };
    Bytes scratch;
    for (const Format& f : kFormats) {
        for (auto [w, h] : {std::pair<std::size_t, std::size_t>{1, 1}, {2, 2}, {3, 5}, {16, 9}}) {
            for (std::size_t extra : {0, 5}) {
                for (LumaRange range : {LumaRange::full, LumaRange::limited}) {
                    const std::size_t line = (f.step == 1 ? w : (w + 1) / 2 * 4) + extra;
                    SCOPED_TRACE(std::string(f.name) + " " + std::to_string(w) + "x" +
                                 std::to_string(h) + " line " + std::to_string(line) +
                                 (range == LumaRange::full ? " full" : " limited"));
                    Bytes buffer(line * (f.chromaPlanes ? h + (h + 1) / 2 : h), 0x80);
                    for (std::size_t y = 0; y < h; ++y) {
                        for (std::size_t x = 0; x < w; ++x) {
                            buffer[y * line + x * f.step + f.offset] = lumaAt(x, y);
                        }
                    }
                    // Line 0 means "packed" and must give the same answer when there is none.
                    V4l2FrameFormat format{f.fourcc, std::uint32_t(w), std::uint32_t(h),
                                           extra == 0 ? 0 : std::uint32_t(line), range};
                    auto plane = extractLuma(buffer, format, scratch);
                    ASSERT_TRUE(plane);
                    ASSERT_EQ(std::tie(plane->width, plane->height),
                              std::make_tuple(int(w), int(h)));
                    ASSERT_GE(plane->bytesPerRow, w);
                    ASSERT_GE(plane->bytes.size(), (h - 1) * plane->bytesPerRow + w);
                    for (std::size_t y = 0; y < h; ++y) {
                        for (std::size_t x = 0; x < w; ++x) {
                            std::uint8_t luma = lumaAt(x, y);
                            ASSERT_EQ(plane->bytes[y * plane->bytesPerRow + x],
                                      range == LumaRange::full ? luma : expandLimitedLuma(luma))
                                << "at " << x << "," << y;
                        }
                    }
                    buffer.resize((h - 1) * line + (w - 1) * f.step + f.offset + 1);
                    EXPECT_TRUE(extractLuma(buffer, format, scratch));
                    buffer.pop_back();
                    EXPECT_FALSE(extractLuma(buffer, format, scratch));
                }
            }
        }
    }
}

TEST(LumaExtraction, ImpossibleLayoutsGiveNothing) {
    const LumaRange full = LumaRange::full;
    const std::pair<V4l2FrameFormat, std::size_t> cases[] = {
        // the layout, the buffer's size
        {{V4L2_PIX_FMT_GREY, 0, 4, 0, full}, 64},                      // zero width
        {{V4L2_PIX_FMT_GREY, 4, 0, 0, full}, 64},                      // zero height
        {{V4L2_PIX_FMT_GREY, 8, 2, 7, full}, 64},                      // line shorter than a row
        {{V4L2_PIX_FMT_YUYV, 4, 2, 6, full}, 64},                      // packed, the same
        {{V4L2_PIX_FMT_GREY, 1u << 20, 1, 0, full}, 64},               // width beyond the buffer
        {{V4L2_PIX_FMT_GREY, 1, 1u << 30, 1, full}, 64},               // height beyond it
        {{V4L2_PIX_FMT_YUYV, 0xFFFFFFFFu, 1, 0, full}, 64},            // largest width
        {{V4L2_PIX_FMT_NV12, 2, 0xFFFFFFFFu, 0xFFFFFFFFu, full}, 64},  // largest height, line
        {{V4L2_PIX_FMT_MJPEG, 4, 4, 0, full}, 64},                     // not decoded here
        {{v4l2_fourcc('Z', 'Z', 'Z', 'Z'), 4, 4, 0, full}, 64},        // unknown format
        {{V4L2_PIX_FMT_GREY, 1, 1, 0, full}, 0},                       // empty buffer
    };
    Bytes scratch;
    for (const auto& [format, size] : cases) {
        EXPECT_FALSE(extractLuma(Bytes(size, 100), format, scratch))
            << format.pixelFormat << " " << format.width << "x" << format.height;
    }
}

TEST(LumaExtraction, LimitedRangeStretchesToFullAndFormatsRankGreyFirstAndJpegLast) {
    for (auto [in, out] :
         {std::pair{15, 0}, {16, 0}, {17, 1}, {126, 128}, {235, 255}, {236, 255}}) {
        EXPECT_EQ(expandLimitedLuma(std::uint8_t(in)), out) << in;
    }
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_SRGB, V4L2_QUANTIZATION_FULL_RANGE), LumaRange::full);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_JPEG, V4L2_QUANTIZATION_DEFAULT), LumaRange::full);
    EXPECT_EQ(lumaRange(V4L2_COLORSPACE_SRGB, V4L2_QUANTIZATION_DEFAULT), LumaRange::limited);

    // Luma that reads directly, grey first, and JPEG only when nothing else is there.
    std::vector<int> ranks;
    for (auto fourcc : {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_NV12, V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_MJPEG,
                        V4L2_PIX_FMT_JPEG, V4L2_PIX_FMT_RGB24}) {
        ranks.push_back(V4l2Capture::formatRank(fourcc).value_or(-1));
    }
    EXPECT_TRUE(ranks[0] < ranks[1] && ranks[1] < ranks[2] && ranks[2] < ranks[3]) << ranks[2];
    EXPECT_TRUE(ranks[4] == ranks[3] && ranks[5] == -1);
    for (const Format& f : kFormats) {
        EXPECT_TRUE(lumaFormatRank(f.fourcc) &&
                    V4l2Capture::formatRank(f.fourcc) == lumaFormatRank(f.fourcc))
            << f.name;
    }
    EXPECT_EQ(lumaFormatRank(V4L2_PIX_FMT_MJPEG), std::nullopt);
}

// JPEG bytes of an image given as RGB (3 bytes a pixel), or as grey for TJSAMP_GRAY.
Bytes jpeg(const Bytes& pixels, int width, int height, int subsampling, int quality = 100) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    bool ok = tjCompress2(handle, pixels.data(), width, 0, height,
                          subsampling == TJSAMP_GRAY ? TJPF_GRAY : TJPF_RGB, &out, &size,
                          subsampling, quality, 0) == 0;
    Bytes bytes = ok ? Bytes(out, out + size) : Bytes{};
    tjFree(out);
    tjDestroy(handle);
    return bytes;
}

// JPEG luma is full range already: every level comes back as itself (within the codec's
// rounding), and an odd-sized frame in its own layout.
TEST(MjpegLuma, FramesDecodeToTheirLumaAtEveryLevelAndSize) {
    MjpegLuma decoder;
    Bytes scratch;
    for (int level : {0, 16, 235, 255}) {
        auto plane = decoder.decode(jpeg(Bytes(64 * 48 * 3, level), 64, 48, TJSAMP_420), scratch);
        ASSERT_TRUE(plane) << decoder.lastError();
        EXPECT_EQ(std::tie(plane->width, plane->height, plane->bytesPerRow),
                  std::make_tuple(64, 48, std::size_t(64)));
        for (std::uint8_t y : plane->bytes) {
            ASSERT_LE(std::abs(y - level), 1) << "level " << level;
        }
    }
    const int w = 37, h = 23;
    Bytes grey(w * h);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        grey[i] = std::uint8_t(i % w * 5 + i / w * 2);
    }
    auto plane = decoder.decode(jpeg(grey, w, h, TJSAMP_GRAY), scratch);
    ASSERT_TRUE(plane) << decoder.lastError();
    ASSERT_EQ(std::tie(plane->width, plane->height), std::make_tuple(w, h));
    for (std::size_t i = 0; i < grey.size(); ++i) {
        ASSERT_LE(std::abs(plane->bytes[i / w * plane->bytesPerRow + i % w] - grey[i]), 3) << i;
    }
}

TEST(MjpegLuma, WebcamFramesWithoutHuffmanTablesUseTheStandardOnes) {
    Bytes full = jpeg(Bytes(48 * 32 * 3, 90), 48, 32, TJSAMP_422, 85);
    // Every segment before the scan but the DHT ones (0xFF 0xC4, 2-byte length, body).
    Bytes stripped(full.begin(), full.begin() + 2);
    std::size_t i = 2;
    for (; i + 4 <= full.size() && full[i] == 0xFF && full[i + 1] != 0xDA;) {
        std::size_t end = i + 2 + (full[i + 2] << 8 | full[i + 3]);
        if (full[i + 1] != 0xC4) {
            stripped.insert(stripped.end(), full.begin() + i, full.begin() + end);
        }
        i = end;
    }
    stripped.insert(stripped.end(), full.begin() + i, full.end());
    ASSERT_LT(stripped.size(), full.size());
    MjpegLuma decoder;
    Bytes scratch;
    auto plane = decoder.decode(stripped, scratch);
    ASSERT_TRUE(plane) << decoder.lastError();
    EXPECT_NEAR(plane->bytes.back(), 90, 1);
}

TEST(MjpegLuma, BrokenAndImplausibleFramesDecodeToNothingOrToTheirSize) {
    MjpegLuma decoder;
    Bytes scratch;
    EXPECT_FALSE(decoder.decode({}, scratch));
    EXPECT_FALSE(decoder.decode(Bytes(500, 0x5A), scratch));
    EXPECT_NE(decoder.lastError(), "");

    // A frame cut short (as a USB hiccup leaves it) would decode its missing rows as mid-grey:
    // it is refused. Padding after the end, as some cameras send, is fine.
    Bytes pixels(64 * 64 * 3);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = std::uint8_t(i / 3 % 64 < 32 ? 150 : (i / 3 * 7919) % 97 + 100);
    }
    Bytes whole = jpeg(pixels, 64, 64, TJSAMP_420, 90);
    EXPECT_FALSE(
        decoder.decode(Bytes(whole.begin(), whole.begin() + whole.size() * 2 / 3), scratch));
    EXPECT_EQ(decoder.lastError(), "frame cut short (no end of image after the scan)");
    EXPECT_FALSE(decoder.decode(Bytes(whole.begin(), whole.begin() + 20), scratch));
    Bytes padded = whole;
    padded.resize(whole.size() + 300, 0);
    auto plane = decoder.decode(padded, scratch);
    ASSERT_TRUE(plane) << decoder.lastError();
    EXPECT_EQ(std::tie(plane->width, plane->height), std::make_tuple(64, 64));
    EXPECT_NEAR(plane->bytes[0], 150, 1);

    // 60000 x 60000 in the baseline frame header (FF C0, length, precision, height, width):
    // within JPEG's limits, far past any camera's, refused before allocating.
    std::size_t sof = 2;
    while (sof + 9 < whole.size() && !(whole[sof] == 0xFF && whole[sof + 1] == 0xC0)) {
        ++sof;
    }
    ASSERT_LT(sof + 9, whole.size());
    whole[sof + 5] = whole[sof + 7] = 0xEA;
    whole[sof + 6] = whole[sof + 8] = 0x60;
    scratch.clear();
    EXPECT_FALSE(decoder.decode(whole, scratch));
    EXPECT_NE(decoder.lastError().find("size"), std::string::npos);
    EXPECT_TRUE(scratch.empty());
}

}  // namespace
}  // namespace pellora::test
