#include "kest/com/someip/message_header.h"
#include "kest/com/someip/serializer.h"

#include <algorithm>
#include <iterator>

namespace kest::com::someip
{

namespace
{
void put16(std::uint8_t* out, std::uint16_t value)
{
    out[0] = static_cast<std::uint8_t>(value >> 8);
    out[1] = static_cast<std::uint8_t>(value);
}
void put32(std::uint8_t* out, std::uint32_t value)
{
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}
std::uint16_t get16(const std::uint8_t* in)
{
    return static_cast<std::uint16_t>((in[0] << 8) | in[1]);
}
// The byte order mark that opens every UTF-8 string.
constexpr std::uint8_t s_utf8_bom[] = {0xEF, 0xBB, 0xBF};

std::uint32_t get32(const std::uint8_t* in)
{
    return (static_cast<std::uint32_t>(in[0]) << 24) | (static_cast<std::uint32_t>(in[1]) << 16) |
           (static_cast<std::uint32_t>(in[2]) << 8) | in[3];
}
} // namespace

void encode_header(const Message_header& header, std::uint8_t* out)
{
    put16(out, header.service_id);
    put16(out + 2, header.method_id);
    put32(out + 4, header.length);
    put16(out + 8, header.client_id);
    put16(out + 10, header.session_id);
    out[12] = header.protocol_version;
    out[13] = header.interface_version;
    out[14] = static_cast<std::uint8_t>(header.message_type);
    out[15] = header.return_code;
}

Message_header decode_header(const std::uint8_t* in)
{
    Message_header header;
    header.service_id = get16(in);
    header.method_id = get16(in + 2);
    header.length = get32(in + 4);
    header.client_id = get16(in + 8);
    header.session_id = get16(in + 10);
    header.protocol_version = in[12];
    header.interface_version = in[13];
    header.message_type = static_cast<Message_type>(in[14]);
    header.return_code = in[15];
    return header;
}

Header_check check_header(const Message_header& header, std::uint32_t max_payload)
{
    if (header.protocol_version != kProtocol_version)
    {
        return Header_check::kWrongProtocolVersion;
    }
    if (header.length < kLength_offset)
    {
        return Header_check::kLengthTooSmall;
    }
    if (header.length - kLength_offset > max_payload)
    {
        return Header_check::kPayloadTooLarge;
    }
    switch (header.message_type)
    {
    case Message_type::kRequest:
    case Message_type::kRequestNoReturn:
    case Message_type::kNotification:
    case Message_type::kResponse:
    case Message_type::kError:
    case Message_type::kSubscribe:
    case Message_type::kSubscribeAck:
    case Message_type::kUnsubscribe:
        return Header_check::kOk;
    }
    return Header_check::kUnknownMessageType;
}

const char* to_string(Header_check check)
{
    switch (check)
    {
    case Header_check::kOk:
        return "ok";
    case Header_check::kWrongProtocolVersion:
        return "wrong protocol version";
    case Header_check::kLengthTooSmall:
        return "length field below 8";
    case Header_check::kPayloadTooLarge:
        return "payload too large";
    case Header_check::kUnknownMessageType:
        return "unknown message type";
    }
    return "?";
}

void Serializer::write(std::uint16_t value)
{
    std::uint8_t bytes[2];
    put16(bytes, value);
    m_out.insert(m_out.end(), bytes, bytes + 2);
}

void Serializer::write(std::uint32_t value)
{
    std::uint8_t bytes[4];
    put32(bytes, value);
    m_out.insert(m_out.end(), bytes, bytes + 4);
}

void Serializer::write(std::uint64_t value)
{
    write(static_cast<std::uint32_t>(value >> 32));
    write(static_cast<std::uint32_t>(value));
}

void Serializer::write(const std::string& text)
{
    if (text.find('\0') != std::string::npos)
    {
        throw Invalid_argument_exception("a string with a zero byte inside cannot be serialized");
    }
    const std::size_t start = open_length();
    m_out.insert(m_out.end(), std::begin(s_utf8_bom), std::end(s_utf8_bom));
    m_out.insert(m_out.end(), text.begin(), text.end());
    m_out.push_back(0);
    close_length(start);
}

std::size_t Serializer::open_length()
{
    m_out.insert(m_out.end(), 4, 0);
    return m_out.size();
}

void Serializer::close_length(std::size_t start)
{
    const std::size_t length = m_out.size() - start;
    if (length > 0xFFFFFFFFULL)
    {
        throw Invalid_argument_exception("serialized element longer than its 4-byte length field");
    }
    put32(m_out.data() + start - 4, static_cast<std::uint32_t>(length));
}

void Serializer::write(const std::vector<std::uint8_t>& bytes, std::size_t length_field_bytes)
{
    const std::uint64_t size = bytes.size();
    const std::uint64_t limit = length_field_bytes >= 4 ? 0xFFFFFFFFULL : (1ULL << (8 * length_field_bytes)) - 1;
    if (size > limit)
    {
        throw Invalid_argument_exception("Calculated record length does not fit into configured length field");
    }
    for (std::size_t i = length_field_bytes; i > 0; --i)
    {
        m_out.push_back(static_cast<std::uint8_t>(size >> (8 * (i - 1))));
    }
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
}

bool Deserializer::take(std::size_t count, const std::uint8_t*& at)
{
    if (!m_ok || remaining() < count)
    {
        m_ok = false;
        return false;
    }
    at = m_data + m_position;
    m_position += count;
    return true;
}

bool Deserializer::read(std::uint8_t& value)
{
    const std::uint8_t* at = nullptr;
    if (!take(1, at))
    {
        return false;
    }
    value = *at;
    return true;
}

bool Deserializer::read(std::uint16_t& value)
{
    const std::uint8_t* at = nullptr;
    if (!take(2, at))
    {
        return false;
    }
    value = get16(at);
    return true;
}

bool Deserializer::read(std::uint32_t& value)
{
    const std::uint8_t* at = nullptr;
    if (!take(4, at))
    {
        return false;
    }
    value = get32(at);
    return true;
}

bool Deserializer::read(std::uint64_t& value)
{
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    if (!read(high) || !read(low))
    {
        return false;
    }
    value = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
}

bool Deserializer::read(std::string& text)
{
    std::uint32_t length = 0;
    const std::uint8_t* content = nullptr;
    if (!read(length) || length > remaining() || !take(length, content))
    {
        m_ok = false;
        return false;
    }
    constexpr std::size_t bom_size = sizeof s_utf8_bom;
    if (length < bom_size + 1 || !std::equal(content, content + bom_size, s_utf8_bom) || content[length - 1] != 0 ||
        std::find(content + bom_size, content + length - 1, 0) != content + length - 1)
    {
        m_ok = false;
        return false;
    }
    text.assign(reinterpret_cast<const char*>(content + bom_size), length - bom_size - 1);
    return true;
}

bool Deserializer::read(std::vector<std::uint8_t>& bytes, std::size_t length_field_bytes)
{
    const std::uint8_t* at = nullptr;
    if (length_field_bytes == 0 || length_field_bytes > 4 || !take(length_field_bytes, at))
    {
        m_ok = false;
        return false;
    }
    std::uint64_t size = 0;
    for (std::size_t i = 0; i < length_field_bytes; ++i)
    {
        size = (size << 8) | at[i];
    }
    const std::uint8_t* content = nullptr;
    if (size > remaining() || !take(static_cast<std::size_t>(size), content))
    {
        m_ok = false;
        return false;
    }
    bytes.assign(content, content + size);
    return true;
}

} // namespace kest::com::someip
