// Fuzz target: the middleware's reading of a connection, and the decoding of the argument
// lists that the services of this system carry.
//
// The first input byte picks how the rest, the peer's byte stream, is cut into receives.
// Beyond what the sanitizers catch, an input is a finding when
// - the frames taken, or the refusal, depend on how the bytes arrive, or differ from a plain
//   reading of the stream header by header;
// - an argument list decodes from a payload but does not serialize back to the bytes it read.

#include "kest/com/someip/message_header.h"
#include "kest/com/someip/serializer.h"
#include "platform/com/src/frame_buffer.hpp"
#include "tests/fuzz/fuzz_target.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <tuple>
#include <vector>

namespace
{

namespace someip = kest::com::someip;
using kest::com::internal::Frame_buffer;
using tarn1::fuzz::finding;
using Bytes = std::vector<std::uint8_t>;

struct Taken
{
    Bytes header;
    Bytes payload;

    bool operator==(const Taken& other) const { return header == other.header && payload == other.payload; }
};

struct Reading
{
    std::vector<Taken> frames;
    someip::Header_check check{someip::Header_check::kOk};

    bool operator==(const Reading& other) const { return frames == other.frames && check == other.check; }
};

/// Decodes payload as the argument list Args and, when that works, checks that the values
/// serialize to exactly the bytes that were read (trailing bytes are tolerated).
template <typename... Args> void decode_arguments(const Bytes& payload)
{
    std::tuple<Args...> values;
    someip::Deserializer reader(payload.data(), payload.size());
    const bool read = std::apply([&reader](auto&... value) { return (reader.read(value) && ... && true); }, values);
    if (read != reader.ok())
    {
        finding("the deserializer's state disagrees with its results");
    }
    if (!read)
    {
        return;
    }
    Bytes again;
    someip::Serializer writer(again);
    std::apply([&writer](const auto&... value) { (writer.write(value), ...); }, values);
    const std::size_t consumed = payload.size() - reader.remaining();
    if (again.size() != consumed || !std::equal(again.begin(), again.end(), payload.begin()))
    {
        finding("decoded arguments serialize to other bytes than were read");
    }
}

/// Length fields of 1 and 2 bytes, which the serializer also offers.
void decode_short_length_fields(const Bytes& payload)
{
    for (const std::size_t field : {std::size_t{1}, std::size_t{2}})
    {
        Bytes value;
        someip::Deserializer reader(payload.data(), payload.size());
        if (!reader.read(value, field))
        {
            continue;
        }
        Bytes again;
        someip::Serializer(again).write(value, field);
        if (again.size() != payload.size() - reader.remaining() ||
            !std::equal(again.begin(), again.end(), payload.begin()))
        {
            finding("a byte vector with a short length field serializes to other bytes than were read");
        }
    }
}

/// Every argument list of this system's services and the other integer types.
void decode_payload(const Bytes& payload)
{
    decode_arguments<Bytes>(payload);
    decode_arguments<Bytes, std::uint8_t>(payload);
    decode_arguments<std::uint8_t>(payload);
    decode_arguments<std::uint16_t, std::uint32_t>(payload);
    decode_arguments<Bytes, Bytes>(payload);
    decode_short_length_fields(payload);
}

template <typename Next_piece>
Reading read_with_frame_buffer(const std::uint8_t* data, std::size_t size, Next_piece next_piece)
{
    Reading reading;
    Frame_buffer buffer;
    std::size_t position = 0;
    while (position < size)
    {
        const auto [space, room] = buffer.receive_space();
        if (room == 0)
        {
            finding("the frame buffer offers no room for the next receive");
        }
        const std::size_t count = std::min({room, size - position, next_piece()});
        std::memcpy(space, data + position, count);
        buffer.commit_received(count);
        position += count;
        while (auto frame = buffer.next_frame())
        {
            Bytes header(someip::kHeader_size);
            someip::encode_header(frame->header, header.data());
            reading.frames.push_back(Taken{std::move(header), frame->payload.bytes()});
        }
        if (buffer.check() != someip::Header_check::kOk)
        {
            reading.check = buffer.check();
            break;
        }
    }
    return reading;
}

/// The stream read header by header, each checked and followed by its payload.
Reading read_plainly(const std::uint8_t* data, std::size_t size)
{
    Reading reading;
    std::size_t position = 0;
    while (size - position >= someip::kHeader_size)
    {
        const auto header = someip::decode_header(data + position);
        reading.check = someip::check_header(header);
        if (reading.check != someip::Header_check::kOk)
        {
            break;
        }
        const std::size_t frame = someip::kHeader_size + header.payload_size();
        if (size - position < frame)
        {
            break;
        }
        reading.frames.push_back(Taken{Bytes(data + position, data + position + someip::kHeader_size),
                                       Bytes(data + position + someip::kHeader_size, data + position + frame)});
        position += frame;
    }
    return reading;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    tarn1::fuzz::Piece_sizes pieces(data[0]);
    const std::uint8_t* stream = data + 1;
    const std::size_t stream_size = size - 1;

    const Reading at_once =
        read_with_frame_buffer(stream, stream_size, [] { return std::numeric_limits<std::size_t>::max(); });
    const Reading in_pieces = read_with_frame_buffer(stream, stream_size, [&pieces] { return pieces.next(); });
    const Reading plain = read_plainly(stream, stream_size);

    if (!(at_once == in_pieces))
    {
        finding("the frame buffer reads the same bytes differently when they arrive in pieces");
    }
    if (!(at_once == plain))
    {
        finding("the frame buffer's frames differ from a plain reading of the stream");
    }
    for (const auto& frame : at_once.frames)
    {
        decode_payload(frame.payload);
    }
    // The stream as one payload as well, so that the decoding is reached without a valid header.
    decode_payload(Bytes(stream, stream + stream_size));
    return 0;
}
