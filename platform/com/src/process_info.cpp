#include "process_info.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace kest::com::internal
{

std::uint64_t process_start_time(std::int32_t pid)
{
    if (pid <= 0)
    {
        return 0;
    }
    char path[32];
    (void)std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return 0;
    }
    // The command name is at most 16 bytes; the whole line fits with room to spare.
    char line[1024];
    ssize_t got = -1;
    do
    {
        got = ::read(fd, line, sizeof line - 1);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    if (got <= 0)
    {
        return 0;
    }
    line[got] = '\0';
    // The command name (field 2) may hold blanks and parentheses; fields resume after the last ')'.
    const char* field = std::strrchr(line, ')');
    if (field == nullptr || field[1] != ' ')
    {
        return 0;
    }
    field += 2;
    // Field 3, the state: a zombie (or a dead process) has ended although its pid still answers.
    if (*field == 'Z' || *field == 'X' || *field == '\0')
    {
        return 0;
    }
    for (int index = 3; index < 22; ++index)
    {
        field = std::strchr(field, ' ');
        if (field == nullptr)
        {
            return 0;
        }
        ++field;
    }
    char* end = nullptr;
    const unsigned long long start = std::strtoull(field, &end, 10);
    return end == field ? 0 : static_cast<std::uint64_t>(start);
}

} // namespace kest::com::internal
