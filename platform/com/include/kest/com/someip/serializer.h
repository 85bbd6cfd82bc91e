#pragma once

#include "kest/com/exceptions.h"
#include "vela/com/runtime/types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace kest::com::someip
{

/// Appends SOME/IP-serialized values (big-endian) to a byte vector.
class Serializer
{
  public:
    explicit Serializer(std::vector<std::uint8_t>& out)
        : m_out(out)
    {
    }

    void write(std::uint8_t value) { m_out.push_back(value); }
    void write(std::uint16_t value);
    void write(std::uint32_t value);
    /// A byte vector: a length field of length_field_bytes (1, 2 or 4) holding the byte count, then the
    /// bytes. Throws Invalid_argument_exception when the count does not fit the length field.
    void write(const std::vector<std::uint8_t>& bytes, std::size_t length_field_bytes = 4);

  private:
    std::vector<std::uint8_t>& m_out;
};

/// Reads SOME/IP-serialized values; every read checks the remaining bytes and fails (returns false,
/// leaves ok() false) rather than reading past the end.
class Deserializer
{
  public:
    Deserializer(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    explicit Deserializer(const vela::com::runtime::Serialized_payload& payload)
        : Deserializer(payload.data(), payload.size())
    {
    }

    bool read(std::uint8_t& value);
    bool read(std::uint16_t& value);
    bool read(std::uint32_t& value);
    bool read(std::vector<std::uint8_t>& bytes, std::size_t length_field_bytes = 4);

    bool ok() const noexcept { return m_ok; }
    std::size_t remaining() const noexcept { return m_size - m_position; }

  private:
    bool take(std::size_t count, const std::uint8_t*& at);

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position{0};
    bool m_ok{true};
};

/// An argument list as one payload, arguments in order.
template <typename... Args> vela::com::runtime::Serialized_payload serialize_arguments(const Args&... args)
{
    vela::com::runtime::Serialized_payload payload;
    Serializer serializer(payload.buffer());
    (serializer.write(args), ...);
    return payload;
}

/// Decodes an argument list; false when the payload is too short or a length field points beyond it.
/// Trailing bytes are tolerated (a newer peer may append arguments).
template <typename... Args>
bool deserialize_arguments(const vela::com::runtime::Serialized_payload& payload, Args&... args)
{
    Deserializer deserializer(payload);
    return (deserializer.read(args) && ... && true);
}

} // namespace kest::com::someip
