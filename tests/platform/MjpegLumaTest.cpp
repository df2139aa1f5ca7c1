#include "platform/linux/MjpegLuma.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

namespace pellora::test {
namespace {

// JPEG bytes of an image given as interleaved RGB (3 bytes a pixel) or grey (1 byte).
std::vector<std::uint8_t> encode(const std::vector<std::uint8_t>& pixels, int width, int height,
                                 bool grey, int subsampling, int quality = 100) {
    tjhandle handle = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    int format = grey ? TJPF_GRAY : TJPF_RGB;
    int pitch = width * (grey ? 1 : 3);
    int rc = tjCompress2(handle, pixels.data(), width, pitch, height, format, &out, &size,
                         subsampling, quality, 0);
    std::vector<std::uint8_t> jpeg;
    if (rc == 0) {
        jpeg.assign(out, out + size);
    }
    tjFree(out);
    tjDestroy(handle);
    return jpeg;
}

std::vector<std::uint8_t> solidRgb(int width, int height, std::uint8_t r, std::uint8_t g,
                                   std::uint8_t b) {
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < width * height; ++i) {
        pixels.insert(pixels.end(), {r, g, b});
    }
    return pixels;
}

// Removes every segment with the given marker (0xFF, marker, 2-byte length, body) that comes
// before the scan data.
std::vector<std::uint8_t> withoutSegments(const std::vector<std::uint8_t>& jpeg,
                                          std::uint8_t marker) {
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        std::uint8_t m = jpeg[i + 1];
        std::size_t length = (std::size_t(jpeg[i + 2]) << 8) | jpeg[i + 3];
        if (m == 0xDA) {  // start of scan: the rest is entropy-coded data
            break;
        }
        if (m != marker) {
            out.insert(out.end(), jpeg.begin() + i, jpeg.begin() + i + 2 + length);
        }
        i += 2 + length;
    }
    out.insert(out.end(), jpeg.begin() + i, jpeg.end());
    return out;
}

// JPEG luma is full range already: every level comes back as itself, colour as its Y' and an
// odd-sized frame in its own layout.
TEST(MjpegLuma, FramesDecodeToTheirLumaAtEveryLevelColourAndSize) {
    MjpegLuma decoder;
    std::vector<std::uint8_t> scratch;
    for (int level : {0, 1, 16, 100, 235, 254, 255}) {
        auto v = static_cast<std::uint8_t>(level);
        auto plane =
            decoder.decode(encode(solidRgb(64, 48, v, v, v), 64, 48, false, TJSAMP_420), scratch);
        ASSERT_TRUE(plane) << decoder.lastError();
        EXPECT_EQ(std::tie(plane->width, plane->height, plane->bytesPerRow),
                  std::make_tuple(64, 48, std::size_t(64)));
        ASSERT_EQ(plane->bytes.size(), 64u * 48u);
        for (std::uint8_t y : plane->bytes) {
            ASSERT_LE(std::abs(int(y) - level), 1) << "level " << level;
        }
    }
    for (auto [r, g, b] : {std::tuple{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {200, 120, 40}}) {
        auto rgb = solidRgb(32, 32, std::uint8_t(r), std::uint8_t(g), std::uint8_t(b));
        auto plane = decoder.decode(encode(rgb, 32, 32, false, TJSAMP_422), scratch);
        ASSERT_TRUE(plane) << decoder.lastError();
        // JFIF's Y' = 0.299 R + 0.587 G + 0.114 B, no range offset.
        EXPECT_NEAR(plane->bytes[32 * 16 + 16], 0.299 * r + 0.587 * g + 0.114 * b, 2.0);
    }
    const int w = 37, h = 23;
    std::vector<std::uint8_t> grey(std::size_t(w) * h);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        grey[i] = static_cast<std::uint8_t>(i % w * 5 + i / w * 2);
    }
    auto plane = decoder.decode(encode(grey, w, h, true, TJSAMP_GRAY), scratch);
    ASSERT_TRUE(plane) << decoder.lastError();
    ASSERT_EQ(std::tie(plane->width, plane->height), std::make_tuple(w, h));
    for (std::size_t i = 0; i < grey.size(); ++i) {
        ASSERT_LE(std::abs(plane->bytes[i / w * plane->bytesPerRow + i % w] - grey[i]), 3) << i;
    }
}

TEST(MjpegLuma, WebcamFramesWithoutHuffmanTablesUseTheStandardOnes) {
    auto jpeg = encode(solidRgb(48, 32, 90, 90, 90), 48, 32, false, TJSAMP_422, 85);
    auto stripped = withoutSegments(jpeg, 0xC4);  // DHT
    ASSERT_LT(stripped.size(), jpeg.size());
    MjpegLuma decoder;
    std::vector<std::uint8_t> scratch;
    auto plane = decoder.decode(stripped, scratch);
    ASSERT_TRUE(plane) << decoder.lastError();
    EXPECT_NEAR(plane->bytes[0], 90, 1);
    EXPECT_NEAR(plane->bytes.back(), 90, 1);
}

TEST(MjpegLuma, BrokenFramesDecodeToNothingOrToTheirSize) {
    MjpegLuma decoder;
    std::vector<std::uint8_t> scratch;
    EXPECT_FALSE(decoder.decode({}, scratch));
    std::vector<std::uint8_t> garbage(500);
    for (std::size_t i = 0; i < garbage.size(); ++i) {
        garbage[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    EXPECT_FALSE(decoder.decode(garbage, scratch));
    EXPECT_NE(decoder.lastError(), "");

    // A frame cut short (as a USB hiccup leaves it) keeps its header and its first rows; the
    // decoder warns and the frame counts. Noise on the right keeps the scan from being tiny.
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < 64 * 64; ++i) {
        auto v = static_cast<std::uint8_t>(i % 64 < 32 ? 150 : (i * 7919) % 97 + 100);
        pixels.insert(pixels.end(), {v, v, v});
    }
    auto jpeg = encode(pixels, 64, 64, false, TJSAMP_420, 90);
    std::vector<std::uint8_t> cut(jpeg.begin(), jpeg.begin() + jpeg.size() * 2 / 3);
    auto plane = decoder.decode(cut, scratch);
    ASSERT_TRUE(plane) << decoder.lastError();
    EXPECT_EQ(plane->width, 64);
    EXPECT_EQ(plane->height, 64);
    EXPECT_NEAR(plane->bytes[0], 150, 1);
    std::vector<std::uint8_t> headerOnly(jpeg.begin(), jpeg.begin() + 20);
    EXPECT_FALSE(decoder.decode(headerOnly, scratch));

    // The decoder is still good after the failures.
    EXPECT_TRUE(decoder.decode(jpeg, scratch));
}

TEST(MjpegLuma, ImplausibleFrameSizeIsRefusedBeforeAllocating) {
    auto jpeg = encode(solidRgb(16, 16, 10, 10, 10), 16, 16, false, TJSAMP_420);
    // Baseline SOF0: FF C0, length, precision, height, width.
    bool patched = false;
    for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
            // 60000 x 60000: within JPEG's limits, far past any camera's.
            jpeg[i + 5] = jpeg[i + 7] = 0xEA;
            jpeg[i + 6] = jpeg[i + 8] = 0x60;
            patched = true;
            break;
        }
    }
    ASSERT_TRUE(patched);
    MjpegLuma decoder;
    std::vector<std::uint8_t> scratch;
    EXPECT_FALSE(decoder.decode(jpeg, scratch));
    EXPECT_NE(decoder.lastError().find("size"), std::string::npos);
    EXPECT_TRUE(scratch.empty());
}

}  // namespace
}  // namespace pellora::test
