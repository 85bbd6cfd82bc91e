#include "ara/log/testing/log_capture.h"
#include "statemanager/fast_shutdown/fast_shutdown_handler.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vela::ap::statemanager::fast_shutdown
{
namespace
{

using ara::log::LogLevel;
using namespace std::chrono_literals;

/// The power-management daemon's end of the command pipe: a FIFO in a temporary folder with a
/// non-blocking reader.
class Fast_shutdown_handler_test : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(::mkfifo(m_path.c_str(), 0600), 0);
        m_reader = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(m_reader, 0);
    }

    void TearDown() override { close_reader(); }

    void close_reader()
    {
        if (m_reader >= 0)
        {
            ::close(m_reader);
            m_reader = -1;
        }
    }

    /// Everything in the pipe now.
    std::string drain() const
    {
        std::string content;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(m_reader, buffer, sizeof buffer)) > 0)
        {
            content.append(buffer, static_cast<std::size_t>(got));
        }
        return content;
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("poweroff");
    int m_reader{-1};
};

struct Duration_case
{
    const char* label;
    std::chrono::milliseconds duration;
    const char* poweroff_command;
};

void PrintTo(const Duration_case& value, std::ostream* os)
{
    *os << value.label;
}

class Fast_shutdown_handler_duration_test : public Fast_shutdown_handler_test,
                                            public ::testing::WithParamInterface<Duration_case>
{
};

TEST_P(Fast_shutdown_handler_duration_test, FastShutdownTerminatesThenPowersOffAfterTheDuration)
{
    const Fast_shutdown_handler sut(m_path);

    sut.start_fast_shutdown(GetParam().duration);

    EXPECT_EQ(drain(), std::string{"terminate\n"} + GetParam().poweroff_command);
    EXPECT_EQ(m_capture.texts(LogLevel::kInfo),
              (std::vector<std::string>{"Shutting down PM daemon", "Starting ExitApp"}));
    EXPECT_EQ(m_capture.count("Command send: terminate\n", LogLevel::kVerbose), 1U);
}

INSTANTIATE_TEST_SUITE_P(Durations,
                         Fast_shutdown_handler_duration_test,
                         ::testing::Values(Duration_case{"OneAndAHalfSeconds", 1500ms, "poweroff 1500\n"},
                                           Duration_case{"Zero", 0ms, "poweroff 0\n"},
                                           Duration_case{"Negative", -250ms, "poweroff -250\n"},
                                           Duration_case{"Large", 9000000000ms, "poweroff 9000000000\n"}),
                         [](const ::testing::TestParamInfo<Duration_case>& param)
                         { return std::string{param.param.label}; });

TEST_F(Fast_shutdown_handler_test, LookupAsksForThePmDaemon)
{
    const Fast_shutdown_handler sut(m_path);

    sut.process_lookup();

    EXPECT_TRUE(sut.is_possible());
    EXPECT_EQ(drain(), "lookup pmx_per_daemon\n");
    EXPECT_EQ(m_capture.count("Lookup for PM daemon PID", LogLevel::kInfo), 1U);
}

TEST_F(Fast_shutdown_handler_test, WithoutReaderNothingIsSentAndTheHandlerSaysSo)
{
    close_reader();

    const Fast_shutdown_handler sut(m_path);
    sut.start_fast_shutdown(1500ms);
    sut.process_lookup();

    EXPECT_FALSE(sut.is_possible());
    EXPECT_EQ(m_capture.texts(LogLevel::kError),
              (std::vector<std::string>{"Failed to open file:" + m_path + " Error: No such device or address",
                                        "File descriptor of PowerOFF not valid"}));
    EXPECT_EQ(m_capture.count("Shutting down PM daemon"), 0U);
}

TEST_F(Fast_shutdown_handler_test, FullPipeFailsTheWriteWithoutWaiting)
{
    const Fast_shutdown_handler sut(m_path);
    const int filler = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(filler, 0);
    const std::string block(4096, 'x');
    while (::write(filler, block.data(), block.size()) > 0)
    {
    }
    ::close(filler);

    const auto start = std::chrono::steady_clock::now();
    sut.shutdown_pm();

    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(m_capture.texts(LogLevel::kError),
              std::vector<std::string>{"Failed to write command: terminate\n Error: Resource temporarily unavailable"});
}

TEST_F(Fast_shutdown_handler_test, ShortWriteIsCompletedWithTheRemainingBytes)
{
    const Fast_shutdown_handler sut(m_path);
    // the first write took only the first four bytes
    sut.write_info(4, "terminate\n");

    EXPECT_EQ(drain(), "inate\n");
    EXPECT_EQ(m_capture.texts(LogLevel::kWarn),
              std::vector<std::string>{"Only part of command written: termTry to write remaining command: inate\n"});
    EXPECT_TRUE(m_capture.texts(LogLevel::kError).empty());
}

TEST_F(Fast_shutdown_handler_test, NothingWrittenIsCompletedWithTheWholeCommand)
{
    const Fast_shutdown_handler sut(m_path);

    sut.write_info(0, "poweroff 5\n");

    EXPECT_EQ(drain(), "poweroff 5\n");
}

TEST_F(Fast_shutdown_handler_test, ReaderThatWentAwayGivesAnErrorLogAndNoSignal)
{
    const Fast_shutdown_handler sut(m_path);
    close_reader();

    sut.process_lookup();

    EXPECT_EQ(m_capture.texts(LogLevel::kError),
              std::vector<std::string>{"Failed to write command: lookup pmx_per_daemon\n Error: Broken pipe"});
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

} // namespace
} // namespace vela::ap::statemanager::fast_shutdown
