#pragma once

#include "kest/com/cpp_binding/service_finder.h"

#include <chrono>
#include <optional>
#include <string>

namespace tarn1::testing
{

/// Searches for the instance and returns its handle once discovery lists it, or nothing after timeout.
std::optional<kest::com::cpp_binding::Service_handle> wait_for_instance(kest::com::cpp_binding::Service_finder& finder,
                                                                        const std::string& service,
                                                                        const std::string& instance,
                                                                        std::chrono::milliseconds timeout);

} // namespace tarn1::testing
