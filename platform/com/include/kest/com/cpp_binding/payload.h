#pragma once

#include "vela/com/runtime/types.h"

#include <cstddef>

namespace kest::com::cpp_binding
{

/// A fresh shared payload of size zeroed bytes (size 0: an empty one to append to).
inline vela::com::runtime::Serialized_payload get_shared_payload(std::size_t size)
{
    return vela::com::runtime::Serialized_payload(std::vector<std::uint8_t>(size, 0));
}

} // namespace kest::com::cpp_binding
