#include "ara/log/testing/log_capture.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/receive_handler_unset.hpp"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "statemanager/services/status_service.hpp"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/status/status_board.hpp"
#include "testbed/support/temp_dir.hpp"

#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>

namespace vela::ap::statemanager
{
namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

/// The status service offered in this process over the board it reads, and a proxy to it as
/// statewarden_ctl has one.
class Status_service_test : public ::testing::Test
{
  protected:
    Status_service_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        m_service.emplace(m_board);
        m_service->OfferService();
        m_board->set_publisher(&*m_service);
        const auto handle = tarn1::testing::wait_for_instance(
            m_runtime->get_service_finder(), StateManagementStatusInterface::service_identifier(), "Status", 5s);
        EXPECT_TRUE(handle);
        if (handle)
        {
            m_proxy.emplace(*handle);
        }
    }
    ~Status_service_test() override
    {
        m_proxy.reset();
        m_board->set_publisher(nullptr);
        m_service.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    void change(std::uint32_t from, std::uint32_t to, virtio::Virtio_command command)
    {
        const auto now = Clock::now();
        m_board->transition(status::Transition_facts{from, to, command, now, now});
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::shared_ptr<status::Status_board> m_board = std::make_shared<status::Status_board>(true);
    std::optional<services::Status_service> m_service;
    std::optional<proxy::StateManagementStatusInterfaceProxy> m_proxy;
};

TEST_F(Status_service_test, GetHoldersAnswersWhatTheBoardHolds)
{
    ASSERT_TRUE(m_proxy);
    m_board->holder_changed(status::Holder_kind::com_alive, "ComAlive_Telematics", true, {1, 0, 0, 0}, 3);
    m_board->holder_changed(status::Holder_kind::ecu_alive, "EcuAlive_Diagnostics", true, {}, 0);
    m_board->network_state_received({0});
    m_board->nm_services_found();

    const status::Holders_reply reply = m_proxy->GetHolders().get();

    ASSERT_EQ(reply.holders.size(), 2U);
    EXPECT_EQ(reply.holders[0].instance, "ComAlive_Telematics");
    EXPECT_EQ(reply.holders[0].cab_bits, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(reply.holders[0].ac, 3);
    EXPECT_EQ(reply.holders[1].kind, status::Holder_kind::ecu_alive);
    EXPECT_TRUE(reply.nm.found);
    EXPECT_EQ(reply.nm.network_state, (std::vector<std::uint8_t>{0}));
    EXPECT_GE(reply.now_ms, reply.holders[1].since_ms);
}

TEST_F(Status_service_test, EveryStateChangeReachesTheFieldTheEventAndTheHistory)
{
    ASSERT_TRUE(m_proxy);
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<status::Transition_report> reports;
    std::vector<std::string> words;
    m_proxy->TransitionReport.SetReceiveHandler(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            m_proxy->TransitionReport.Update();
            for (const auto& report : m_proxy->TransitionReport.GetCachedSamples())
            {
                reports.push_back(report);
            }
            m_proxy->TransitionReport.Cleanup();
            arrived.notify_all();
        });
    m_proxy->State.SetReceiveHandler(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            m_proxy->State.Update();
            for (const auto& value : m_proxy->State.GetCachedSamples())
            {
                words.push_back(value.word);
            }
            m_proxy->State.Cleanup();
            arrived.notify_all();
        });
    // Both handlers use the locals above: they are unset before those go.
    const tarn1::testing::Receive_handler_unset unset_reports(m_proxy->TransitionReport);
    const tarn1::testing::Receive_handler_unset unset_words(m_proxy->State);
    m_proxy->TransitionReport.Subscribe(8);
    m_proxy->State.Subscribe(8);
    {
        // The field's subscriber gets the current value first; both subscriptions share one
        // connection, so the event's, sent before, is in place once that value is here.
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(arrived.wait_for(lock, 5s, [&] { return !words.empty(); }));
    }

    change(states::s_starting_up, states::s_running, virtio::Virtio_command::Non);
    change(states::s_running, states::s_preparing, virtio::Virtio_command::PrepareSD);

    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, 5s, [&] { return reports.size() >= 2 && words.size() >= 3; }));
    EXPECT_EQ(words, (std::vector<std::string>{"startingup", "running", "preparing"}));
    EXPECT_EQ(reports[1].cause, "key P");
    EXPECT_EQ(reports[1].from, states::s_running);
    const auto history = m_proxy->GetHistory().get();
    ASSERT_EQ(history.size(), 2U);
    EXPECT_EQ(history[0].to, states::s_running);
    EXPECT_EQ(history[1].serial, 2U);
}

} // namespace
} // namespace vela::ap::statemanager
