// A whole samples file as loadAll reads it: no more samples than lines, and every sample read
// comes back unchanged through the written form.

#include <algorithm>

#include "FuzzCheck.h"
#include "store/SampleLogger.h"

using namespace pellora;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::text(data, size);
    const auto samples = SampleLogger::decodeLines(bytes);
    check(samples.size() <= std::size_t(std::count(bytes.begin(), bytes.end(), '\n')));
    for (const auto& sample : samples) {
        auto line = SampleLogger::encodeLine(sample);
        check(line.has_value() && line->back() == '\n' &&
              SampleLogger::decodeLines(*line) == std::vector{sample});
    }
    return 0;
}
