#include "iam/signal_handler.hpp"

#include <asio/buffer.hpp>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace vela::iam
{
namespace
{

/// Write end of the current Signal_pipe, read in signal context.
std::atomic<int> s_signal_write_descriptor{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal function needs a lock-free descriptor");

} // namespace

void Signal_handler::register_signal_handler()
{
    register_signal_handler(SIGTERM);
}

void Signal_handler::register_signal_handler(int signal)
{
    struct sigaction action
    {
    };
    action.sa_handler = m_function;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(signal, &action, nullptr) != 0)
    {
        throw std::system_error(errno, std::system_category(), "sigaction() failed");
    }
}

Signal_pipe::Signal_pipe(asio::io_context& io_service)
    : m_io_service(io_service)
    , m_reader(io_service)
{
    int descriptors[2] = {-1, -1};
    if (::pipe2(descriptors, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        throw std::system_error(errno, std::system_category(), "pipe");
    }
    m_reader.assign(descriptors[0]);
    m_write_descriptor = descriptors[1];
    s_signal_write_descriptor.store(m_write_descriptor);
    m_reader.async_read_some(asio::buffer(&m_byte, 1),
                             [this](const std::error_code& error, std::size_t)
                             {
                                 if (error != asio::error::operation_aborted)
                                 {
                                     m_io_service.stop();
                                 }
                             });
}

Signal_pipe::~Signal_pipe()
{
    s_signal_write_descriptor.store(-1);
    std::error_code ignored;
    m_reader.close(ignored);
    ::close(m_write_descriptor);
}

void Signal_pipe::notify(int /*signal*/) noexcept
{
    const int saved_errno = errno;
    const int descriptor = s_signal_write_descriptor.load();
    if (descriptor >= 0)
    {
        const char byte = 1;
        // A full pipe already holds a wake-up; nothing more to do.
        (void)::write(descriptor, &byte, 1);
    }
    errno = saved_errno;
}

} // namespace vela::iam
