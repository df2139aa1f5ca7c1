#include "store/SampleLogger.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <limits>
#include <thread>

#include "AsOrdinaryUser.h"
#include "TestEnvironment.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"

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

bool logHas(TestEnvironment& env, const std::string& text) {
    for (const auto& line : env.logLines()) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
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

// ---- construction and the file's shape ----

TEST_F(LoggerFixture, FreshMonitorGetsItsFolderAndAnEmptyFile) {
    EXPECT_EQ(logger->fileURL(), samplesFile(env));
    ASSERT_TRUE(std::filesystem::is_regular_file(samplesFile(env)));
    EXPECT_EQ(std::filesystem::file_size(samplesFile(env)), 0u);
    EXPECT_TRUE(logger->loadAll().empty());
}

TEST_F(LoggerFixture, ConstructionKeepsAnExistingFile) {
    logAndRun(sampleAt(1));
    logger = makeLogger();
    EXPECT_EQ(logger->loadAll(), std::vector<Sample>{sampleAt(1)});
}

TEST_F(LoggerFixture, ThreeSamplesAreThreeCompactLinesInOrder) {
    logger->log({1718960400.5, 87.25, 57, 9, false});
    logger->log({1718961600.0, 0.0, 0, 0, true});
    logger->log({1718962800.125, 255.0, 100, 23, false});
    // Appends wait for the logger's queue.
    EXPECT_EQ(readFile(samplesFile(env)), "");
    env.clock.runPending();
    EXPECT_EQ(readFile(samplesFile(env)),
              "{\"t\":1718960400.5,\"luma\":87.25,\"brightness\":57,\"hour\":9,\"userSet\":false}\n"
              "{\"t\":1718961600.0,\"luma\":0.0,\"brightness\":0,\"hour\":0,\"userSet\":true}\n"
              "{\"t\":1718962800.125,\"luma\":255.0,\"brightness\":100,\"hour\":23,"
              "\"userSet\":false}\n");
    EXPECT_EQ(logger->loadAll(), (std::vector<Sample>{{1718960400.5, 87.25, 57, 9, false},
                                                      {1718961600.0, 0.0, 0, 0, true},
                                                      {1718962800.125, 255.0, 100, 23, false}}));
}

TEST_F(LoggerFixture, NumbersComeBackExactly) {
    const std::vector<Sample> samples = {
        {1718960400.123456789, 1.0 / 3.0, 42, 7, true},
        {0.1, 0.1 + 0.2, -5, -1, false},
        {-1e300, 5e-324, std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), false},
        {1.7976931348623157e308, 254.99999999999997, 100, 23, true},
    };
    for (const Sample& s : samples) {
        logger->log(s);
    }
    env.clock.runPending();
    EXPECT_EQ(logger->loadAll(), samples);
}

TEST_F(LoggerFixture, NonFiniteTimeOrLumaIsNeverWritten) {
    for (double bad : {kNaN, kInf, -kInf}) {
        logger->log({bad, 100.0, 50, 12, false});
        logger->log({1718960400.0, bad, 50, 12, false});
    }
    logger->log(sampleAt(3));
    env.clock.runPending();
    EXPECT_EQ(readFile(samplesFile(env)), *SampleLogger::encodeLine(sampleAt(3)));
    EXPECT_TRUE(logHas(env, "[sample] Sample dropped: non-finite time or luma"));
}

TEST_F(LoggerFixture, AppendsQueuedBeforeTheLoggerGoesStillLand) {
    logger->log(sampleAt(1));
    logger->log(sampleAt(2));
    logger.reset();
    env.clock.runPending();
    EXPECT_EQ(makeLogger()->loadAll(), (std::vector<Sample>{sampleAt(1), sampleAt(2)}));
}

TEST_F(LoggerFixture, DeletedFileLosesAppendsUntilTheLoggerIsMadeAgain) {
    logAndRun(sampleAt(1));
    std::filesystem::remove(samplesFile(env));
    logAndRun(sampleAt(2));
    EXPECT_FALSE(std::filesystem::exists(samplesFile(env)));
    EXPECT_TRUE(logger->loadAll().empty());
    EXPECT_TRUE(logHas(env, "Sample dropped: cannot open"));

    logger = makeLogger();
    EXPECT_TRUE(std::filesystem::exists(samplesFile(env)));
    logAndRun(sampleAt(3));
    EXPECT_EQ(logger->loadAll(), std::vector<Sample>{sampleAt(3)});
}

