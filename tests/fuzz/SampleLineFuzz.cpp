// The samples log's reader: the bytes are a whole samples file as loadAll reads it. Beyond
// not crashing, every sample read must come back unchanged through the written form, and no
// more samples than lines may come out.

#include <algorithm>

#include "FuzzCheck.h"
#include "store/SampleLogger.h"

using pellora::SampleLogger;
using pellora::fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = pellora::fuzz::text(data, size);
    const auto samples = SampleLogger::decodeLines(bytes);
    check(samples.size() <= std::size_t(std::count(bytes.begin(), bytes.end(), '\n')));
    for (const auto& sample : samples) {
        auto line = SampleLogger::encodeLine(sample);
        check(line.has_value() && line->back() == '\n');
        line->pop_back();
        check(SampleLogger::decodeLine(*line) == sample);
    }
    if (auto one = SampleLogger::decodeLine(bytes)) {
        auto line = SampleLogger::encodeLine(*one);
        check(line && SampleLogger::decodeLines(*line) == std::vector{*one});
    }
    return 0;
}
