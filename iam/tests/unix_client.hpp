#pragma once

#include "vela/iam/messages.hpp"

#include <chrono>
#include <optional>
#include <string>

namespace vela::iam::testing
{

/// A blocking client of the daemon's socket for tests; every wait has a deadline.
class Unix_client final
{
  public:
    /// Connects to path, retrying until timeout (the server may still be starting).
    explicit Unix_client(const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~Unix_client();

    Unix_client(const Unix_client&) = delete;
    Unix_client& operator=(const Unix_client&) = delete;

    bool connected() const noexcept { return m_descriptor >= 0; }
    void send(const std::string& bytes) const;
    /// The next response up to its zero byte, or nullopt when the connection closed or nothing
    /// arrived in time.
    std::optional<std::string> receive(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    /// The decision of the next response, or nullopt.
    std::optional<Decision> receive_decision(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    /// send, then receive_decision.
    std::optional<Decision> ask(const std::string& request) const;
    /// True when the server closes the connection within timeout.
    bool wait_closed(std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    void close();

  private:
    int m_descriptor{-1};
};

/// A POSIX request of uid for service_id (operation Use_service).
std::string posix_request_text(std::uint32_t uid, std::uint32_t service_id);

} // namespace vela::iam::testing
