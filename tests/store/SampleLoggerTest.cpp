#include "store/SampleLogger.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <iomanip>
#include <limits>
#include <tuple>

#include "TestEnvironment.h"
#include "platform/UniqueFd.h"

namespace pellora {

// Readable failure messages instead of the record's bytes.
void PrintTo(const Sample& s, std::ostream* out) {
    *out << std::setprecision(17) << "{t=" << s.t << " luma=" << s.luma
         << " brightness=" << s.brightness << " hour=" << s.hour << " userSet=" << s.userSet << "}";
}

}  // namespace pellora

namespace pellora::test {
namespace {

constexpr const char* kMonitor = "00001234-00005678-00009ABC";
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Sample sampleAt(int i) {
    // Fractions that need all 17 digits to come back exactly.
    return Sample{1718960400.0 + i * 1200.123456789, 255.0 * (i % 97) / 97.0 + 1.0 / 3.0, i % 101,
                  i % 24, i % 7 == 0};
}

std::filesystem::path samplesFile(const TestEnvironment& env) {
    return env.paths.dataDir / "monitors" / kMonitor / "samples.jsonl";
}

struct LoggerFixture : ::testing::Test {
    TestEnvironment env;
    std::unique_ptr<ManualQueue> queue = env.clock.makeQueue("pellora.logger");
    std::unique_ptr<SampleLogger> logger = makeLogger();

