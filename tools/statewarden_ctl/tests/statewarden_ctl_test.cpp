#include "ara/com/internal/skeleton/skeleton.h"
#include "ara/log/testing/log_capture.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/services/status_service.hpp"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/status/status_board.hpp"
#include "testbed/support/temp_dir.hpp"
#include "tools/statewarden_ctl/statewarden_ctl.hpp"

#include <cstdlib>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <sys/stat.h>

namespace tarn1::statewarden_ctl
{
namespace
{

using namespace std::chrono_literals;
using namespace vela::ap::statemanager;
using Clock = std::chrono::steady_clock;

/// What one run of the tool printed and ended with.
struct Outcome
{
    int status;
    std::string out;
    std::string err;
};

Outcome run_tool(const std::vector<std::string>& arguments, Stop_signal* stop = nullptr)
{
    std::ostringstream out;
    std::ostringstream err;
    const int status = run(arguments, out, err, stop);
    return Outcome{status, out.str(), err.str()};
}

/// A middleware of its own (a temporary discovery folder) in which the test offers what the daemon
/// would: the status service over a board, or only the DSA service.
class Statewarden_ctl_test : public ::testing::Test
{
  protected:
    Statewarden_ctl_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
    }
    ~Statewarden_ctl_test() override
    {
        if (m_service)
        {
            m_board->set_publisher(nullptr);
        }
        m_service.reset();
        m_dsa.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    void offer_status()
    {
        m_service.emplace(m_board);
        m_service->OfferService();
        m_board->set_publisher(&*m_service);
        ASSERT_TRUE(tarn1::testing::wait_for_instance(
            m_runtime->get_service_finder(), StateManagementStatusInterface::service_identifier(), "Status", 5s));
    }

    void change(std::uint32_t from, std::uint32_t to, virtio::Virtio_command command = virtio::Virtio_command::Non)
    {
        const auto now = Clock::now();
        m_board->transition(status::Transition_facts{from, to, command, now, now});
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::shared_ptr<status::Status_board> m_board = std::make_shared<status::Status_board>(true);
    std::optional<services::Status_service> m_service;
    std::optional<ara::com::internal::skeleton::Skeleton<DSAInterface>> m_dsa;
};

TEST_F(Statewarden_ctl_test, StatusJsonNamesTheStateAndEveryHolder)
{
    offer_status();
    change(states::s_starting_up, states::s_running);
    m_board->holder_changed(status::Holder_kind::ecu_alive, "EcuAlive_Diagnostics", true, {}, 0);
    m_board->holder_changed(status::Holder_kind::cwu, "CarWakeUp_Telematics", true, {}, 1);

    const Outcome outcome = run_tool({"status", "--json"});

    ASSERT_EQ(outcome.status, s_ok) << outcome.err;
    const auto json = nlohmann::json::parse(outcome.out);
    EXPECT_EQ(json.at("state"), "running");
    ASSERT_EQ(json.at("holders").size(), 2U);
    EXPECT_EQ(json.at("holders").at(0).at("kind"), "ecu_alive");
    EXPECT_EQ(json.at("holders").at(0).at("instance"), "EcuAlive_Diagnostics");
    EXPECT_TRUE(json.at("holders").at(1).at("since_ms").is_number());
}

TEST_F(Statewarden_ctl_test, StatusForPeopleListsTheHolders)
{
    offer_status();
    m_board->holder_changed(status::Holder_kind::com_alive, "ComAlive_Telematics", true, {1, 0, 0, 0}, 3);

    const Outcome outcome = run_tool({"status"});

    ASSERT_EQ(outcome.status, s_ok) << outcome.err;
    EXPECT_NE(outcome.out.find("State      startingup"), std::string::npos) << outcome.out;
    const auto line = outcome.out.find("com_alive ComAlive_Telematics ");
    ASSERT_NE(line, std::string::npos) << outcome.out;
    EXPECT_NE(outcome.out.find("CAB 01000000 AC 3   since ", line), std::string::npos) << outcome.out;
}

TEST_F(Statewarden_ctl_test, HistoryJsonAndItsTimelineFile)
{
    offer_status();
    change(states::s_starting_up, states::s_running);
    change(states::s_running, states::s_preparing, virtio::Virtio_command::PrepareSD);
    status::Client_row row;
    row.name = "navigation";
    row.answer = status::Client_answer::state;
    row.answered_state = "kPrepSD";
    row.code = 0;
    row.latency_ms = 15;
    m_board->step_completed(
        status::Step_record{1, status::Client_group::apps, "kPrepSD", 0, Clock::now(), Clock::now(), {row}});
    change(states::s_preparing, states::s_prepared_sd);
    const std::string svg = m_dir.file("timeline.svg");

    const Outcome json = run_tool({"history", "--json"});
    const Outcome picture = run_tool({"history", "--svg", svg});

    ASSERT_EQ(json.status, s_ok) << json.err;
    const auto reports = nlohmann::json::parse(json.out);
    ASSERT_EQ(reports.size(), 3U);
    EXPECT_EQ(reports[1].at("cause"), "key P");
    EXPECT_EQ(reports[2].at("from"), "preparing");
    EXPECT_EQ(reports[2].at("to"), "prepared4sd");
    EXPECT_EQ(reports[2].at("clients").at(0).at("answer"), "kPrepSD");
    EXPECT_EQ(reports[2].at("clients").at(0).at("latency_ms"), 15);
    ASSERT_EQ(picture.status, s_ok) << picture.err;
    std::ifstream file(svg);
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(content.find("<svg"), std::string::npos);
    EXPECT_NE(content.find("data-state=\"prepared4sd\""), std::string::npos);
}

TEST_F(Statewarden_ctl_test, WatchPrintsEachReportAsItHappens)
{
    offer_status();
    auto watching = std::async(std::launch::async, [] { return run_tool({"watch", "--json", "--count", "1"}); });

    // changes go on until the watcher, once subscribed, has seen one
    const auto deadline = Clock::now() + 5s;
    while (watching.wait_for(20ms) != std::future_status::ready && Clock::now() < deadline)
    {
        change(states::s_running, states::s_preparing, virtio::Virtio_command::PrepareSD);
    }

    ASSERT_EQ(watching.wait_for(0s), std::future_status::ready);
    const Outcome outcome = watching.get();
    EXPECT_EQ(outcome.status, s_ok) << outcome.err;
    const auto report = nlohmann::json::parse(outcome.out);
    EXPECT_EQ(report.at("from"), "running");
    EXPECT_EQ(report.at("cause"), "key P");
}

TEST_F(Statewarden_ctl_test, WatchEndsWhenStopped)
{
    offer_status();
    Stop_signal stop;
    auto watching = std::async(std::launch::async, [&stop] { return run_tool({"watch"}, &stop); });

    stop.stop();

    ASSERT_EQ(watching.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(watching.get().status, s_ok);
}

TEST_F(Statewarden_ctl_test, NoDaemonIsToldApartFromADaemonWithoutTheStatusService)
{
    const Outcome nothing = run_tool({"status"});
    m_dsa.emplace(DSAInterface::instance(), kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    m_dsa->OfferService();
    ASSERT_TRUE(tarn1::testing::wait_for_instance(
        m_runtime->get_service_finder(), DSAInterface::service_identifier(), DSAInterface::instance(), 5s));

    const Outcome without = run_tool({"history", "--json"});

    EXPECT_EQ(nothing.status, s_not_running);
    EXPECT_NE(nothing.err.find("Statewarden is not running"), std::string::npos) << nothing.err;
    EXPECT_NE(nothing.err.find(m_dir.path()), std::string::npos) << nothing.err;
    EXPECT_EQ(without.status, s_not_offered);
    EXPECT_NE(without.err.find("does not offer its status service"), std::string::npos) << without.err;
    EXPECT_TRUE(without.out.empty());
}

TEST(Statewarden_ctl_folder_test, MissingDiscoveryFolderMeansNotRunningAndIsNotMade)
{
    tarn1::testing::Temp_dir dir;
    const std::string folder = dir.file("com");
    ::setenv("TARN1_COM_DIR", folder.c_str(), 1);

    const Outcome outcome = run_tool({"status"});

    ::unsetenv("TARN1_COM_DIR");
    EXPECT_EQ(outcome.status, s_not_running);
    EXPECT_EQ(outcome.err,
              "statewarden_ctl: Statewarden is not running: the discovery folder " + folder +
                  " does not exist (set TARN1_COM_DIR to the folder it uses)\n");
    struct stat made
    {
    };
    EXPECT_NE(::stat(folder.c_str(), &made), 0);
}

TEST_F(Statewarden_ctl_test, WaitingFindsAServiceOfferedMeanwhile)
{
    auto asking = std::async(std::launch::async, [] { return run_tool({"--wait", "5000", "status", "--json"}); });

    offer_status();

    ASSERT_EQ(asking.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(asking.get().status, s_ok);
}

struct Usage_case
{
    const char* name;
    std::vector<std::string> arguments;
};

void PrintTo(const Usage_case& value, std::ostream* out)
{
    *out << value.name;
}

class Statewarden_ctl_usage_test : public ::testing::TestWithParam<Usage_case>
{
};

TEST_P(Statewarden_ctl_usage_test, BadCommandLineIsRefusedBeforeAnythingIsAsked)
{
    const Outcome outcome = run_tool(GetParam().arguments);

    EXPECT_EQ(outcome.status, s_usage);
    EXPECT_NE(outcome.err.find("usage: statewarden_ctl"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Lines,
                         Statewarden_ctl_usage_test,
                         ::testing::Values(Usage_case{"Nothing", {}},
                                           Usage_case{"UnknownCommand", {"holders"}},
                                           Usage_case{"SvgWithoutFile", {"history", "--svg"}},
                                           Usage_case{"SvgOfStatus", {"status", "--svg", "x.svg"}},
                                           Usage_case{"CountNotANumber", {"watch", "--count", "many"}},
                                           Usage_case{"TimeoutNotANumber", {"--timeout", "soon", "status"}}),
                         [](const ::testing::TestParamInfo<Usage_case>& param_info)
                         { return std::string(param_info.param.name); });

} // namespace
} // namespace tarn1::statewarden_ctl
