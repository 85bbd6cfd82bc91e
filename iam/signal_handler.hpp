#pragma once

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>

namespace vela::iam
{

/// Installs one handler function for the signals that end the daemon.
class Signal_handler_if
{
  public:
    virtual ~Signal_handler_if() = default;
    /// Installs the function for SIGTERM, the only signal the daemon handles.
    virtual void register_signal_handler() = 0;
    /// Installs the function for signal; throws std::system_error "sigaction() failed".
    virtual void register_signal_handler(int signal) = 0;
};

class Signal_handler final : public Signal_handler_if
{
  public:
    using Function = void (*)(int);

    /// function runs in signal context: it may only make async-signal-safe calls.
    explicit Signal_handler(Function function) noexcept
        : m_function(function)
    {
    }

    void register_signal_handler() override;
    void register_signal_handler(int signal) override;

  private:
    Function m_function;
};

/// Carries a signal into the event loop: the signal function only writes one byte to a pipe
/// (async-signal-safe), and the loop, watching the pipe, stops itself. A signal that arrives
/// before the loop runs stops it as soon as it starts. One instance at a time.
class Signal_pipe final
{
  public:
    /// Opens the pipe and starts watching it on io_service. Throws std::system_error "pipe".
    explicit Signal_pipe(asio::io_context& io_service);
    ~Signal_pipe();

    Signal_pipe(const Signal_pipe&) = delete;
    Signal_pipe& operator=(const Signal_pipe&) = delete;

    /// The signal function: wakes the loop, which then stops.
    static void notify(int signal) noexcept;

  private:
    asio::io_context& m_io_service;
    asio::posix::stream_descriptor m_reader;
    int m_write_descriptor{-1};
    char m_byte{0};
};

} // namespace vela::iam
