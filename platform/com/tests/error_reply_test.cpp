// What an error reply carries in its header: the request's own ids, so that the caller can match it
// whatever was wrong with the request.
#include "platform/com/tests/local_service.hpp"
#include "platform/com/tests/raw_client.hpp"

#include <functional>
#include <gtest/gtest.h>

namespace
{

using kest::com::someip::Message_header;
using kest::com::someip::Message_type;
using tarn1::testing::EchoInterface;
using tarn1::testing::Raw_client;

struct Error_case
{
    const char* name;
    std::function<void(Message_header&)> spoil;
    std::uint8_t return_code;
};

void PrintTo(const Error_case& param, std::ostream* out)
{
    *out << param.name;
}

class Error_reply_test : public tarn1::testing::Local_service_test, public ::testing::WithParamInterface<Error_case>
{
};

TEST_P(Error_reply_test, ReplyEchoesTheRequestsIdsWithTheReturnCode)
{
    Raw_client client(m_handle.endpoint);
    Message_header request;
    request.service_id = EchoInterface::description().numeric_service_id();
    request.method_id = 0;
    request.client_id = 0x4711;
    request.session_id = 0x0815;
    GetParam().spoil(request);

    ASSERT_TRUE(client.send_all(Raw_client::frame(request, {1, 2, 3}), s_deadline));
    const auto reply = client.read_frame(s_deadline);

    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->header.message_type, Message_type::kError);
    EXPECT_EQ(reply->header.return_code, GetParam().return_code);
    EXPECT_EQ(reply->header.service_id, request.service_id);
    EXPECT_EQ(reply->header.method_id, request.method_id);
    EXPECT_EQ(reply->header.client_id, request.client_id);
    EXPECT_EQ(reply->header.session_id, request.session_id);
    EXPECT_EQ(reply->header.interface_version, request.interface_version);
    EXPECT_EQ(reply->header.protocol_version, 1);
    EXPECT_EQ(reply->header.length, 8U);
    EXPECT_TRUE(reply->payload.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Error_reply_test,
    Error_reply_test,
    ::testing::Values(
        // a service id that is not this endpoint's comes back as it was sent
        Error_case{"UnknownService", [](Message_header& header) { header.service_id ^= 0x00FF; }, 0x02},
        Error_case{"UnknownMethod", [](Message_header& header) { header.method_id = 0x0042; }, 0x03},
        Error_case{"WrongInterfaceVersion", [](Message_header& header) { header.interface_version = 7; }, 0x08},
        Error_case{"FailingHandler", [](Message_header& header) { header.method_id = 3; }, 0x01}),
    [](const ::testing::TestParamInfo<Error_case>& param) { return param.param.name; });

} // namespace
