// Fuzz target: the notification protocol's frame reading, as the server and the client side
// read what a peer sends on the notification socket.
//
// The first input byte picks how the rest, the peer's byte stream, is cut into receives.
// Beyond what the sanitizers catch, an input is a finding when
// - the frames read, or the refusal, depend on how the bytes arrive (all at once or in pieces);
// - the reader of the non-blocking connections and the blocking reader of whole frames
//   (deserialize_vector) disagree on a frame: other elements, or one refuses what the other reads;
// - a frame the blocking reader accepts does not serialize back to its own bytes.

#include "client_state_notifier/frame_reader.hpp"
#include "client_state_notifier/type_length_value.hpp"
#include "tests/fuzz/fuzz_target.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

namespace
{

using namespace utilities;
using tarn1::fuzz::finding;

struct Element
{
    Payload_type type;
    Bytes value;

    bool operator==(const Element& other) const { return type == other.type && value == other.value; }
};

/// What a reader made of a stream: per frame its element count and its leading elements (those
/// the frame reader keeps), then whether it refused the stream or kept a frame begun.
struct Reading
{
    std::vector<std::size_t> counts;
    std::vector<std::vector<Element>> leading;
    bool refused{false};
    bool partial{false};

    bool operator==(const Reading& other) const
    {
        return counts == other.counts && leading == other.leading && refused == other.refused &&
               partial == other.partial;
    }
};

/// What the server takes from a hello and a response, and the client side from a request.
/// A short id ends the connection (Exception_bad_frame), as it does there.
void read_as_messages(const Frame_view& view)
{
    try
    {
        if (view.count >= 2)
        {
            (void)view.elements[0].get_uint32();
            (void)view.elements[1].get_string();
        }
        if (view.count >= 3)
        {
            (void)view.elements[1].equals("diag::dcm");
            (void)view.elements[2].get_string();
            (void)(view.elements[2].get_uint32() & 0xFFU);
        }
    }
    catch (const Exception_bad_frame&)
    {
    }
}

/// Feeds the stream to a frame reader in receives of at most next_piece() bytes each.
template <typename Next_piece>
Reading read_with_frame_reader(const std::uint8_t* data, std::size_t size, Next_piece next_piece)
{
    Reading reading;
    Frame_reader reader;
    Frame_view view;
    std::size_t position = 0;
    try
    {
        while (position < size)
        {
            const auto [space, room] = reader.receive_space();
            if (room == 0)
            {
                finding("the frame reader offers no room for the next receive");
            }
            const std::size_t count = std::min({room, size - position, next_piece()});
            std::memcpy(space, data + position, count);
            reader.commit_received(count);
            position += count;
            while (reader.next_frame(view))
            {
                reading.counts.push_back(view.count);
                std::vector<Element> leading;
                for (std::size_t index = 0; index < std::min(view.count, Frame_view::s_max_elements); ++index)
                {
                    const auto& element = view.elements[index];
                    leading.push_back(Element{element.type, Bytes(element.data, element.data + element.size)});
                }
                reading.leading.push_back(std::move(leading));
                read_as_messages(view);
            }
        }
        reading.partial = reader.has_partial_frame();
    }
    catch (const Exception_bad_frame&)
    {
        reading.refused = true;
    }
    return reading;
}

/// Reads the stream frame by frame as receive_type_length_values does.
Reading read_with_blocking_reader(const std::uint8_t* data, std::size_t size)
{
    Reading reading;
    const Bytes stream(data, data + size);
    std::size_t position = 0;
    while (size - position >= Type_length_value::s_header_size)
    {
        const auto length = read_uint64(data + position + 4);
        if (length > get_max_frame_length())
        {
            reading.refused = true;
            return reading;
        }
        if (size - position - Type_length_value::s_header_size < length)
        {
            break;
        }
        auto it = stream.begin() + static_cast<std::ptrdiff_t>(position + Type_length_value::s_header_size);
        Elements elements;
        try
        {
            elements = deserialize_vector(length, it, stream.end());
        }
        catch (const std::out_of_range&)
        {
            reading.refused = true;
            return reading;
        }
        const auto frame_end = position + Type_length_value::s_header_size + static_cast<std::size_t>(length);
        if (it != stream.begin() + static_cast<std::ptrdiff_t>(frame_end))
        {
            finding("the blocking reader stopped elsewhere than at the end of the frame");
        }
        // The frame type is not kept; everything after it must come back as it was.
        const auto again = serialize(elements);
        if (again.size() != frame_end - position ||
            !std::equal(again.begin() + 4, again.end(), stream.begin() + static_cast<std::ptrdiff_t>(position + 4)))
        {
            finding("a frame read by the blocking reader serializes to other bytes");
        }
        reading.counts.push_back(elements.size());
        std::vector<Element> leading;
        for (std::size_t index = 0; index < std::min(elements.size(), Frame_view::s_max_elements); ++index)
        {
            leading.push_back(Element{elements[index].get_type(), elements[index].get_value()});
        }
        reading.leading.push_back(std::move(leading));
        position = frame_end;
    }
    reading.partial = position < size;
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
        read_with_frame_reader(stream, stream_size, [] { return std::numeric_limits<std::size_t>::max(); });
    const Reading in_pieces = read_with_frame_reader(stream, stream_size, [&pieces] { return pieces.next(); });
    const Reading blocking = read_with_blocking_reader(stream, stream_size);

    if (!(at_once == in_pieces))
    {
        finding("the frame reader reads the same bytes differently when they arrive in pieces");
    }
    if (!(at_once == blocking))
    {
        finding("the frame reader and the blocking reader disagree");
    }
    return 0;
}
