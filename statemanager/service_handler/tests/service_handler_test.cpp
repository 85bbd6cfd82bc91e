#include "ara/log/testing/log_capture.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "statemanager/service_handler/service_handler.hpp"
#include "statemanager/service_handler/tests/mocks/recording_nm_interface.hpp"
#include "statemanager/services/state_manager_com_alive_interface.hpp"
#include "statemanager/services/state_manager_cwu_interface.hpp"
#include "statemanager/status/status_board.hpp"
#include "testbed/support/temp_dir.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <thread>

namespace vela::ap::statemanager
{
namespace
{

using ara::log::LogLevel;
using Calls = std::vector<std::string>;
using namespace std::chrono_literals;

class Service_handler_test : public ::testing::Test
{
  protected:
    Service_handler_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        config.set_nm_usage(true);
        config.set_nm_request_pattern({0x00, 0x00, 0x00, 0x01});
        config.set_smw_restart_command_path(m_dir.file("command_request"));
        config.set_max_apps_ecualive(2);
        config.set_max_apps_comalive(2);
        config.set_max_apps_cwu(2);
        EXPECT_TRUE(config.add_apps_ecualive("EcuAlive_A"));
        EXPECT_TRUE(config.add_apps_ecualive("EcuAlive_B"));
        EXPECT_TRUE(config.add_apps_comalive("ComAlive_A"));
        EXPECT_TRUE(config.add_apps_comalive("ComAlive_B"));
        EXPECT_TRUE(config.add_apps_cwu("Cwu_A"));
        EXPECT_TRUE(config.add_apps_cwu("Cwu_B"));
    }
    ~Service_handler_test() override
    {
        sut.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    /// Builds the handler from the configuration as it stands.
    void make_sut()
    {
        std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> com_alive;
        for (const auto& instance : config.get_apps_comalive())
        {
            com_alive.push_back(std::make_unique<State_manager_com_alive_interface>(instance));
            m_com_alive.push_back(com_alive.back().get());
        }
        std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> cwu;
        for (const auto& instance : config.get_apps_cwu())
        {
            cwu.push_back(std::make_unique<State_manager_cwu_interface>(instance));
            m_cwu.push_back(cwu.back().get());
        }
        sut.emplace(config,
                    std::make_unique<testing::Recording_nm_interface>(nm),
                    std::move(com_alive),
                    std::move(cwu),
                    m_board);
    }

    /// Builds and initialises the handler, plays both NM services found, forgets the calls so far.
    void make_sut_with_nm_found()
    {
        make_sut();
        sut->init();
        nm->found();
        nm->take_calls();
        capture.clear();
    }

    /// The captured texts without the middleware's own lines ("com ...").
    Calls own_texts() const
    {
        Calls texts = capture.texts();
        texts.erase(std::remove_if(
                        texts.begin(), texts.end(), [](const std::string& text) { return text.rfind("com", 0) == 0; }),
                    texts.end());
        return texts;
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    ara::log::testing::Log_capture capture;
    config::State_manager_config config;
    std::shared_ptr<testing::Recording_nm_interface::State> nm =
        std::make_shared<testing::Recording_nm_interface::State>();
    std::vector<State_manager_com_alive_interface_abstract*> m_com_alive;
    std::vector<State_manager_cwu_interface_abstract*> m_cwu;
    std::shared_ptr<status::Status_board> m_board = std::make_shared<status::Status_board>(true);
    std::optional<Service_handler> sut;
};

TEST_F(Service_handler_test, FoundNmServicesGetUserDataAndAFullReleaseBeforeServicesAreOffered)
{
    make_sut();

    sut->init();

    EXPECT_EQ(nm->take_calls(), Calls{"start_find_services"});
    EXPECT_FALSE(sut->nm_interface_available());
    EXPECT_FALSE(m_com_alive[0]->pport().is_offered());
    EXPECT_TRUE(capture.contains("The following NM request pattern is used: 00 00 00 01 "));

    // both UDP NM services are found
    nm->found();

    EXPECT_EQ(nm->take_calls(), (Calls{"set_user_data(80 00 00 )", "release_network(ff ff ff 01 )"}));
    EXPECT_TRUE(sut->nm_interface_available());
    EXPECT_TRUE(m_com_alive[1]->pport().is_offered());
    EXPECT_TRUE(m_cwu[0]->pport().is_offered());
    const auto texts = capture.texts();
    const auto position = [&texts](const std::string& text)
    { return std::find(texts.begin(), texts.end(), text) - texts.begin(); };
    EXPECT_LT(position("Offering DSA service"), position("Looking up UdpNM services..."));
    EXPECT_LT(position("Initializing user data"), position("Offering ECU alive services"));
    EXPECT_LT(position("Offering ECU alive services"), position("Offering COM alive services"));
    EXPECT_LT(position("Offering COM alive services"), position("Offering CWU services"));
}

TEST_F(Service_handler_test, SecondHolderOfTheSameBitsChangesNothing)
{
    make_sut_with_nm_found();

    m_com_alive[0]->RequestComAlive({0x01, 0x00, 0x00, 0x00}, 3);

    EXPECT_EQ(nm->take_calls(), (Calls{"request_network(01 00 00 00 )", "set_user_data(80 04 00 )"}));
    EXPECT_EQ(capture.count("State_manager::handle_com_alive_request(ComAlive_A, 01 00 00 00 , 3)", LogLevel::kInfo),
              1U);

    m_com_alive[1]->RequestComAlive({0x01, 0x00, 0x00, 0x00}, 3);

    EXPECT_TRUE(nm->take_calls().empty());
    EXPECT_EQ(capture.count("State_manager::request_network: no changes to CAB pattern"), 1U);
    EXPECT_EQ(capture.count("State_manager::set_user_data: no change to user data"), 1U);
    EXPECT_TRUE(sut->apps_keep_com_alive());
    EXPECT_TRUE(sut->is_network_in_use());
}

struct Release_case
{
    const char* name;
    std::vector<std::uint8_t> default_pattern;
    std::vector<std::uint8_t> cab_bits;
    std::string release_logged;
    std::string release_sent;
};

void PrintTo(const Release_case& c, std::ostream* os)
{
    *os << c.name;
}

class Service_handler_release_test : public Service_handler_test, public ::testing::WithParamInterface<Release_case>
{
};

TEST_P(Service_handler_release_test, OnlyTheLastHolderReleasesAndNeverTheDefaultPattern)
{
    config.set_nm_request_pattern(GetParam().default_pattern);
    make_sut_with_nm_found();
    m_com_alive[0]->RequestComAlive(GetParam().cab_bits, 3);
    m_com_alive[1]->RequestComAlive(GetParam().cab_bits, 3);
    nm->take_calls();

    // one of two holders lets go
    m_com_alive[0]->ReleaseComAlive(GetParam().cab_bits);
    EXPECT_TRUE(nm->take_calls().empty());
    EXPECT_EQ(capture.count("State_manager::release_network: no changes to CAB pattern"), 1U);

    // the last holder lets go
    m_com_alive[1]->ReleaseComAlive(GetParam().cab_bits);

    EXPECT_EQ(nm->take_calls(), (Calls{GetParam().release_sent, "set_user_data(80 00 00 )"}));
    EXPECT_TRUE(capture.contains("State_manager::release_network(" + GetParam().release_logged + ")"));
    EXPECT_FALSE(sut->apps_keep_com_alive());
}

INSTANTIATE_TEST_SUITE_P(
    DefaultPatterns,
    Service_handler_release_test,
    ::testing::Values(
        Release_case{"EcuAliveBit", {0x00, 0x00, 0x00, 0x01}, {0x01}, "01 00 00 00 ", "release_network(01 00 00 00 )"},
        Release_case{"SameBit", {0x01, 0x00, 0x00, 0x00}, {0x01}, "01 00 00 00 ", "release_network(00 00 00 00 )"},
        Release_case{"ShortPattern", {0x01}, {0x01}, "01 00 00 00 ", "release_network(00 00 00 00 )"},
        // what was requested is released in full, however short the default pattern
        Release_case{"ShortPatternBitBeyondIt", {0x01}, {0x00, 0x01}, "00 01 00 00 ", "release_network(00 01 00 00 )"},
        Release_case{"EmptyPattern", {}, {0x00, 0x01}, "00 01 00 00 ", "release_network(00 01 00 00 )"}),
    [](const ::testing::TestParamInfo<Release_case>& c) { return std::string(c.param.name); });

TEST_F(Service_handler_test, EnabledCabBitsSendTheWholeUserData)
{
    config::Nm_user_data_config layout;
    layout.cab_bits_enabled = true;
    ASSERT_TRUE(config.set_nm_user_data_config(layout));
    make_sut();
    sut->init();

    nm->found();
    m_com_alive[0]->RequestComAlive({0x01, 0x80}, 9);

    EXPECT_EQ(nm->take_calls(),
              (Calls{"start_find_services",
                     "set_user_data(80 00 00 00 00 00 )",
                     "release_network(ff ff ff 01 )",
                     "request_network(01 80 00 00 )",
                     "set_user_data(80 00 01 01 80 00 )"}));
}

TEST_F(Service_handler_test, RequestDuringStandbyIsSentAtEndStandby)
{
    make_sut_with_nm_found();
    m_com_alive[0]->RequestComAlive({0x01}, 3);
    nm->take_calls();

    // the state machine prepares standby
    sut->standby();
    EXPECT_EQ(nm->take_calls(),
              (Calls{"release_network(00 00 00 01 )",
                     "set_user_data(00 00 00 )",
                     "release_network(01 00 00 00 )",
                     "release_network(00 00 00 01 )"}));
    EXPECT_EQ(capture.count("Stop sending NM messages"), 1U);

    // an application asks during standby
    m_com_alive[1]->RequestComAlive({0x02}, 9);
    m_cwu[0]->RequestCarWakeUp(1);
    EXPECT_TRUE(nm->take_calls().empty());

    // the machine resumes
    sut->end_standby();

    EXPECT_EQ(nm->take_calls(),
              (Calls{"request_network(00 00 00 01 )", "request_network(03 00 00 00 )", "set_user_data(c0 05 01 )"}));
}

TEST_F(Service_handler_test, EcuAliveBitIsReleasedWithTheLastHolder)
{
    make_sut_with_nm_found();
    const auto find = [this](const char* instance)
    {
        return tarn1::testing::wait_for_instance(
            m_runtime->get_service_finder(), StateManagementAliveInterface::service_identifier(), instance, 5s);
    };
    const auto handle_a = find("EcuAlive_A");
    const auto handle_b = find("EcuAlive_B");
    ASSERT_TRUE(handle_a && handle_b);
    proxy::StateManagementAliveInterfaceProxy app_a(*handle_a);
    proxy::StateManagementAliveInterfaceProxy app_b(*handle_b);

    app_a.RequestAlive().get();
    app_b.RequestAlive().get();
    EXPECT_EQ(nm->take_calls(), (Calls{"request_network(00 00 00 01 )", "request_network(00 00 00 01 )"}));
    EXPECT_TRUE(sut->apps_keep_ecu_alive());

    // one of two holders lets go
    app_a.ReleaseAlive().get();
    EXPECT_TRUE(nm->take_calls().empty());
    EXPECT_TRUE(sut->is_network_in_use());

    // the last holder lets go
    app_b.ReleaseAlive().get();

    EXPECT_EQ(nm->take_calls(), Calls{"release_network(00 00 00 01 )"});
    EXPECT_FALSE(sut->apps_keep_ecu_alive());
    EXPECT_EQ(capture.count("State_manager::ecu_alive_release: EcuAlive_A", LogLevel::kDebug), 1U);
    EXPECT_EQ(capture.count("State_manager::ecu_alive_release network", LogLevel::kInfo), 1U);
}

TEST_F(Service_handler_test, EcuStateFollowsNetworkStateNotifications)
{
    make_sut_with_nm_found();

    nm->notify({0x00});
    EXPECT_FALSE(sut->ecu_in_sleep_mode());
    nm->notify({0x00, 0x00});
    EXPECT_TRUE(sut->ecu_in_sleep_mode());
    EXPECT_EQ(m_board->holders().nm.ecu_state, 2);
    nm->notify({0x00});
    EXPECT_TRUE(sut->ecu_in_sleep_mode());
    nm->notify({0x00, 0x04});

    EXPECT_FALSE(sut->ecu_in_sleep_mode());
    EXPECT_EQ(own_texts(),
              (Calls{"We received the notification that network was updated: 00 ",
                     "Ecu state based on NM activity: ready sleep",
                     "We received the notification that network was updated: 00 00 ",
                     "Ecu state based on NM activity: inactive (sleep mode)",
                     "We received the notification that network was updated: 00 ",
                     "Ecu state based on NM activity: inactive (sleep mode)",
                     "We received the notification that network was updated: 00 04 ",
                     "Ecu state based on NM activity: active"}));
}

/// (kind, instance, request) of each holder the status board shows, in the order they began.
std::vector<std::string> holders_of(const status::Status_board& board)
{
    std::vector<std::string> result;
    for (const auto& holder : board.holders().holders)
    {
        std::string text = std::string(status::kind_text(holder.kind)) + " " + holder.instance;
        if (holder.kind != status::Holder_kind::ecu_alive)
        {
            text += " " + Service_handler::bitvector2str(holder.cab_bits) + "ac " + std::to_string(holder.ac);
        }
        result.push_back(text);
    }
    return result;
}

TEST_F(Service_handler_test, HoldersAppearAndDisappearExactlyWithRequestsAndReleases)
{
    make_sut_with_nm_found();
    const auto find = [this](const std::string& instance)
    {
        return tarn1::testing::wait_for_instance(
            m_runtime->get_service_finder(), StateManagementAliveInterface::service_identifier(), instance, 5s);
    };
    const auto handle_a = find("EcuAlive_A");
    ASSERT_TRUE(handle_a);
    proxy::StateManagementAliveInterfaceProxy ecu_a(*handle_a);

    // two applications keep communication alive, one keeps the ECU, one wakes the car
    m_com_alive[0]->RequestComAlive({0x01, 0x00, 0x00, 0x00}, 3);
    m_com_alive[1]->RequestComAlive({0x01, 0x02, 0x00, 0x00}, 9);
    ecu_a.RequestAlive().get();
    m_cwu[1]->RequestCarWakeUp(4);
    EXPECT_EQ(holders_of(*m_board),
              (Calls{"com_alive ComAlive_A 01 00 00 00 ac 3",
                     "com_alive ComAlive_B 01 02 00 00 ac 9",
                     "ecu_alive EcuAlive_A",
                     "cwu Cwu_B ac 4"}));
    const auto since_a = m_board->holders().holders[0].since_ms;

    // the second asks for more, then lets go of part; the first lets go of everything
    m_com_alive[1]->RequestComAlive({0x00, 0x00, 0x04, 0x00}, 9);
    m_com_alive[1]->ReleaseComAlive({0x01, 0x02, 0x00, 0x00});
    m_com_alive[0]->ReleaseComAlive({0x01, 0x00, 0x00, 0x00});
    // a release of a request nobody made, and a second ECU-alive request of the same application
    m_cwu[0]->ReleaseCarWakeUp();
    ecu_a.RequestAlive().get();
    EXPECT_EQ(holders_of(*m_board),
              (Calls{"com_alive ComAlive_B 00 00 04 00 ac 9", "ecu_alive EcuAlive_A", "cwu Cwu_B ac 4"}));

    // standby releases the ECU on the network on its own behalf: no holder goes or comes
    sut->standby();
    EXPECT_EQ(m_board->holders().holders.size(), 3U);
    EXPECT_FALSE(m_board->holders().nm.sending);
    sut->end_standby();

    ecu_a.ReleaseAlive().get();
    m_cwu[1]->ReleaseCarWakeUp();
    m_com_alive[1]->ReleaseComAlive({0x00, 0x00, 0x04, 0x00});
    EXPECT_TRUE(m_board->holders().holders.empty());
    EXPECT_TRUE(m_board->holders().nm.sending);
    EXPECT_GT(since_a, 0U);
}

TEST_F(Service_handler_test, CwuBitStaysWhileASecondApplicationHoldsIt)
{
    make_sut_with_nm_found();

    m_cwu[0]->RequestCarWakeUp(2);
    m_cwu[1]->RequestCarWakeUp(2);
    m_cwu[0]->ReleaseCarWakeUp();
    EXPECT_EQ(nm->take_calls(), Calls{"set_user_data(c0 02 00 )"});
    EXPECT_TRUE(sut->apps_keep_com_alive());

    m_cwu[1]->ReleaseCarWakeUp();

    EXPECT_EQ(nm->take_calls(), Calls{"set_user_data(80 00 00 )"});
    EXPECT_FALSE(sut->apps_keep_com_alive());
    EXPECT_TRUE(capture.contains("State_manager::handle_cwu_request(Cwu_B, 2)"));
    EXPECT_TRUE(capture.contains("State_manager::handle_cwu_release(Cwu_A)"));
}

TEST_F(Service_handler_test, WithoutNmUsageOnlyTheDsaServiceIsOffered)
{
    config.set_nm_usage(false);
    make_sut();

    sut->init();
    sut->standby();
    sut->end_standby();

    EXPECT_TRUE(nm->take_calls().empty());
    EXPECT_FALSE(m_com_alive[0]->pport().is_offered());
    EXPECT_FALSE(sut->apps_keep_com_alive());
    EXPECT_EQ(own_texts(),
              (Calls{"NM usage is disabled",
                     "Offering DSA service",
                     "UdpNm usage disabled, no preparing actions performed",
                     "UdpNm usage disabled, no resuming actions performed"}));
}

TEST_F(Service_handler_test, DsaRestartReachesTheConfiguredCommandFile)
{
    make_sut();
    sut->init();
    const auto handle = tarn1::testing::wait_for_instance(
        m_runtime->get_service_finder(), DSAInterface::service_identifier(), "DSA_Interface", 5s);
    ASSERT_TRUE(handle.has_value());
    proxy::DSAInterfaceProxy tester(*handle);

    tester.RequestRestart(1).get();
    tester.RequestRestart(3).get();
    tester.RequestRestart(5).get();
    sut->deinit();

    EXPECT_EQ(m_dir.read_file("command_request"), "restartaorestartm3");
    EXPECT_FALSE(sut->nm_interface_available());
}

/// A vector of size bytes counting up from 1 (wrapping).
std::vector<std::uint8_t> counting_bytes(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
    {
        bytes[i] = static_cast<std::uint8_t>(i + 1);
    }
    return bytes;
}

class Service_handler_log_bound_test;

struct Log_bound_case
{
    const char* name;
    std::function<void(Service_handler_log_bound_test&)> act;
    std::string logged;
};

void PrintTo(const Log_bound_case& c, std::ostream* os)
{
    *os << c.name;
}

class Service_handler_log_bound_test : public Service_handler_test, public ::testing::WithParamInterface<Log_bound_case>
{
  public:
    void request(std::size_t size) { m_com_alive[0]->RequestComAlive(counting_bytes(size), 3); }
    void release(std::size_t size) { m_com_alive[0]->ReleaseComAlive(counting_bytes(size)); }
    void notify(std::size_t size) { nm->notify(counting_bytes(size)); }
};

TEST_P(Service_handler_log_bound_test, LineShowsAtMostTheUserDataBytesAndTheLength)
{
    make_sut_with_nm_found();

    GetParam().act(*this);

    EXPECT_EQ(capture.count(GetParam().logged, LogLevel::kInfo), 1U) << ::testing::PrintToString(capture.texts());
}

constexpr std::size_t s_mebibyte = 1U << 20U;

// The default layout has 6 bytes of user data.
INSTANTIATE_TEST_SUITE_P(
    Lines,
    Service_handler_log_bound_test,
    ::testing::Values(
        Log_bound_case{"RequestThatFits",
                       [](Service_handler_log_bound_test& test) { test.request(6); },
                       "State_manager::handle_com_alive_request(ComAlive_A, 01 02 03 04 05 06 , 3)"},
        Log_bound_case{"RequestOneByteLonger",
                       [](Service_handler_log_bound_test& test) { test.request(7); },
                       "State_manager::handle_com_alive_request(ComAlive_A, 01 02 03 04 05 06 ... (7 bytes), 3)"},
        Log_bound_case{"RequestOfAMebibyte",
                       [](Service_handler_log_bound_test& test) { test.request(s_mebibyte); },
                       "State_manager::handle_com_alive_request(ComAlive_A, 01 02 03 04 05 06 ... (1048576 bytes), 3)"},
        Log_bound_case{"ReleaseOfAMebibyte",
                       [](Service_handler_log_bound_test& test) { test.release(s_mebibyte); },
                       "State_manager::handle_com_alive_release(ComAlive_A, 01 02 03 04 05 06 ... (1048576 bytes))"},
        Log_bound_case{"NetworkStateOfAMebibyte",
                       [](Service_handler_log_bound_test& test) { test.notify(s_mebibyte); },
                       "We received the notification that network was updated: 01 02 03 04 05 06 ... (1048576 "
                       "bytes)"}),
    [](const ::testing::TestParamInfo<Log_bound_case>& c) { return std::string(c.param.name); });

/// The two ways the handler is torn down: deinit() after the main loop, or destruction alone.
struct Teardown_case
{
    const char* name;
    std::function<void(std::optional<Service_handler>&)> tear_down;
};

void PrintTo(const Teardown_case& c, std::ostream* os)
{
    *os << c.name;
}

class Service_handler_teardown_test : public Service_handler_test, public ::testing::WithParamInterface<Teardown_case>
{
};

TEST_P(Service_handler_teardown_test, OffersAreWithdrawnBeforeTheNmClientIsStoppedOutsideTheLockAndDestroyed)
{
    make_sut_with_nm_found();
    ASSERT_TRUE(m_com_alive[0]->pport().is_offered());
    std::vector<bool> offered_while_stopped;
    bool lock_free_while_stopped = false;
    // Taken before the teardown: the destruction case empties sut before the handler's destructor runs.
    Service_handler* const handler = &*sut;
    // Joined after the teardown, once the lock is free again in any case, so a failure does not hang.
    std::thread completion;
    std::promise<void> locked_and_left;
    nm->on_stopped = [this, handler, &offered_while_stopped, &lock_free_while_stopped, &completion, &locked_and_left]
    {
        for (auto* service : m_com_alive)
        {
            offered_while_stopped.push_back(service->pport().is_offered());
        }
        for (auto* service : m_cwu)
        {
            offered_while_stopped.push_back(service->pport().is_offered());
        }
        // What a find-service completion still running does: it takes the handler's lock, and the
        // stop waits for it.
        auto done = locked_and_left.get_future();
        completion = std::thread(
            [handler, &locked_and_left]
            {
                (void)handler->apps_keep_com_alive();
                locked_and_left.set_value();
            });
        lock_free_while_stopped = done.wait_for(std::chrono::seconds{5}) == std::future_status::ready;
    };

    GetParam().tear_down(sut);
    if (completion.joinable())
    {
        completion.join();
    }

    EXPECT_EQ(nm->take_calls(), (Calls{"stopped", "destroyed"}));
    EXPECT_EQ(offered_while_stopped, std::vector<bool>(4, false));
    EXPECT_TRUE(lock_free_while_stopped) << "the NM client was stopped under the handler's lock";
}

INSTANTIATE_TEST_SUITE_P(
    Teardowns,
    Service_handler_teardown_test,
    ::testing::Values(Teardown_case{"Deinit", [](std::optional<Service_handler>& sut) { sut->deinit(); }},
                      Teardown_case{"Destruction", [](std::optional<Service_handler>& sut) { sut.reset(); }}),
    [](const ::testing::TestParamInfo<Teardown_case>& c) { return std::string(c.param.name); });

TEST_F(Service_handler_test, StateMachineCallsAfterDeinitReachNoNmClient)
{
    make_sut_with_nm_found();
    sut->deinit();
    nm->take_calls();

    sut->request_network();
    sut->standby();
    sut->end_standby();
    sut->release_network();

    EXPECT_TRUE(nm->take_calls().empty());
}

TEST(Service_handler_text_test, BitVectorTextHasTwoLowerCaseDigitsAndABlankPerByte)
{
    EXPECT_EQ(Service_handler::bitvector2str({0x80, 0x04, 0x00, 0xAB}), "80 04 00 ab ");
    EXPECT_EQ(Service_handler::bitvector2str({}), "");
}

} // namespace
} // namespace vela::ap::statemanager
