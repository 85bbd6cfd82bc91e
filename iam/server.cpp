#include "iam/server.hpp"

#include <sys/socket.h>

namespace vela::iam
{

void create_socket_folder(const std::string& path)
{
    const auto last_slash = path.rfind('/');
    if (last_slash == std::string::npos || last_slash == 0)
    {
        return;
    }
    const std::string folder = path.substr(0, last_slash);
    for (std::size_t next = 0; next != std::string::npos;)
    {
        next = folder.find('/', next + 1);
        const std::string prefix = folder.substr(0, next);
        struct stat info
        {
        };
        if (::stat(prefix.c_str(), &info) == 0)
        {
            if (!S_ISDIR(info.st_mode))
            {
                throw std::system_error(std::make_error_code(std::errc::not_a_directory), "mkdir " + prefix);
            }
            continue;
        }
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST)
        {
            throw std::system_error(errno, std::system_category(), "mkdir " + prefix);
        }
    }
}

std::uint32_t peer_uid(int descriptor) noexcept
{
    ucred credentials{};
    socklen_t size = sizeof(credentials);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof(credentials))
    {
        return unknown_uid;
    }
    return credentials.uid;
}

} // namespace vela::iam
