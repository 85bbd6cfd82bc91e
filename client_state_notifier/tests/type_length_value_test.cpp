#include "client_state_notifier/client_states_impl.hpp"
#include "client_state_notifier/frame_reader.hpp"
#include "client_state_notifier/type_length_value.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace utilities
{
namespace
{

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

Bytes header(std::uint32_t type, std::uint64_t length)
{
    Bytes bytes;
    append_uint32(bytes, type);
    append_uint64(bytes, length);
    return bytes;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
    {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Elements parse(const Bytes& frame)
{
    auto it = frame.begin();
    advance_with_check(it, 12, frame.end());
    return deserialize_vector(read_uint64(frame.data() + 4), it, frame.end());
}

TEST(Type_length_value_test, StateChangeRequestForKOnIsTheDocumented43Bytes)
{
    const auto bytes = serialize(client_state_notifier::create_state_change_request(1, "kOn"));

    EXPECT_THAT(bytes, ElementsAreArray({0x02, 0,    0,    0, 0x1F, 0, 0, 0, 0, 0,    0,    0,    0x01, 0,    0,
                                         0,    0x04, 0,    0, 0,    0, 0, 0, 0, 0x01, 0,    0,    0,    0x00, 0,
                                         0,    0,    0x03, 0, 0,    0, 0, 0, 0, 0,    0x6B, 0x4F, 0x6E}));
}

TEST(Type_length_value_test, PrebuiltRequestAndResponseFramesMatchTheirElements)
{
    Bytes request;
    Bytes response;

    write_state_change_request(request, 0x01020304U, "kPrepSD");
    write_state_change_response(response, 7, "kOn", 2);

    EXPECT_EQ(request, serialize(client_state_notifier::create_state_change_request(0x01020304U, "kPrepSD")));
    EXPECT_EQ(response,
              serialize(Elements{Type_length_value(7U), Type_length_value(std::string("kOn")), Type_length_value(2U)}));
}

TEST(Type_length_value_test, ElementsSurviveARoundTrip)
{
    const Elements elements{Type_length_value(std::string("component_client_v1")),
                            Type_length_value(std::string("")),
                            Type_length_value(0xDEADBEEFU),
                            Type_length_value(Payload_type::vector_type, Bytes{1, 2, 3})};

    const auto back = parse(serialize(elements));

    ASSERT_EQ(back.size(), 4U);
    EXPECT_EQ(back[0].get_string(), "component_client_v1");
    EXPECT_EQ(back[1].get_string(), "");
    EXPECT_EQ(back[1].get_total_size(), 12U);
    EXPECT_EQ(back[2].get_uint32(), 0xDEADBEEFU);
    EXPECT_EQ(back[3].get_type(), Payload_type::vector_type);
    EXPECT_THAT(back[3].get_value(), ElementsAre(1, 2, 3));
}

struct Frame_case
{
    const char* name;
    Bytes frame;
    // Empty when the frame is rejected with "reached end of data while parsing".
    std::vector<std::string> strings;
    bool rejected;
};

void PrintTo(const Frame_case& value, std::ostream* out)
{
    *out << value.name;
}

class Frame_parsing_test : public ::testing::TestWithParam<Frame_case>
{
};

TEST_P(Frame_parsing_test, ParsesOrRejectsTheWholeFrame)
{
    const auto& param = GetParam();

    if (param.rejected)
    {
        EXPECT_THROW(
            {
                try
                {
                    parse(param.frame);
                }
                catch (const std::out_of_range& error)
                {
                    EXPECT_STREQ(error.what(), "reached end of data while parsing");
                    throw;
                }
            },
            std::out_of_range);
        return;
    }
    std::vector<std::string> strings;
    for (const auto& element : parse(param.frame))
    {
        strings.push_back(element.get_string());
    }
    EXPECT_EQ(strings, param.strings);
}

INSTANTIATE_TEST_SUITE_P(
    Frames,
    Frame_parsing_test,
    ::testing::Values(
        Frame_case{"EmptyFrame", Bytes{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, false},
        Frame_case{"EmptyString", concat({header(2, 12), header(0, 0)}), {""}, false},
        Frame_case{"HeaderTypeIsIgnored", concat({header(7, 14), header(0, 2), Bytes{'h', 'i'}}), {"hi"}, false},
        Frame_case{"LastValueLongerThanFrame",
                   concat({header(2, 26), header(0, 1), Bytes{'a'}, header(0, 5), Bytes{'b'}}),
                   {},
                   true},
        Frame_case{"DeclaredLengthBeyondData", concat({header(2, 40), header(0, 1), Bytes{'a'}}), {}, true},
        Frame_case{"TruncatedElementHeader", concat({header(2, 6), Bytes{0, 0, 0, 0, 1, 0}}), {}, true},
        Frame_case{"NestedVectorKeptRaw", concat({header(2, 15), header(2, 3), Bytes{'x', 'y', 'z'}}), {"xyz"}, false}),
    [](const ::testing::TestParamInfo<Frame_case>& param_info) { return std::string(param_info.param.name); });

TEST(Type_length_value_test, Uint32NeedsFourBytesAndIgnoresTheRest)
{
    const Type_length_value short_value(Payload_type::uint32_type, Bytes{1, 2, 3});
    const Type_length_value long_value(Payload_type::uint32_type, Bytes{1, 0, 0, 0, 9, 9});

    EXPECT_THROW(short_value.get_uint32(), std::out_of_range);
    EXPECT_EQ(long_value.get_uint32(), 1U);
    EXPECT_THAT(Type_length_value(1U).get_value(), ElementsAre(1, 0, 0, 0));
}

class Frame_reader_test : public ::testing::Test
{
  protected:
    void send(const Bytes& bytes) { m_sockets.second.sendl(bytes.data(), bytes.size(), 0); }

    std::pair<Socket, Socket> m_sockets = socket_pair();
    Frame_reader sut;
    Frame_view view;
};

TEST_F(Frame_reader_test, FrameArrivingByteByByteCompletesWithTheLastByte)
{
    const auto frame = serialize(client_state_notifier::create_state_change_request(5, "kPrepSD"));

    for (std::size_t index = 0; index + 1 < frame.size(); ++index)
    {
        send(Bytes{frame[index]});
        ASSERT_TRUE(sut.read_available(m_sockets.first));
        ASSERT_FALSE(sut.next_frame(view));
        EXPECT_TRUE(sut.has_partial_frame());
    }
    send(Bytes{frame.back()});
    ASSERT_TRUE(sut.read_available(m_sockets.first));

    ASSERT_TRUE(sut.next_frame(view));
    EXPECT_EQ(view.count, 2U);
    EXPECT_EQ(view.elements[0].get_uint32(), 5U);
    EXPECT_TRUE(view.elements[1].equals("kPrepSD"));
    EXPECT_FALSE(sut.has_partial_frame());
}

TEST_F(Frame_reader_test, TwoFramesInOneReadAreBothDelivered)
{
    Bytes first;
    Bytes second;
    write_state_change_response(first, 1, "kOn", 0);
    write_state_change_response(second, 2, "kPrepSD", 1);
    send(concat({first, second}));

    ASSERT_TRUE(sut.read_available(m_sockets.first));

    ASSERT_TRUE(sut.next_frame(view));
    EXPECT_EQ(view.elements[0].get_uint32(), 1U);
    ASSERT_TRUE(sut.next_frame(view));
    EXPECT_EQ(view.elements[0].get_uint32(), 2U);
    EXPECT_EQ(view.elements[2].get_uint32(), 1U);
    EXPECT_FALSE(sut.next_frame(view));
}

TEST_F(Frame_reader_test, DeclaredLengthAboveTheBoundIsRejectedFromTheHeaderAlone)
{
    send(header(2, get_max_frame_length() + 1));

    ASSERT_TRUE(sut.read_available(m_sockets.first));

    EXPECT_THROW(sut.next_frame(view), Exception_bad_frame);
}

TEST_F(Frame_reader_test, NothingToReadIsNotAnError)
{
    EXPECT_FALSE(sut.read_available(m_sockets.first));
}

TEST_F(Frame_reader_test, LargeFrameWithinTheBoundIsAssembled)
{
    const std::string big(40000, 'x');
    send(serialize(Elements{Type_length_value(big)}));

    while (!sut.next_frame(view))
    {
        sut.read_available(m_sockets.first);
    }

    EXPECT_EQ(view.elements[0].size, big.size());
}

TEST(Receive_type_length_values_test, DeclaredLengthAboveTheBoundThrowsBeforeAllocating)
{
    auto sockets = socket_pair();
    const auto bytes = header(2, 1ULL << 40);
    sockets.second.sendl(bytes.data(), bytes.size(), 0);

    EXPECT_THROW(receive_type_length_values(sockets.first), std::length_error);
}

} // namespace
} // namespace utilities
