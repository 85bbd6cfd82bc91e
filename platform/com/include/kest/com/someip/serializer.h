#pragma once

#include "kest/com/exceptions.h"
#include "vela/com/runtime/types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
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
    void write(std::uint64_t value);
    /// A byte vector: a length field of length_field_bytes (1, 2 or 4) holding the byte count, then the
    /// bytes. Throws Invalid_argument_exception when the count does not fit the length field.
    void write(const std::vector<std::uint8_t>& bytes, std::size_t length_field_bytes = 4);
    /// A UTF-8 string: a 4-byte length (of what follows), the byte order mark EF BB BF, the text and a
    /// terminating zero byte. Throws Invalid_argument_exception when the text holds a zero byte.
    void write(const std::string& text);

    /// A dynamic array of anything but bytes: a 4-byte length (bytes of all elements), then each
    /// element as write() writes it.
    template <typename T, typename = std::enable_if_t<!std::is_same_v<T, std::uint8_t>>>
    void write(const std::vector<T>& items)
    {
        const std::size_t start = open_length();
        for (const auto& item : items)
        {
            write(item);
        }
        close_length(start);
    }

    /// A struct: its members in order, without a length field, through the function
    /// serialize(Serializer&, const T&) that the struct's namespace provides.
    template <typename T, typename = decltype(serialize(std::declval<Serializer&>(), std::declval<const T&>()))>
    void write(const T& value)
    {
        serialize(*this, value);
    }

  private:
    /// Reserves a 4-byte length field; returns where its content starts.
    std::size_t open_length();
    /// Fills the length field reserved by open_length() with the bytes written since.
    void close_length(std::size_t start);

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
    bool read(std::uint64_t& value);
    bool read(std::vector<std::uint8_t>& bytes, std::size_t length_field_bytes = 4);
    /// A UTF-8 string as Serializer writes it; refused without the byte order mark or the terminating
    /// zero byte, or with a zero byte inside the text.
    bool read(std::string& text);

    /// A dynamic array: the elements must fill its length exactly, and each takes at least one byte,
    /// so a peer cannot make the reader loop or allocate beyond what the payload holds.
    template <typename T, typename = std::enable_if_t<!std::is_same_v<T, std::uint8_t>>>
    bool read(std::vector<T>& items)
    {
        std::uint32_t length = 0;
        const std::uint8_t* content = nullptr;
        if (!read(length) || length > remaining() || !take(length, content))
        {
            m_ok = false;
            return false;
        }
        Deserializer elements(content, length);
        items.clear();
        while (elements.remaining() > 0)
        {
            const std::size_t before = elements.remaining();
            T item{};
            if (!elements.read(item) || elements.remaining() == before)
            {
                m_ok = false;
                return false;
            }
            items.push_back(std::move(item));
        }
        return true;
    }

    /// A struct, through the function deserialize(Deserializer&, T&) of the struct's namespace, which
    /// returns false when a member cannot be read or is out of its range.
    template <typename T, typename = decltype(deserialize(std::declval<Deserializer&>(), std::declval<T&>()))>
    bool read(T& value)
    {
        if (!m_ok || !deserialize(*this, value))
        {
            m_ok = false;
            return false;
        }
        return true;
    }

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
