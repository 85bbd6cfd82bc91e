#pragma once

#include <cstdint>
#include <vector>

// Bit vectors: bit n is bit (n mod 8) of byte (n div 8), bit 0 the least significant bit of its
// byte. NM user data, CAB patterns and network request patterns all use this numbering. Every
// binary operator works byte-wise over the common prefix of its operands, so vectors of unequal
// lengths never fail.

namespace vela::ap::statemanager
{

using Bit_vector = std::vector<std::uint8_t>;

/// a[i] |= b[i] over the common prefix; a keeps its size and its bytes beyond the prefix.
Bit_vector& operator|=(Bit_vector& a, const Bit_vector& b);

/// a[i] &= b[i] over the common prefix; bytes of a beyond the prefix are kept, not cleared.
Bit_vector& operator&=(Bit_vector& a, const Bit_vector& b);

/// A new vector of the common length holding a[i] & b[i].
Bit_vector operator&(const Bit_vector& a, const Bit_vector& b);

/// A new vector of the common length holding a[i] ^ b[i].
Bit_vector operator^(const Bit_vector& a, const Bit_vector& b);

/// A new vector of a's size holding ~a[i].
Bit_vector operator~(const Bit_vector& a);

} // namespace vela::ap::statemanager
