#include "platform/linux/MjpegLuma.h"

#include <turbojpeg.h>

namespace pellora {

MjpegLuma::MjpegLuma() : handle_(tjInitDecompress()) {}

MjpegLuma::~MjpegLuma() {
    if (handle_) {
        tjDestroy(handle_);
    }
}

std::optional<LumaPlaneView> MjpegLuma::decode(std::span<const std::uint8_t> jpeg,
                                               std::vector<std::uint8_t>& scratch) {
    if (!handle_) {
        lastError_ = "no JPEG decoder";
        return std::nullopt;
    }
    if (jpeg.empty() || jpeg.size() > 0x7fffffffUL) {
        lastError_ = "empty frame";
        return std::nullopt;
    }
    // A frame cut short on the way (a lost USB packet) has no end-of-image marker after its
    // scan; the library would decode what is missing as mid-grey, a light that is not there.
    std::size_t end = jpeg.size();
    while (end >= 2 && !(jpeg[end - 2] == 0xFF && jpeg[end - 1] == 0xD9)) {
        --end;
    }
    std::size_t scan = 0;
    while (scan + 1 < end && !(jpeg[scan] == 0xFF && jpeg[scan + 1] == 0xDA)) {
        ++scan;
    }
    if (end < 2 || scan + 1 >= end) {
        lastError_ = "frame cut short (no end of image after the scan)";
        return std::nullopt;
    }
    // The library's interface is not const-correct; it only reads the source.
    auto* source = const_cast<unsigned char*>(jpeg.data());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle_, source, size, &width, &height, &subsampling, &colorspace) !=
        0) {
        lastError_ = tjGetErrorStr2(handle_);
        return std::nullopt;
    }
    if (width < 1 || height < 1 || std::uint64_t(width) * std::uint64_t(height) > maxPixels) {
        lastError_ = "implausible JPEG frame size";
        return std::nullopt;
    }
    // CMYK and YCCK carry no luma plane of the kind the sensor measures.
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK) {
        lastError_ = "JPEG without a luma component";
        return std::nullopt;
    }
    scratch.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    if (tjDecompress2(handle_, source, size, scratch.data(), width, width, height, TJPF_GRAY, 0) !=
            0 &&
        tjGetErrorCode(handle_) != TJERR_WARNING) {
        lastError_ = tjGetErrorStr2(handle_);
        return std::nullopt;
    }
    lastError_ = "";
    LumaPlaneView view;
    view.bytes = std::span<const std::uint8_t>(scratch.data(), scratch.size());
    view.width = width;
    view.height = height;
    view.bytesPerRow = static_cast<std::size_t>(width);
    return view;
}

}  // namespace pellora
