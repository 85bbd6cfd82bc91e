#include "client_state_notifier/type_length_value.hpp"

#include "client_state_notifier/socket.hpp"

#include <stdexcept>

namespace utilities
{

namespace
{

const char* const s_end_of_data = "reached end of data while parsing";

} // namespace

Type_length_value::Type_length_value(Payload_type type, std::vector<std::uint8_t> value)
    : m_type(type)
    , m_value(std::move(value))
{
}

Type_length_value::Type_length_value(const std::string& value)
    : m_type(Payload_type::string_type)
    , m_value(value.begin(), value.end())
{
}

Type_length_value::Type_length_value(std::uint32_t value)
    : m_type(Payload_type::uint32_type)
{
    m_value.reserve(4);
    append_uint32(m_value, value);
}

std::string Type_length_value::get_string() const
{
    return std::string(m_value.begin(), m_value.end());
}

std::uint32_t Type_length_value::get_uint32() const
{
    if (m_value.size() < 4)
    {
        throw std::out_of_range(s_end_of_data);
    }
    return read_uint32(m_value.data());
}

void append_uint32(Bytes& bytes, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
    {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void append_uint64(Bytes& bytes, std::uint64_t value)
{
    for (int shift = 0; shift < 64; shift += 8)
    {
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::uint32_t read_uint32(const std::uint8_t* data) noexcept
{
    std::uint32_t value = 0;
    for (int index = 3; index >= 0; --index)
    {
        value = (value << 8) | data[index];
    }
    return value;
}

std::uint64_t read_uint64(const std::uint8_t* data) noexcept
{
    std::uint64_t value = 0;
    for (int index = 7; index >= 0; --index)
    {
        value = (value << 8) | data[index];
    }
    return value;
}

void write_value(Bytes& bytes, const Bytes& value)
{
    bytes.insert(bytes.end(), value.begin(), value.end());
}

namespace
{

void append_element(Bytes& bytes, const Type_length_value& element)
{
    append_uint32(bytes, static_cast<std::uint32_t>(element.get_type()));
    append_uint64(bytes, element.get_size());
    write_value(bytes, element.get_value());
}

} // namespace

Bytes serialize(const Type_length_value& element)
{
    Bytes bytes;
    bytes.reserve(element.get_total_size());
    append_element(bytes, element);
    return bytes;
}

Bytes serialize(const Elements& elements)
{
    std::size_t total = 0;
    for (const auto& element : elements)
    {
        total += element.get_total_size();
    }
    Bytes bytes;
    bytes.reserve(total + Type_length_value::s_header_size);
    append_uint32(bytes, static_cast<std::uint32_t>(Payload_type::vector_type));
    append_uint64(bytes, total);
    for (const auto& element : elements)
    {
        append_element(bytes, element);
    }
    return bytes;
}

void advance_with_check(Byte_iterator& it, std::size_t count, Byte_iterator end)
{
    if (static_cast<std::size_t>(end - it) < count)
    {
        throw std::out_of_range(s_end_of_data);
    }
    it += static_cast<std::ptrdiff_t>(count);
}

Type_length_value deserialize_element(Payload_type type, std::uint64_t length, Byte_iterator& it, Byte_iterator end)
{
    auto begin = it;
    advance_with_check(it, length, end);
    return Type_length_value(type, Bytes(begin, it));
}

Elements deserialize_vector(std::uint64_t total_length, Byte_iterator& it, Byte_iterator end)
{
    auto check = it;
    advance_with_check(check, total_length, end);
    const auto frame_end = check;
    Elements elements;
    while (it < frame_end)
    {
        auto header = it;
        advance_with_check(it, 4, frame_end);
        const auto type = static_cast<Payload_type>(read_uint32(&*header));
        header = it;
        advance_with_check(it, 8, frame_end);
        const auto length = read_uint64(&*header);
        elements.push_back(deserialize_element(type, length, it, frame_end));
    }
    return elements;
}

void send_type_length_values(const Socket& socket, const Elements& elements)
{
    const auto bytes = serialize(elements);
    socket.sendl(bytes.data(), bytes.size(), 0);
}

Elements receive_type_length_values(const Socket& socket)
{
    std::uint8_t header[Type_length_value::s_header_size];
    socket.recvl(header, sizeof(header), 0);
    const auto length = read_uint64(header + 4);
    if (length > get_max_frame_length())
    {
        throw std::length_error("frame length " + std::to_string(length) + " above the bound of " +
                                std::to_string(get_max_frame_length()) + " bytes");
    }
    Bytes body(static_cast<std::size_t>(length));
    socket.recvl(body.data(), body.size(), 0);
    auto it = body.cbegin();
    return deserialize_vector(length, it, body.end());
}

} // namespace utilities
