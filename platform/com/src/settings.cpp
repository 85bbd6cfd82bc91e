#include "settings.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace kest::com::internal
{

namespace
{
std::uint64_t number_from_environment(const char* name, std::uint64_t fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0')
    {
        return fallback;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0)
    {
        return fallback;
    }
    return value;
}
} // namespace

Settings Settings::from_environment()
{
    Settings settings;
    if (const char* directory = std::getenv("TARN1_COM_DIR"); directory != nullptr && *directory != '\0')
    {
        settings.directory = directory;
        while (settings.directory.size() > 1 && settings.directory.back() == '/')
        {
            settings.directory.pop_back();
        }
    }
    settings.call_timeout = std::chrono::milliseconds(number_from_environment(
        "TARN1_COM_CALL_TIMEOUT_MS", static_cast<std::uint64_t>(s_default_call_timeout.count())));
    settings.workers = static_cast<std::size_t>(
        std::clamp<std::uint64_t>(number_from_environment("TARN1_COM_WORKERS", s_default_workers), s_min_workers, 64));
    settings.max_connections =
        static_cast<std::size_t>(number_from_environment("TARN1_COM_MAX_CONNECTIONS", s_default_max_connections));
    settings.max_connections_per_uid = static_cast<std::size_t>(
        number_from_environment("TARN1_COM_MAX_CONNECTIONS_PER_UID", s_default_max_connections_per_uid));
    if (const char* socket = std::getenv("TARN1_COM_IAM_SOCKET"); socket != nullptr && *socket != '\0')
    {
        settings.iam_socket = socket;
    }
    if (const char* mode = std::getenv("TARN1_COM_IAM_MODE"); mode != nullptr && *mode != '\0')
    {
        const std::string text = mode;
        if (text == "audit")
        {
            settings.iam_mode = Access_mode::kAudit;
        }
        else if (text != "enforce")
        {
            // A mistyped mode must not open what enforcing would keep shut.
            settings.iam_mode_unknown = text;
        }
    }
    settings.iam_timeout = std::chrono::milliseconds(std::min<std::uint64_t>(
        number_from_environment("TARN1_COM_IAM_TIMEOUT_MS", static_cast<std::uint64_t>(s_default_iam_timeout.count())),
        static_cast<std::uint64_t>(s_max_iam_timeout.count())));
    return settings;
}

} // namespace kest::com::internal