    std::unique_ptr<SampleLogger> makeLogger(std::size_t maxRead = 64u << 20) {
        return std::make_unique<SampleLogger>(kMonitor, env.paths.dataDir, *queue, env.log.get(),
                                              maxRead);
    }
    void logAndRun(const Sample& sample) {
        logger->log(sample);
        env.clock.runPending();
    }
};

std::string line(int i) {
    return *SampleLogger::encodeLine(sampleAt(i));
}

std::vector<Sample> samplesOf(const std::vector<int>& indices) {
    std::vector<Sample> out;
    std::ranges::transform(indices, std::back_inserter(out), sampleAt);
    return out;
}

// A fresh monitor gets an empty file. Appends wait for the logger's queue and land in call
// order as compact lines; a read from the main thread runs there after the appends queued
// before it and is handed back on the main queue. Appends queued before the logger goes still
// land; reads queued then are skipped, since no one holding the logger is left to want them.
TEST_F(LoggerFixture, AppendsAndQueuedReadsRunInCallOrderAndOnlyAppendsOutliveTheLogger) {
    ASSERT_TRUE(std::filesystem::is_regular_file(samplesFile(env)));
    const Sample a{1718960400.5, 87.25, 57, 9, false}, b{1718961600.0, 0.0, 0, 0, true},
        c{1718962800.125, 255.0, 100, 23, false};
    std::vector<std::vector<Sample>> delivered;
    const auto deliver = [&](std::vector<Sample> samples) {
        EXPECT_TRUE(env.main->isCurrent());
        delivered.push_back(std::move(samples));
    };
    logger->log(a);
    logger->log(b);
    logger->loadAll(*env.main, deliver);
    logger->log(c);
    logger->loadAll(*env.main, deliver);
    EXPECT_EQ(readFile(samplesFile(env)), "");
    EXPECT_TRUE(delivered.empty());
    env.clock.runPending();
    EXPECT_EQ(delivered, (std::vector<std::vector<Sample>>{{a, b}, {a, b, c}}));

    logger->log(a);
    logger->loadAll(*env.main, deliver);
    logger->countSamples(*env.main, [&](long long) { ADD_FAILURE() << "counted for no one"; });
    logger.reset();
    env.clock.runPending();
    EXPECT_EQ(delivered.size(), 2u);
    const std::string first =
        "{\"t\":1718960400.5,\"luma\":87.25,\"brightness\":57,\"hour\":9,\"userSet\":false}\n";
    EXPECT_EQ(readFile(samplesFile(env)),
              first + *SampleLogger::encodeLine(b) + *SampleLogger::encodeLine(c) + first);
}

TEST_F(LoggerFixture, NumbersComeBackExactlyAndNonFiniteOnesAreNeverWritten) {
    const std::vector<Sample> samples = {
        {1718960400.123456789, 1.0 / 3.0, 42, 7, true},
        {-1e300, 5e-324, std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), false},
        {1.7976931348623157e308, 254.99999999999997, 100, 23, true},
    };
    for (const Sample& s : samples) {
        logger->log(s);
        logger->log({kNaN, 100.0, 50, 12, false});
        logger->log({1718960400.0, -kInf, 50, 12, false});
    }
    env.clock.runPending();
    EXPECT_EQ(logger->loadAll(), samples);
    EXPECT_FALSE(env.linesWith("[sample] Sample dropped: non-finite time or luma").empty());
}

// A crash or a full disk in mid-append leaves a line cut short: the next append starts a
// fresh line. A deleted file is not made again until the logger is.
TEST_F(LoggerFixture, AppendsAfterACutShortLineOrADeletedFile) {
    writeFile(samplesFile(env), line(1) + "{\"t\":1718960400.5,\"lu");
    logAndRun(sampleAt(2));
    EXPECT_EQ(logger->loadAll(), samplesOf({1, 2}));

    std::filesystem::remove(samplesFile(env));
    logAndRun(sampleAt(3));
    EXPECT_FALSE(std::filesystem::exists(samplesFile(env)));
    logger = makeLogger();
    logAndRun(sampleAt(4));
    EXPECT_EQ(logger->loadAll(), samplesOf({4}));
}

// Nothing but a regular file is read or appended to, nothing blocks (a FIFO would hold an
// ordinary open), and a link is not followed: it could aim the append at any file.
TEST_F(LoggerFixture, SomethingOtherThanAFileInItsPlaceIsRefusedWithALogLine) {
    TempDir elsewhere;
    writeFile(elsewhere / "target", line(1));
    const std::function<void(const std::filesystem::path&)> replacements[] = {
        [](const auto& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
        [](const auto& path) { std::filesystem::create_directory(path); },
        [&](const auto& path) { std::filesystem::create_symlink(elsewhere / "target", path); },
    };
    for (const auto& replace : replacements) {
        std::filesystem::remove(samplesFile(env));
        replace(samplesFile(env));
        EXPECT_TRUE(logger->loadAll().empty());
        logAndRun(sampleAt(2));
        logger = makeLogger();
    }
    EXPECT_EQ(readFile(elsewhere / "target"), line(1));
    EXPECT_FALSE(env.linesWith("Sample dropped: " + samplesFile(env).string() + " is not a regular")
                     .empty());
}

// ---- decoding one line ----

const Sample kPlain{100.0, 80.5, 57, 9, true};
const std::string kPlainMembers[5][2] = {
    {"t", "100"}, {"luma", "80.5"}, {"brightness", "57"}, {"hour", "9"}, {"userSet", "true"}};

// The plain sample's line with one member's value text replaced (or the member left out).
std::string plainWith(const std::string& member, std::optional<std::string> value) {
    std::string text = "{";
    for (const auto& [name, plain] : kPlainMembers) {
        if (name != member) {
            text += "\"" + name + "\":" + plain + ",";
        } else if (value) {
            text += "\"" + name + "\":" + *value + ",";
        }
    }
    text.back() = '}';
    return text;
}

// Another process holding a lock on the file delays an append a moment, never for good.
TEST_F(LoggerFixture, AnotherProcesssLockDelaysAnAppendOnlyAMoment) {
    UniqueFd other(::open(logger->fileURL().c_str(), O_RDONLY));
    ASSERT_EQ(::flock(other.get(), LOCK_EX), 0);
    logAndRun(sampleAt(1));
    EXPECT_EQ(readFile(logger->fileURL()), line(1));
}

TEST(SampleLoggerDecodeLine, AcceptsWholeSamplesInAnyJsonFormAndNothingElse) {
    const struct {
        const char* text;
        Sample expected;
    } cases[] = {
        {R"({"t":100.0,"luma":80.5,"brightness":57,"hour":9,"userSet":true})", kPlain},
        {R"({"t":-0,"luma":-0.0,"brightness":-0,"hour":0,"userSet":false})", {0, 0, 0, 0, false}},
        {" {\"t\" : 100 ,\"luma\":80.5,\t\"brightness\":57,\"hour\":9,\"userSet\":true} \r",
         kPlain},
        {R"({"t":1e2,"luma":80.5,"brightness":57.0,"hour":9e0,"userSet":true})", kPlain},
        {R"({"t":100,"v":2,"luma":80.5,"x":{"y":[1,null,"z"]},"brightness":57,)"
         R"("hour":9,"userSet":true,"note":"caf\u00e9"})",
         kPlain},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SampleLogger::decodeLine(c.text), c.expected) << c.text;
    }
    // Anything but a whole sample is refused.
    std::vector<std::string> rejected = {
        "", "[100,80.5,57,9,true]",
        "{\"t\":100,/*x*/\"luma\":80.5,\"brightness\":57,\"hour\":9,\"userSet\":true}"};
    rejected.insert(
        rejected.end(),
        {plainWith("userSet", "true}x"), plainWith("t", "100,\"t\":200"),
         plainWith("t", "1,\"\xff\":1"), plainWith("brightness", "57.5"),
         plainWith("hour", "-2147483649"), plainWith("brightness", "1e300"),
         plainWith("luma", "-1e400"), plainWith("luma", "NaN"), plainWith("luma", "\"80.5\""),
         plainWith("userSet", "1"), plainWith("brightness", "2147483648"), plainWith("t", "[100]"),
         plainWith("t", "0100"), plainWith("hour", "9,")});
    for (const auto& [member, plain] : kPlainMembers) {
        rejected.push_back(plainWith(member, std::nullopt));
    }
    ASSERT_EQ(SampleLogger::decodeLine(plainWith("", {})), kPlain);
    for (const auto& text : rejected) {
        EXPECT_EQ(SampleLogger::decodeLine(text), std::nullopt) << text;
    }
}

// ---- reading damaged files ----

// Exactly the good lines are read, and the count the menu shows is of those same lines, read
// from the whole file however large.
TEST_F(LoggerFixture, ADamagedFileYieldsExactlyItsGoodLinesAndTheCountIsOfThem) {
    const std::tuple<const char*, std::string, std::vector<int>> cases[] = {
        {"corrupt middle line", line(1) + "{\"t\":17189,\"lu#ma\n" + line(3), {1, 3}},
        {"last line feed missing", line(1) + line(2).substr(0, line(2).size() - 1), {1}},
        {"blank lines, carriage returns", "\n\n" + line(1) + "\r\n\n" + line(2), {1, 2}},
        {"binary junk", line(1) + std::string("\0\0\xff\xfe\x01\n", 6) + line(2), {1, 2}},
        {"megabytes of garbage", line(1) + std::string(8u << 20, 'x') + "\n" + line(2), {1, 2}},
        {"deep nesting",
         line(1) + "{\"x\":" + std::string(1u << 20, '[') + "\n" + line(2) +
             std::string(1u << 20, '{') + "\n",
         {1, 2}},
        {"invalid UTF-8",
         line(1) + plainWith("userSet", "true,\"note\":\"\xc3\x28\"") + "\n" + line(2),
         {1, 2}},
    };
    for (const auto& [name, contents, expected] : cases) {
        EXPECT_EQ(SampleLogger::decodeLines(contents), samplesOf(expected)) << name;
        writeFile(samplesFile(env), contents);
        long long counted = -1;
        logger->countSamples(*env.main, [&](long long n) { counted = n; });
        env.clock.runPending();
        EXPECT_EQ(counted, static_cast<long long>(expected.size())) << name;
    }
}

TEST_F(LoggerFixture, OversizedFileIsReadForItsNewestLinesOnly) {
    const std::string a = line(1), b = line(2), c = line(3);
    writeFile(samplesFile(env), a + b + c);
    // The window starts exactly at b: b is a whole line and kept.
    logger = makeLogger(b.size() + c.size());
    EXPECT_EQ(logger->loadAll(), samplesOf({2, 3}));
    // One byte less starts inside b, whose remainder is not a line.
    logger = makeLogger(b.size() + c.size() - 1);
    EXPECT_EQ(logger->loadAll(), samplesOf({3}));
    // A window inside one line finds no line at all.
    logger = makeLogger(10);
    EXPECT_TRUE(logger->loadAll().empty());
}

// ---- reading again after the file changed ----

// A file completed, rewritten or replaced since the last read is read afresh, each line once.
TEST_F(LoggerFixture, FileChangedSinceTheLastReadIsReadAfresh) {
    Sample changed = sampleAt(2);
    changed.hour += 1;  // the same length: only the bytes tell
    const struct {
        std::string before;
        std::string after;
        bool replace;  // a new file renamed over the old one, else rewritten in place
        std::vector<Sample> expected;
    } cases[] = {
        {line(1) + line(2).substr(0, 30), line(1) + line(2) + line(3), false, samplesOf({1, 2, 3})},
        {line(1) + line(2),
         line(1) + *SampleLogger::encodeLine(changed),
         false,
         {sampleAt(1), changed}},
        {line(1) + line(2), line(3) + line(4) + line(5), true, samplesOf({3, 4, 5})},
        {line(1) + line(2), line(3) + line(4) + line(5), false, samplesOf({3, 4, 5})},
    };
    for (const auto& c : cases) {
        writeFile(samplesFile(env), c.before);
        logger->loadAll();
        if (c.replace) {
            writeFile(samplesFile(env).string() + ".new", c.after);
            std::filesystem::rename(samplesFile(env).string() + ".new", samplesFile(env));
        } else {
            writeFile(samplesFile(env), c.after);
        }
        EXPECT_EQ(logger->loadAll(), c.expected) << c.after;
        EXPECT_EQ(logger->loadAll(), c.expected) << c.after;
    }
}

}  // namespace
}  // namespace pellora::test