TEST_F(LoggerFixture, AppendAfterACutShortLineStartsAFreshLine) {
    // What a crash or a full disk in the middle of an append leaves behind.
    const std::string first = *SampleLogger::encodeLine(sampleAt(1));
    writeFile(samplesFile(env), first + "{\"t\":1718960400.5,\"lu");
    EXPECT_EQ(logger->loadAll(), std::vector<Sample>{sampleAt(1)});
    logAndRun(sampleAt(2));
    EXPECT_EQ(logger->loadAll(), (std::vector<Sample>{sampleAt(1), sampleAt(2)}));
}

TEST_F(LoggerFixture, SomethingOtherThanAFileInItsPlaceNeitherBlocksNorBreaks) {
    // A FIFO would block an ordinary open until someone opens the other end.
    std::filesystem::remove(samplesFile(env));
    ASSERT_EQ(::mkfifo(samplesFile(env).c_str(), 0600), 0);
    EXPECT_TRUE(logger->loadAll().empty());
    logAndRun(sampleAt(1));
    EXPECT_TRUE(logHas(env, "Sample dropped"));

    std::filesystem::remove(samplesFile(env));
    std::filesystem::create_directory(samplesFile(env));
    EXPECT_TRUE(logger->loadAll().empty());
    logAndRun(sampleAt(2));
    EXPECT_TRUE(std::filesystem::is_directory(samplesFile(env)));
}

TEST_F(LoggerFixture, UnreadableFileReadsAsNoSamples) {
    logAndRun(sampleAt(1));
    std::filesystem::permissions(samplesFile(env), std::filesystem::perms::owner_write);
    AsOrdinaryUser::openWayTo(samplesFile(env), env.dir.path());
    AsOrdinaryUser user;  // root reads any file
    ASSERT_TRUE(user.ok());
    EXPECT_TRUE(logger->loadAll().empty());
}

// ---- reading damaged files ----

std::string line(int i) {
    return *SampleLogger::encodeLine(sampleAt(i));
}

struct FileCase {
    const char* name;
    std::string contents;
    std::vector<int> expected;  // indices into sampleAt
};

void PrintTo(const FileCase& c, std::ostream* out) {
    *out << c.name;
}

class SampleLoggerDamagedFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(SampleLoggerDamagedFile, YieldsExactlyTheGoodLines) {
    const FileCase& c = GetParam();
    TestEnvironment env;
    auto queue = env.clock.makeQueue("pellora.logger");
    writeFile(samplesFile(env), c.contents);
    SampleLogger logger(kMonitor, env.paths.dataDir, *queue);
    std::vector<Sample> expected;
    for (int i : c.expected) {
        expected.push_back(sampleAt(i));
    }
    EXPECT_EQ(logger.loadAll(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SampleLoggerDamagedFile,
    ::testing::Values(
        FileCase{"CorruptMiddleLine", line(1) + "{\"t\":17189,\"lu#ma\n" + line(3), {1, 3}},
        FileCase{"LastLineWithoutLineFeed", line(1) + line(2) + line(3).substr(0, 20), {1, 2}},
        FileCase{"CompleteLastLineWithoutLineFeed",
                 line(1) + line(2).substr(0, line(2).size() - 1),
                 {1}},
        FileCase{"FractionalBrightness",
                 line(1) +
                     "{\"t\":1718960400,\"luma\":80,\"brightness\":57.5,\"hour\":9,"
                     "\"userSet\":false}\n" +
                     line(2),
                 {1, 2}},
        FileCase{"BlankLinesAndCarriageReturns", "\n\n" + line(1) + "\r\n\n" + line(2), {1, 2}},
        FileCase{"NulBytesAndBinaryJunk",
                 line(1) + std::string("\0\0\0\xff\xfe\x01", 6) + "\n" + line(2) +
                     std::string(4096, '\0') + "\n",
                 {1, 2}},
        FileCase{"ZerosAfterACrashWithoutLineFeed", line(1) + std::string(512, '\0'), {1}},
        FileCase{
            "MegabyteLineOfGarbage", line(1) + std::string(8u << 20, 'x') + "\n" + line(2), {1, 2}},
        FileCase{"MegabyteStringMember",
                 line(1) + "{\"t\":1,\"luma\":1,\"brightness\":1,\"hour\":1,\"note\":\"" +
                     std::string(8u << 20, 'y') + "\"}\n" + line(2),
                 {1, 2}},
        FileCase{"DeepNesting",
                 line(1) + "{\"x\":" + std::string(1u << 20, '[') + "\n" + line(2) +
                     std::string(1u << 20, '{') + "\n",
                 {1, 2}},
        FileCase{"HugeArrayMember",
                 line(1) +
                     [] {
                         std::string big = "{\"t\":[";
                         for (int i = 0; i < 200000; ++i) {
                             big += "1,";
                         }
                         return big +
                                "1],\"luma\":1,\"brightness\":1,\"hour\":1,\"userSet\":true}\n";
                     }() +
                     line(2),
                 {1, 2}},
        FileCase{"InvalidUtf8InAString",
                 line(1) +
                     "{\"t\":1,\"luma\":1,\"brightness\":1,\"hour\":1,\"userSet\":true,"
                     "\"note\":\"\xc3\x28\"}\n" +
                     line(2),
                 {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoggerFixture, OversizedFileIsReadForItsNewestLinesOnly) {
    const std::string a = line(1), b = line(2), c = line(3);
    writeFile(samplesFile(env), a + b + c);
    // The window starts exactly at b: b is a whole line and kept.
    logger = makeLogger(b.size() + c.size());
    EXPECT_EQ(logger->loadAll(), (std::vector<Sample>{sampleAt(2), sampleAt(3)}));
    // One byte less starts inside b, whose remainder is not a line.
    logger = makeLogger(b.size() + c.size() - 1);
    EXPECT_EQ(logger->loadAll(), std::vector<Sample>{sampleAt(3)});
    // A window inside one line finds no line at all.
    logger = makeLogger(10);
    EXPECT_TRUE(logger->loadAll().empty());
}

// ---- reading again after the file changed ----

std::vector<Sample> samplesOf(std::initializer_list<int> indices) {
    std::vector<Sample> out;
    for (int i : indices) {
        out.push_back(sampleAt(i));
    }
    return out;
}

TEST_F(LoggerFixture, LineCompletedAfterAReadAppearsOnce) {
    writeFile(samplesFile(env), line(1) + line(2).substr(0, 30));
    EXPECT_EQ(logger->loadAll(), samplesOf({1}));
    {
        std::ofstream out(samplesFile(env), std::ios::binary | std::ios::app);
        out << line(2).substr(30) << line(3);
    }
    EXPECT_EQ(logger->loadAll(), samplesOf({1, 2, 3}));
    EXPECT_EQ(logger->loadAll(), samplesOf({1, 2, 3}));
}

struct RewriteCase {
    const char* name;
    std::string before;
    std::string after;
    bool replaceFile;  // a new file renamed over the old one, else rewritten in place
    std::vector<int> expected;
};

void PrintTo(const RewriteCase& c, std::ostream* out) {
    *out << c.name;
}

class SampleLoggerRewrittenFile : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(SampleLoggerRewrittenFile, IsReadAfresh) {
    const RewriteCase& c = GetParam();
    TestEnvironment env;
    auto queue = env.clock.makeQueue("pellora.logger");
    writeFile(samplesFile(env), c.before);
    SampleLogger logger(kMonitor, env.paths.dataDir, *queue);
    logger.loadAll();
    if (c.replaceFile) {
        writeFile(samplesFile(env).string() + ".new", c.after);
        std::filesystem::rename(samplesFile(env).string() + ".new", samplesFile(env));
    } else {
        writeFile(samplesFile(env), c.after);
    }
    std::vector<Sample> expected;
    for (int i : c.expected) {
        expected.push_back(sampleAt(i));
    }
    EXPECT_EQ(logger.loadAll(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SampleLoggerRewrittenFile,
    ::testing::Values(
        RewriteCase{"ReplacedByAnotherFile",
                    line(1) + line(2),
                    line(3) + line(4) + line(5),
                    true,
                    {3, 4, 5}},
        RewriteCase{"TruncatedInPlace", line(1) + line(2) + line(3), line(4), false, {4}},
        RewriteCase{"EmptiedInPlace", line(1) + line(2), "", false, {}},
        RewriteCase{
            "LongerInPlace", line(1) + line(2), line(3) + line(4) + line(5), false, {3, 4, 5}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LoggerFixture, SameSizeRewriteInPlaceIsSeen) {
    const std::string before = line(1) + line(2);
    writeFile(samplesFile(env), before);
    EXPECT_EQ(logger->loadAll(), samplesOf({1, 2}));
    Sample changed = sampleAt(2);
    changed.hour += 1;
    const std::string after = line(1) + *SampleLogger::encodeLine(changed);
    ASSERT_EQ(after.size(), before.size());
    writeFile(samplesFile(env), after);
    EXPECT_EQ(logger->loadAll(), (std::vector<Sample>{sampleAt(1), changed}));
}

TEST_F(LoggerFixture, FileGrowingPastTheReadLimitIsReadForItsNewestLines) {
    logger = makeLogger(line(1).size() * 3);
    writeFile(samplesFile(env), line(1) + line(2));
    EXPECT_EQ(logger->loadAll(), samplesOf({1, 2}));
    {
        std::ofstream out(samplesFile(env), std::ios::binary | std::ios::app);
        out << line(3) << line(4) << line(5);
    }
    // Lines 3 to 5 may be a byte or two longer than line 1: at least two of them fit.
    const std::vector<Sample> got = logger->loadAll();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got.back(), sampleAt(5));
    EXPECT_NE(got.front(), sampleAt(1));
}

// ---- decoding one line ----

struct LineCase {
    const char* name;
    const char* text;
    std::optional<Sample> expected;
};

void PrintTo(const LineCase& c, std::ostream* out) {
    *out << c.name;
}

class SampleLoggerDecodeLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(SampleLoggerDecodeLine, AcceptsOnlyWholeSamples) {
    const LineCase& c = GetParam();
    EXPECT_EQ(SampleLogger::decodeLine(c.text), c.expected);
}

const Sample kPlain{100.0, 80.5, 57, 9, true};

INSTANTIATE_TEST_SUITE_P(
    Accepted, SampleLoggerDecodeLine,
    ::testing::Values(
        LineCase{"WrittenForm",
                 R"({"t":100.0,"luma":80.5,"brightness":57,"hour":9,"userSet":true})", kPlain},
        LineCase{"WrittenFormWithCarriageReturn",
                 "{\"t\":1.0e2,\"luma\":805E-1,\"brightness\":57,\"hour\":9,\"userSet\":true}\r",
                 kPlain},
        LineCase{"NegativeZeroAndFalse",
                 R"({"t":-0,"luma":-0.0,"brightness":-0,"hour":0,"userSet":false})",
                 Sample{0.0, 0.0, 0, 0, false}},
        LineCase{"AnyMemberOrder",
                 R"({"userSet":true,"hour":9,"brightness":57,"luma":80.5,"t":100})", kPlain},
        LineCase{"Whitespace",
                 " { \"t\" : 100 , \"luma\" : 80.5 , \"brightness\" : 57 , \"hour\" : 9 , "
                 "\"userSet\" : true } \r",
                 kPlain},
        LineCase{"WholeNumbersWrittenAsFloats",
                 R"({"t":1e2,"luma":80.5,"brightness":57.0,"hour":9e0,"userSet":true})", kPlain},
        LineCase{"EscapedMemberName",
                 R"({"\u0074":100,"luma":80.5,"brightness":57,"hour":9,"userSet":true})", kPlain},
        LineCase{"UnknownMembersIgnored",
                 R"({"t":100,"v":2,"luma":80.5,"x":{"y":[1,null,"z"]},"brightness":57,)"
                 R"("hour":9,"userSet":true,"note":"caf\u00e9"})",
                 kPlain}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Rejected, SampleLoggerDecodeLine,
    ::testing::Values(
        LineCase{"Empty", "", std::nullopt}, LineCase{"NotJson", "hello", std::nullopt},
        LineCase{"TopLevelArray", R"([100,80.5,57,9,true])", std::nullopt},
        LineCase{"TopLevelNumber", "100", std::nullopt},
        LineCase{"TrailingGarbage",
                 R"({"t":100,"luma":80.5,"brightness":57,"hour":9,"userSet":true}x)", std::nullopt},
        LineCase{"TwoObjects", R"({"t":100,"luma":80.5,"brightness":57,"hour":9,"userSet":true}{})",
                 std::nullopt},
        LineCase{"MissingT", R"({"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"MissingLuma", R"({"t":100,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"MissingBrightness", R"({"t":100,"luma":80.5,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"MissingHour", R"({"t":100,"luma":80.5,"brightness":57,"userSet":true})",
                 std::nullopt},
        LineCase{"MissingUserSet", R"({"t":100,"luma":80.5,"brightness":57,"hour":9})",
                 std::nullopt},
        LineCase{"FractionalBrightness",
                 R"({"t":100,"luma":80.5,"brightness":57.5,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"FractionalHour",
                 R"({"t":100,"luma":80.5,"brightness":57,"hour":9.25,"userSet":true})",
                 std::nullopt},
        LineCase{"BrightnessBeyondInt",
                 R"({"t":100,"luma":80.5,"brightness":2147483648,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"HourBelowInt",
                 R"({"t":100,"luma":80.5,"brightness":57,"hour":-2147483649,"userSet":true})",
                 std::nullopt},
        LineCase{"HugeIntegerBrightness",
                 R"({"t":100,"luma":80.5,"brightness":1e300,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"OverflowingTime",
                 R"({"t":1e400,"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"OverflowingLuma",
                 R"({"t":100,"luma":-1e400,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"NaNLiteral", R"({"t":100,"luma":NaN,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"NumberAsString",
                 R"({"t":100,"luma":"80.5","brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"NullMember", R"({"t":null,"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"BoolAsNumber", R"({"t":100,"luma":80.5,"brightness":57,"hour":9,"userSet":1})",
                 std::nullopt},
        LineCase{"NumberAsBool",
                 R"({"t":100,"luma":80.5,"brightness":true,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"NestedKnownMember",
                 R"({"t":[100],"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"RepeatedMember",
                 R"({"t":100,"t":200,"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"CutShort", R"({"t":100,"luma":80.5,"brightness":57,"hour":9,"userSet":tr)",
                 std::nullopt},
        LineCase{"RawNonUtf8",
                 "{\"t\":100,\"luma\":80.5,\"brightness\":57,\"hour\":9,\"userSet\":true,"
                 "\"\xff\":1}",
                 std::nullopt},
        LineCase{"LeadingPlus", R"({"t":+100,"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"LeadingZero", R"({"t":0100,"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"BareFraction", R"({"t":100,"luma":.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"OpenFraction", R"({"t":100,"luma":5.,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"InfinityWord",
                 R"({"t":100,"luma":Infinity,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"HexNumber", R"({"t":0x64,"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt},
        LineCase{"TrueCutShort",
                 R"({"t":100,"luma":80.5,"brightness":57,"hour":9,"userSet":truex})", std::nullopt},
        LineCase{"Comment", R"({"t":100,/*x*/"luma":80.5,"brightness":57,"hour":9,"userSet":true})",
                 std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- concurrency on real threads ----

TEST(SampleLoggerConcurrency, ReadsDuringAppendsSeeOnlyWholeLoggedSamples) {
    TempDir dir;
    SystemClock clock;
    SerialQueue queue("pellora.logger", clock);
    SampleLogger logger(kMonitor, dir.path(), queue);
    constexpr int count = 3000;
    std::atomic<bool> done{false};
    std::thread appender([&] {
        for (int i = 0; i < count; ++i) {
            logger.log(sampleAt(i));
        }
        queue.sync([] {});
        done = true;
    });
    int reads = 0;
    std::size_t longest = 0;
    bool allPrefixes = true;
    while (!done || reads == 0) {
        const std::vector<Sample> got = logger.loadAll();
        ++reads;
        longest = std::max(longest, got.size());
        // Appends land in call order, so any read is the first n samples logged.
        for (std::size_t i = 0; i < got.size() && allPrefixes; ++i) {
            allPrefixes = got[i] == sampleAt(int(i));
        }
    }
    appender.join();
    EXPECT_TRUE(allPrefixes);
    EXPECT_GT(reads, 1);
    EXPECT_EQ(logger.loadAll().size(), std::size_t(count));
}

TEST(SampleLoggerConcurrency, TwoProcessesAppendingNeverInterleave) {
    TempDir dir;
    constexpr int count = 2000;
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only this thread exists here: append on virtual time, one sample at a time.
        VirtualClock childClock;
        auto childQueue = childClock.makeQueue("pellora.logger");
        SampleLogger logger(kMonitor, dir.path(), *childQueue);
        for (int i = 0; i < count; ++i) {
            logger.log(sampleAt(count + i));
            childClock.runPending();
        }
        ::_exit(0);
    }
    {
        SystemClock clock;
        SerialQueue queue("pellora.logger", clock);
        SampleLogger logger(kMonitor, dir.path(), queue);
        for (int i = 0; i < count; ++i) {
            logger.log(sampleAt(i));
        }
        queue.sync([] {});
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    VirtualClock clock;
    auto queue = clock.makeQueue("pellora.logger");
    SampleLogger logger(kMonitor, dir.path(), *queue);
    const std::vector<Sample> got = logger.loadAll();
    ASSERT_EQ(got.size(), std::size_t(2 * count));
    // Each process's own lines keep their order; every line is one that was logged.
    int nextParent = 0, nextChild = count;
    for (const Sample& s : got) {
        if (nextParent < count && s == sampleAt(nextParent)) {
            ++nextParent;
        } else if (nextChild < 2 * count && s == sampleAt(nextChild)) {
            ++nextChild;
        } else {
            FAIL() << "unexpected sample at t=" << s.t;
        }
    }
    const std::string bytes = readFile(logger.fileURL());
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 2 * count);
}

}  // namespace
}  // namespace pellora::test
