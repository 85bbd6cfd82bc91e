#pragma once

#include "client_state_notifier/socket.hpp"
#include "client_state_notifier/type_length_value.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

namespace utilities
{

/// A peer sent bytes that cannot be a frame of this protocol (a declared length above the
/// bound, an element that runs past its frame, too few elements).
class Exception_bad_frame : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

/// One element seen in place inside a receive buffer; valid until the buffer changes.
struct Element_view
{
    Payload_type type{Payload_type::string_type};
    const std::uint8_t* data{nullptr};
    std::size_t size{0};

    std::string get_string() const { return std::string(reinterpret_cast<const char*>(data), size); }
    bool equals(const std::string& text) const noexcept;
    /// First 4 bytes little-endian; fewer throw Exception_bad_frame.
    std::uint32_t get_uint32() const;
};

/// The leading elements of one frame, parsed without copying. Elements beyond the first
/// s_max_elements are checked for consistency and counted, not kept.
struct Frame_view
{
    static constexpr std::size_t s_max_elements = 3;
    std::array<Element_view, s_max_elements> elements{};
    std::size_t count{0};
};

/// Assembles frames from the bytes of one connection as they arrive, so that a peer that
/// sends part of a frame and stops holds up nobody. Used by one thread at a time.
class Frame_reader
{
  public:
    Frame_reader();

    /// Reads what the non-blocking socket has now (one recv). False when nothing was there.
    /// Throws ExceptionSocketClosed when the peer has closed, std::system_error on errors.
    bool read_available(const Socket& socket);
    /// Room for the next receive, at least the rest of a frame begun (read_available receives
    /// into it). Throws Exception_bad_frame when that frame declares a length above the bound.
    std::pair<std::uint8_t*, std::size_t> receive_space();
    /// Counts bytes written at the start of the room that receive_space gave.
    void commit_received(std::size_t count) noexcept { m_end += count; }
    /// Takes the next complete frame out of the buffer into view. False when the buffer holds
    /// no complete frame yet. Throws Exception_bad_frame for a declared length above the bound
    /// or an inconsistent body. The view stays valid until the next call of any of these functions.
    bool next_frame(Frame_view& view);
    /// Bytes of a frame begun but not completed.
    bool has_partial_frame() const noexcept { return m_end > m_begin; }

  private:
    Bytes m_buffer;
    std::size_t m_begin{0};
    std::size_t m_end{0};
};

/// Parses a frame body of length bytes at data into view.
void parse_frame_body(const std::uint8_t* data, std::size_t length, Frame_view& view);

/// Writes the state change request message {id, state} as one frame into out (replacing
/// its content, keeping its capacity): the same bytes as serialize of its elements.
void write_state_change_request(Bytes& out, std::uint32_t request_id, const std::string& state);
/// Writes the state change response message {id, state, code} the same way.
void write_state_change_response(Bytes& out, std::uint32_t request_id, const std::string& state, std::uint32_t code);

} // namespace utilities
