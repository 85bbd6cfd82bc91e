#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/receive_handler_unset.hpp"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/proxy/nm_skeletons.hpp"
#include "statemanager/skeleton/nm_proxies.hpp"
#include "testbed/support/temp_dir.hpp"

#include <condition_variable>
#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>

namespace
{

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class Fake_network_state : public kest::udpnm::interface::skeleton::NetworkStateInterfaceSkeleton
{
  public:
    using NetworkStateInterfaceSkeleton::NetworkStateInterfaceSkeleton;
    ~Fake_network_state() override { StopOfferService(); }
    vela::com::Future<void> ReleaseNetwork(const Bytes&) override { return vela::com::make_ready_future(); }
    vela::com::Future<void> RequestNetwork(const Bytes&) override { return vela::com::make_ready_future(); }
};

class Network_state_field_test : public ::testing::Test
{
  protected:
    Network_state_field_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        m_provider.emplace("nm");
    }
    ~Network_state_field_test() override
    {
        sut.reset();
        m_provider.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    void connect()
    {
        const auto handle = tarn1::testing::wait_for_instance(
            m_runtime->get_service_finder(), "kest::udpnm::interface::NetworkStateInterface", "*", 5s);
        ASSERT_TRUE(handle.has_value());
        sut.emplace(*handle);
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::optional<Fake_network_state> m_provider;
    std::optional<kest::udpnm::interface::proxy::NetworkStateInterfaceProxy> sut;
};

TEST_F(Network_state_field_test, FieldWithoutValueCannotBeOffered)
{
    EXPECT_THROW(m_provider->OfferService(), kest::com::Infrastructure_exception);
}

TEST_F(Network_state_field_test, OneSampleCacheDeliversOnlyTheLatestOfQuickUpdates)
{
    m_provider->NetworkState.Update(Bytes{0});
    m_provider->OfferService();
    connect();
    std::mutex mutex;
    std::condition_variable changed;
    bool first_run = true;
    bool release_first = false;
    std::vector<Bytes> seen;
    sut->NetworkState.SetReceiveHandler(
        [&]
        {
            std::unique_lock<std::mutex> lock(mutex);
            if (first_run)
            {
                // hold the handler until both updates have arrived
                first_run = false;
                changed.notify_all();
                changed.wait_for(lock, 5s, [&] { return release_first; });
            }
            if (sut->NetworkState.Update() > 0)
            {
                seen.push_back(sut->NetworkState.GetCachedSamples().back());
            }
            changed.notify_all();
        });
    // The handler uses the locals above and may be called once more after the last expectation: it
    // is unset (which waits for a running call) before they go.
    const tarn1::testing::Receive_handler_unset unset_before_the_locals_go(sut->NetworkState);
    sut->NetworkState.Subscribe(1);
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return !first_run; }));
    }

    // two updates in quick succession; the getter's reply travels behind them on the connection
    m_provider->NetworkState.Update(Bytes{1, 0});
    m_provider->NetworkState.Update(Bytes{2, 0});
    EXPECT_EQ(sut->NetworkState.Get().get(), (Bytes{2, 0}));
    {
        std::lock_guard<std::mutex> lock(mutex);
        release_first = true;
    }
    changed.notify_all();

    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 5s, [&] { return !seen.empty(); }));
    EXPECT_EQ(seen, std::vector<Bytes>{(Bytes{2, 0})});
}

} // namespace
