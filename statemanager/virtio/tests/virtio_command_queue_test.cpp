#include "ara/log/testing/log_capture.h"
#include "statemanager/virtio/virtio_command_queue.hpp"

#include <deque>
#include <gtest/gtest.h>
#include <ostream>
#include <sstream>
#include <string>

namespace vela::ap::statemanager::virtio
{
namespace
{

using ara::log::LogLevel;

/// Key presses (N, S, P, R, POWER) and "consume" (a transition removing the head), in order.
struct Queue_case
{
    const char* label;
    const char* steps;
    std::deque<Virtio_command> queue;
    std::size_t shutdowns_received;
};

void PrintTo(const Queue_case& value, std::ostream* os)
{
    *os << value.label;
}

class Virtio_command_queue_test : public ::testing::TestWithParam<Queue_case>
{
  protected:
    void play(const std::string& steps)
    {
        std::istringstream words(steps);
        for (std::string word; words >> word;)
        {
            if (word == "POWER")
            {
                sut.power_key();
            }
            else if (word == "consume")
            {
                sut.consume();
            }
            else
            {
                const Virtio_command command = word == "N"   ? Virtio_command::NmControlled
                                               : word == "S" ? Virtio_command::NMControlledPrepareSD
                                               : word == "P" ? Virtio_command::PrepareSD
                                                             : Virtio_command::Run;
                sut.add_command(command);
            }
        }
    }

    ara::log::testing::Log_capture m_capture;
    Virtio_command_queue sut;
};

TEST_P(Virtio_command_queue_test, StepsLeaveTheseCommandsQueued)
{
    play(GetParam().steps);

    EXPECT_EQ(sut.commands(), GetParam().queue);
    EXPECT_EQ(sut.front(), GetParam().queue.empty() ? Virtio_command::Non : GetParam().queue.front());
    EXPECT_EQ(m_capture.count("New command receivedShutdown", LogLevel::kInfo), GetParam().shutdowns_received);
}

INSTANTIATE_TEST_SUITE_P(
    Rules,
    Virtio_command_queue_test,
    ::testing::Values(
        // a transition (to Running after start-up, or from Post Run back to NM control) removed the
        // Shutdown without acting on it: the key must not be disarmed
        Queue_case{"PowerAfterItsShutdownWasRemovedQueuesAgain", "POWER consume POWER", {Virtio_command::Shutdown}, 2},
        Queue_case{"RepeatedPowerKeepsOneShutdown", "POWER POWER", {Virtio_command::Shutdown}, 1},
        Queue_case{"PowerAfterAnotherKeyQueuesAgain", "POWER S POWER", {Virtio_command::Shutdown}, 2},
        Queue_case{"PowerAfterTheRemovedShutdownAndAnotherKey", "POWER consume R POWER", {Virtio_command::Shutdown}, 2},
        Queue_case{"PowerEmptiesTheQueue", "P R N POWER", {Virtio_command::Shutdown}, 1},
        Queue_case{"KeyAfterPowerQueuesBehindIt", "POWER P", {Virtio_command::Shutdown, Virtio_command::PrepareSD}, 1},
        Queue_case{"OtherKeysStayRepetitionsAfterConsumption", "R consume R", {}, 0},
        Queue_case{"RepeatedKeyIsQueuedOnce", "P P", {Virtio_command::PrepareSD}, 0},
        Queue_case{"ConsumingAnEmptyQueueChangesNothing", "consume R", {Virtio_command::Run}, 0}),
    [](const ::testing::TestParamInfo<Queue_case>& param) { return std::string{param.param.label}; });

} // namespace
} // namespace vela::ap::statemanager::virtio
