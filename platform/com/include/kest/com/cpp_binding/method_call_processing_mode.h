#pragma once

#include <cstdint>

namespace kest::com::cpp_binding
{

/// How incoming method calls reach a skeleton's handlers.
enum class Method_call_processing_mode : std::uint8_t
{
    /// The application fetches calls itself; not offered by this middleware.
    kPoll = 0,
    /// Each call is handed to the worker threads as it arrives (serialized per skeleton by its strand).
    kEvent = 1,
    /// Like kEvent; calls of one skeleton never overlap (which kEvent also guarantees here).
    kEventSingleThread = 2,
};

} // namespace kest::com::cpp_binding
