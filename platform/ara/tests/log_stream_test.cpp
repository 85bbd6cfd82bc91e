#include "ara/log/logging.h"
#include "ara/log/testing/log_capture.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{

using ara::log::Log_piece;
using ara::log::LogLevel;
using ara::log::testing::Log_capture;

class Log_stream_test : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Keep the test output clean and never reach for a DLT daemon.
        ::setenv("ARA_LOG_CONSOLE", "0", 1);
        ::setenv("ARA_LOG_DLT", "0", 1);
        ::unsetenv("ARA_LOG_LEVEL");
    }
    void TearDown() override
    {
        ara::log::InitLogging("TEST", "tests", LogLevel::kVerbose, ara::log::LogMode::kRemote, "");
    }

    Log_capture capture;
};

struct Level_case
{
    const char* name;
    LogLevel threshold;
    std::vector<std::string> expected;
};

class Log_level_filter_test : public Log_stream_test, public ::testing::WithParamInterface<Level_case>
{
};

TEST_P(Log_level_filter_test, OnlyLevelsAtOrAboveTheThresholdAreEmitted)
{
    ara::log::InitLogging("TEST", "tests", GetParam().threshold, ara::log::LogMode::kRemote, "");

    ara::log::LogFatal() << "fatal";
    ara::log::LogError() << "error";
    ara::log::LogWarn() << "warn";
    ara::log::LogInfo() << "info";
    ara::log::LogDebug() << "debug";
    ara::log::LogVerbose() << "verbose";

    EXPECT_EQ(capture.texts(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Levels,
                         Log_level_filter_test,
                         ::testing::Values(Level_case{"Off", LogLevel::kOff, {}},
                                           Level_case{"Fatal", LogLevel::kFatal, {"fatal"}},
                                           Level_case{"Warn", LogLevel::kWarn, {"fatal", "error", "warn"}},
                                           Level_case{"Info", LogLevel::kInfo, {"fatal", "error", "warn", "info"}},
                                           Level_case{"Verbose",
                                                      LogLevel::kVerbose,
                                                      {"fatal", "error", "warn", "info", "debug", "verbose"}}),
                         [](const ::testing::TestParamInfo<Level_case>& param_info)
                         { return std::string(param_info.param.name); });

TEST_F(Log_stream_test, ContextLevelSetAtRunTimeRaisesAndLowersThatContextOnly)
{
    ara::log::InitLogging("TEST", "tests", LogLevel::kInfo, ara::log::LogMode::kRemote, "");
    auto& raised = ara::log::CreateLogger("CTXR", "raised at run time");
    auto& untouched = ara::log::CreateLogger("CTXU", "left alone");

    raised.set_context_level(LogLevel::kVerbose);
    raised.LogVerbose() << "raised verbose";
    untouched.LogDebug() << "untouched debug";
    raised.set_context_level(LogLevel::kError);
    raised.LogWarn() << "lowered warn";
    raised.LogError() << "lowered error";
    raised.clear_context_level();
    raised.LogInfo() << "back to the application's level";
    raised.LogDebug() << "debug again hidden";

    EXPECT_EQ(capture.texts(),
              (std::vector<std::string>{"raised verbose", "lowered error", "back to the application's level"}));
}

TEST_F(Log_stream_test, IsLogEnabledFollowsTheThresholdAndTheEnvironmentOverride)
{
    ara::log::InitLogging("TEST", "tests", LogLevel::kInfo, ara::log::LogMode::kRemote, "");
    auto& logger = ara::log::CreateLogger("CTX1", "context");
    EXPECT_TRUE(logger.IsLogEnabled(LogLevel::kInfo));
    EXPECT_FALSE(logger.IsLogEnabled(LogLevel::kDebug));
    EXPECT_FALSE(logger.IsLogEnabled(LogLevel::kOff));

    ::setenv("ARA_LOG_LEVEL", "error", 1);
    ara::log::InitLogging("TEST", "tests", LogLevel::kVerbose, ara::log::LogMode::kRemote, "");

    EXPECT_TRUE(logger.IsLogEnabled(LogLevel::kError));
    EXPECT_FALSE(logger.IsLogEnabled(LogLevel::kWarn));
}

TEST_F(Log_stream_test, DisabledStreamsDoNotEvaluateIntoAMessage)
{
    ara::log::InitLogging("TEST", "tests", LogLevel::kInfo, ara::log::LogMode::kRemote, "");

    {
        auto stream = ara::log::LogDebug();
        stream << "never " << std::int32_t{1};
    }

    EXPECT_TRUE(capture.messages().empty());
}

TEST_F(Log_stream_test, PiecesAreConcatenatedInOrderWithTheirTypes)
{
    ara::log::InitLogging("TEST", "tests", LogLevel::kVerbose, ara::log::LogMode::kRemote, "");

    ara::log::LogInfo() << "a=" << std::int32_t{-5} << " b=" << std::int64_t{std::numeric_limits<std::int64_t>::min()}
                        << " c=" << std::uint8_t{255} << " d=" << std::uint16_t{65535}
                        << " e=" << std::uint32_t{4000000000U} << " f=" << std::uint64_t{18446744073709551615ULL} << " "
                        << std::string("end");

    const auto messages = capture.messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].text, "a=-5 b=-9223372036854775808 c=255 d=65535 e=4000000000 f=18446744073709551615 end");
    std::vector<Log_piece::Type> types;
    for (const auto& piece : messages[0].pieces)
    {
        types.push_back(piece.type);
    }
    using T = Log_piece::Type;
    EXPECT_EQ(types,
              (std::vector<T>{T::kText,
                              T::kInt32,
                              T::kText,
                              T::kInt64,
                              T::kText,
                              T::kUint8,
                              T::kText,
                              T::kUint16,
                              T::kText,
                              T::kUint32,
                              T::kText,
                              T::kUint64,
                              T::kText,
                              T::kText}));
    EXPECT_EQ(static_cast<std::int64_t>(messages[0].pieces[3].value), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(messages[0].level, LogLevel::kInfo);
    EXPECT_EQ(messages[0].context_id, "DFLT");
}

TEST_F(Log_stream_test, ContextsKeepTheirIdAndAreCreatedOnce)
{
    auto& first = ara::log::CreateLogger("SNCC", "state notification lib and client states logger");
    auto& again = ara::log::CreateLogger("SNCC", "other description");

    ara::log::LogStream(LogLevel::kWarn, first) << "from context";

    EXPECT_EQ(&first, &again);
    const auto messages = capture.messages();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].context_id, "SNCC");
    EXPECT_EQ(messages[0].level, LogLevel::kWarn);
    EXPECT_EQ(capture.texts_of_context("SNCC"), std::vector<std::string>{"from context"});
}

