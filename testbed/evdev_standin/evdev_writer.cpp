#include "testbed/evdev_standin/evdev_writer.hpp"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace tarn1::evdev_standin
{

namespace
{

constexpr std::uint16_t s_ev_syn = 0;
constexpr std::uint16_t s_ev_key = 1;
// EVIOCGBIT(0, 8)
constexpr unsigned long s_eviocgbit_types = 0x80084520UL;

} // namespace

bool make_device(const std::string& path)
{
    return ::mkfifo(path.c_str(), 0600) == 0;
}

bool preload_active()
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
    {
        return false;
    }
    unsigned char bitmap[8] = {};
    const bool answered = ::ioctl(ends[0], s_eviocgbit_types, bitmap) >= 0 && (bitmap[0] & 0x2) != 0;
    ::close(ends[0]);
    ::close(ends[1]);
    return answered;
}

int key_code(const std::string& name)
{
    std::string upper;
    for (const char letter : name)
    {
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
    }
    if (upper == "R")
    {
        return keys::s_r;
    }
    if (upper == "P")
    {
        return keys::s_p;
    }
    if (upper == "S")
    {
        return keys::s_s;
    }
    if (upper == "N")
    {
        return keys::s_n;
    }
    if (upper == "POWER")
    {
        return keys::s_power;
    }
    if (upper.empty() || upper.size() > 5 || upper.find_first_not_of("0123456789") != std::string::npos)
    {
        return -1;
    }
    const long value = std::strtol(upper.c_str(), nullptr, 10);
    return value <= 0xFFFF ? static_cast<int>(value) : -1;
}

Evdev_writer::~Evdev_writer()
{
    close();
}

Evdev_writer::Evdev_writer(Evdev_writer&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

Evdev_writer& Evdev_writer::operator=(Evdev_writer&& other) noexcept
{
    if (this != &other)
    {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool Evdev_writer::open(const std::string& path, std::chrono::milliseconds timeout)
{
    close();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        // Non-blocking, so a FIFO without reader fails at once (ENXIO) instead of waiting.
        m_fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd >= 0)
        {
            // Whole records from here on: a full pipe makes the writer wait, not tear a record.
            const int flags = ::fcntl(m_fd, F_GETFL);
            if (flags >= 0)
            {
                (void)::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
            }
            return true;
        }
        if ((errno != ENXIO && errno != ENOENT) || std::chrono::steady_clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds{10});
    }
}

bool Evdev_writer::write_event(std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    if (m_fd < 0)
    {
        return false;
    }
    unsigned char record[24] = {};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const auto seconds = static_cast<std::uint64_t>(now.tv_sec);
    const auto micros = static_cast<std::uint64_t>(now.tv_nsec / 1000);
    const auto raw_value = static_cast<std::uint32_t>(value);
    for (std::size_t index = 0; index < 8; ++index)
    {
        record[index] = static_cast<unsigned char>(seconds >> (8 * index));
        record[8 + index] = static_cast<unsigned char>(micros >> (8 * index));
    }
    record[16] = static_cast<unsigned char>(type);
    record[17] = static_cast<unsigned char>(type >> 8);
    record[18] = static_cast<unsigned char>(code);
    record[19] = static_cast<unsigned char>(code >> 8);
    for (std::size_t index = 0; index < 4; ++index)
    {
        record[20 + index] = static_cast<unsigned char>(raw_value >> (8 * index));
    }
    // A reader that has gone (the daemon ended, after the power key say) is a failed write, not the
    // end of this process: SIGPIPE is held back for this thread while writing, and one raised here
    // is taken away before it is let through again.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigset_t previous;
    ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
    ssize_t written = -1;
    do
    {
        written = ::write(m_fd, record, sizeof record);
    } while (written < 0 && errno == EINTR);
    if (written < 0 && errno == EPIPE && sigismember(&previous, SIGPIPE) == 0)
    {
        const timespec no_wait{};
        ::sigtimedwait(&pipe_signal, nullptr, &no_wait);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return written == static_cast<ssize_t>(sizeof record);
}

bool Evdev_writer::press(std::uint16_t key)
{
    return write_event(s_ev_key, key, 1) && write_event(s_ev_syn, 0, 0) && write_event(s_ev_key, key, 0) &&
           write_event(s_ev_syn, 0, 0);
}

void Evdev_writer::close()
{
    if (m_fd >= 0)
    {
        ::close(m_fd);
        m_fd = -1;
    }
}

} // namespace tarn1::evdev_standin
