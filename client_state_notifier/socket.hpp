#pragma once

#include <cstddef>
#include <cstdint>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/un.h>
#include <utility>
#include <vector>

namespace utilities
{

/// A receive found no data in time (or none on a non-blocking socket): "Socket::recv timeout, retry".
class ExceptionSocketTimeout : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

/// The peer closed the connection during a receive: "Socket::recv called with closed socket".
class ExceptionSocketClosed : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

/// The process at the other end of a unix-domain connection, as the kernel recorded it when the
/// connection was made.
struct Peer_credentials
{
    std::int32_t pid{0};
    std::uint32_t uid{0};
    std::uint32_t gid{0};
};

/// Owns one file descriptor (-1: none) and closes it on destruction. Move-only.
/// Failures of system calls throw std::system_error with errno and a fixed context text.
/// One thread uses a Socket at a time.
class Socket
{
  public:
    Socket() noexcept = default;
    /// Takes ownership of fd; -1 throws std::system_error (errno) "Socket::Socket(int32_t)".
    explicit Socket(std::int32_t fd);
    /// socket(2), then as the constructor above.
    Socket(std::int32_t domain, std::int32_t type, std::int32_t protocol);
    ~Socket();

    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket(Socket&& other) noexcept;
    /// Swaps the two descriptors; the other one is closed with other.
    Socket& operator=(Socket&& other) noexcept;

    std::int32_t get_fd() const noexcept { return m_socket; }
    /// listen(2); failure throws "Socket::listen(int32_t)". Gives listen's result.
    std::int32_t listen(std::int32_t backlog) const;
    /// Sends all length bytes (MSG_NOSIGNAL added; EINTR repeated); failure throws "Socket::sendl(...)".
    void sendl(const void* data, std::size_t length, std::int32_t flags) const;
    /// One recv(2) giving at least 1 byte. 0 throws ExceptionSocketClosed, EAGAIN ExceptionSocketTimeout,
    /// other failures "Socket::recv(...)".
    std::size_t recv(void* buffer, std::size_t length, std::int32_t flags) const;
    /// Receives exactly length bytes.
    void recvl(void* buffer, std::size_t length, std::int32_t flags) const;
    /// Polls this socket alone: (revents, whether it became ready).
    std::pair<std::int16_t, bool> poll(std::int16_t events, std::int32_t timeout_ms) const;
    /// Connects to address, waiting for the server while there is no socket file or nobody
    /// listens (retrying every 100 ms). True when connected, false when stop became readable.
    /// Other failures throw "Socket::try_connect(...)".
    bool try_connect(const sockaddr_un& address, const Socket& stop) const;
    /// The peer of a connected unix-domain socket (SO_PEERCRED); failure throws
    /// "Socket::get_peer_credentials()".
    Peer_credentials get_peer_credentials() const;

  private:
    std::int32_t m_socket{-1};
};

/// AF_UNIX address of path (up to 108 bytes); a longer path throws std::runtime_error.
sockaddr_un create_unix_address(const std::string& path);
/// One pollfd per socket, in list order, with events and zero revents.
std::vector<pollfd> create_pollfd(std::int16_t events, const std::vector<const Socket*>& sockets);
/// Appends one pollfd per socket.
void create_pollfd_helper(std::int16_t events, std::vector<pollfd>& fds, const std::vector<const Socket*>& sockets);
/// ppoll on fds; negative timeout waits without limit; EINTR repeats with the full timeout.
/// True when some descriptor reported an event; failure throws "Socket::poll()".
bool poll(std::vector<pollfd>& fds, std::int32_t timeout_ms);
/// Same on a plain array (the server's persistent descriptor list), giving the number of descriptors that reported an
/// event (0 on timeout).
std::size_t poll_count(pollfd* fds, std::size_t count, std::int32_t timeout_ms);
/// Two connected unix stream sockets.
std::pair<Socket, Socket> socket_pair();

} // namespace utilities
