#include "statemanager/fast_shutdown/fast_shutdown_handler.hpp"

#include "ara/log/logging.h"
#include "tarn1/os_error/error_text.hpp"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <unistd.h>
#include <utility>

namespace vela::ap::statemanager::fast_shutdown
{

Fast_shutdown_handler::Fast_shutdown_handler(std::string path)
    : m_path(std::move(path))
{
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
    {
        const int error = errno;
        ara::log::LogError() << "Failed to open file:" << m_path << " Error: " << tarn1::os_error::error_text(error);
        return;
    }
    m_usable = true;
}

Fast_shutdown_handler::~Fast_shutdown_handler()
{
    if (m_usable && ::close(m_fd) != 0)
    {
        const int error = errno;
        ara::log::LogError() << "Failed to close file: PATH: " << m_path
                             << " Error: " << tarn1::os_error::error_text(error);
    }
}

bool Fast_shutdown_handler::is_possible() const
{
    return m_usable;
}

void Fast_shutdown_handler::process_lookup() const
{
    ara::log::LogInfo() << "Lookup for PM daemon PID";
    write_command("lookup pmx_per_daemon\n");
}

void Fast_shutdown_handler::start_fast_shutdown(std::chrono::milliseconds timeout) const
{
    if (!is_possible())
    {
        return;
    }
    shutdown_pm();
    call_exit_app(timeout);
}

void Fast_shutdown_handler::shutdown_pm() const
{
    ara::log::LogInfo() << "Shutting down PM daemon";
    write_command("terminate\n");
}

void Fast_shutdown_handler::call_exit_app(std::chrono::milliseconds timeout) const
{
    ara::log::LogInfo() << "Starting ExitApp";
    write_command("poweroff " + std::to_string(static_cast<long>(timeout.count())) + "\n");
}

void Fast_shutdown_handler::write_command(const std::string& command) const
{
    if (!m_usable)
    {
        ara::log::LogError() << "File descriptor of PowerOFF not valid";
        return;
    }
    write_info(write_once(command.data(), command.size()), command);
}

void Fast_shutdown_handler::write_info(ssize_t written, const std::string& command) const
{
    if (written < 0)
    {
        const int error = errno;
        ara::log::LogError() << "Failed to write command: " << command
                             << " Error: " << tarn1::os_error::error_text(error);
        return;
    }
    const auto length = static_cast<std::size_t>(written);
    if (length >= command.size())
    {
        ara::log::LogVerbose() << "Command send: " << command;
        return;
    }
    const std::string remaining = command.substr(length);
    ara::log::LogWarn() << "Only part of command written: " << command.substr(0, length)
                        << "Try to write remaining command: " << remaining;
    const ssize_t completed = write_once(remaining.data(), remaining.size());
    if (completed < 0)
    {
        const int error = errno;
        ara::log::LogError() << "Failed to write command: " << remaining
                             << " Error: " << tarn1::os_error::error_text(error);
    }
    else if (static_cast<std::size_t>(completed) < remaining.size())
    {
        ara::log::LogError() << "Failed to write command: " << remaining.substr(static_cast<std::size_t>(completed))
                             << " Error: "
                             << "short write";
    }
}

ssize_t Fast_shutdown_handler::write_once(const char* data, std::size_t size) const
{
    if (m_fd < 0)
    {
        errno = EBADF;
        return -1;
    }
    // SIGPIPE stays blocked on this thread for the one write; a SIGPIPE that the write raises is
    // taken back before the old mask returns, one that was pending before is left alone.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    sigset_t pending_before;
    sigemptyset(&pending_before);
    sigpending(&pending_before);
    sigset_t previous;
    const bool masked = ::pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous) == 0;

    const ssize_t written = ::write(m_fd, data, size);
    const int error = errno;

    if (masked)
    {
        if (written < 0 && error == EPIPE && sigismember(&pending_before, SIGPIPE) == 0)
        {
            const timespec no_wait{0, 0};
            (void)::sigtimedwait(&pipe_signal, nullptr, &no_wait);
        }
        (void)::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    errno = error;
    return written;
}

} // namespace vela::ap::statemanager::fast_shutdown
