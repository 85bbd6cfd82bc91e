#include "kest/com/exceptions.h"
#include "kest/com/someip/message_header.h"
#include "kest/com/someip/serializer.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace wire_example
{

/// A struct as an interface would declare one: a number, a text and an array of numbers.
struct Row
{
    std::uint16_t id{0};
    std::string name;
    std::vector<std::uint32_t> values;
};

void serialize(kest::com::someip::Serializer& out, const Row& row)
{
    out.write(row.id);
    out.write(row.name);
    out.write(row.values);
}

bool deserialize(kest::com::someip::Deserializer& in, Row& row)
{
    return in.read(row.id) && in.read(row.name) && in.read(row.values);
}

} // namespace wire_example

namespace
{

using namespace kest::com::someip;
using Bytes = std::vector<std::uint8_t>;

struct Byte_vector_case
{
    const char* name;
    Bytes value;
    Bytes wire;
};

void PrintTo(const Byte_vector_case& c, std::ostream* os)
{
    *os << c.name;
}

class Byte_vector_encoding_test : public ::testing::TestWithParam<Byte_vector_case>
{
};

TEST_P(Byte_vector_encoding_test, EncodesLengthFieldThenBytesAndDecodesBack)
{
    const auto& param = GetParam();

    const auto payload = serialize_arguments(param.value);
    Bytes decoded;
    const bool ok = deserialize_arguments(payload, decoded);

    EXPECT_EQ(payload.bytes(), param.wire);
    EXPECT_TRUE(ok);
    EXPECT_EQ(decoded, param.value);
}

INSTANTIATE_TEST_SUITE_P(Examples,
                         Byte_vector_encoding_test,
                         ::testing::Values(Byte_vector_case{"NetworkPattern", {0, 0, 0, 1}, {0, 0, 0, 4, 0, 0, 0, 1}},
                                           Byte_vector_case{"Empty", {}, {0, 0, 0, 0}},
                                           Byte_vector_case{"ThreeBytes", {0x80, 0, 0}, {0, 0, 0, 3, 0x80, 0, 0}}),
                         [](const ::testing::TestParamInfo<Byte_vector_case>& c) { return std::string(c.param.name); });

TEST(Someip_serializer_test, ByteVectorThenUint8MatchesTheComAliveExample)
{
    const auto payload = serialize_arguments(Bytes{1, 0, 0, 0}, std::uint8_t{3});

    EXPECT_EQ(payload.bytes(), (Bytes{0, 0, 0, 4, 1, 0, 0, 0, 3}));
}

TEST(Someip_serializer_test, VectorLongerThanItsLengthFieldIsRefused)
{
    Bytes out;
    Serializer sut(out);

    try
    {
        sut.write(Bytes(256, 0), 1);
        FAIL() << "no error";
    }
    catch (const kest::com::Invalid_argument_exception& error)
    {
        EXPECT_STREQ(error.what(), "Calculated record length does not fit into configured length field");
    }
    EXPECT_NO_THROW(sut.write(Bytes(255, 0), 1));
}

TEST(Someip_serializer_test, StringCarriesLengthByteOrderMarkAndTerminator)
{
    const auto payload = serialize_arguments(std::string("kOn"));
    std::string decoded;

    const bool ok = deserialize_arguments(payload, decoded);

    EXPECT_EQ(payload.bytes(), (Bytes{0, 0, 0, 7, 0xEF, 0xBB, 0xBF, 'k', 'O', 'n', 0}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(decoded, "kOn");
}

TEST(Someip_serializer_test, StringWithAZeroByteInsideIsRefused)
{
    Bytes out;
    Serializer sut(out);

    EXPECT_THROW(sut.write(std::string("a\0b", 3)), kest::com::Invalid_argument_exception);
}

TEST(Someip_serializer_test, Uint64IsBigEndian)
{
    const auto payload = serialize_arguments(std::uint64_t{0x0102030405060708ULL});
    std::uint64_t decoded = 0;

    const bool ok = deserialize_arguments(payload, decoded);

    EXPECT_EQ(payload.bytes(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(ok);
    EXPECT_EQ(decoded, 0x0102030405060708ULL);
}

TEST(Someip_serializer_test, ArrayOfStructsCarriesItsByteLengthAndDecodesBack)
{
    const std::vector<wire_example::Row> rows{{1, "a", {7}}, {2, "", {}}};

    const auto payload = serialize_arguments(rows);
    std::vector<wire_example::Row> decoded;
    const bool ok = deserialize_arguments(payload, decoded);

    // length 33 | id 1, "a" (4 + 5), [7] (4 + 4) | id 2, "" (4 + 4), [] (4)
    const Bytes expected{0, 0, 0, 33, 0, 1, 0, 0, 0, 5, 0xEF, 0xBB, 0xBF, 'a', 0, 0, 0, 0, 4,
                         0, 0, 0, 7,  0, 2, 0, 0, 0, 4, 0xEF, 0xBB, 0xBF, 0,   0, 0, 0, 0};
    EXPECT_EQ(payload.bytes(), expected);
    ASSERT_TRUE(ok);
    ASSERT_EQ(decoded.size(), 2U);
    EXPECT_EQ(decoded[0].name, "a");
    EXPECT_EQ(decoded[0].values, std::vector<std::uint32_t>{7});
    EXPECT_EQ(decoded[1].id, 2);
    EXPECT_TRUE(decoded[1].values.empty());
}

struct Undecodable_case
{
    const char* name;
    Bytes wire;
};

void PrintTo(const Undecodable_case& c, std::ostream* os)
{
    *os << c.name;
}

class Undecodable_payload_test : public ::testing::TestWithParam<Undecodable_case>
{
};

TEST_P(Undecodable_payload_test, ByteVectorAndUint8AreNotDecoded)
{
    Bytes cab_bits;
    std::uint8_t ac = 0;

    EXPECT_FALSE(deserialize_arguments(vela::com::runtime::Serialized_payload(GetParam().wire), cab_bits, ac));
}

INSTANTIATE_TEST_SUITE_P(Truncations,
                         Undecodable_payload_test,
                         ::testing::Values(Undecodable_case{"Empty", {}},
                                           Undecodable_case{"InsideLengthField", {0, 0, 0}},
                                           Undecodable_case{"EndsInsideBytes", {0, 0, 0, 4, 1, 0}},
                                           Undecodable_case{"LengthBeyondPayload",
                                                            {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5}},
                                           Undecodable_case{"MissingUint8", {0, 0, 0, 1, 7}}),
                         [](const ::testing::TestParamInfo<Undecodable_case>& c) { return std::string(c.param.name); });

class Undecodable_string_test : public ::testing::TestWithParam<Undecodable_case>
{
};

TEST_P(Undecodable_string_test, StringIsNotDecoded)
{
    std::string text;

    EXPECT_FALSE(deserialize_arguments(vela::com::runtime::Serialized_payload(GetParam().wire), text));
}

INSTANTIATE_TEST_SUITE_P(Strings,
                         Undecodable_string_test,
                         ::testing::Values(Undecodable_case{"NoByteOrderMark", {0, 0, 0, 4, 'a', 'b', 'c', 0}},
                                           Undecodable_case{"NoTerminator", {0, 0, 0, 5, 0xEF, 0xBB, 0xBF, 'a', 'b'}},
                                           Undecodable_case{"ZeroInside", {0, 0, 0, 6, 0xEF, 0xBB, 0xBF, 'a', 0, 0}},
                                           Undecodable_case{"ShorterThanTheMark", {0, 0, 0, 2, 0xEF, 0xBB}},
                                           Undecodable_case{"LengthBeyondPayload",
                                                            {0, 0, 0, 9, 0xEF, 0xBB, 0xBF, 'a', 0}}),
                         [](const ::testing::TestParamInfo<Undecodable_case>& c) { return std::string(c.param.name); });

class Undecodable_array_test : public ::testing::TestWithParam<Undecodable_case>
{
};

TEST_P(Undecodable_array_test, ArrayOfStructsIsNotDecoded)
{
    std::vector<wire_example::Row> rows;

    EXPECT_FALSE(deserialize_arguments(vela::com::runtime::Serialized_payload(GetParam().wire), rows));
}

INSTANTIATE_TEST_SUITE_P(Arrays,
                         Undecodable_array_test,
                         ::testing::Values(Undecodable_case{"LengthBeyondPayload", {0, 0, 1, 0, 0, 1}},
                                           // the element's own array runs past the array's end
                                           Undecodable_case{"ElementPastTheEnd",
                                                            {0, 0, 0, 12, 0, 1, 0, 0, 0, 4, 0xEF, 0xBB, 0xBF, 0, 0, 0}},
                                           // a length that ends inside an element
                                           Undecodable_case{"LengthEndsInsideAnElement", {0, 0, 0, 1, 0, 1}}),
                         [](const ::testing::TestParamInfo<Undecodable_case>& c) { return std::string(c.param.name); });

TEST(Someip_header_test, HeaderFieldsAreBigEndianInTheirPlaces)
{
    Message_header header;
    header.service_id = 0x1234;
    header.method_id = 0x8001;
    header.length = 8 + 5;
    header.client_id = 0xABCD;
    header.session_id = 0x0102;
    header.interface_version = 2;
    header.message_type = Message_type::kError;
    header.return_code = 0x80;
    std::uint8_t wire[kHeader_size];

    encode_header(header, wire);
    const Message_header back = decode_header(wire);

    EXPECT_EQ(Bytes(wire, wire + kHeader_size),
              (Bytes{0x12, 0x34, 0x80, 0x01, 0, 0, 0, 13, 0xAB, 0xCD, 0x01, 0x02, 1, 2, 0x81, 0x80}));
    EXPECT_EQ(back.session_id, 0x0102);
    EXPECT_EQ(back.payload_size(), 5U);
    EXPECT_EQ(back.message_type, Message_type::kError);
}

struct Header_check_case
{
    const char* name;
    std::uint8_t protocol_version;
    std::uint32_t length;
    std::uint8_t message_type;
    Header_check expected;
};

void PrintTo(const Header_check_case& c, std::ostream* os)
{
    *os << c.name;
}

class Header_check_test : public ::testing::TestWithParam<Header_check_case>
{
};

TEST_P(Header_check_test, AcceptsOnlyWellFormedHeaders)
{
    Message_header header;
    header.protocol_version = GetParam().protocol_version;
    header.length = GetParam().length;
    header.message_type = static_cast<Message_type>(GetParam().message_type);

    EXPECT_EQ(check_header(header), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Headers,
    Header_check_test,
    ::testing::Values(Header_check_case{"Request", 1, 8, 0x00, Header_check::kOk},
                      Header_check_case{"LargestPayload", 1, 8 + kMax_payload, 0x80, Header_check::kOk},
                      Header_check_case{"Subscribe", 1, 8, 0xF0, Header_check::kOk},
                      Header_check_case{"ProtocolVersionTwo", 2, 8, 0x00, Header_check::kWrongProtocolVersion},
                      Header_check_case{"LengthBelowEight", 1, 7, 0x00, Header_check::kLengthTooSmall},
                      Header_check_case{"PayloadTooLarge", 1, 9 + kMax_payload, 0x00, Header_check::kPayloadTooLarge},
                      Header_check_case{"UnknownType", 1, 8, 0x42, Header_check::kUnknownMessageType}),
    [](const ::testing::TestParamInfo<Header_check_case>& c) { return std::string(c.param.name); });

} // namespace
