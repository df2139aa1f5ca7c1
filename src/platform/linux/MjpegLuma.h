#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux/LumaExtraction.h"

namespace pellora {

// Decodes the luma of (Motion-)JPEG frames, for cameras that offer nothing else. Only the Y
// component is decoded (no chroma, no colour conversion), and JPEG luma is already full
// range. Frames without Huffman tables, as many webcams send them, use the standard tables.
// One decoder per thread.
class MjpegLuma {
  public:
    // Frames claiming more pixels than this are taken as corrupt rather than allocated for.
    static constexpr std::uint64_t maxPixels = 8192ULL * 8192ULL;

    MjpegLuma();
    ~MjpegLuma();
    MjpegLuma(const MjpegLuma&) = delete;
    MjpegLuma& operator=(const MjpegLuma&) = delete;

    // The frame's luma plane, decoded into `scratch` (rows packed). Nothing when the bytes do
    // not decode. A frame that decodes with warnings (trailing garbage, a truncated last
    // scan) still counts.
    std::optional<LumaPlaneView> decode(std::span<const std::uint8_t> jpeg,
                                        std::vector<std::uint8_t>& scratch);

    // Why the last decode failed.
    const std::string& lastError() const { return lastError_; }

  private:
    void* handle_ = nullptr;
    std::string lastError_;
};

}  // namespace pellora
