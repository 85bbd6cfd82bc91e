#include "client_state_notifier/frame_reader.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace utilities
{

namespace
{

constexpr std::size_t s_header_size = Type_length_value::s_header_size;
// Enough for every message of the protocol in one receive; the buffer only grows for the
// rare larger frame and never beyond one frame of the bound.
constexpr std::size_t s_initial_capacity = 256;

void append_element_header(Bytes& out, Payload_type type, std::uint64_t length)
{
    append_uint32(out, static_cast<std::uint32_t>(type));
    append_uint64(out, length);
}

// A request and a response open alike: a vector around the request id and the state; a response
// then adds its code, which extra_body_size makes room for.
void start_state_change_frame(Bytes& out,
                              std::uint32_t request_id,
                              const std::string& state,
                              std::uint64_t extra_body_size)
{
    out.clear();
    const std::uint64_t body = (s_header_size + 4) + (s_header_size + state.size()) + extra_body_size;
    out.reserve(s_header_size + body);
    append_element_header(out, Payload_type::vector_type, body);
    append_element_header(out, Payload_type::uint32_type, 4);
    append_uint32(out, request_id);
    append_element_header(out, Payload_type::string_type, state.size());
    out.insert(out.end(), state.begin(), state.end());
}

} // namespace

bool Element_view::equals(const std::string& text) const noexcept
{
    return text.size() == size && (size == 0 || std::memcmp(text.data(), data, size) == 0);
}

std::uint32_t Element_view::get_uint32() const
{
    if (size < 4)
    {
        throw Exception_bad_frame("reached end of data while parsing");
    }
    return read_uint32(data);
}

void parse_frame_body(const std::uint8_t* data, std::size_t length, Frame_view& view)
{
    view.count = 0;
    std::size_t position = 0;
    while (position < length)
    {
        if (length - position < s_header_size)
        {
            throw Exception_bad_frame("reached end of data while parsing");
        }
        const auto type = static_cast<Payload_type>(read_uint32(data + position));
        const auto size = read_uint64(data + position + 4);
        position += s_header_size;
        if (size > length - position)
        {
            throw Exception_bad_frame("reached end of data while parsing");
        }
        if (view.count < Frame_view::s_max_elements)
        {
            view.elements[view.count] = Element_view{type, data + position, static_cast<std::size_t>(size)};
        }
        ++view.count;
        position += static_cast<std::size_t>(size);
    }
}

Frame_reader::Frame_reader()
{
    m_buffer.resize(s_initial_capacity);
}

std::pair<std::uint8_t*, std::size_t> Frame_reader::receive_space()
{
    if (m_begin == m_end)
    {
        m_begin = 0;
        m_end = 0;
        if (m_buffer.size() > s_initial_capacity)
        {
            // A large frame has been consumed: give its memory back so an idle connection stays small.
            Bytes(s_initial_capacity).swap(m_buffer);
        }
    }
    else if (m_begin > 0 && m_buffer.size() - m_end < s_header_size)
    {
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    std::size_t wanted = s_initial_capacity;
    if (m_end - m_begin >= s_header_size)
    {
        const auto declared = read_uint64(m_buffer.data() + m_begin + 4);
        if (declared > get_max_frame_length())
        {
            throw Exception_bad_frame("frame length " + std::to_string(declared) + " above the bound of " +
                                      std::to_string(get_max_frame_length()) + " bytes");
        }
        const auto frame_size = static_cast<std::size_t>(declared) + s_header_size;
        wanted = std::max(wanted, frame_size - (m_end - m_begin));
    }
    if (m_buffer.size() - m_end < wanted)
    {
        if (m_begin > 0)
        {
            std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        if (m_buffer.size() - m_end < wanted)
        {
            m_buffer.resize(m_end + wanted);
        }
    }
    return {m_buffer.data() + m_end, m_buffer.size() - m_end};
}

bool Frame_reader::read_available(const Socket& socket)
{
    const auto [space, size] = receive_space();
    try
    {
        commit_received(socket.recv(space, size, MSG_DONTWAIT));
    }
    catch (const ExceptionSocketTimeout&)
    {
        return false;
    }
    return true;
}

bool Frame_reader::next_frame(Frame_view& view)
{
    const auto available = m_end - m_begin;
    if (available < s_header_size)
    {
        return false;
    }
    const auto* frame = m_buffer.data() + m_begin;
    const auto declared = read_uint64(frame + 4);
    if (declared > get_max_frame_length())
    {
        throw Exception_bad_frame("frame length " + std::to_string(declared) + " above the bound of " +
                                  std::to_string(get_max_frame_length()) + " bytes");
    }
    const auto body_size = static_cast<std::size_t>(declared);
    if (available - s_header_size < body_size)
    {
        return false;
    }
    m_begin += s_header_size + body_size;
    parse_frame_body(frame + s_header_size, body_size, view);
    return true;
}

void write_state_change_request(Bytes& out, std::uint32_t request_id, const std::string& state)
{
    start_state_change_frame(out, request_id, state, 0);
}

void write_state_change_response(Bytes& out, std::uint32_t request_id, const std::string& state, std::uint32_t code)
{
    start_state_change_frame(out, request_id, state, s_header_size + 4);
    append_element_header(out, Payload_type::uint32_type, 4);
    append_uint32(out, code);
}

} // namespace utilities
