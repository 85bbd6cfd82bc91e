#include "platform/com/tests/peer_process.hpp"
#include "testbed/support/temp_dir.hpp"
#include "tools/com_tool/com_tool.hpp"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <sstream>

namespace
{

using ::testing::HasSubstr;
using namespace std::chrono_literals;

class Com_tool_test : public ::testing::Test
{
  protected:
    Com_tool_test() { ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1); }
    ~Com_tool_test() override { ::unsetenv("TARN1_COM_DIR"); }

    void start_provider()
    {
        m_peer = std::make_unique<tarn1::testing::Peer_process>(
            SKELETON_TEST_PEER, std::vector<std::string>{}, m_dir.path());
        ASSERT_TRUE(m_peer->wait_for_line("offered", 5s));
    }

    int run(const std::vector<std::string>& arguments)
    {
        m_out.str("");
        m_err.str("");
        return tarn1::com_tool::run(arguments, m_out, m_err);
    }

    tarn1::testing::Temp_dir m_dir;
    std::unique_ptr<tarn1::testing::Peer_process> m_peer;
    std::ostringstream m_out;
    std::ostringstream m_err;
};

TEST_F(Com_tool_test, CallRequestRestartReachesTheProvidingProcess)
{
    start_provider();

    const int status = run({"call", "DSAInterface", "DSA_Interface", "RequestRestart", "1"});

    EXPECT_EQ(status, 0) << m_err.str();
    EXPECT_EQ(m_out.str(), "ok (empty)\n");
    EXPECT_TRUE(m_peer->wait_for_line("RequestRestart 1", 5s));
}

TEST_F(Com_tool_test, ByteVectorArgumentIsSentWithItsLength)
{
    start_provider();

    const int status =
        run({"call", "kest::udpnm::interface::NetworkStateInterface", "nm", "RequestNetwork", "00000001"});

    EXPECT_EQ(status, 0) << m_err.str();
    EXPECT_TRUE(m_peer->wait_for_line("RequestNetwork 00000001", 5s));
}

TEST_F(Com_tool_test, ListShowsEveryOfferedInstance)
{
    start_provider();
    ASSERT_EQ(run({"call", "DSAInterface", "DSA_Interface", "RequestRestart", "2"}), 0);

    ASSERT_EQ(run({"list"}), 0);

    const std::string pid = " pid " + std::to_string(m_peer->pid()) + " ";
    EXPECT_THAT(m_out.str(), HasSubstr("vela::ap::statemanager::DSAInterface DSA_Interface" + pid));
    EXPECT_THAT(m_out.str(), HasSubstr("kest::udpnm::interface::NetworkStateInterface nm" + pid));
    EXPECT_THAT(m_out.str(), HasSubstr("kest::udpnm::interface::UserDataInterface nm" + pid));
}

TEST_F(Com_tool_test, WatchPrintsTheFieldValue)
{
    start_provider();
    m_peer->send_line("state 0100");
    ASSERT_TRUE(m_peer->wait_for_line("state set", 5s));

    const int status = run({"watch", "NetworkStateInterface", "nm", "NetworkState", "--count", "1"});

    EXPECT_EQ(status, 0) << m_err.str();
    EXPECT_EQ(m_out.str(), "NetworkState [01 00]\n");
}

struct Refusal_case
{
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const char* message;
};

void PrintTo(const Refusal_case& c, std::ostream* os)
{
    *os << c.name;
}

class Com_tool_refusal_test : public Com_tool_test, public ::testing::WithParamInterface<Refusal_case>
{
};

TEST_P(Com_tool_refusal_test, BadCommandLineIsRefusedWithAReason)
{
    start_provider();

    const int status = run(GetParam().arguments);

    EXPECT_EQ(status, GetParam().status);
    EXPECT_THAT(m_err.str(), HasSubstr(GetParam().message));
}

INSTANTIATE_TEST_SUITE_P(
    Refusals,
    Com_tool_refusal_test,
    ::testing::Values(
        Refusal_case{"UnknownCommand", {"frobnicate"}, 2, "usage:"},
        Refusal_case{
            "MissingArgument", {"call", "DSAInterface", "DSA_Interface", "RequestRestart"}, 2, "takes 1 argument(s)"},
        Refusal_case{"ValueTooLarge",
                     {"call", "DSAInterface", "DSA_Interface", "RequestRestart", "300"},
                     2,
                     "cannot encode argument 300"},
        Refusal_case{"UnknownMethod", {"call", "DSAInterface", "DSA_Interface", "Reboot"}, 2, "unknown method Reboot"},
        Refusal_case{"InstanceNotOffered",
                     {"--timeout", "100", "call", "DSAInterface", "other", "RequestRestart", "1"},
                     1,
                     "is not offered"}),
    [](const ::testing::TestParamInfo<Refusal_case>& c) { return std::string(c.param.name); });

} // namespace
