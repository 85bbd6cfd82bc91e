#pragma once

#include "kest/com/someip/message_header.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarn1::testing
{

/// A peer that speaks the middleware's wire format by hand over one unix socket, for the tests that
/// play a misbehaving or hostile client.
class Raw_client
{
  public:
    struct Frame
    {
        kest::com::someip::Message_header header;
        std::vector<std::uint8_t> payload;
    };

    /// Connects to endpoint; throws std::system_error when it cannot.
    explicit Raw_client(const std::string& endpoint);
    ~Raw_client();

    Raw_client(const Raw_client&) = delete;
    Raw_client& operator=(const Raw_client&) = delete;

    /// The bytes of one frame: header (its length field set from the payload) and payload.
    static std::vector<std::uint8_t> frame(kest::com::someip::Message_header header,
                                           const std::vector<std::uint8_t>& payload);
    /// A request of the test service (tarn1::test::Echo) for method with session.
    static std::vector<std::uint8_t>
    request(std::uint16_t method, std::uint16_t session, const std::vector<std::uint8_t>& payload);

    /// Sends all bytes; false on failure or when the peer takes none for timeout.
    bool send_all(const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds timeout);
    /// Sends what the socket takes now without waiting; the number of bytes sent (0 when full).
    std::size_t send_some(const std::uint8_t* bytes, std::size_t size);
    /// The next whole frame; nothing on timeout or hang-up.
    std::optional<Frame> read_frame(std::chrono::milliseconds timeout);
    /// True once the peer has closed the connection (everything it sent before is skipped).
    bool wait_for_hangup(std::chrono::milliseconds timeout);
    int fd() const noexcept { return m_fd; }

  private:
    /// Reads what is there into m_in; false on hang-up or error.
    bool fill(std::chrono::steady_clock::time_point deadline);

    int m_fd{-1};
    std::vector<std::uint8_t> m_in;
};

} // namespace tarn1::testing
