#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace pellora {

// Turning captured V4L2 buffers into the 8-bit full-range luma plane the light sensor reads.
// Pure functions; safe on any thread.
//
// Supported: GREY; NV12, NV21, YUV420 and YVU420 (luma plane first); YUYV, YVYU, UYVY and
// VYUY (packed 4:2:2). MJPEG is not decoded here.

enum class LumaRange { full, limited };

// One captured buffer's layout, as VIDIOC_G_FMT reports it.
struct V4l2FrameFormat {
    std::uint32_t pixelFormat = 0;  // V4L2_PIX_FMT_*
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bytesPerLine = 0;  // of the luma (or packed) plane; 0: the format's minimum
    LumaRange range = LumaRange::full;
};

// A full-range luma plane. The bytes live in the capture buffer or in the caller's scratch
// vector, and are valid as long as those are.
struct LumaPlaneView {
    std::span<const std::uint8_t> bytes;
    int width = 0;
    int height = 0;
    std::size_t bytesPerRow = 0;
};

// Views the luma of `buffer` in place when it is already a full-range plane, else converts it
// into `scratch` (packed rows, limited range expanded). Nothing for an unsupported format, an
// empty frame, or a layout that does not fit inside `buffer`.
std::optional<LumaPlaneView> extractLuma(std::span<const std::uint8_t> buffer,
                                         const V4l2FrameFormat& format,
                                         std::vector<std::uint8_t>& scratch);

// The luma range a format's V4L2 colorspace and quantization fields stand for (the kernel's
// rule for V4L2_QUANTIZATION_DEFAULT: full only for the JPEG colorspace).
LumaRange lumaRange(std::uint32_t colorspace, std::uint32_t quantization);

// 16..235 stretched to 0..255, rounded to nearest, clamped outside.
std::uint8_t expandLimitedLuma(std::uint8_t value);

// How good a capture format is for reading luma, 0 best; nothing when luma cannot be read
// without decoding.
std::optional<int> lumaFormatRank(std::uint32_t pixelFormat);

}  // namespace pellora
