#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/tests/raw_client.hpp"
#include "testbed/support/temp_dir.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace client_state_notifier
{
namespace
{

using namespace std::chrono_literals;
using testing::Callback_recorder;
using ::testing::ElementsAre;
using testing::everyone;
using ::testing::Pair;
using testing::Raw_client;
using testing::wait_until;
using utilities::Bytes;

using Code = Component_client_return_type;

Bytes header(std::uint32_t type, std::uint64_t length)
{
    Bytes bytes;
    utilities::append_uint32(bytes, type);
    utilities::append_uint64(bytes, length);
    return bytes;
}

Bytes response(std::uint32_t id)
{
    Bytes bytes;
    utilities::write_state_change_response(bytes, id, "kPrepSD", 0);
    return bytes;
}

struct Misbehaviour_case
{
    const char* name;
    /// Whether the client completes its hello (and is asked in the round) before misbehaving.
    bool registered;
    /// What the client does; id is the request id it received (0 when not registered).
    std::function<void(Raw_client&, std::uint32_t id)> act;
    Callback_status status;
    /// The log text that names the misbehaviour.
    const char* warning;
    /// The client closes the connection itself.
    bool hangs_up{false};
};

void PrintTo(const Misbehaviour_case& value, std::ostream* out)
{
    *out << value.name;
}

class Misbehaving_client_test : public ::testing::TestWithParam<Misbehaviour_case>
{
  protected:
    Server_options options() const
    {
        Server_options result;
        result.socket_path = m_path;
        result.hello_timeout = 300ms;
        return result;
    }

    std::unique_ptr<Raw_client> connect(const std::string& name)
    {
        auto client = std::make_unique<Raw_client>(m_path);
        client->send_hello(name, "kOn");
        EXPECT_TRUE(wait_until(
            [&]
            {
                const auto clients = sut->get_connected_clients();
                return std::any_of(
                    clients.begin(), clients.end(), [&](const auto& entry) { return entry.first == name; });
            }));
        return client;
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("ara_SM.socket");
    Callback_recorder m_recorder;
    std::unique_ptr<Client_states> sut = create_client_states("kOn", m_recorder.status_callback(), options());
};

TEST_P(Misbehaving_client_test, RoundCompletesWithTheWellBehavedClientsResults)
{
    const auto& param = GetParam();
    auto good_a = connect("good_a");
    std::unique_ptr<Raw_client> bad;
    if (param.registered)
    {
        bad = connect("bad");
    }
    else
    {
        // a connection that never completes its hello is there before the round starts
        bad = std::make_unique<Raw_client>(m_path);
        param.act(*bad, 0);
    }
    auto good_b = connect("good_b");
    const auto started = std::chrono::steady_clock::now();

    // the round starts; everyone connected is asked
    sut->request_state_change("kPrepSD", everyone, m_recorder.completion_callback(), 1s);
    if (param.registered)
    {
        const auto received = bad->receive_request();
        ASSERT_TRUE(received);
        param.act(*bad, received->id);
    }
    for (auto* good : {good_a.get(), good_b.get()})
    {
        const auto received = good->receive_request();
        ASSERT_TRUE(received);
        good->answer(received->id, "kPrepSD", 0);
    }

    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, param.status);
    if (param.status == Callback_status::timeout)
    {
        EXPECT_THAT(
            completion->results,
            ElementsAre(Pair("bad", Code::timed_out), Pair("good_a", Code::success), Pair("good_b", Code::success)));
    }
    else
    {
        EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
        EXPECT_THAT(completion->results, ElementsAre(Pair("good_a", Code::success), Pair("good_b", Code::success)));
        if (!param.hangs_up)
        {
            EXPECT_TRUE(bad->closed_by_server(2s));
        }
    }
    EXPECT_TRUE(wait_until([&] { return m_capture.contains_fragment(param.warning); }, 2s)) << param.warning;
    // the server goes on serving
    auto late = connect("late");
    EXPECT_TRUE(late);
}

INSTANTIATE_TEST_SUITE_P(
    Misbehaviours,
    Misbehaving_client_test,
    ::testing::Values(
        Misbehaviour_case{"PartialFrameThenSilence",
                          true,
                          [](Raw_client& client, std::uint32_t id)
                          {
                              const auto bytes = response(id);
                              client.send_bytes(Bytes(bytes.begin(), bytes.begin() + 20));
                          },
                          Callback_status::timeout,
                          "calling callback after some clients timed out"},
        Misbehaviour_case{"HugeDeclaredLength",
                          true,
                          [](Raw_client& client, std::uint32_t) { client.send_bytes(header(2, 1ULL << 40)); },
                          Callback_status::success,
                          "above the bound of 65536 bytes"},
        Misbehaviour_case{
            "ElementRunningPastItsFrame",
            true,
            [](Raw_client& client, std::uint32_t)
            {
                auto bytes = header(2, 14);
                const auto element = header(0, 9);
                bytes.insert(bytes.end(), element.begin(), element.end());
                bytes.insert(bytes.end(), {'k', 'O'});
                client.send_bytes(bytes);
            },
            Callback_status::success,
            "client bad: client sent a frame that breaks the protocol: reached end of data while parsing"},
        Misbehaviour_case{"TooFewElements",
                          true,
                          [](Raw_client& client, std::uint32_t id)
                          {
                              client.send_bytes(utilities::serialize(
                                  utilities::Elements{utilities::Type_length_value(id),
                                                      utilities::Type_length_value(std::string("kPrepSD"))}));
                          },
                          Callback_status::success,
                          "response with 2 elements from bad"},
        Misbehaviour_case{"ShortRequestId",
                          true,
                          [](Raw_client& client, std::uint32_t)
                          {
                              client.send_bytes(utilities::serialize(utilities::Elements{
                                  utilities::Type_length_value(utilities::Payload_type::uint32_type, Bytes{1, 0}),
                                  utilities::Type_length_value(std::string("kPrepSD")),
                                  utilities::Type_length_value(0U)}));
                          },
                          Callback_status::success,
                          "reached end of data while parsing"},
        Misbehaviour_case{"HangUpMidFrame",
                          true,
                          [](Raw_client& client, std::uint32_t id)
                          {
                              const auto bytes = response(id);
                              client.send_bytes(Bytes(bytes.begin(), bytes.begin() + 30));
                              client.close();
                          },
                          Callback_status::success,
                          "client disconnected: bad",
                          true},
        Misbehaviour_case{"NoHelloWithinTheBound",
                          false,
                          [](Raw_client&, std::uint32_t) {},
                          Callback_status::success,
                          "closing connection that sent no complete hello within 300 ms"},
        Misbehaviour_case{"PartialHelloThenSilence",
                          false,
                          [](Raw_client& client, std::uint32_t) { client.send_bytes(header(2, 60)); },
                          Callback_status::success,
                          "closing connection that sent no complete hello within 300 ms"},
        Misbehaviour_case{"HelloWithTooFewElements",
                          false,
                          [](Raw_client& client, std::uint32_t)
                          {
                              client.send_bytes(utilities::serialize(utilities::Elements{
                                  utilities::Type_length_value(utilities::get_protocol_version_one()),
                                  utilities::Type_length_value(std::string("bad"))}));
                          },
                          Callback_status::success,
                          "closing connection with a bad hello: hello message with 2 elements"},
        Misbehaviour_case{
            "HugeHello",
            false,
            [](Raw_client& client, std::uint32_t) { client.send_bytes(header(2, 1ULL << 32)); },
            Callback_status::success,
            "closing connection with a bad hello: frame length 4294967296 above the bound of 65536 bytes"}),
    [](const ::testing::TestParamInfo<Misbehaviour_case>& param_info) { return std::string(param_info.param.name); });

} // namespace
} // namespace client_state_notifier
