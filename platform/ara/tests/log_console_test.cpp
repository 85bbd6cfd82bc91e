#include "ara/log/logging.h"
#include "testbed/support/child_process.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using ara::log::LogLevel;
using ara::log::LogMode;
using tarn1::testing::run_in_child;

/// True when line starts with "YYYY-MM-DD hh:mm:ss.uuuuuu " and continues with rest.
bool has_stamp_then(const std::string& line, const std::string& rest)
{
    static const std::string shape = "dddd-dd-dd dd:dd:dd.dddddd ";
    if (line.size() < shape.size() || line.compare(shape.size(), std::string::npos, rest) != 0)
    {
        return false;
    }
    for (std::size_t i = 0; i < shape.size(); ++i)
    {
        const bool digit = line[i] >= '0' && line[i] <= '9';
        if (shape[i] == 'd' ? !digit : line[i] != shape[i])
        {
            return false;
        }
    }
    return true;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
    {
        lines.push_back(line);
    }
    return lines;
}

TEST(Log_console_test, EachMessageIsOneWholeLineOnStandardErrorAndNothingOnStandardOutput)
{
    const auto result = run_in_child(
        []
        {
            ::unsetenv("ARA_LOG_CONSOLE");
            ::unsetenv("ARA_LOG_LEVEL");
            ::setenv("ARA_LOG_DLT", "0", 1);
            ara::log::InitLogging("STMG", "TARN1 State Manager", LogLevel::kInfo, LogMode::kRemote, "");
            std::vector<std::thread> threads;
            for (int t = 0; t < 4; ++t)
            {
                threads.emplace_back(
                    [t]
                    {
                        for (int i = 0; i < 200; ++i)
                        {
                            ara::log::LogWarn()
                                << "thread " << std::int32_t{t} << " message " << std::int32_t{i} << " end";
                            ara::log::LogDebug() << "filtered";
                        }
                    });
            }
            for (auto& thread : threads)
            {
                thread.join();
            }
            ara::log::LogStream(LogLevel::kInfo, ara::log::CreateLogger("SNCC", "lib")) << "from SNCC";
            return 0;
        },
        20s);

    ASSERT_EQ(result.exit_status, 0) << result.err;
    EXPECT_EQ(result.out, "");
    const auto lines = lines_of(result.err);
    ASSERT_EQ(lines.size(), 801U);
    std::vector<int> next_of_thread(4, 0);
    for (std::size_t i = 0; i + 1 < lines.size(); ++i)
    {
        const std::string& line = lines[i];
        const auto text_at = line.find("STMG DFLT [warn] ");
        ASSERT_NE(text_at, std::string::npos) << line;
        int t = -1;
        int m = -1;
        char tail[8] = {};
        ASSERT_EQ(std::sscanf(line.c_str() + text_at, "STMG DFLT [warn] thread %d message %d %7s", &t, &m, tail), 3)
            << line;
        ASSERT_TRUE(t >= 0 && t < 4) << line;
        EXPECT_EQ(m, next_of_thread[static_cast<std::size_t>(t)]++) << line;
        EXPECT_TRUE(has_stamp_then(
            line, "STMG DFLT [warn] thread " + std::to_string(t) + " message " + std::to_string(m) + " end"))
            << line;
    }
    EXPECT_TRUE(has_stamp_then(lines.back(), "STMG SNCC [info] from SNCC")) << lines.back();
}

TEST(Log_console_test, ConsoleCanBeSilencedAndForcedOnBeforeInitialisation)
{
    const auto silenced = run_in_child(
        []
        {
            ::setenv("ARA_LOG_CONSOLE", "0", 1);
            ::setenv("ARA_LOG_DLT", "0", 1);
            ara::log::InitLogging("IAMD", "tarn1_iam_daemon", LogLevel::kInfo, LogMode::kRemote, "");
            ara::log::LogError() << "quiet";
            return 0;
        },
        20s);
    EXPECT_EQ(silenced.err, "");

    const auto forced = run_in_child(
        []
        {
            ::setenv("ARA_LOG_CONSOLE", "1", 1);
            ara::log::LogError() << "before init";
            return 0;
        },
        20s);
    EXPECT_NE(forced.err.find(" NONE DFLT [error] before init\n"), std::string::npos) << forced.err;
}

TEST(Log_console_test, AnAbsentDltDaemonNeitherPollutesStandardOutputNorStallsTheExit)
{
    if (::access("/tmp/dlt", F_OK) == 0)
    {
        GTEST_SKIP() << "a DLT daemon runs on this machine (/tmp/dlt exists); this case needs none";
    }

    const auto result = run_in_child(
        []
        {
            ::setenv("ARA_LOG_DLT", "1", 1);
            ::setenv("ARA_LOG_CONSOLE", "1", 1);
            ara::log::InitLogging("STMG", "TARN1 State Manager", LogLevel::kVerbose, LogMode::kRemote, "");
            for (int i = 0; i < 50; ++i)
            {
                ara::log::LogInfo() << "buffered " << std::int32_t{i};
            }
            // The moment the program returns, on the machine-wide steady clock, so that only the
            // exit itself is timed (a loaded machine may be slow to start the child).
            const auto returning = std::chrono::steady_clock::now().time_since_epoch().count();
            ara::log::LogInfo() << "returning at " << static_cast<std::int64_t>(returning);
            return 0;
        },
        30s);

    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("[info] buffered 49"), std::string::npos);
    const auto at = result.err.find("returning at ");
    ASSERT_NE(at, std::string::npos) << result.err;
    const std::chrono::steady_clock::time_point returning{
        std::chrono::steady_clock::duration{std::stoll(result.err.substr(at + 13))}};
    // libdlt waits 10 s at exit for an absent daemon unless told not to.
    EXPECT_LT(result.finished - returning, 5s);
}

} // namespace
