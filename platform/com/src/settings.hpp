#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace kest::com::internal
{

/// What a process does with the denials of its access checks.
enum class Access_mode
{
    /// A denial, an error answer or no answer refuses the operation.
    kEnforce,
    /// Denials are logged at warning level and the operation goes ahead.
    kAudit,
};

/// The process's middleware settings, read once from the environment.
struct Settings
{
    static constexpr const char* s_default_directory = "/run/tarn1/com";
    static constexpr std::chrono::milliseconds s_default_call_timeout{5000};
    // One of the workers waits for I/O while the others run callbacks, so there are at least two.
    static constexpr std::size_t s_default_workers = 5;
    static constexpr std::size_t s_min_workers = 2;

    // Connections one offered instance keeps at once, in all and per user (root's count only to
    // the total), so that one local user cannot take all of them, nor all descriptors.
    static constexpr std::size_t s_default_max_connections = 256;
    static constexpr std::size_t s_default_max_connections_per_uid = 64;

    // How long one access check may wait for the IAM daemon's answer.
    static constexpr std::chrono::milliseconds s_default_iam_timeout{200};
    static constexpr std::chrono::milliseconds s_max_iam_timeout{10000};

    std::string directory{s_default_directory};
    std::chrono::milliseconds call_timeout{s_default_call_timeout};
    std::size_t workers{s_default_workers};
    std::size_t max_connections{s_default_max_connections};
    std::size_t max_connections_per_uid{s_default_max_connections_per_uid};
    /// The IAM daemon's socket; access control is on when it is set.
    std::string iam_socket;
    Access_mode iam_mode{Access_mode::kEnforce};
    /// The TARN1_COM_IAM_MODE text when it named no mode (enforcing then), for the log.
    std::string iam_mode_unknown;
    std::chrono::milliseconds iam_timeout{s_default_iam_timeout};

    /// TARN1_COM_DIR, TARN1_COM_CALL_TIMEOUT_MS, TARN1_COM_WORKERS, TARN1_COM_MAX_CONNECTIONS,
    /// TARN1_COM_MAX_CONNECTIONS_PER_UID, TARN1_COM_IAM_SOCKET, TARN1_COM_IAM_MODE and
    /// TARN1_COM_IAM_TIMEOUT_MS override the defaults.
    static Settings from_environment();
};

} // namespace kest::com::internal
