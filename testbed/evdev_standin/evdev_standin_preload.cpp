// Preloaded into a process (LD_PRELOAD) so that FIFOs and regular files can stand in for evdev
// input devices where none can be created: it answers the event-type query EVIOCGBIT(0, len)
// for such descriptors with a bitmap of EV_SYN, EV_KEY and EV_MSC (or the value of
// TARN1_EVDEV_STANDIN_TYPES, e.g. "0x13"), and passes every other ioctl on unchanged. A FIFO
// removed from its folder while open stands for an unplugged device: reading it fails with
// ENODEV, as reading a removed event device does, whatever is still buffered in it.

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using Ioctl_function = int (*)(int, unsigned long, ...);
using Read_function = ssize_t (*)(int, void*, size_t);
using Read_chk_function = ssize_t (*)(int, void*, size_t, size_t);

constexpr unsigned long long s_default_types = (1ULL << EV_SYN) | (1ULL << EV_KEY) | (1ULL << EV_MSC);

/// The next definition of a libc function after this library's own.
template <typename Function> Function next_function(Function& cache, const char* name)
{
    Function next = __atomic_load_n(&cache, __ATOMIC_ACQUIRE);
    if (next == nullptr)
    {
        next = reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
        __atomic_store_n(&cache, next, __ATOMIC_RELEASE);
    }
    return next;
}

/// A stand-in device whose FIFO was unlinked: the device has been removed.
bool is_removed_stand_in(int fd)
{
    struct stat status
    {
    };
    return ::fstat(fd, &status) == 0 && S_ISFIFO(status.st_mode) && status.st_nlink == 0;
}

Ioctl_function next_ioctl()
{
    static Ioctl_function s_next = nullptr;
    return next_function(s_next, "ioctl");
}

bool is_event_type_query(unsigned long request)
{
    return _IOC_DIR(request) == _IOC_READ && _IOC_TYPE(request) == 'E' && _IOC_NR(request) == 0x20 &&
           _IOC_SIZE(request) > 0;
}

bool is_stand_in(int fd)
{
    struct stat status
    {
    };
    return ::fstat(fd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISREG(status.st_mode));
}

unsigned long long configured_types()
{
    // Read on every query so a test can change it; tests do not set it while other threads query.
    // NOLINTNEXTLINE(concurrency-mt-unsafe)
    const char* const text = std::getenv("TARN1_EVDEV_STANDIN_TYPES");
    if (text == nullptr || *text == '\0')
    {
        return s_default_types;
    }
    return std::strtoull(text, nullptr, 0);
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void* const argument = va_arg(arguments, void*);
    va_end(arguments);

    if (is_event_type_query(request) && argument != nullptr && is_stand_in(fd))
    {
        const unsigned long long types = configured_types();
        const std::size_t size = _IOC_SIZE(request);
        auto* const bytes = static_cast<unsigned char*>(argument);
        std::memset(bytes, 0, size);
        const std::size_t filled = size < sizeof types ? size : sizeof types;
        for (std::size_t index = 0; index < filled; ++index)
        {
            bytes[index] = static_cast<unsigned char>(types >> (8 * index));
        }
        return static_cast<int>(filled);
    }

    const Ioctl_function next = next_ioctl();
    if (next == nullptr)
    {
        return -1;
    }
    return next(fd, request, argument);
}

extern "C" ssize_t read(int fd, void* buffer, size_t count)
{
    static Read_function s_next = nullptr;
    if (is_removed_stand_in(fd))
    {
        errno = ENODEV;
        return -1;
    }
    const Read_function next = next_function(s_next, "read");
    if (next == nullptr)
    {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, buffer, count);
}

// Reads of fortified builds arrive here instead of read().
// NOLINTNEXTLINE(bugprone-reserved-identifier): the C library's own name, replaced on purpose.
extern "C" ssize_t __read_chk(int fd, void* buffer, size_t count, size_t buffer_size)
{
    static Read_chk_function s_next = nullptr;
    if (is_removed_stand_in(fd))
    {
        errno = ENODEV;
        return -1;
    }
    const Read_chk_function next = next_function(s_next, "__read_chk");
    if (next == nullptr)
    {
        errno = ENOSYS;
        return -1;
    }
    return next(fd, buffer, count, buffer_size);
}
