#include "ara/log/testing/log_capture.h"
#include "iam/alive_supervisor.hpp"
#include "iam/tests/mocks/mock_alive_supervisor.hpp"

#include <asio/io_context.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace vela::iam
{
namespace
{

using ::testing::Invoke;
using testing::Mock_alive_supervisor;
using ::testing::NiceMock;
using Log_level = ara::log::LogLevel;
using Clock = std::chrono::steady_clock;

constexpr Alive_timing fast_timing{std::chrono::milliseconds(1), std::chrono::milliseconds(15)};

/// What each supervisor made by the factory does when its checkpoint is reported.
enum class Behaviour
{
    reports,
    throws_runtime_error,
    throws_other
};

class Alive_check_test : public ::testing::Test
{
  protected:
    /// Supervisors the factory makes, one behaviour each, in order; later ones report.
    void supervisors_behave(std::vector<Behaviour> behaviours) { m_behaviours = std::move(behaviours); }

    std::unique_ptr<Alive_supervisor_interface> make_supervisor()
    {
        const auto index = m_created++;
        if (m_factory_throws_at == static_cast<int>(index))
        {
            throw std::runtime_error("no health management");
        }
        auto supervisor = std::make_unique<NiceMock<Mock_alive_supervisor>>();
        ON_CALL(*supervisor, alive_check())
            .WillByDefault(Invoke(
                [this, index]
                {
                    const auto behaviour = index < m_behaviours.size() ? m_behaviours[index] : Behaviour::reports;
                    m_check_times.push_back(Clock::now());
                    if (behaviour == Behaviour::throws_runtime_error)
                    {
                        throw std::runtime_error("checkpoint lost");
                    }
                    if (behaviour == Behaviour::throws_other)
                    {
                        throw 42;
                    }
                    ++m_reports;
                }));
        return supervisor;
    }

    /// Runs the loop (on this thread) until ticks checkpoints were attempted.
    void run_ticks(std::size_t ticks)
    {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (m_check_times.size() < ticks && Clock::now() < deadline)
        {
            m_io.run_one_for(std::chrono::milliseconds(50));
        }
        ASSERT_EQ(m_check_times.size(), ticks);
    }

    std::vector<std::string> alive_logs() const
    {
        std::vector<std::string> texts;
        for (const auto& text : m_capture.texts_of_context("IAM"))
        {
            if (text.rfind("alive_check", 0) == 0 || text.rfind("Alive_check", 0) == 0)
            {
                texts.push_back(text);
            }
        }
        return texts;
    }

    ara::log::testing::Log_capture m_capture;
    asio::io_context m_io;
    std::uint64_t m_counter{0};
    std::vector<Behaviour> m_behaviours;
    std::size_t m_created{0};
    int m_factory_throws_at{-1};
    std::size_t m_reports{0};
    std::vector<Clock::time_point> m_check_times;
    Alive_check sut{m_io, m_counter, [this] { return make_supervisor(); }, fast_timing};
};

TEST_F(Alive_check_test, FailingCheckpointRebuildsTheClientOnTheNextTick)
{
    supervisors_behave({Behaviour::throws_runtime_error});

    sut.start();
    run_ticks(3);

    EXPECT_EQ(m_created, 2U);
    EXPECT_EQ(m_reports, 2U);
    EXPECT_EQ(alive_logs(),
              (std::vector<std::string>{"alive_check: create_phm_client",
                                        "alive_check: exception: checkpoint lost",
                                        "alive_check: create_phm_client"}));
    EXPECT_EQ(m_capture.count("alive_check: exception: checkpoint lost", Log_level::kError), 1U);
}

TEST_F(Alive_check_test, UnknownThrowableIsLoggedAndTheClientRebuilt)
{
    supervisors_behave({Behaviour::throws_other});

    sut.start();
    run_ticks(2);

    EXPECT_EQ(m_created, 2U);
    EXPECT_EQ(m_capture.count("alive_check: unknown exception", Log_level::kError), 1U);
}

TEST_F(Alive_check_test, FailingClientCreationIsRetriedOnTheNextTick)
{
    supervisors_behave({Behaviour::throws_runtime_error});
    m_factory_throws_at = 1;

    sut.start();
    run_ticks(2);

    EXPECT_EQ(m_created, 3U);
    EXPECT_EQ(m_capture.count("alive_check: exception: no health management", Log_level::kError), 1U);
    EXPECT_EQ(m_reports, 1U);
}

TEST_F(Alive_check_test, TickLogsTheRunningTotalOfAnsweredRequests)
{
    sut.start();

    m_counter = 5;
    run_ticks(1);
    const auto counter_after_first = m_counter;
    m_counter = 2;
    run_ticks(2);

    EXPECT_EQ(counter_after_first, 0U);
    EXPECT_EQ(m_capture.count("alive_check: 5 request handled", Log_level::kDebug), 1U);
    EXPECT_EQ(m_capture.count("alive_check: 7 request handled", Log_level::kDebug), 1U);
}

TEST_F(Alive_check_test, TickWithoutRequestsLogsNothingAboutThem)
{
    sut.start();

    run_ticks(3);

    EXPECT_EQ(m_reports, 3U);
    EXPECT_EQ(alive_logs(), std::vector<std::string>{"alive_check: create_phm_client"});
}

TEST_F(Alive_check_test, FailedTickKeepsTheCountForTheNext)
{
    supervisors_behave({Behaviour::throws_runtime_error});
    sut.start();

    m_counter = 3;
    run_ticks(1);
    const auto counter_after_failure = m_counter;
    run_ticks(2);

    EXPECT_EQ(counter_after_failure, 3U);
    EXPECT_EQ(m_capture.count("alive_check: 3 request handled"), 1U);
}

TEST_F(Alive_check_test, TicksFollowEachOtherAfterThePeriod)
{
    sut.start();

    run_ticks(3);

    EXPECT_GE(m_check_times[2] - m_check_times[1], fast_timing.period);
    EXPECT_GE(m_check_times[1] - m_check_times[0], fast_timing.period);
}

} // namespace
} // namespace vela::iam
