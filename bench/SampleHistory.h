#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "store/Sample.h"
#include "store/SampleLogger.h"

namespace pellora::bench {

// One sample every 20 minutes, the densest schedule, all year round.
inline constexpr int kSamplesPerYear = 365 * 72;

// Writes `years` of realistic samples for `monitorId` under `dataDir` and returns the file:
// sub-second times from 2020 on, smoothed lumas that need all 17 digits, every 50th set by the
// user. The same seed every time, so runs compare.
inline std::filesystem::path writeSampleHistory(const std::filesystem::path& dataDir,
                                                const std::string& monitorId, int years) {
    const auto file = dataDir / "monitors" / monitorId / SampleLogger::fileName;
    std::filesystem::create_directories(file.parent_path());
    std::mt19937_64 random(42);
    std::uniform_real_distribution<double> jitter(0.0, 1.0);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    double t = 1577836800.0;
    double luma = 80.0;
    for (int i = 0; i < years * kSamplesPerYear; ++i) {
        t += 1200.0 + jitter(random);
        luma = 0.25 * (255.0 * jitter(random)) + 0.75 * luma;
        const Sample sample{t, luma, int(luma / 2.55), int(t / 3600.0) % 24, i % 50 == 0};
        out << *SampleLogger::encodeLine(sample);
    }
    return file;
}

}  // namespace pellora::bench
