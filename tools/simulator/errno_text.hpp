#pragma once

#include <cerrno>
#include <string>
#include <system_error>

namespace tarn1::simulator
{

/// "context: <text of errno>", for the reason of a failed system call; call it right after the call.
inline std::string errno_text(const std::string& context)
{
    return context + ": " + std::error_code(errno, std::system_category()).message();
}

} // namespace tarn1::simulator
