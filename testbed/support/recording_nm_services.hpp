#pragma once

// The UDP NM side as the helper programs of the tests play it: the recording NM services of
// testbed/nm_standin, with each call reported on standard output as one line. Header-only; each
// helper program includes it and links tarn1::nm_standin.

#include "testbed/nm_standin/recording_nm_services.hpp"

#include <cstdint>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

namespace tarn1::testing
{

using Bytes = nm_standin::Bytes;

/// One line on standard output; lines of the middleware's workers and the command loop never mix.
inline void report(const std::string& line)
{
    static std::mutex output_mutex;
    std::lock_guard<std::mutex> lock(output_mutex);
    std::cout << line << std::endl;
}

/// The reverse of nm_standin::hex(); a trailing odd digit is ignored.
inline Bytes from_hex(const std::string& digits)
{
    Bytes value;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    {
        value.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return value;
}

/// Both NM services of one instance, reporting on standard output and answering as answers says.
struct Recording_nm_services
{
    explicit Recording_nm_services(const std::string& instance)
        : network_state(instance, report, &answers)
        , user_data(instance, report, &answers)
    {
    }
    // First in, last out: calls it still holds are answered only after both services are withdrawn.
    nm_standin::Answer_policy answers;
    nm_standin::Recording_network_state network_state;
    nm_standin::Recording_user_data user_data;
};

} // namespace tarn1::testing
