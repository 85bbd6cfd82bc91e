#include "client_state_notifier/utilities.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <system_error>

namespace utilities
{

std::string remove_quotes(const std::string& text)
{
    const auto first = text.find_first_not_of('"');
    if (first == std::string::npos)
    {
        return std::string();
    }
    const auto last = text.find_last_not_of('"');
    return text.substr(first, last - first + 1);
}

std::string log_text(const std::string& text)
{
    constexpr std::size_t s_max_bytes = 128;
    const auto shown = std::min(text.size(), s_max_bytes);
    const auto is_control = [](char character)
    {
        const auto byte = static_cast<unsigned char>(character);
        return byte < 0x20 || byte == 0x7F;
    };
    if (shown == text.size() && std::none_of(text.begin(), text.end(), is_control))
    {
        return text;
    }
    static const char s_hex[] = "0123456789abcdef";
    std::string result;
    result.reserve(shown + 32);
    for (std::size_t index = 0; index < shown; ++index)
    {
        const auto character = text[index];
        if (is_control(character))
        {
            const auto byte = static_cast<unsigned char>(character);
            result += "\\x";
            result += s_hex[byte >> 4U];
            result += s_hex[byte & 0x0FU];
        }
        else
        {
            result += character;
        }
    }
    if (shown < text.size())
    {
        result += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return result;
}

const std::string& get_socket_path()
{
    static const std::string path = remove_quotes("\"/var\"") + "/run/adaptive/ara_SM/ara_SM.socket";
    return path;
}

const std::string& get_protocol_version_one()
{
    static const std::string text = "component_client_v1";
    return text;
}

const std::string& get_state_change_request_added()
{
    static const std::string text = "state_change_request_added";
    return text;
}

const std::string& get_terminate_command()
{
    static const std::string text = "terminate";
    return text;
}

const std::string& get_unknown_state()
{
    static const std::string text = "unknown";
    return text;
}

const std::string& get_default_non_connected_state()
{
    static const std::string text = "kOn";
    return text;
}

Elements create_terminate_command()
{
    return Elements{Type_length_value(get_terminate_command())};
}

bool file_exists(const std::string& path)
{
    if (path.empty())
    {
        return false;
    }
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0;
}

std::string get_containing_directory(const std::string& path)
{
    auto end = path.find_last_not_of('/');
    if (end == std::string::npos)
    {
        return std::string();
    }
    const auto last_slash = path.rfind('/', end);
    if (last_slash == std::string::npos)
    {
        return std::string();
    }
    const auto before_run = path.find_last_not_of('/', last_slash);
    const auto first_of_run = (before_run == std::string::npos) ? 0 : before_run + 1;
    return path.substr(0, first_of_run + 1);
}

void delete_file(const std::string& path)
{
    if (!file_exists(path))
    {
        return;
    }
    if (std::remove(path.c_str()) != 0)
    {
        throw std::system_error(errno, std::system_category(), "remove('" + path + "')");
    }
}

void make_dir(const std::string& path, mode_t mode)
{
    if (::mkdir(path.c_str(), mode) != 0)
    {
        throw std::system_error(errno, std::system_category(), "mkdir('" + path + "')");
    }
}

void make_dirs(const std::string& path, mode_t mode)
{
    for (auto slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
    {
        const auto prefix = path.substr(0, slash);
        if (!file_exists(prefix))
        {
            make_dir(prefix, mode);
        }
    }
    if (!file_exists(path))
    {
        make_dir(path, mode);
    }
}

Deleter::Deleter(std::string path, bool may_exist)
    : m_path(std::move(path))
{
    if (!may_exist && file_exists(m_path))
    {
        ara::log::LogStream(ara::log::LogLevel::kError, get_logger())
            << "file not supposed to exist, trying to delete it: " << m_path;
        delete_file(m_path);
    }
}

Deleter::Deleter(Deleter&& other) noexcept
    : m_path(std::move(other.m_path))
{
    other.m_path.clear();
}

Deleter::~Deleter()
{
    try
    {
        delete_file(m_path);
    }
    catch (const std::exception& error)
    {
        ara::log::LogStream(ara::log::LogLevel::kError, get_logger())
            << "deleting file " << m_path << " failed with error " << error.what();
    }
}

Deleter create_tmp_dir()
{
    std::string pattern = "/tmp/state_notification_lib_test.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
    {
        throw std::system_error(errno, std::system_category());
    }
    return Deleter(pattern, true);
}

const std::string& get_static_tmp_dir()
{
    static const Deleter directory = create_tmp_dir();
    return directory.get_path();
}

ara::log::Logger& get_logger()
{
    static ara::log::Logger& logger = ara::log::CreateLogger("SNCC", "state notification lib and client states logger");
    return logger;
}

} // namespace utilities
