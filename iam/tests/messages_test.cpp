#include "vela/iam/messages.hpp"

#include <boost/archive/text_iarchive.hpp>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

namespace vela::iam
{
namespace
{

Check_requestT<Check_request_posix> posix_request(Operation operation = Operation::Call_method)
{
    Check_request_posix request;
    request.identifier = identifier::Identifier_posix{-42, 1000, 2000};
    request.service = iam_internal_if::Service_someip_ifc{0x12345, 0x8001, operation};
    return Check_requestT<Check_request_posix>(request);
}

Check_requestT<Check_request_tcpip> tcpip_request(const std::string& address)
{
    Check_request_tcpip request;
    request.identifier.port = 30501;
    request.identifier.address = asio::ip::make_address(address);
    request.service = iam_internal_if::Service_someip_ifc{0x1234, 7, Operation::Subscribe_event};
    return Check_requestT<Check_request_tcpip>(request);
}

/// A TCP/IP request whose archive holds address_text (as client software could write it).
std::string tcpip_text_with_address(const std::string& address_text)
{
    std::string text = encode_request(tcpip_request("1.2.3.4"));
    const std::string stored = "7 1.2.3.4";
    const auto at = text.find(stored);
    EXPECT_NE(at, std::string::npos);
    return text.replace(at, stored.size(), std::to_string(address_text.size()) + " " + address_text);
}

TEST(Messages_test, PosixRequestSurvivesTheRoundTrip)
{
    const auto sent = posix_request();

    const auto sut = decode_request(encode_request(sent));

    ASSERT_EQ(sut->transport(), Transport::posix);
    EXPECT_STREQ(sut->transport_name(), "POSIX");
    const auto received = std::any_cast<Check_request_posix>(sut->request());
    EXPECT_EQ(received.identifier.pid, -42);
    EXPECT_EQ(received.identifier.uid, 1000U);
    EXPECT_EQ(received.identifier.gid, 2000U);
    EXPECT_EQ(received.service.service_id, 0x12345U);
    EXPECT_EQ(received.service.member_id, 0x8001U);
    EXPECT_EQ(received.service.operation, Operation::Call_method);
}

TEST(Messages_test, PosixArchiveWritesOperationBeforeServiceAndMember)
{
    const std::string text = encode_request(posix_request(Operation::Subscribe_event));

    EXPECT_EQ(text.rfind("POSIX22 serialization::archive ", 0), 0U);
    EXPECT_NE(text.find(" -42 1000 2000 "), std::string::npos);
    EXPECT_NE(text.find(" 3 74565 32769"), std::string::npos);
}

struct Address_case
{
    const char* name;
    const char* address;
    unsigned long scope_id;
};

class Tcpip_address_test : public ::testing::TestWithParam<Address_case>
{
};

TEST_P(Tcpip_address_test, AddressSurvivesTheRoundTrip)
{
    const auto sent = tcpip_request(GetParam().address);

    const auto sut = decode_request(encode_request(sent));

    ASSERT_EQ(sut->transport(), Transport::tcpip);
    EXPECT_STREQ(sut->transport_name(), "TCPIP");
    const auto received = std::any_cast<Check_request_tcpip>(sut->request());
    EXPECT_EQ(received.identifier.port, 30501U);
    EXPECT_EQ(received.identifier.address, sent.wrapped().identifier.address);
    if (received.identifier.address.is_v6())
    {
        EXPECT_EQ(received.identifier.address.to_v6().scope_id(), GetParam().scope_id);
    }
    EXPECT_EQ(received.service.operation, Operation::Subscribe_event);
    EXPECT_EQ(received.service.member_id, 7U);
}

INSTANTIATE_TEST_SUITE_P(Messages_test,
                         Tcpip_address_test,
                         ::testing::Values(Address_case{"Ipv4", "10.0.0.5", 0},
                                           Address_case{"Ipv6", "2001:db8::1", 0},
                                           Address_case{"Ipv6LinkLocalWithScope", "fe80::1%3", 3}),
                         [](const ::testing::TestParamInfo<Address_case>& param) { return param.param.name; });

TEST(Messages_test, Ipv6LinkLocalWithNumericScopeDecodesThatScope)
{
    const auto sut = decode_request(tcpip_text_with_address("fe80::42%7"));

    const auto received = std::any_cast<Check_request_tcpip>(sut->request());
    ASSERT_TRUE(received.identifier.address.is_v6());
    EXPECT_EQ(received.identifier.address.to_v6().scope_id(), 7U);
}

TEST(Messages_test, PosixRequestWithUnknownOperationDecodes)
{
    const auto sut = decode_request(encode_request(posix_request(static_cast<Operation>(7))));

    EXPECT_EQ(static_cast<int>(std::any_cast<Check_request_posix>(sut->request()).service.operation), 7);
}

struct Refused_case
{
    const char* name;
    std::string text;
    std::string message; // empty: any message
};

class Refused_request_test : public ::testing::TestWithParam<Refused_case>
{
};

TEST_P(Refused_request_test, DecodingThrowsAStandardException)
{
    try
    {
        (void)decode_request(GetParam().text);
        FAIL() << "decoded";
    }
    catch (const std::bad_alloc&)
    {
        FAIL() << "allocated for a length the request cannot hold";
    }
    catch (const std::exception& error)
    {
        if (!GetParam().message.empty())
        {
            EXPECT_EQ(std::string(error.what()), GetParam().message);
        }
    }
}

std::string posix_text()
{
    return encode_request(posix_request());
}

std::string posix_text_lower_case()
{
    std::string text = posix_text();
    text.replace(0, 5, "posix");
    return text;
}

std::string truncated_posix_text()
{
    const std::string text = posix_text();
    return text.substr(0, text.size() - 8);
}

INSTANTIATE_TEST_SUITE_P(
    Messages_test,
    Refused_request_test,
    ::testing::Values(Refused_case{"LowerCaseTag", posix_text_lower_case(), "Invalid message to deserialize"},
                      Refused_case{"BlankBeforeTag", " " + posix_text(), "Invalid message to deserialize"},
                      Refused_case{"Empty", "", "Invalid message to deserialize"},
                      Refused_case{"TagAlone", "POSIX", ""},
                      Refused_case{"WrongSignature", "POSIX22 serialization::archivX 18 0 0 0 0 0 0 0 0 0 0 0 0", ""},
                      Refused_case{"Truncated", truncated_posix_text(), ""},
                      Refused_case{"Ipv4OctetAbove255", tcpip_text_with_address("10.0.0.256"), ""},
                      Refused_case{"HugeSignatureLength", "POSIX4000000000 serialization::archive 18", ""}),
    [](const ::testing::TestParamInfo<Refused_case>& param) { return param.param.name; });

TEST(Messages_test, AddressLengthBeyondTheRequestFailsBeforeAllocating)
{
    std::string text = tcpip_text_with_address("1.2.3.4");
    const auto at = text.find("7 1.2.3.4");
    ASSERT_NE(at, std::string::npos);
    text.replace(at, 1, "4000000000");

    EXPECT_THROW((void)decode_request(text), std::length_error);
}

TEST(Messages_test, ResponseIsACompleteTextArchive)
{
    const std::string text = encode_response(Check_response{Decision::allowed});

    std::istringstream stream(text);
    boost::archive::text_iarchive archive(stream);
    Check_response decoded{Decision::error};
    archive >> decoded;
    EXPECT_EQ(decoded.decision, Decision::allowed);
}

TEST(Messages_test, EncodedResponsesMatchTheirDecisions)
{
    for (const auto decision : {Decision::denied, Decision::allowed, Decision::error})
    {
        EXPECT_EQ(decode_response(encoded_response(decision)).decision, decision);
    }
}

} // namespace
} // namespace vela::iam

