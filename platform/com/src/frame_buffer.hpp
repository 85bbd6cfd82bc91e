#pragma once

#include "kest/com/someip/message_header.h"
#include "vela/com/runtime/types.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kest::com::internal
{

/// One frame taken from a connection's bytes.
struct Frame
{
    someip::Message_header header;
    vela::com::runtime::Serialized_payload payload;
};

/// The bytes received on one connection, cut into frames; a frame begun is kept until the rest
/// of it arrives. The buffer grows once for a large frame and keeps that room until the frame is
/// complete, so a frame that trickles in byte by byte costs no reallocation per read; memory is
/// given back only between frames. Used by the thread reading the connection, under the
/// connection's read lock.
class Frame_buffer
{
  public:
    Frame_buffer();

    /// Room at the end of the buffer for the next receive (never less than a quarter of a read
    /// chunk).
    std::pair<std::uint8_t*, std::size_t> receive_space();
    /// Counts bytes written at the start of the room that receive_space gave.
    void commit_received(std::size_t count) noexcept { m_end += count; }
    /// Takes the next complete frame out of the buffer. Nothing when no whole frame is there yet
    /// (the buffer then has room for all of it), or when the next header is refused: check()
    /// then says why, and no further frame can be taken.
    std::optional<Frame> next_frame();
    /// kOk, or why the header in front was refused.
    someip::Header_check check() const noexcept { return m_check; }
    /// True when at least a header's worth of bytes waits to be taken.
    bool has_header() const noexcept { return m_end - m_begin >= someip::kHeader_size; }
    /// After a batch of frames was taken: moves what is left to the front and gives surplus memory
    /// back, unless a large frame is partly there or holding says that frames wait to be taken.
    void settle(bool holding) noexcept;

    std::size_t buffered() const noexcept { return m_end - m_begin; }
    std::size_t capacity() const noexcept { return m_bytes.size(); }
    /// How often the buffer was grown or shrunk (inspection).
    std::size_t resizes() const noexcept { return m_resizes; }

  private:
    void compact() noexcept;

    std::vector<std::uint8_t> m_bytes;
    // Received and not yet taken: [m_begin, m_end).
    std::size_t m_begin{0};
    std::size_t m_end{0};
    std::size_t m_resizes{0};
    // The frame in front is incomplete and at least a read chunk long: its room stays.
    bool m_keep_room{false};
    someip::Header_check m_check{someip::Header_check::kOk};
};

} // namespace kest::com::internal
