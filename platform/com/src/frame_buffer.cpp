#include "frame_buffer.hpp"

#include <cstring>

namespace kest::com::internal
{

namespace
{
// What one receive asks for; the buffer's size between frames.
constexpr std::size_t s_read_chunk = std::size_t{64} * 1024U;
} // namespace

Frame_buffer::Frame_buffer()
{
    m_bytes.resize(s_read_chunk);
}

std::pair<std::uint8_t*, std::size_t> Frame_buffer::receive_space()
{
    compact();
    if (m_bytes.size() - m_end < s_read_chunk / 4)
    {
        m_bytes.resize(m_end + s_read_chunk);
        ++m_resizes;
    }
    return {m_bytes.data() + m_end, m_bytes.size() - m_end};
}

std::optional<Frame> Frame_buffer::next_frame()
{
    m_keep_room = false;
    if (m_check != someip::Header_check::kOk || !has_header())
    {
        return std::nullopt;
    }
    const someip::Message_header header = someip::decode_header(m_bytes.data() + m_begin);
    m_check = someip::check_header(header);
    if (m_check != someip::Header_check::kOk)
    {
        return std::nullopt;
    }
    const std::size_t frame = someip::kHeader_size + header.payload_size();
    if (m_end - m_begin < frame)
    {
        // A frame begun but not complete keeps the room made for it, so that a large frame
        // trickling in grows the buffer once.
        m_keep_room = frame >= s_read_chunk;
        if (m_bytes.size() < frame)
        {
            // Move the partial frame to the front and make room for all of it.
            compact();
            m_bytes.resize(frame + s_read_chunk);
            ++m_resizes;
        }
        return std::nullopt;
    }
    const auto begin = m_bytes.begin() + static_cast<std::ptrdiff_t>(m_begin);
    m_begin += frame;
    return Frame{
        header,
        vela::com::runtime::Serialized_payload(std::vector<std::uint8_t>(
            begin + static_cast<std::ptrdiff_t>(someip::kHeader_size), begin + static_cast<std::ptrdiff_t>(frame)))};
}

void Frame_buffer::settle(bool holding) noexcept
{
    compact();
    if (!holding && !m_keep_room && m_bytes.size() > 4 * s_read_chunk && m_end < s_read_chunk)
    {
        m_bytes.resize(s_read_chunk);
        m_bytes.shrink_to_fit();
        ++m_resizes;
    }
}

void Frame_buffer::compact() noexcept
{
    if (m_begin > 0)
    {
        std::memmove(m_bytes.data(), m_bytes.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
}

} // namespace kest::com::internal