namespace vela::iam
{
namespace
{

/// The request a decoder produced, written out again; or the decoder's error.
std::string outcome_of(std::unique_ptr<Check_request> (*decoder)(std::string_view), const std::string& text)
{
    try
    {
        const auto request = decoder(text);
        if (request->transport() == Transport::posix)
        {
            return encode_request(
                Check_requestT<Check_request_posix>(std::any_cast<Check_request_posix>(request->request())));
        }
        return encode_request(
            Check_requestT<Check_request_tcpip>(std::any_cast<Check_request_tcpip>(request->request())));
    }
    catch (const std::exception& error)
    {
        return std::string("error: ") + error.what();
    }
}

/// Every text one edit away from text: a character removed, replaced or inserted.
std::vector<std::string> mutations_of(const std::string& text)
{
    static const std::string characters = " 0159-+x\n%:.";
    std::vector<std::string> mutations;
    for (std::size_t at = 0; at <= text.size(); ++at)
    {
        if (at < text.size())
        {
            mutations.push_back(std::string(text).erase(at, 1));
        }
        for (const char character : characters)
        {
            if (at < text.size() && text[at] != character)
            {
                mutations.push_back(std::string(text).replace(at, 1, 1, character));
            }
            mutations.push_back(std::string(text).insert(at, 1, character));
        }
    }
    return mutations;
}

TEST(Messages_test, DirectReadingAgreesWithTheArchiveOnEveryNearbyText)
{
    Check_request_tcpip tcpip;
    tcpip.identifier.port = 65535;
    tcpip.identifier.address = asio::ip::make_address("10.0.0.5");
    tcpip.service = iam_internal_if::Service_someip_ifc{4294967295U, 65535, Operation::Use_service};
    Check_request_tcpip tcpip_v6 = tcpip;
    tcpip_v6.identifier.address = asio::ip::make_address("fe80::1%7");
    const std::vector<std::string> originals{encode_request(posix_request()),
                                             encode_request(Check_requestT<Check_request_tcpip>(tcpip)),
                                             encode_request(Check_requestT<Check_request_tcpip>(tcpip_v6)),
                                             tcpip_text_with_address("2001:db8::1%300")};

    std::size_t compared = 0;
    for (const auto& original : originals)
    {
        for (const auto& text : mutations_of(original))
        {
            ASSERT_EQ(outcome_of(&decode_request, text), outcome_of(&decode_request_with_archive, text))
                << "text: " << text;
            ++compared;
        }
    }

    EXPECT_GT(compared, 5000U);
}

} // namespace
} // namespace vela::iam
