#pragma once

#include "clock.hpp"
#include "frame_buffer.hpp"
#include "io_loop.hpp"
#include "kest/com/someip/message_header.h"
#include "vela/com/runtime/types.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kest::com::internal
{

/// Receives what arrives on a connection; on the I/O thread.
class Connection_owner
{
  public:
    virtual ~Connection_owner() = default;
    virtual void on_frame(const std::shared_ptr<class Connection>& connection,
                          const someip::Message_header& header,
                          const vela::com::runtime::Serialized_payload& payload) = 0;
    virtual void on_closed(const std::shared_ptr<class Connection>& connection) = 0;
};

/// Who is at the other end of a unix socket, as the kernel recorded it when the connection was made.
struct Peer_credentials
{
    pid_t pid{0};
    uid_t uid{0};
    gid_t gid{0};
    /// False when the kernel would not tell (then the ids are 0).
    bool known{false};
};

/// One unix stream connection carrying framed messages. The I/O thread reads; any thread writes
/// (directly when the socket takes it, else through a bounded buffer flushed by the I/O thread).
class Connection : public Io_handler, public std::enable_shared_from_this<Connection>
{
  public:
    /// Bytes a slow peer may leave unread before the connection is dropped.
    static constexpr std::size_t s_max_pending_output = std::size_t{8} * 1024U * 1024U;
    /// What a peer may make the provider hold at once: requests read whose handler has not started
    /// yet, and their payload bytes. The connection takes no further frame while the next one could
    /// exceed either.
    static constexpr std::size_t s_max_held_requests = 64;
    static constexpr std::size_t s_max_held_bytes = std::size_t{4} * 1024U * 1024U;

    /// What the connection holds of its peer's input; for inspection.
    struct Input_state
    {
        std::size_t held_requests;
        std::size_t held_bytes;
        bool paused;
        /// Bytes read but not yet taken as frames, and the size of the buffer holding them.
        std::size_t buffered;
        std::size_t buffer_size;
        /// How often the buffer was grown or shrunk since the connection was opened.
        std::size_t buffer_resizes;
    };

    /// The credentials of the peer of a connected unix socket.
    static Peer_credentials credentials_of(int fd);

    /// How the I/O thread is told of data: kOnce reports the socket to one worker and re-arms it
    /// once handled, and lets a waiting caller take the socket over (read_here_until); kEdge reports
    /// each arrival and needs no re-arming (the provider side, which nobody reads but the I/O thread).
    enum class Reading
    {
        kOnce,
        kEdge
    };

    Connection(Io_loop& loop,
               int fd,
               std::weak_ptr<Connection_owner> owner,
               std::string peer_name,
               Peer_credentials peer,
               Reading reading);
    ~Connection() override;

    /// Starts reading; call once after construction.
    void open();
    /// Sends one message; false when the connection is closed. Any thread.
    bool send(const someip::Message_header& header, const std::uint8_t* payload, std::size_t size);
    /// Closes from any thread; the owner hears on_closed once, on the I/O thread.
    void close();
    /// Reads and handles frames on the calling thread until ready() holds, the connection fails or
    /// timeout passes; the I/O thread leaves the socket alone meanwhile. False (at once) when the
    /// connection cannot be read here: closing, output still queued, or another thread reading it.
    bool read_here_until(const std::function<bool()>& ready, std::chrono::milliseconds timeout);
    /// Takes the socket out of the I/O thread's wait for a caller about to wait for its reply
    /// (read_here_until then reads it without further ado). Any thread.
    void reserve();
    /// Gives a reservation that no reader has taken, made at or before the given time, back to the
    /// I/O thread; true when a newer one is left in place.
    bool unreserve_unless_newer_than(Clock::time_point made);
    /// Counts a request its owner took from on_frame for handling later (I/O thread). Without room
    /// for another request within the bounds, the connection takes no further frames until
    /// release_request makes room.
    void hold_request(std::size_t payload_bytes);
    /// Counts a held request as taken by its handler (or dropped); with room again, reading
    /// resumes. Any thread.
    void release_request(std::size_t payload_bytes);
    Input_state input_state() const;
    const std::string& peer_name() const noexcept { return m_peer_name; }
    const Peer_credentials& peer() const noexcept { return m_peer; }

    void on_io(std::uint32_t events) override;

  private:
    enum class Read_result
    {
        kMore,
        kEnd,
        kBad
    };

    /// One read and the frames it completes; filled when the read took all the room it had.
    Read_result read_frames(bool& filled);
    /// Hands the complete frames of the buffer to the owner, unless held requests pause the input.
    Read_result take_frames();
    /// Under m_held_mutex: whether one more request of the largest size fits within the bounds.
    bool room_for_a_request() const;
    /// Whether input is paused for held requests; if so, notes that input waits, so that the
    /// release making room reads it (the edge-triggered socket will not report it again). I/O thread.
    bool input_waits();
    bool reading_elsewhere() const;
    void flush_output();
    void close_on_loop();
    std::uint32_t wanted_events() const;

    Io_loop& m_loop;
    const bool m_edge_triggered;
    std::weak_ptr<Connection_owner> m_owner;
    std::string m_peer_name;
    const Peer_credentials m_peer;
    // Guards the input buffer: met by the I/O thread, a thread reading its own reply here, and
    // inspection.
    mutable std::mutex m_read_mutex;
    Frame_buffer m_in;
    enum Input : int
    {
        kReading,
        kPaused,
        // Paused, and input has come (or frames are buffered) since: resuming must read it.
        kPausedWithInput
    };
    // Guards the held requests: met by the I/O thread (taking requests) and the workers (done with
    // them). m_input is set to kPaused and back to kReading under it; the I/O thread reads it
    // without the lock and turns kPaused into kPausedWithInput.
    mutable std::mutex m_held_mutex;
    std::size_t m_held_requests{0};
    std::size_t m_held_bytes{0};
    std::atomic<int> m_input{kReading};
    // Guards the members below: met by every writing thread, the I/O thread and a thread reading here.
    // The two flags are written under it and also read without it, by readers that only look.
    std::mutex m_write_mutex;
    int m_fd;
    std::vector<std::uint8_t> m_out;
    std::size_t m_out_offset{0};
    std::atomic<bool> m_closing{false};
    bool m_closed{false};
    // A thread reads here; the descriptor stays open (a close waits for it) until it is done.
    std::atomic<bool> m_read_here{false};
    bool m_close_waiting{false};
    // Out of the I/O thread's wait for a reader who has not come yet, since m_reserved_at.
    bool m_reserved{false};
    Clock::time_point m_reserved_at{};
};

} // namespace kest::com::internal
