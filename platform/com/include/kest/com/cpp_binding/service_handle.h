#pragma once

#include "vela/com/runtime/types.h"

#include <cstdint>
#include <string>

namespace kest::com::cpp_binding
{

/// One offered instance as discovery sees it: what a proxy connects to.
struct Service_handle
{
    vela::com::runtime::Service_id service_id;
    vela::com::runtime::Instance_id instance_id;
    /// Path of the provider's unix stream socket for this instance.
    std::string endpoint;
    /// The providing process and its start time (clock ticks after boot), to tell a reused pid apart.
    std::int32_t pid{0};
    std::uint64_t start_time{0};

    bool operator==(const Service_handle& other) const
    {
        return service_id == other.service_id && instance_id == other.instance_id && endpoint == other.endpoint &&
               pid == other.pid && start_time == other.start_time;
    }
    bool operator!=(const Service_handle& other) const { return !(*this == other); }
};

} // namespace kest::com::cpp_binding
