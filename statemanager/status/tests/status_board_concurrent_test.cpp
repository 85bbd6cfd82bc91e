#include "ara/log/testing/log_capture.h"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/status/status_board.hpp"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace vela::ap::statemanager::status
{
namespace
{

using Clock = std::chrono::steady_clock;

// The board's threads all at once: application requests, NM notifications, the notification
// server's steps and late answers, the main loop's transitions, and the status service's reads.
TEST(Status_board_concurrent_test, RecordersAndReadersMeetOnlyAtTheBoardsLock)
{
    ara::log::testing::Log_capture capture;
    Status_board sut(true);
    std::atomic<bool> done{false};
    constexpr int s_rounds = 300;

    std::thread applications(
        [&]
        {
            for (int index = 0; index < s_rounds; ++index)
            {
                const std::string instance = "app" + std::to_string(index % 7);
                sut.holder_changed(Holder_kind::com_alive, instance, index % 2 == 0, {1, 0, 0, 0}, 3);
            }
        });
    std::thread network(
        [&]
        {
            for (int index = 0; index < s_rounds; ++index)
            {
                sut.network_state_received({static_cast<std::uint8_t>(index)});
                sut.ecu_state_changed(static_cast<std::uint8_t>(index % 3));
            }
        });
    std::thread server(
        [&]
        {
            for (std::uint64_t serial = 1; serial <= s_rounds; ++serial)
            {
                Client_row row;
                row.name = "client";
                sut.step_completed(
                    Step_record{serial, Client_group::apps, "kPrepSD", 1, Clock::now(), Clock::now(), {row}});
                sut.late_answer(serial, "client", 0, "kPrepSD", 10);
            }
        });
    std::thread reader(
        [&]
        {
            while (!done)
            {
                (void)sut.holders();
                (void)sut.history();
                (void)sut.current_state();
            }
        });
    for (int index = 0; index < s_rounds; ++index)
    {
        const auto now = Clock::now();
        sut.transition(
            Transition_facts{states::s_preparing, states::s_resuming, virtio::Virtio_command::Run, now, now});
        sut.knockout_changed(static_cast<std::uint32_t>(index), 5);
    }
    applications.join();
    network.join();
    server.join();
    done = true;
    reader.join();

    EXPECT_EQ(sut.history().back().serial, static_cast<std::uint32_t>(s_rounds));
    EXPECT_EQ(sut.holders().nm.network_state, (std::vector<std::uint8_t>{static_cast<std::uint8_t>(s_rounds - 1)}));
}

} // namespace
} // namespace vela::ap::statemanager::status
