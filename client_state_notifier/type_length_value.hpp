#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace utilities
{

class Socket;

/// Type of one element on the wire, stored as an unsigned 32-bit value.
enum class Payload_type : std::uint32_t
{
    string_type = 0,
    uint32_type = 1,
    vector_type = 2
};

/// One element of a frame: a type and its value bytes.
class Type_length_value
{
  public:
    Type_length_value(Payload_type type, std::vector<std::uint8_t> value);
    explicit Type_length_value(const std::string& value);
    explicit Type_length_value(std::uint32_t value);

    Payload_type get_type() const noexcept { return m_type; }
    std::size_t get_size() const noexcept { return m_value.size(); }
    const std::vector<std::uint8_t>& get_value() const noexcept { return m_value; }
    /// The serialized size: 4 bytes type, 8 bytes length, then the value.
    std::size_t get_total_size() const noexcept { return m_value.size() + s_header_size; }
    /// The value bytes as text, whatever the type.
    std::string get_string() const;
    /// The first 4 value bytes read little-endian, whatever the type; throws std::out_of_range
    /// "reached end of data while parsing" when there are fewer than 4.
    std::uint32_t get_uint32() const;

    static constexpr std::size_t s_header_size = 12;

  private:
    Payload_type m_type;
    std::vector<std::uint8_t> m_value;
};

using Bytes = std::vector<std::uint8_t>;
using Elements = std::vector<Type_length_value>;
using Byte_iterator = Bytes::const_iterator;

/// The bytes of one element.
Bytes serialize(const Type_length_value& element);
/// One whole frame: header of type vector_type and length N, then the elements.
Bytes serialize(const Elements& elements);
/// Appends value to bytes.
void write_value(Bytes& bytes, const Bytes& value);

/// Advances it by count; throws std::out_of_range "reached end of data while parsing" when the
/// new position would be after end.
void advance_with_check(Byte_iterator& it, std::size_t count, Byte_iterator end);
/// Reads one element of the given type and value length at it, advancing it past the value.
Type_length_value deserialize_element(Payload_type type, std::uint64_t length, Byte_iterator& it, Byte_iterator end);
/// Reads the elements of a frame body of total_length bytes starting at it.
Elements deserialize_vector(std::uint64_t total_length, Byte_iterator& it, Byte_iterator end);

/// Sends one frame with a single send call.
void send_type_length_values(const Socket& socket, const Elements& elements);
/// Reads one whole frame (blocking) and gives its elements. The frame type is not checked.
/// A declared length above the frame bound (get_max_frame_length) throws std::length_error
/// before anything is allocated.
Elements receive_type_length_values(const Socket& socket);

/// Largest frame body the library accepts from a peer. Real frames are a few dozen bytes.
constexpr std::uint64_t get_max_frame_length() noexcept
{
    return std::uint64_t{64} * 1024U;
}

/// Little-endian helpers shared by the framing code.
void append_uint32(Bytes& bytes, std::uint32_t value);
void append_uint64(Bytes& bytes, std::uint64_t value);
std::uint32_t read_uint32(const std::uint8_t* data) noexcept;
std::uint64_t read_uint64(const std::uint8_t* data) noexcept;

} // namespace utilities