TEST_F(Log_stream_test, NullTextAndEmptyStreamsAreHarmless)
{
    const char* nothing = nullptr;

    ara::log::LogError() << nothing;
    {
        auto unused = ara::log::LogError();
    }

    EXPECT_EQ(capture.texts(), std::vector<std::string>{"(null)"});
}

TEST_F(Log_stream_test, MessagesOfManyThreadsStayWholeAndInOrderPerThread)
{
    constexpr int thread_count = 8;
    constexpr int messages_per_thread = 400;
    std::vector<std::thread> threads;

    for (int t = 0; t < thread_count; ++t)
    {
        threads.emplace_back(
            [t]
            {
                for (int i = 0; i < messages_per_thread; ++i)
                {
                    ara::log::LogInfo() << "thread " << std::int32_t{t} << " message " << std::int32_t{i} << " end";
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }

    std::map<int, int> next_of_thread;
    const auto texts = capture.texts();
    ASSERT_EQ(texts.size(), static_cast<std::size_t>(thread_count * messages_per_thread));
    for (const auto& text : texts)
    {
        int t = -1;
        int i = -1;
        char tail[8] = {};
        ASSERT_EQ(std::sscanf(text.c_str(), "thread %d message %d %3s", &t, &i, tail), 3) << text;
        ASSERT_STREQ(tail, "end") << text;
        EXPECT_EQ(i, next_of_thread[t]++) << text;
    }
}

TEST_F(Log_stream_test, CaptureWaitsForAMessageFromAnotherThread)
{
    std::thread late(
        []
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ara::log::LogInfo() << "arrived";
        });

    const bool arrived = capture.wait_for("arrived", std::chrono::seconds(5));
    late.join();

    EXPECT_TRUE(arrived);
    EXPECT_FALSE(capture.wait_for("never", std::chrono::milliseconds(10)));
}

} // namespace
