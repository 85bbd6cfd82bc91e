#include "statemanager/nm/bit_vector.hpp"

#include <algorithm>
#include <cstddef>

namespace vela::ap::statemanager
{

Bit_vector& operator|=(Bit_vector& a, const Bit_vector& b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
    {
        a[i] = static_cast<std::uint8_t>(a[i] | b[i]);
    }
    return a;
}

Bit_vector& operator&=(Bit_vector& a, const Bit_vector& b)
{
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
    {
        a[i] = static_cast<std::uint8_t>(a[i] & b[i]);
    }
    return a;
}

Bit_vector operator&(const Bit_vector& a, const Bit_vector& b)
{
    Bit_vector result(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < result.size(); ++i)
    {
        result[i] = static_cast<std::uint8_t>(a[i] & b[i]);
    }
    return result;
}

Bit_vector operator^(const Bit_vector& a, const Bit_vector& b)
{
    Bit_vector result(std::min(a.size(), b.size()));
    for (std::size_t i = 0; i < result.size(); ++i)
    {
        result[i] = static_cast<std::uint8_t>(a[i] ^ b[i]);
    }
    return result;
}

Bit_vector operator~(const Bit_vector& a)
{
    Bit_vector result(a.size());
    for (std::size_t i = 0; i < result.size(); ++i)
    {
        result[i] = static_cast<std::uint8_t>(~a[i]);
    }
    return result;
}

} // namespace vela::ap::statemanager
